// velmor-handover --watch against velmor-erpd, with a proxy between them that can refuse
// connections, cut one after a registration passed, or hold a registration's answer back.
#include "Daemon.h"

#include "HotFolder.h"
#include "erpsim/DemoData.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>

namespace {

class Proxy : public QObject
{
public:
    enum Mode { Forward, CutAfterRegistration, HoldRegistrationAnswer };
    Mode mode = Forward;
    int registrations = 0;

    bool listen(quint16 serverPort, quint16 port = 0)
    {
        m_serverPort = serverPort;
        connect(&m_server, &QTcpServer::newConnection, this, &Proxy::accept, Qt::UniqueConnection);
        return m_server.listen(QHostAddress::LocalHost, port);
    }
    quint16 port() const { return m_server.serverPort(); }

    // The server is gone: no new connections, the open ones cut.
    void close()
    {
        m_server.close();
        for (QTcpSocket* socket : findChildren<QTcpSocket*>())
            socket->abort();
    }

private:
    void accept()
    {
        while (QTcpSocket* client = m_server.nextPendingConnection()) {
            client->setParent(this);
            auto* upstream = new QTcpSocket(this);
            upstream->connectToHost(QHostAddress::LocalHost, m_serverPort);
            auto cut = std::make_shared<bool>(false);
            auto hold = std::make_shared<bool>(false);
            connect(client, &QTcpSocket::readyRead, upstream, [=, this] {
                const QByteArray bytes = client->readAll();
                if (bytes.contains("SetDokument")) {
                    ++registrations;
                    *cut = mode == CutAfterRegistration;
                    *hold = mode == HoldRegistrationAnswer;
                }
                upstream->write(bytes);
            });
            connect(upstream, &QTcpSocket::readyRead, client, [=] {
                const QByteArray bytes = upstream->readAll();
                if (*cut) {
                    // The server has committed and answered; the answer never arrives.
                    client->abort();
                    upstream->abort();
                } else if (*hold) {
                    *hold = false;
                    QTimer::singleShot(1500, client, [client, bytes] { client->write(bytes); });
                } else {
                    client->write(bytes);
                }
            });
            connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::abort);
            connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::abort);
        }
    }

    QTcpServer m_server;
    quint16 m_serverPort = 0;
};

} // namespace

class TestHotFolder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Daemon m_daemon;
    QProcess m_watch;
    QStringList m_lines;
    QString m_err;

    QString hot() const { return m_dir.filePath("hot"); }

    void startWatch(quint16 port, const QStringList& extra = {})
    {
        m_lines.clear();
        m_err.clear();
        QDir().mkpath(hot());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMOR_LOGIN", QStringLiteral("1 0 17 demo 127.0.0.1 %1").arg(port));
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        m_watch.setProcessEnvironment(env);
        m_watch.start(Daemon::binary("velmor-handover"),
                      QStringList{"--watch", hot(), "--settle", "0.5", "--keyword", "Scan"} + extra);
        QVERIFY(m_watch.waitForStarted(5000));
    }

    void read()
    {
        m_lines += QString::fromUtf8(m_watch.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        m_err += QString::fromUtf8(m_watch.readAllStandardError());
    }

    // Waits while the event loop runs (the proxy lives in it) until a result line starts with prefix.
    bool waitForLine(const QString& prefix, int ms = 15000)
    {
        for (QElapsedTimer t; !t.isValid() || t.elapsed() < ms;) {
            if (!t.isValid())
                t.start();
            read();
            if (std::any_of(m_lines.begin(), m_lines.end(),
                            [&](const QString& l) { return l.startsWith(prefix); }))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    int stop()
    {
        ::kill(static_cast<pid_t>(m_watch.processId()), SIGTERM);
        for (int i = 0; i < 300 && m_watch.state() != QProcess::NotRunning; ++i)
            QTest::qWait(50);
        read();
        return m_watch.state() == QProcess::NotRunning && m_watch.exitStatus() == QProcess::NormalExit
                   ? m_watch.exitCode()
                   : -1;
    }

    void put(const QString& name, const QByteArray& bytes)
    {
        QFile f(QDir(hot()).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    int registrations(const QString& zip)
    {
        int n = -1;
        {
            auto db = QSqlDatabase::addDatabase("QSQLITE", "regs");
            db.setDatabaseName(m_dir.filePath("erp.db"));
            if (db.open()) {
                QSqlQuery q(db);
                q.prepare("SELECT count(*) FROM dokument WHERE arg6 LIKE ?");
                q.addBindValue(zip + "|%");
                if (q.exec() && q.next())
                    n = q.value(0).toInt();
            }
        }
        QSqlDatabase::removeDatabase("regs");
        return n;
    }

    QString outcome(const QString& file) const
    {
        for (const QString& line : m_lines)
            if (line.startsWith("OK " + QDir(hot()).filePath(file) + " ") ||
                line.startsWith("FEHLER " + QDir(hot()).filePath(file) + ":"))
                return line;
        return {};
    }

private slots:
    void initTestCase()
    {
        erpsim::createDemoDatabase(m_dir.filePath("erp.db"));
        QVERIFY(m_daemon.start(m_dir.filePath("erp.db")));
    }

    void cleanup()
    {
        if (m_watch.state() != QProcess::NotRunning) {
            m_watch.kill();
            m_watch.waitForFinished(5000);
        }
        QDir(hot()).removeRecursively();
    }

    // Settled means: the same size and modification time for the settle time, by the tracker's clock.
    void settleTracker_data()
    {
        QTest::addColumn<QList<QList<qint64>>>("scans"); // {time, size, mtime} per scan; size < 0: gone
        QTest::addColumn<qint64>("at");
        QTest::addColumn<bool>("settled");
        QTest::addColumn<qint64>("due");
        QTest::newRow("unchanged") << QList<QList<qint64>>{{0, 10, 1}, {400, 10, 1}} << qint64(1000) << true
                                   << qint64(0);
        QTest::newRow("not yet") << QList<QList<qint64>>{{0, 10, 1}} << qint64(999) << false << qint64(1);
        QTest::newRow("grew") << QList<QList<qint64>>{{0, 10, 1}, {900, 20, 2}} << qint64(1500) << false
                              << qint64(400);
        QTest::newRow("touched, same size")
            << QList<QList<qint64>>{{0, 10, 1}, {900, 10, 2}} << qint64(1500) << false << qint64(400);
        QTest::newRow("gone and back") << QList<QList<qint64>>{{0, 10, 1}, {300, -1, 0}, {600, 10, 1}}
                                       << qint64(1200) << false << qint64(400);
        QTest::newRow("settled after change")
            << QList<QList<qint64>>{{0, 10, 1}, {900, 20, 2}} << qint64(1900) << true << qint64(0);
    }

    void settleTracker()
    {
        QFETCH(QList<QList<qint64>>, scans);
        QFETCH(qint64, at);
        QFETCH(bool, settled);
        QFETCH(qint64, due);
        SettleTracker tracker(1000);
        const QDateTime base(QDate(2026, 12, 9), QTime(5, 0));
        for (const auto& scan : scans) {
            QMap<QString, SettleTracker::State> seen;
            if (scan[1] >= 0)
                seen.insert("a.pdf", {scan[1], base.addSecs(scan[2])});
            tracker.observe(seen, scan[0]);
        }
        QCOMPARE(tracker.settled(at), settled ? QStringList{"a.pdf"} : QStringList{});
        QCOMPARE(tracker.nextDue(at), due);
    }

    // Files there at start, one written slowly in chunks, names a scanner is still writing.
    void handsOverWhatSettles()
    {
        QDir().mkpath(hot());
        put("vorher.pdf", erpsim::samplePdf("vorher"));
        put("scan.tmp", "noch nicht fertig");
        put(".versteckt", "x");
        startWatch(m_daemon.port());
        QVERIFY2(waitForLine("OK " + QDir(hot()).filePath("vorher.pdf")), qPrintable(m_err));

        // Each chunk comes sooner than the settle time: the file must not be taken before the last.
        QByteArray written;
        for (int chunk = 0; chunk < 6; ++chunk) {
            QFile f(QDir(hot()).filePath("langsam.pdf"));
            QVERIFY(f.open(QIODevice::Append));
            const QByteArray bytes = QByteArray(4000, char('a' + chunk));
            f.write(bytes);
            written += bytes;
            f.close();
            QTest::qWait(300);
            read();
            QVERIFY2(outcome("langsam.pdf").isEmpty(), qPrintable(outcome("langsam.pdf")));
        }
        QVERIFY2(waitForLine("OK " + QDir(hot()).filePath("langsam.pdf")), qPrintable(m_err));
        QCOMPARE(stop(), 0);

        QProcess unzip;
        unzip.start("unzip", {"-p", m_dir.filePath("transfer/langsam.zip")});
        QVERIFY(unzip.waitForFinished(10000));
        QCOMPARE(unzip.readAllStandardOutput(), written);
        QVERIFY(QFile::exists(hot() + "/übergeben/vorher.pdf"));
        QVERIFY(QFile::exists(hot() + "/übergeben/langsam.pdf"));
        QVERIFY(!QFile::exists(hot() + "/vorher.pdf"));
        QVERIFY(QFile::exists(hot() + "/scan.tmp") && QFile::exists(hot() + "/.versteckt"));
        QCOMPARE(m_lines.size(), 2);
        QCOMPARE(registrations("vorher.zip"), 1);
        QCOMPARE(registrations("langsam.zip"), 1);
    }

    // The server goes away and comes back; a registration whose answer was lost is not sent again.
    void serverAwayAndLostAnswers()
    {
        Proxy proxy;
        QVERIFY(proxy.listen(m_daemon.port()));
        const quint16 port = proxy.port();
        startWatch(port, {"--delete-sources"});
        QTest::qWait(1500); // logged in and watching

        proxy.close();
        put("warten.pdf", "wartet auf den Server");
        for (int i = 0; i < 100 && !m_err.contains("WARTEN"); ++i) {
            QTest::qWait(50);
            read();
        }
        QVERIFY2(m_err.contains("WARTEN Server nicht erreichbar"), qPrintable(m_err));
        QVERIFY(m_lines.isEmpty());
        QVERIFY(QFile::exists(hot() + "/warten.pdf"));
        QVERIFY(proxy.listen(m_daemon.port(), port));
        QVERIFY2(waitForLine("OK " + hot() + "/warten.pdf"), qPrintable(m_err));
        QVERIFY(m_err.contains("WEITER Server wieder erreichbar"));
        QVERIFY(!QFile::exists(hot() + "/warten.pdf")); // --delete-sources
        QCOMPARE(registrations("warten.zip"), 1);

        proxy.mode = Proxy::CutAfterRegistration;
        put("verloren.pdf", "Antwort geht verloren");
        QVERIFY2(waitForLine("FEHLER " + hot() + "/verloren.pdf: Ausgang der Registrierung unbekannt"),
                 qPrintable(m_err));
        proxy.mode = Proxy::Forward;
        QVERIFY(QFile::exists(hot() + "/fehler/verloren.pdf"));
        QFile reason(hot() + "/fehler/verloren.pdf.grund.txt");
        QVERIFY(reason.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(reason.readAll()).contains("Nicht wiederholt"));
        // The server did store it once; nothing tries again.
        QTest::qWait(2000);
        read();
        QCOMPARE(registrations("verloren.zip"), 1);
        QCOMPARE(proxy.registrations, 2);
        QCOMPARE(m_lines.size(), 2);
        QCOMPARE(stop(), 0);
    }

    // SIGTERM while a registration is under way: that file is finished, no other one started.
    void stopsAfterTheFileInHand()
    {
        Proxy proxy;
        QVERIFY(proxy.listen(m_daemon.port()));
        startWatch(proxy.port());
        QTest::qWait(1500);
        proxy.mode = Proxy::HoldRegistrationAnswer;
        put("in-arbeit.pdf", "wird gerade registriert");
        for (int i = 0; i < 200 && proxy.registrations == 0; ++i)
            QTest::qWait(25);
        QCOMPARE(proxy.registrations, 1);
        put("danach.pdf", "kommt nicht mehr dran");
        QTest::qWait(700); // settled while the first is in hand
        QCOMPARE(stop(), 0);
        QVERIFY2(outcome("in-arbeit.pdf").startsWith("OK "), qPrintable(m_lines.join('\n') + m_err));
        QVERIFY(QFile::exists(hot() + "/übergeben/in-arbeit.pdf"));
        QVERIFY(outcome("danach.pdf").isEmpty());
        QVERIFY(QFile::exists(hot() + "/danach.pdf"));
        QCOMPARE(registrations("danach.zip"), 0);
    }

    void refusesBadCalls_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no folder") << QStringList{"--watch", "/gibt/es/nicht"} << "existiert nicht";
        QTest::newRow("bad settle") << QStringList{"--watch", ".", "--settle", "bald"}
                                    << "--settle erwartet Sekunden";
        QTest::newRow("files too") << QStringList{"--watch", ".", "a.pdf"} << "--watch nimmt keine Dateien";
    }

    void refusesBadCalls()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMOR_LOGIN", QStringLiteral("1 0 17 demo 127.0.0.1 %1").arg(m_daemon.port()));
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_dir.path());
        p.start(Daemon::binary("velmor-handover"), args);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(QString::fromUtf8(p.readAllStandardError()).contains(message), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestHotFolder)
#include "TestHotFolder.moc"
