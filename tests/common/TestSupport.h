#pragma once

// Shared seams for the program's tests: scripted message boxes and file dialogs that fail the
// test on a surprise, a hook that drives a modal window once it shows, the in-process demo
// server with its database made once per test process, and a demo login.

#include "cacheclient/Factory.h"
#include "widgets/MessageBox.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <memory>

namespace erpsim {
class LocalServer;
}

// While alive, message boxes and file dialogs are scripted. The destructor fails the running
// test when a queued answer was left unused or a box appeared that no answer was queued for.
class ScriptedBoxes
{
public:
    ScriptedBoxes(const char* file = __builtin_FILE(), int line = __builtin_LINE());
    ~ScriptedBoxes();

    ScriptedBoxes& answer(MessageBox::Button button);
    ScriptedBoxes& chooseFiles(const QStringList& paths);
    const QList<MessageBox::Record>& shown() const;
    // The text of the last box, or an empty text.
    QString lastText() const;

private:
    const char* m_file;
    int m_line;
};

// Runs action once on the first visible top-level widget with this object name (typically a
// modal dialog that blocks the caller). Returns at once; the action runs from the event loop.
void whenShown(const QString& objectName, std::function<void(QWidget*)> action, int timeoutMs = 10000);

// Keys typed as on a desktop, through the window system: the press goes to the window that has
// the keyboard focus (or the open pop-up), the release to the window that has it once the press
// is handled. A window the press closed hands the focus back to the window it belonged to, as a
// window manager does. Press and release are both sent, so handlers of either are reached.
void typeKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Each character typed as its own key, non-ASCII included.
void typeText(const QString& text);
// The window that receives typed keys now, or nullptr.
QWindow* keyboardWindow();
// Waits until typed keys reach this window. (A dialog counts as active while its owner is,
// before it has the keyboard itself.)
[[nodiscard]] bool waitForKeyboard(QWidget* window);

// While alive, message boxes are real windows answered from the keyboard: each box shown is
// recorded and gets the Return key typed (press and release). From the fourth box on the answer
// is a mouse click, so a box that keeps coming back cannot hang the test.
class TypedBoxAnswers : public QObject
{
public:
    TypedBoxAnswers();
    ~TypedBoxAnswers() override;
    QStringList texts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int m_typed = 0;
};

// The demo database, made once per test process in a temporary folder.
QString demoDatabasePath();
// The in-process demo server over it.
erpsim::LocalServer& demoServer();
// Makes it the server that the program's factories connect to (resetProgramState does this).
void installDemoServer();

// Puts every program-wide record back to its state at program start: session, log, dialogs'
// texts, settings store, pointer history; and records EndProgram instead of ending the process.
void resetProgramState();
int programExitCount();

// Logs in as demo user 17 through the command line; true on success.
bool loginAsDemoUser(const QString& code = QStringLiteral("17"),
                     const QString& password = QStringLiteral("demo"));

// A factory that hands every call to another; tests override what they watch or change. Opens
// ahead are not passed on: they are made when taken, as the base class does.
class ForwardingFactory : public cacheclient::Factory
{
public:
    explicit ForwardingFactory(std::shared_ptr<cacheclient::Factory> inner) : m_inner(std::move(inner)) {}
    bool connect(QString& connectString) override { return m_inner->connect(connectString); }
    bool isConnected() const override { return m_inner->isConnected(); }
    void disconnect() override { m_inner->disconnect(); }
    std::unique_ptr<cacheclient::CacheObject> openId(const QString& className, const QString& id) override
    {
        return m_inner->openId(className, id);
    }
    std::unique_ptr<cacheclient::CacheObject> classObject(const QString& className) override
    {
        return m_inner->classObject(className);
    }
    std::unique_ptr<cacheclient::ResultSet> resultSet(const QString& className,
                                                      const QString& queryName) override
    {
        return m_inner->resultSet(className, queryName);
    }

protected:
    std::shared_ptr<cacheclient::Factory> m_inner;
};

// A registration the demo server stored through "SetDokument".
struct Registration
{
    int nr = 0;
    QString received;
    QStringList args; // the nine texts
};

// Registrations of the database at path with a number above nr, in order.
QList<Registration> registrationsAfter(const QString& database, int nr);
int lastRegistration(const QString& database);
// Entry names of a ZIP archive (checked for consistency); "<kein ZIP>" when it cannot be opened.
QStringList zipEntries(const QString& path);
QString writeFile(const QString& path, const QByteArray& bytes);
