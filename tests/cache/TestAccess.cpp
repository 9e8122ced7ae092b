// Connection, login, call helpers, parameters and the two dialogs against the in-process demo
// server, on a mock clock: no test waits for real seconds.
#include "cache/FMPass.h"
#include "cache/FMServer.h"
#include "cache/LogModel.h"
#include "cache/LoginSettings.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "erpsim/LocalServer.h"
#include "widgets/Clock.h"
#include "widgets/ScreenPointer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using cacheclient::CacheError;

namespace {

void typeLogin(QWidget* dialog, const QString& code, const QString& password)
{
    auto* login = static_cast<FMPass*>(dialog);
    login->BUSER->setText(code);
    login->BPASSWORT->setText(password);
    QTest::mouseClick(login->BUSpeich, Qt::LeftButton);
}

QString settingsFileText()
{
    auto settings = openLoginSettings();
    settings->sync();
    QFile file(settings->fileName());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The demo server, except that the session line "D ^%XTT" fails as on a server whose routine
// is missing.
class RefusingSessionObject : public cacheclient::CacheObject
{
public:
    explicit RefusingSessionObject(std::unique_ptr<cacheclient::CacheObject> inner)
        : m_inner(std::move(inner))
    {
    }
    QString className() const override { return m_inner->className(); }
    QString id() const override { return m_inner->id(); }
    QString property(const QString& name) const override { return m_inner->property(name); }
    QStringList propertyNames() const override { return m_inner->propertyNames(); }
    QString call(const QString& method, QStringList& args) override
    {
        if (args.value(0) == QLatin1String("D ^%XTT"))
            throw CacheError(6013, QStringLiteral("<NOROUTINE>^%XTT"));
        return m_inner->call(method, args);
    }
    void close() override { m_inner->close(); }

private:
    std::unique_ptr<cacheclient::CacheObject> m_inner;
};

class RefusingSessionFactory : public ForwardingFactory
{
public:
    using ForwardingFactory::ForwardingFactory;
    std::unique_ptr<cacheclient::CacheObject> classObject(const QString& className) override
    {
        return std::make_unique<RefusingSessionObject>(m_inner->classObject(className));
    }
};

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

    MockClock m_clock;

private slots:
    void initTestCase() { Clock::setInstance(&m_clock); }

    void init() { resetProgramState(); }

    void commandLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>(
            "expected"); // Firma Filiale Personalcode Passwort Server Port Namespace WJ
        QTest::newRow("four fields") << "1 0 17 demo" << QStringList{"1",           "0",    "17",     "demo",
                                                                     DefaultServer, "1972", "VELMOR", ""};
        QTest::newRow("all eight") << "2 3 18 pw 10.0.0.5 5000 OTHER 2025"
                                   << QStringList{"2", "3", "18", "pw", "10.0.0.5", "5000", "OTHER", "2025"};
        QTest::newRow("empty branch")
            << "1  17 demo" << QStringList{"1", "", "17", "demo", DefaultServer, "1972", "VELMOR", ""};
        QTest::newRow("further fields ignored")
            << "1 0 17 demo h 1 N 2026 extra" << QStringList{"1", "0", "17", "demo", "h", "1", "N", "2026"};
    }

    void commandLine()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, expected);
        ScriptedBoxes boxes;
        SessionContext& s = session();
        s.CommandLine = line;
        s.LoginDialogForced = true;
        LoadConnectionSettings();
        QCOMPARE((QStringList{s.Firma, s.Filiale, s.Personalcode, s.Passwort, s.Server, s.Port, s.Namespace,
                              s.WJ}),
                 expected);
        QCOMPARE(s.ConnectString, QStringLiteral("cn_iptcp:%1[%2]:VELMOR").arg(expected[4], expected[5]));
        QCOMPARE(FMServer::instance().BPORT->text(), expected[5]);
        QCOMPARE(FMServer::instance().BNAMESPACE->text(), expected[6]);
        QCOMPARE(FMPass::instance().BUSER->text(), expected[2]);
        QVERIFY(!FMPass::instance().isVisible());
    }

    void nonNumericCommandLineAsksThroughTheDialog()
    {
        ScriptedBoxes boxes;
        session().CommandLine = QStringLiteral("abc 0 17 demo");
        bool asked = false;
        whenShown("FMPass", [&](QWidget* w) {
            asked = true;
            typeLogin(w, "17", "demo");
        });
        session().LoginDialogForced = true;
        QVERIFY(CacheLogin());
        QVERIFY(asked);
        QCOMPARE(session().Port, QStringLiteral("1973"));
        QCOMPARE(session().ConnectString, QStringLiteral("cn_iptcp:127.0.0.1[1973]:VELMOR"));
        QCOMPARE(session().UserName, QStringLiteral("17|Sabine Müller"));
        QCOMPARE(session().WJ, QStringLiteral("2026"));
        QVERIFY(!FMPass::instance().isVisible());
        // Saved in order, but never the password.
        auto settings = openLoginSettings();
        QCOMPARE(settings->value("Name").toString(), QStringLiteral("17"));
        QCOMPARE(settings->value("Port").toString(), QStringLiteral("1973"));
        QVERIFY(!settingsFileText().contains("demo"));
    }

    void namespaceIsShownAndSavedButNeverConnected()
    {
        ScriptedBoxes boxes;
        openLoginSettings()->setValue("Namespace", "TESTNS");
        whenShown("FMPass", [](QWidget* w) { typeLogin(w, "17", "demo"); });
        session().LoginDialogForced = true;
        QVERIFY(CacheLogin());
        QCOMPARE(FMServer::instance().BNAMESPACE->text(), QStringLiteral("TESTNS"));
        QVERIFY(session().ConnectString.endsWith("]:VELMOR"));
        QCOMPARE(openLoginSettings()->value("Namespace").toString(), QStringLiteral("TESTNS"));
    }

    void successfulLogin()
    {
        QTemporaryDir dir;
        demoServer().setTracePath(dir.filePath("trace.jsonl"));
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        const SessionContext& s = session();
        QCOMPARE(s.UserName, QStringLiteral("17|Sabine Müller"));
        QCOMPARE(s.PNAME, QStringLiteral("Sabine Müller"));
        QCOMPARE(s.PNR, QStringLiteral("117"));
        QCOMPARE(s.ABTNR, QStringLiteral("10"));
        QCOMPARE(s.ABTBEZ, QStringLiteral("Verkauf Innendienst"));
        QCOMPARE(s.EMAIL, QStringLiteral("s.mueller@velmor-demo.de"));
        QVERIFY(!s.LoginFailed);
        QFile trace(dir.filePath("trace.jsonl"));
        QVERIFY(trace.open(QIODevice::ReadOnly));
        const QByteArray text = trace.readAll();
        QVERIFY(text.contains("S FIRMA=1,FIL=0,PERSONAL=\\\"17\\\""));
        QVERIFY(text.contains("D ^%XTT"));
        QVERIFY(!text.contains("demo\""));
        demoServer().setTracePath(QString());
    }

    void loginFailures_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const QString wrong = QStringLiteral("Passwort Falsch oder Benutzer nicht Aktiv.");
        QTest::newRow("inactive user") << "18"
                                       << "demo"
                                       << "Anmeldung an Caché." << wrong;
        QTest::newRow("password case") << "17"
                                       << "DEMO"
                                       << "Anmeldung an Caché." << wrong;
        QTest::newRow("wrong password") << "17"
                                        << "geheimXYZ"
                                        << "Anmeldung an Caché." << wrong;
        QTest::newRow("missing user")
            << "404"
            << "geheimXYZ"
            << "Caché Zugriffsfehler"
            << "Vorgang: Anmeldung mit nicht existierendem Personalcode.\r\n\r\nFehler: 5809";
        QTest::newRow("missing department") << "19"
                                            << "demo"
                                            << "Caché Zugriffsfehler"
                                            << "Vorgang: Abteilungsermittlung.\r\n\r\nFehler: 5809";
        QTest::newRow("missing personnel record") << "20"
                                                  << "demo"
                                                  << "Caché Zugriffsfehler"
                                                  << "Vorgang: PersBasis Nummern.\r\n\r\nFehler: 5809";
    }

    void loginFailures()
    {
        QFETCH(QString, code);
        QFETCH(QString, password);
        QFETCH(QString, title);
        QFETCH(QString, text);
        {
            ScriptedBoxes boxes;
            boxes.answer(QMessageBox::Ok);
            QVERIFY(!loginAsDemoUser(code, password));
            QCOMPARE(boxes.shown().size(), 1);
            QCOMPARE(boxes.shown().first().title, title);
            QVERIFY2(boxes.lastText().startsWith(text), qPrintable(boxes.lastText()));
            QVERIFY(!boxes.lastText().contains(password));
            QCOMPARE(boxes.shown().first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QVERIFY(session().LoginFailed);
        QVERIFY(session().LoginDialogForced);
        QVERIFY(session().UserName.isEmpty());
        QCOMPARE(programExitCount(), 0);
        // A failed command line is not used again: the next login asks through the dialog.
        QVERIFY(session().CommandLineRejected);
    }

    void failedCommandLineFallsBackToTheDialog()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        int dialogs = 0;
        auto login = [&] {
            session().CommandLine = QStringLiteral("1 0 17 falsch 127.0.0.1 1972");
            session().LoginDialogForced = true;
            return CacheLogin();
        };
        QVERIFY(!login());
        whenShown("FMPass", [&](QWidget* w) {
            ++dialogs;
            typeLogin(w, "17", "demo");
        });
        QVERIFY(login());
        QCOMPARE(dialogs, 1);
        QCOMPARE(session().UserName, QStringLiteral("17|Sabine Müller"));
    }

    // Whatever the code holds, the server's M engine takes it as one text: nothing runs, nothing
    // else is set. Ordinary codes give the line as it always was.
    void sessionLineKeepsTheCodeOneText_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("line");
        QTest::newRow("ordinary") << "17"
                                  << "S FIRMA=1,FIL=0,PERSONAL=\"17\"";
        QTest::newRow("letters") << "AB17"
                                 << "S FIRMA=1,FIL=0,PERSONAL=\"AB17\"";
        QTest::newRow("quote") << "17\""
                               << "S FIRMA=1,FIL=0,PERSONAL=\"17\"\"\"";
        QTest::newRow("doubled quote") << "A\"\"B"
                                       << "S FIRMA=1,FIL=0,PERSONAL=\"A\"\"\"\"B\"";
        QTest::newRow("routine call") << "17\",X=$$PWN^XPWN(),Y=\""
                                      << "S FIRMA=1,FIL=0,PERSONAL=\"17\"\",X=$$PWN^XPWN(),Y=\"\"\"";
        QTest::newRow("kill global") << "17\" K ^B S X=\""
                                     << "S FIRMA=1,FIL=0,PERSONAL=\"17\"\" K ^B S X=\"\"\"";
        QTest::newRow("company switch") << "17\",FIRMA=2,Y=\""
                                        << "S FIRMA=1,FIL=0,PERSONAL=\"17\"\",FIRMA=2,Y=\"\"\"";
        QTest::newRow("comma") << "1,2"
                               << "S FIRMA=1,FIL=0,PERSONAL=\"1,2\"";
        QTest::newRow("concatenation") << "_$ZV_"
                                       << "S FIRMA=1,FIL=0,PERSONAL=\"_$ZV_\"";
        QTest::newRow("non-ASCII") << "MÜLLER"
                                   << "S FIRMA=1,FIL=0,PERSONAL=\"MÜLLER\"";
    }

    void sessionLineKeepsTheCodeOneText()
    {
        QFETCH(QString, code);
        QFETCH(QString, line);
        QCOMPARE(SessionLine("1", "0", code), line);
        QVERIFY(LoginDataProblem("1", "0", code).isEmpty());
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        bool error = false;
        QCOMPARE(DBCall(line + " W PERSONAL_\"/\"_FIRMA_\"/\"_FIL", error), code + "/1/0");
        QVERIFY(!error);
    }

    // The same lines on a real M engine (GT.M, when installed): each code stays one text.
    void sessionLineOnGtm_data() { sessionLineKeepsTheCodeOneText_data(); }

    void sessionLineOnGtm()
    {
        QFETCH(QString, code);
        QFETCH(QString, line);
        QString dist = qEnvironmentVariable("gtm_dist");
        if (dist.isEmpty()) {
            const QDir installed("/usr/lib/x86_64-linux-gnu/fis-gtm");
            const QStringList versions = installed.entryList({"V*"}, QDir::Dirs, QDir::Name);
            if (!versions.isEmpty())
                dist = installed.filePath(versions.last());
        }
        if (!QFile::exists(dist + "/mumps"))
            QSKIP("GT.M is not installed (Debian package fis-gtm)");
        QProcess mumps;
        QProcessEnvironment env;
        env.insert("gtm_dist", dist);
        env.insert("gtmroutines", dist + "/libgtmutil.so");
        mumps.setProcessEnvironment(env);
        mumps.start(dist + "/mumps", {"-run", "%XCMD", line + " W PERSONAL,\"/\",FIRMA,\"/\",FIL"});
        QVERIFY(mumps.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(mumps.readAllStandardOutput() + mumps.readAllStandardError()),
                 code + "/1/0\n");
        QCOMPARE(mumps.exitCode(), 0);
    }

    // Refused data fail the login with the login-failure box before anything reaches the server.
    void refusedLoginDataSendNothing_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("fragment");
        QTest::newRow("company as exponent") << "1e0 0 17 demo"
                                             << "Die Firma \u201e1e0\u201c ist keine ganze Zahl.";
        QTest::newRow("code in the branch") << "1 0,X=$$PWN^XPWN() 17 demo"
                                            << "Die Filiale \u201e0,X=$$PWN^XPWN()\u201c";
        QTest::newRow("letter branch") << "1 A 17 demo"
                                       << "Die Filiale \u201eA\u201c";
        QTest::newRow("empty branch") << "1  17 demo"
                                      << "Die Filiale \u201e\u201c";
        QTest::newRow("control character") << "1 0 17\x1b[2J demo"
                                           << "Steuerzeichen";
        QTest::newRow("no code") << "1 0  demo"
                                 << "Personalcode ein.";
    }

    void refusedLoginDataSendNothing()
    {
        QFETCH(QString, line);
        QFETCH(QString, fragment);
        QTemporaryDir dir;
        demoServer().setTracePath(dir.filePath("trace.jsonl"));
        const int connects = demoServer().connectCount();
        {
            ScriptedBoxes boxes;
            boxes.answer(QMessageBox::Ok);
            session().CommandLine = line;
            session().LoginDialogForced = true;
            QVERIFY(!CacheLogin());
            QCOMPARE(boxes.shown().size(), 1);
            QCOMPARE(boxes.shown().first().title, QStringLiteral("Anmeldung an Caché."));
            QVERIFY2(boxes.lastText().contains(fragment), qPrintable(boxes.lastText()));
        }
        demoServer().setTracePath(QString());
        QCOMPARE(demoServer().connectCount(), connects);
        QFile trace(dir.filePath("trace.jsonl"));
        QVERIFY(!trace.exists() || trace.size() == 0);
        QVERIFY(session().LoginFailed);
        QVERIFY(session().UserName.isEmpty());
        QCOMPARE(programExitCount(), 0);
    }

    void sessionLineFailureIsReportedOnceAndEndsNothing()
    {
        int created = 0;
        cacheclient::setFactoryCreator([&created] {
            ++created;
            return std::make_shared<RefusingSessionFactory>(demoServer().createFactory());
        });
        const qint64 before = m_clock.waitedMs();
        {
            ScriptedBoxes boxes;
            boxes.answer(QMessageBox::Ok);
            QVERIFY(!loginAsDemoUser());
            QCOMPARE(boxes.shown().size(), 1);
            QCOMPARE(boxes.shown().first().title, QStringLiteral("Caché Zugriffsfehler"));
            QVERIFY2(boxes.lastText().startsWith(
                         "Vorgang: Anmeldung an Caché..\r\n\r\nFehler: 6013\r\n<NOROUTINE>"),
                     qPrintable(boxes.lastText()));
        }
        QCOMPARE(created, 1);
        QCOMPARE(m_clock.waitedMs(), before);
        QVERIFY(!FMServer::instance().isVisible());
        QCOMPARE(programExitCount(), 0);
        QVERIFY(session().UserName.isEmpty());
        QVERIFY(session().LoginFailed);

        // Once the server takes the session lines, the dialog's login goes through.
        installDemoServer();
        ScriptedBoxes boxes;
        whenShown("FMPass", [](QWidget* w) { typeLogin(w, "17", "demo"); });
        QVERIFY(CacheLogin());
    }

    void failedCommandLineOffersItsDataInTheDialog()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        session().CommandLine = QStringLiteral("1 0 17 falsch 127.0.0.5 1972 TESTNS");
        session().LoginDialogForced = true;
        QVERIFY(!CacheLogin());
        QStringList offered;
        whenShown("FMPass", [&](QWidget* w) {
            auto* login = static_cast<FMPass*>(w);
            const FMServer& server = FMServer::instance();
            offered = {login->BUSER->text(),     login->BPASSWORT->text(), server.BFIRMA->text(),
                       server.BFIL->text(),      server.BSERVERIP->text(), server.BPORT->text(),
                       server.BNAMESPACE->text()};
            login->BPASSWORT->setText("demo");
            QTest::mouseClick(login->BUSpeich, Qt::LeftButton);
        });
        QVERIFY(CacheLogin());
        QCOMPARE(offered, (QStringList{"17", "", "1", "0", "127.0.0.5", "1972", "TESTNS"}));
        QCOMPARE(session().UserName, QStringLiteral("17|Sabine Müller"));
        // Later connects go to the server the session logged in on.
        QCOMPARE(session().ConnectString, QStringLiteral("cn_iptcp:127.0.0.5[1972]:VELMOR"));
        m_clock.advance(IdleTimeoutMs);
        bool error = false;
        QCOMPARE(DBCall("W PERSONAL", error), QStringLiteral("17"));
        QCOMPARE(session().ConnectString, QStringLiteral("cn_iptcp:127.0.0.5[1972]:VELMOR"));
        QCOMPARE(openLoginSettings()->value("Port").toString(), QStringLiteral("1972"));
    }

    void closeBoxLogsInWithoutThePassword()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        openLoginSettings()->setValue("Name", "17");
        whenShown("FMPass", [](QWidget* w) {
            static_cast<FMPass*>(w)->BPASSWORT->setText("demo");
            w->close();
        });
        session().LoginDialogForced = true;
        QVERIFY(!CacheLogin());
        QCOMPARE(boxes.lastText(), QStringLiteral("Passwort Falsch oder Benutzer nicht Aktiv."));
        QVERIFY(FMPass::instance().BPASSWORT->text().isEmpty());
    }

    void wrongPasswordSelectsThePasswordText()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        whenShown("FMPass", [](QWidget* w) { typeLogin(w, "17", "falsch"); });
        session().LoginDialogForced = true;
        QVERIFY(!CacheLogin());
        QCOMPARE(FMPass::instance().BPASSWORT->selectedText(), QStringLiteral("falsch"));
    }

    void unreachableServerEndsTheProgram()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok).answer(QMessageBox::Ok);
        demoServer().setReachable(false);
        const qint64 before = m_clock.waitedMs();
        qint64 waitedAtFirstMessage = -1;
        int boxesAtServerDialog = -1;
        whenShown("FMServer", [&](QWidget* w) {
            boxesAtServerDialog = static_cast<int>(MessageBox::shown().size());
            waitedAtFirstMessage = m_clock.waitedMs() - before;
            static_cast<FMServer*>(w)->BUZurueck->click();
        });
        session().CommandLine = QStringLiteral("1 0 17 demo");
        QVERIFY(!CacheLogin());
        QCOMPARE(boxesAtServerDialog, 1);
        QCOMPARE(waitedAtFirstMessage, 20000);
        QCOMPARE(boxes.shown().size(), 2);
        QCOMPARE(boxes.shown().at(0).icon, QMessageBox::Warning);
        QCOMPARE(boxes.shown().at(0).text,
                 QStringLiteral("Server nach 3 Versuchen nicht erreichbar!\r\n"
                                "Wahrscheinlich sind keine freien Lizenzen verfügbar!\r\n"
                                "Bitte Kontrollieren Sie die Verbindungsdaten"));
        QCOMPARE(boxes.shown().at(1).icon, QMessageBox::Critical);
        QVERIFY(boxes.shown().at(1).text.startsWith("Der Server ist nicht erreichbar!\r\n"));
        QVERIFY(boxes.shown().at(1).text.endsWith("zu einem späteren Zeitpunk noch ein mal."));
        QCOMPARE(m_clock.waitedMs() - before, 40000);
        QCOMPARE(programExitCount(), 1);
        QVERIFY(session().UserName.isEmpty());
    }

    // While the tries run a small window says what is going on, from half a second after a try
    // starts; a quick connect shows nothing, and the boxes and the server dialog stand alone.
    void connectTriesAreShown()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok).answer(QMessageBox::Ok);
        demoServer().setReachable(false);
        auto statusText = [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == "Verbindungsaufbau" && w->isVisible())
                    return w->findChild<QLabel*>()->text();
            return QStringLiteral("-");
        };
        QStringList seen;
        bool eventRan = false;
        std::vector<std::unique_ptr<ClockTimer>> probes;
        for (int at : {299, 500, 10500, 19999, 20500}) {
            probes.push_back(m_clock.createTimer([&, at] {
                seen << statusText();
                if (at == 500)
                    QTimer::singleShot(0, [&eventRan] { eventRan = true; });
                if (at == 10500)
                    seen << (eventRan ? "events ran" : "events stood still");
            }));
            probes.back()->start(at);
        }
        whenShown("FMServer", [&](QWidget* w) {
            seen << statusText();
            static_cast<FMServer*>(w)->BUZurueck->click();
        });
        session().CommandLine = QStringLiteral("1 0 17 demo");
        QVERIFY(!CacheLogin());
        seen << statusText();
        const QString text =
            QStringLiteral("Verbindung zu 127.0.0.1:1972 wird hergestellt \u2026 Versuch %1 von 3");
        QCOMPARE(seen, (QStringList{"-", text.arg(1), text.arg(2), "events ran", text.arg(2), "-",
                                    text.arg(1), "-"}));
        QCOMPARE(boxes.shown().size(), 2);

        // A connect that succeeds at once shows nothing.
        resetProgramState();
        ScriptedBoxes quiet;
        QVERIFY(loginAsDemoUser());
        m_clock.advance(1000);
        QCOMPARE(statusText(), QStringLiteral("-"));
    }

    void serverBackOnSecondTry()
    {
        ScriptedBoxes boxes;
        erpsim::LocalServer& server = demoServer();
        server.setReachable(false);
        int created = 0;
        cacheclient::setFactoryCreator([&created, &server] {
            if (++created == 2)
                server.setReachable(true);
            return server.createFactory();
        });
        const qint64 before = m_clock.waitedMs();
        session().CommandLine = QStringLiteral("1 0 17 demo");
        QVERIFY(CacheLogin());
        QCOMPARE(created, 2);
        QCOMPARE(m_clock.waitedMs() - before, 10000);
        QVERIFY(boxes.shown().isEmpty());
        installDemoServer();
    }

    void idleDisconnectAndSilentReconnect()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        bool error = false;
        const int connects = demoServer().connectCount();
        QCOMPARE(DBCall("W 1+1", error), QStringLiteral("2"));
        QVERIFY(idleTimerActive());
        m_clock.advance(59000);
        QVERIFY(session().Factory->isConnected());
        m_clock.advance(1000);
        QVERIFY(!session().Factory->isConnected());
        QVERIFY(!idleTimerActive());
        // The next access connects anew, sets the session variables again, and says nothing.
        QCOMPARE(DBCall("W FIRMA_\"/\"_PERSONAL", error), QStringLiteral("1/17"));
        QCOMPARE(demoServer().connectCount(), connects + 1);
        QVERIFY(!error);
    }

    void reportCacheErrorLayout()
    {
        const CacheError error(5, QStringLiteral("Ungültiger Prozeduraufruf"));
        const QString text = CacheErrorText(error, QStringLiteral("Abteilungsermittlung"));
        QCOMPARE(text.split("\r\n"), (QStringList{"Vorgang: Abteilungsermittlung.", "", "Fehler: 5",
                                                  "Ungültiger Prozeduraufruf", "", ""}));
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        ReportCacheError(error, QStringLiteral("Abteilungsermittlung"));
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Caché Zugriffsfehler"));
        QCOMPARE(boxes.shown().first().icon, QMessageBox::Warning);
        QCOMPARE(boxes.shown().first().text, text);
        QCOMPARE(ScreenPointer::current(), ScreenPointer::Arrow);
        QVERIFY(idleTimerActive());
    }

    void dbCallD_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("upperBound");
        QTest::newRow("trailing delimiter") << "A;B;;C;" << QStringList{"A", "B", "", "C"} << 10;
        QTest::newRow("no trailing delimiter") << "A;B;;C" << QStringList{"A", "B", "", "C"} << 10;
        QTest::newRow("eleven pieces")
            << "1;2;3;4;5;6;7;8;9;10;11"
            << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"} << 20;
        QTest::newRow("ten pieces") << "1;2;3;4;5;6;7;8;9;10"
                                    << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"} << 10;
        QTest::newRow("nothing") << "" << QStringList{} << -1;
    }

    void dbCallD()
    {
        QFETCH(QString, output);
        QFETCH(QStringList, entries);
        QFETCH(int, upperBound);
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        QStringList list;
        bool error = false;
        const short n = DBCallD(QStringLiteral("W \"%1\"").arg(output), u';', list, error);
        QVERIFY(!error);
        QCOMPARE(int(n), int(entries.size()));
        QCOMPARE(int(list.size()) - 1, upperBound);
        QCOMPARE(list.mid(1, n), entries);
    }

    void callHelpersReportTheirCommand()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        boxes.answer(QMessageBox::Ok).answer(QMessageBox::Ok);
        bool error = false;
        QCOMPARE(DBCall("BOGUS 1", error), QString());
        QVERIFY(error);
        QVERIFY(
            boxes.lastText().startsWith("Vorgang: Ungültige Anfrage! Kein Ergebnis gefunden\r\n\r\n"
                                        "DBCall Aufruf von XR.Windwos Xecute BOGUS 1.\r\n\r\nFehler: 5002"));
        QStringList list{"untouched"};
        error = false;
        QCOMPARE(DBCallD("BOGUS 2", u';', list, error), short(0));
        QVERIFY(error);
        QCOMPARE(list, QStringList{"untouched"});
        QVERIFY(boxes.lastText().contains("DBCallD Aufruf von XR.Windwos Xecute BOGUS 2."));
    }

    void applicationParameters()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        QCOMPARE(GetAppParameter("FXR", "M_3", false, QVariant(), true).toString(),
                 QStringLiteral("Auftragsbest{tigung"));
        QCOMPARE(GetAppParameter("FXR", "M_3", false).toString(), QStringLiteral("Auftragsbestätigung"));
        QCOMPARE(GetAppParameter("FXR", "M_3", true, QVariant(), true).toString(),
                 QStringLiteral("Stichwort"));
        const QString scans = GetAppParameter("FXR", "DirScan", false, QVariant(), true).toString();
        QVERIFY(scans.endsWith('/'));

        boxes.answer(QMessageBox::Ok);
        QCOMPARE(GetAppParameter("FXR", "Nope", false, QStringLiteral("vorgabe")).toString(),
                 QStringLiteral("vorgabe"));
        QVERIFY(boxes.lastText().startsWith("Vorgang: Lese Parameter Gruppe FXR Objekt Nope."));
        boxes.answer(QMessageBox::Ok);
        QVERIFY(!GetAppParameter("FXR", "Nope", false).isValid());

        session().Firma = "2";
        QVERIFY(GetAppParameter("FXR", "DirScan", false, QVariant(), true).toString() != scans);
    }

    void pauseOnTheClock()
    {
        const qint64 before = m_clock.waitedMs();
        QCOMPARE(Pause(1000), 10);
        QCOMPARE(m_clock.waitedMs() - before, 10000);
        // A wait across midnight ends at the wrap.
        m_clock.set(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 58)));
        Pause(1000);
        QVERIFY(m_clock.now() < QDateTime(QDate(2026, 12, 8), QTime(0, 0, 9)));
    }

    void loginDialog()
    {
        ScriptedBoxes boxes;
        FMPass& login = FMPass::instance();
        QCOMPARE(login.windowTitle(), QStringLiteral("VELMOR Benutzeranmeldung"));
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        login.BUSER->setFocus();
        QTest::keyClicks(login.BUSER, "ab17");
        login.BPASSWORT->setFocus();
        QCOMPARE(login.BUSER->text(), QStringLiteral("AB17"));
        QCOMPARE(login.BPASSWORT->echoMode(), QLineEdit::Password);
        // "Abbruch" ends the program.
        session().UserName = "17|x";
        QTest::mouseClick(login.BUAusst, Qt::LeftButton);
        QCOMPARE(programExitCount(), 1);
        QVERIFY(session().UserName.isEmpty());
        QVERIFY(session().ProgramEnded);
    }

    void serverDialogEditing()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        FMServer& server = FMServer::instance();
        QCOMPARE(server.windowTitle(), QStringLiteral("VELMOR Server"));
        QVERIFY(server.BUEdit->isChecked());
        QVERIFY(!server.BPORT->isEnabled());

        boxes.answer(QMessageBox::No);
        server.BUEdit->click();
        QCOMPARE(boxes.lastText(), QStringLiteral("Änderungen erlauben?"));
        QVERIFY(server.BUEdit->isChecked());
        QVERIFY(!server.BPORT->isEnabled());

        boxes.answer(QMessageBox::Yes);
        server.BUEdit->click();
        QVERIFY(server.BPORT->isEnabled() && server.BFIRMA->isEnabled() && server.BNAMESPACE->isEnabled());
        QVERIFY(!server.BWJ->isEnabled());
        server.BPORT->setText("4711");
        // The server dialog's save keeps the stored user, whatever the login dialog shows.
        openLoginSettings()->setValue("Name", "17");
        FMPass::instance().BUSER->clear();
        boxes.answer(QMessageBox::No);
        server.BUEdit->click();
        QCOMPARE(boxes.lastText(), QStringLiteral("Änderungen sichern?"));
        QVERIFY(!server.BPORT->isEnabled());
        QCOMPARE(server.BPORT->text(), QStringLiteral("4711"));
        QVERIFY(!openLoginSettings()->contains("Port"));

        // Saving closes the connection and connects again with the new data.
        boxes.answer(QMessageBox::Yes);
        server.BUEdit->click();
        boxes.answer(QMessageBox::Yes);
        server.BUEdit->click();
        QCOMPARE(openLoginSettings()->value("Port").toString(), QStringLiteral("4711"));
        QCOMPARE(session().Port, QStringLiteral("4711"));
        QCOMPARE(session().ConnectString, QStringLiteral("cn_iptcp:127.0.0.1[4711]:VELMOR"));
        QVERIFY(session().Factory->isConnected());
        QCOMPARE(server.BWJ->text(), QStringLiteral("2026"));
        QCOMPARE(openLoginSettings()->value("Name").toString(), QStringLiteral("17"));
        QCOMPARE(FMPass::instance().BUSER->text(), QStringLiteral("17"));
    }

    void logKeepsRowsAndCreatesItsWindowOnce()
    {
        int created = 0;
        setLogWindowCreator([&] { ++created; });
        WriteLog("OKButton_Click", "Start", "");
        WriteLog("BilderLaden", "a;b", "p");
        QCOMPARE(created, 1);
        LogModel& log = LogModel::instance();
        QCOMPARE(log.rowCount(), 2);
        QCOMPARE(log.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Programmteil"));
        QCOMPARE(log.index(1, 1).data().toString(), QStringLiteral("a"));
        QCOMPARE(log.index(1, 2).data().toString(), QStringLiteral("b"));
        QCOMPARE(log.row(1), (QStringList{"BilderLaden", "a", "b", "p"}));
        setLogWindowCreator(nullptr);
    }
};

QTEST_MAIN(TestAccess)
#include "TestAccess.moc"
