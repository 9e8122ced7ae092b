#include "FMPass.h"
#include "FMServer.h"
#include "LoginSettings.h"
#include "cacheapi.h"
#include "widgets/Clock.h"
#include "widgets/MessageBox.h"
#include "widgets/ScreenPointer.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdlib>

const QString DefaultServer = QStringLiteral("127.0.0.1");

SessionContext& session()
{
    static SessionContext context;
    return context;
}

namespace {

bool isNumeric(const QString& text)
{
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

void buildConnectString()
{
    SessionContext& s = session();
    s.ConnectString = QStringLiteral("cn_iptcp:") + s.Server + u'[' + s.Port + QStringLiteral("]:VELMOR");
}

void fillDialogs()
{
    SessionContext& s = session();
    FMServer& server = FMServer::instance();
    server.BFIRMA->setText(s.Firma);
    server.BFIL->setText(s.Filiale);
    server.BSERVERIP->setText(s.Server);
    server.BPORT->setText(s.Port);
    server.BNAMESPACE->setText(s.Namespace);
    server.BWJ->setText(s.WJ);
    FMPass::instance().BUSER->setText(s.Personalcode);
}

// The idle timer lives on the clock that is current when it is needed.
struct IdleTimer
{
    Clock* clock = nullptr;
    std::unique_ptr<ClockTimer> timer;

    ClockTimer& get()
    {
        if (!timer || clock != &Clock::instance()) {
            clock = &Clock::instance();
            timer = clock->createTimer([] { CacheDisconnect(); });
        }
        return *timer;
    }
};

IdleTimer& idleTimer()
{
    static IdleTimer instance;
    return instance;
}

std::function<void()>& exitHook()
{
    static std::function<void()> hook = [] { std::exit(0); };
    return hook;
}

bool factoryConnected()
{
    try {
        return session().Factory && session().Factory->isConnected();
    } catch (...) {
        return false;
    }
}

} // namespace

bool idleTimerActive()
{
    return idleTimer().get().isActive();
}

void setProgramExitHook(std::function<void()> hook)
{
    exitHook() = hook ? std::move(hook) : [] { std::exit(0); };
}

namespace {

void takeCommandLine(bool withPassword)
{
    SessionContext& s = session();
    const QString& line = s.CommandLine;
    s.Firma = StrPiece(line, u' ', 1);
    s.Filiale = StrPiece(line, u' ', 2);
    s.Personalcode = StrPiece(line, u' ', 3);
    s.Passwort = withPassword ? StrPiece(line, u' ', 4) : QString();
    s.Server = StrPiece(line, u' ', 5, DefaultServer);
    s.Port = StrPiece(line, u' ', 6, QStringLiteral("1972"));
    s.Namespace = StrPiece(line, u' ', 7, QStringLiteral("VELMOR"));
    s.WJ = StrPiece(line, u' ', 8);
    fillDialogs();
}

// What the two dialogs show, as the user confirmed or left it.
void takeDialogs()
{
    SessionContext& s = session();
    const FMServer& server = FMServer::instance();
    s.Firma = server.BFIRMA->text();
    s.Filiale = server.BFIL->text();
    s.Server = server.BSERVERIP->text();
    s.Port = server.BPORT->text();
    s.Namespace = server.BNAMESPACE->text();
    s.Personalcode = FMPass::instance().BUSER->text();
    s.Passwort = FMPass::instance().BPASSWORT->text();
}

} // namespace

void LoadConnectionSettings()
{
    SessionContext& s = session();
    const bool commandLineUsable = !s.CommandLine.isEmpty() && isNumeric(StrPiece(s.CommandLine, u' ', 1));
    // The command line serves the first login only; later ones take what the user types.
    s.DataFromCommandLine = commandLineUsable && !s.CommandLineServed && !s.CommandLineRejected;
    if (s.DataFromCommandLine) {
        takeCommandLine(true);
    } else {
        // Right after the command line failed, the dialog offers its data: the user types only the
        // password, and the session stays on the server it was started for.
        const bool offerCommandLine = commandLineUsable && s.CommandLineRejected;
        s.CommandLineRejected = false;
        if (offerCommandLine) {
            takeCommandLine(false);
            FMPass::instance().BPASSWORT->clear();
        } else {
            ReadLoginSettings();
        }
        if (s.ProgramEnded)
            return;
        if (s.Passwort.isEmpty() || s.Personalcode.isEmpty() || s.LoginDialogForced || s.LoginFailed) {
            FMPass& login = FMPass::instance();
            if (!login.isVisible() && s.Interactive)
                login.exec();
            if (s.ProgramEnded)
                return;
            if (offerCommandLine)
                takeDialogs();
            else
                ReadLoginSettings();
        }
    }
    buildConnectString();
}

void ReadLoginSettings()
{
    SessionContext& s = session();
    {
        auto settings = openLoginSettings();
        s.Firma = settings->value(QStringLiteral("Firma"), QStringLiteral("1")).toString();
        s.Filiale = settings->value(QStringLiteral("Filiale"), QStringLiteral("0")).toString();
        s.Server = settings->value(QStringLiteral("Server"), DefaultServer).toString();
        s.Port = settings->value(QStringLiteral("Port"), QStringLiteral("1973")).toString();
        s.Namespace = settings->value(QStringLiteral("Namespace"), QStringLiteral("VELMOR")).toString();
    }
    buildConnectString();
    bool error = false;
    s.WJ = DBCall(QStringLiteral("S P0=$P(^FA(0),\"`\",2) W P0"), error);
    if (s.ProgramEnded)
        return;
    s.Personalcode = openLoginSettings()->value(QStringLiteral("Name")).toString();
    s.Passwort = FMPass::instance().BPASSWORT->text();
    fillDialogs();
}

namespace {

// "Verbindung zu … wird hergestellt": shown when a connect try has run for ShowDelayMs, so a
// quick connect shows nothing and a slow one is never a silent wait.
class ConnectStatus
{
public:
    static constexpr int ShowDelayMs = 300;

    void beginTry(int attempt)
    {
        const SessionContext& s = session();
        m_text = QStringLiteral("Verbindung zu %1:%2 wird hergestellt \u2026 Versuch %3 von %4")
                     .arg(s.Server, s.Port)
                     .arg(attempt)
                     .arg(ConnectTriesPerRound);
        if (!s.Interactive)
            return;
        if (m_window && m_window->isVisible())
            m_label->setText(m_text);
        else
            timer().start(ShowDelayMs);
    }

    // Before a message box or dialog, and when the connect is over.
    void hide()
    {
        timer().stop();
        if (m_window)
            m_window->hide();
    }

private:
    ClockTimer& timer()
    {
        if (!m_timer || m_clock != &Clock::instance()) {
            m_clock = &Clock::instance();
            m_timer = m_clock->createTimer([this] { show(); });
        }
        return *m_timer;
    }

    void show()
    {
        if (!m_window) {
            m_window = new QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
            m_window->setObjectName(QStringLiteral("Verbindungsaufbau"));
            m_window->setWindowTitle(QStringLiteral("Anmeldung an Caché"));
            // Message boxes take the active window as their owner; this one must not be it.
            m_window->setAttribute(Qt::WA_ShowWithoutActivating);
            m_label = new QLabel(m_window);
            m_label->setMargin(12);
            auto* layout = new QVBoxLayout(m_window);
            layout->addWidget(m_label);
        }
        m_label->setText(m_text);
        m_window->show();
        m_window->raise();
    }

    QString m_text;
    Clock* m_clock = nullptr;
    std::unique_ptr<ClockTimer> m_timer;
    QPointer<QWidget> m_window;
    QLabel* m_label = nullptr;
};

ConnectStatus& connectStatus()
{
    static ConnectStatus status;
    return status;
}

// Tells the server for whom the new connection works. False, reported once, when it refuses.
bool setUpSession()
{
    SessionContext& s = session();
    // Data that may not be sent are refused by the login check; nobody is logged in meanwhile.
    if (!LoginDataProblem(s.Firma, s.Filiale, s.Personalcode).isEmpty()) {
        s.UserName.clear();
        return true;
    }
    try {
        std::unique_ptr<cacheclient::CacheObject> windows =
            s.Factory->classObject(QStringLiteral("XR.Windows"));
        windows->call(QStringLiteral("Xecute"), SessionLine(s.Firma, s.Filiale, s.Personalcode));
        windows->call(QStringLiteral("Xecute"), QStringLiteral("D ^%XTT"));
        CloseCacheObject(windows);
        return true;
    } catch (const cacheclient::CacheError& error) {
        // The server answers, so this is no failed try: a connection that does not know its
        // user is of no use, and nobody is logged in on it.
        try {
            s.Factory->disconnect();
        } catch (...) {
        }
        s.UserName.clear();
        s.SessionSetupFailed = true;
        ReportCacheError(error, QStringLiteral("Anmeldung an Caché."));
        return false;
    }
}

} // namespace

bool CacheConnect()
{
    SessionContext& s = session();
    if (s.ProgramEnded)
        return false;
    if (factoryConnected())
        return true;

    int failedTries = 0;
    bool serverDialogShown = false;
    ConnectStatus& status = connectStatus();
    for (;;) {
        status.beginTry(failedTries + 1);
        s.Factory = cacheclient::createFactory();
        QString connectString = s.ConnectString;
        bool connected = false;
        try {
            const bool answered = s.Factory->connect(connectString);
            connected = s.Factory->isConnected() && answered;
        } catch (const cacheclient::CacheError&) {
        }
        if (connected) {
            status.hide();
            s.SessionSetupFailed = false;
            return setUpSession();
        }

        if (++failedTries == ConnectTriesPerRound) {
            status.hide();
            QWidget* parent = QApplication::activeWindow();
            if (!serverDialogShown) {
                MessageBox::show(parent, QMessageBox::Warning, QStringLiteral("Anmeldung an Caché"),
                                 QStringLiteral("Server nach 3 Versuchen nicht erreichbar!\r\n"
                                                "Wahrscheinlich sind keine freien Lizenzen verfügbar!\r\n"
                                                "Bitte Kontrollieren Sie die Verbindungsdaten"));
                if (s.Interactive)
                    FMServer::instance().exec();
                serverDialogShown = true;
                failedTries = 0;
                if (s.ProgramEnded)
                    return false;
                continue;
            }
            MessageBox::show(
                parent, QMessageBox::Critical, QStringLiteral("Anmeldung an Caché"),
                QStringLiteral("Der Server ist nicht erreichbar!\r\n"
                               "Wahrscheinlich sind keine Lizenzen frei. Die Anwendung wird beendet!\r\n"
                               "Bitte Versuchen Sie die Anmeldung zu einem späteren Zeitpunk noch ein mal."));
            FMServer::instance().hide();
            s.UserName.clear();
            if (factoryConnected())
                s.Factory->disconnect();
            s.UserName.clear();
            EndProgram();
            return false;
        }
        QCoreApplication::processEvents();
        Pause(ConnectPauseHundredths);
        if (s.ProgramEnded) {
            status.hide();
            return false;
        }
    }
}

bool DBBegin()
{
    const bool connected = CacheConnect();
    idleTimer().get().stop();
    return connected;
}

void DBEnd(bool resetPointer)
{
    if (resetPointer)
        ScreenPointer::set(ScreenPointer::Arrow);
    if (!session().ProgramEnded)
        idleTimer().get().start(IdleTimeoutMs);
}

void CacheDisconnect()
{
    idleTimer().get().stop();
    try {
        if (session().Factory && session().Factory->isConnected())
            session().Factory->disconnect();
    } catch (...) {
    }
}

int Pause(int hundredths)
{
    Clock& clock = Clock::instance();
    const double start = clock.secondsSinceMidnight();
    const double end = start + hundredths / 100.0;
    for (;;) {
        const double now = clock.secondsSinceMidnight();
        // A wrap at midnight ends the wait.
        if (!(now < end && now + 0.01 > start))
            break;
        clock.runEvents(std::max(1, static_cast<int>((end - now) * 1000)));
    }
    return static_cast<int>(clock.secondsSinceMidnight() - start);
}

namespace {

// The window system's list of top-level windows has no defined order; the order they were shown
// in is kept here.
class WindowOrder : public QObject
{
public:
    QList<QPointer<QWidget>> shown;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow()) {
                shown.removeAll(nullptr);
                shown.removeAll(widget);
                shown.append(widget);
            }
        }
        return false;
    }
};

QPointer<WindowOrder> windowOrder;

} // namespace

void TrackWindowOrder()
{
    if (windowOrder || !qApp)
        return;
    windowOrder = new WindowOrder;
    windowOrder->setParent(qApp);
    qApp->installEventFilter(windowOrder);
}

void EndProgram()
{
    SessionContext& s = session();
    s.ProgramEnded = true;
    idleTimer().get().stop();
    // Last opened first; then whatever was never shown.
    QList<QPointer<QWidget>> windows = windowOrder ? windowOrder->shown : QList<QPointer<QWidget>>();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (*it)
            (*it)->close();
    const QWidgetList rest = QApplication::topLevelWidgets();
    windows.clear();
    for (QWidget* w : rest)
        windows << w;
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (*it)
            (*it)->close();
    exitHook()();
}
