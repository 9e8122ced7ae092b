#include "TestSupport.h"

#include "cache/FMPass.h"
#include "cache/FMServer.h"
#include "cache/LogModel.h"
#include "cache/LoginSettings.h"
#include "cache/cacheapi.h"
#include "erpsim/DemoData.h"
#include "erpsim/LocalServer.h"
#include "widgets/FileDialog.h"
#include "widgets/ScreenPointer.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <zip.h>

ScriptedBoxes::ScriptedBoxes(const char* file, int line) : m_file(file), m_line(line)
{
    MessageBox::setScripted(true);
    FileDialog::setScripted(true);
}

ScriptedBoxes::~ScriptedBoxes()
{
    QStringList problems;
    if (MessageBox::pendingAnswers() > 0)
        problems << QStringLiteral("%1 Antwort(en) nicht gebraucht").arg(MessageBox::pendingAnswers());
    for (const auto& record : MessageBox::shown())
        if (!record.expected)
            problems << QStringLiteral("unerwartete Meldung \"%1\": %2").arg(record.title, record.text);
    if (FileDialog::pendingAnswers() > 0)
        problems << QStringLiteral("%1 Dateiauswahl(en) nicht gebraucht").arg(FileDialog::pendingAnswers());
    MessageBox::setScripted(false);
    FileDialog::setScripted(false);
    if (!problems.isEmpty() && !QTest::currentTestFailed())
        QTest::qFail(qPrintable(problems.join(QStringLiteral("; "))), m_file, m_line);
}

ScriptedBoxes& ScriptedBoxes::answer(MessageBox::Button button)
{
    MessageBox::queueAnswer(button);
    return *this;
}

ScriptedBoxes& ScriptedBoxes::chooseFiles(const QStringList& paths)
{
    FileDialog::queueFileNames(paths);
    return *this;
}

const QList<MessageBox::Record>& ScriptedBoxes::shown() const
{
    return MessageBox::shown();
}

QString ScriptedBoxes::lastText() const
{
    return MessageBox::shown().isEmpty() ? QString() : MessageBox::shown().last().text;
}

void whenShown(const QString& objectName, std::function<void(QWidget*)> action, int timeoutMs)
{
    auto* timer = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->objectName() == objectName) {
                timer->stop();
                timer->deleteLater();
                action(w);
                return;
            }
        }
        if (started->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            qWarning("Fenster %s erschien nicht", qPrintable(objectName));
        }
    });
    timer->start(5);
}

QWindow* keyboardWindow()
{
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->window()->windowHandle();
    return QGuiApplication::focusWindow();
}

bool waitForKeyboard(QWidget* window)
{
    QPointer<QWidget> guard = window;
    return QTest::qWaitFor([&] { return !guard || keyboardWindow() == guard->window()->windowHandle(); }) &&
           guard;
}

namespace {

// The window that gets the focus back when this one closes: a box's owner, a pop-up's window.
QWindow* ownerOf(QWindow* window)
{
    if (QWidget* popup = QApplication::activePopupWidget())
        if (popup->parentWidget())
            return popup->parentWidget()->window()->windowHandle();
    return window ? window->transientParent() : nullptr;
}

// The offscreen platform leaves no window active when the active one closes.
void handFocusBack(QWindow* closed, QWindow* owner)
{
    // A box is gone (not only hidden) by the time a deferred release comes.
    if (keyboardWindow() || (closed && closed->isVisible()))
        return;
    QWindow* next = owner;
    if (!next || !next->isVisible()) {
        QWidget* modal = QApplication::activeModalWidget();
        next = modal ? modal->window()->windowHandle() : nullptr;
    }
    if (!next)
        return;
    next->requestActivate();
    if (!QTest::qWaitFor([next] { return QGuiApplication::focusWindow() == next; }, 1000))
        qWarning("Fenster %s wurde nicht aktiv", qPrintable(next->title()));
}

void sendKey(QTest::KeyAction action, Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers)
{
    QWindow* window = keyboardWindow();
    if (!window) {
        // A release after the last window of the program closed goes elsewhere on a desktop.
        if (action == QTest::Press)
            QTest::qFail("Kein Fenster hat den Tastaturfokus", __FILE__, __LINE__);
        return;
    }
    if (text.isEmpty())
        QTest::sendKeyEvent(action, window, key, QTest::keyToAscii(key), modifiers);
    else
        QTest::sendKeyEvent(action, window, key, text, modifiers);
}

void typeKey(Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers)
{
    QPointer<QWindow> pressedIn = keyboardWindow();
    QPointer<QWindow> owner = ownerOf(pressedIn);
    QPointer<QWidget> modal = QApplication::activeModalWidget();
    sendKey(QTest::Press, key, text, modifiers);
    QCoreApplication::processEvents();
    auto release = [=] {
        handFocusBack(pressedIn, owner);
        sendKey(QTest::Release, key, text, modifiers);
        QCoreApplication::processEvents();
    };
    // A press that closed a modal dialog is handled inside the dialog's loop; the key comes up
    // after the code that opened the dialog has gone on, so the release waits for that loop.
    if (modal && !modal->isVisible())
        QTimer::singleShot(0, qApp, release);
    else
        release();
}

} // namespace

void typeKey(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    typeKey(key, QString(), modifiers);
}

void typeText(const QString& text)
{
    for (const QChar ch : text) {
        const QChar upper = ch.toUpper();
        const bool plain = upper.unicode() < 0x80 && (upper.isLetterOrNumber() || upper == u' ');
        const Qt::Key key = plain ? Qt::Key(upper.unicode()) : Qt::Key_unknown;
        typeKey(key, QString(ch), ch.isUpper() ? Qt::ShiftModifier : Qt::NoModifier);
    }
}

TypedBoxAnswers::TypedBoxAnswers()
{
    MessageBox::setScripted(false);
    qApp->installEventFilter(this);
}

TypedBoxAnswers::~TypedBoxAnswers()
{
    qApp->removeEventFilter(this);
}

bool TypedBoxAnswers::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QMessageBox*>(watched);
    if (!box || event->type() != QEvent::Show)
        return false;
    texts << box->text();
    QPointer<QMessageBox> guard = box;
    QTimer::singleShot(0, box, [this, guard] {
        if (!guard)
            return;
        if (!waitForKeyboard(guard)) {
            qWarning("Meldung wurde nicht aktiv");
            return;
        }
        if (++m_typed <= 3) {
            typeKey(Qt::Key_Return);
        } else if (QAbstractButton* button =
                       guard->defaultButton() ? guard->defaultButton() : guard->buttons().value(0)) {
            QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    return false;
}

QString demoDatabasePath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("erp.db"));
        erpsim::createDemoDatabase(p);
        return p;
    }();
    return path;
}

erpsim::LocalServer& demoServer()
{
    static erpsim::LocalServer server(demoDatabasePath());
    static const bool cleanup = [] {
        // Sessions hold database connections, which must close while Qt still runs.
        qAddPostRoutine([] {
            session().Factory.reset();
            cacheclient::setFactoryCreator(nullptr);
        });
        return true;
    }();
    Q_UNUSED(cleanup)
    return server;
}

void installDemoServer()
{
    cacheclient::setFactoryCreator(demoServer().creator());
}

namespace {
int exits = 0;
}

int programExitCount()
{
    return exits;
}

void resetProgramState()
{
    if (session().Factory) {
        try {
            session().Factory->disconnect();
        } catch (...) {
        }
    }
    CacheDisconnect();
    session() = SessionContext();
    exits = 0;
    setProgramExitHook([] { ++exits; });
    LogModel::instance().clear();
    openLoginSettings()->clear();
    FMPass& login = FMPass::instance();
    login.hide();
    login.BUSER->clear();
    login.BPASSWORT->clear();
    FMServer& server = FMServer::instance();
    server.hide();
    server.BFIRMA->setText(QStringLiteral("1"));
    server.BFIL->setText(QStringLiteral("0"));
    server.BSERVERIP->setText(DefaultServer);
    server.BPORT->setText(QStringLiteral("1973"));
    server.BNAMESPACE->setText(QStringLiteral("VELMOR"));
    server.BWJ->setText(QStringLiteral("0"));
    server.BUEdit->setChecked(true);
    for (QLineEdit* e : {server.BFIRMA, server.BFIL, server.BSERVERIP, server.BPORT, server.BNAMESPACE})
        e->setEnabled(false);
    ScreenPointer::clearHistory();
    demoServer().setReachable(true);
    installDemoServer();
}

bool loginAsDemoUser(const QString& code, const QString& password)
{
    session().CommandLine = QStringLiteral("1 0 %1 %2 127.0.0.1 1972").arg(code, password);
    session().LoginDialogForced = true;
    return CacheLogin();
}

QList<Registration> registrationsAfter(const QString& database, int nr)
{
    QList<Registration> rows;
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("registrations"));
        db.setDatabaseName(database);
        db.open();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT nr, empfangen, arg1, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9 "
                                 "FROM dokument WHERE nr > ? ORDER BY nr"));
        q.addBindValue(nr);
        q.exec();
        while (q.next()) {
            Registration r;
            r.nr = q.value(0).toInt();
            r.received = q.value(1).toString();
            for (int i = 2; i < 11; ++i)
                r.args << q.value(i).toString();
            rows << r;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("registrations"));
    return rows;
}

int lastRegistration(const QString& database)
{
    const QList<Registration> all = registrationsAfter(database, 0);
    return all.isEmpty() ? 0 : all.last().nr;
}

QStringList zipEntries(const QString& path)
{
    QStringList names;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        return {QStringLiteral("<kein ZIP>")};
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i)
        names << QString::fromUtf8(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
    zip_discard(archive);
    return names;
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}
