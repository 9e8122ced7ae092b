// The access layer against velmor-erpd over loopback: login from the command line, the idle
// disconnect on the mock clock and the silent reconnect, as the server's trace shows them.
#include "Daemon.h"

#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "erpsim/DemoData.h"
#include "widgets/Clock.h"

#include <QFile>
#include <QTemporaryDir>

class TestAccessDaemon : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Daemon m_daemon;
    MockClock m_clock;

    QList<QByteArray> traceLines()
    {
        QFile file(m_dir.filePath("trace.jsonl"));
        file.open(QIODevice::ReadOnly);
        return file.readAll().split('\n');
    }

private slots:
    void initTestCase()
    {
        erpsim::createDemoDatabase(m_dir.filePath("erp.db"));
        QVERIFY(m_daemon.start(m_dir.filePath("erp.db"), {"--trace", m_dir.filePath("trace.jsonl")}));
        Clock::setInstance(&m_clock);
    }

    void init()
    {
        resetProgramState();
        cacheclient::setFactoryCreator(nullptr);
    }

    void idleDisconnectAndReconnect()
    {
        ScriptedBoxes boxes;
        session().CommandLine = QStringLiteral("1 0 17 demo 127.0.0.1 %1").arg(m_daemon.port());
        QVERIFY(CacheLogin());
        QCOMPARE(session().UserName, QStringLiteral("17|Sabine Müller"));
        auto firstFactory = session().Factory;
        bool error = false;
        QCOMPARE(DBCall(QStringLiteral("W PERSONAL"), error), QStringLiteral("17"));

        m_clock.advance(IdleTimeoutMs);
        QVERIFY(!firstFactory->isConnected());
        const qsizetype before = traceLines().size();

        QCOMPARE(DBCall(QStringLiteral("W FIRMA_\"/\"_FIL_\"/\"_PERSONAL"), error), QStringLiteral("1/0/17"));
        QVERIFY(!error);
        QVERIFY(session().Factory != firstFactory);
        const QList<QByteArray> after = traceLines().mid(before - 1);
        const QByteArray text = after.join('\n');
        QVERIFY(text.contains("\"op\":\"hello\""));
        QVERIFY(text.contains(R"(S FIRMA=1,FIL=0,PERSONAL=\"17\")"));
        QVERIFY(text.contains("D ^%XTT"));
        QVERIFY(boxes.shown().isEmpty());
    }

    void unreachablePortUsesTheTries()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok).answer(QMessageBox::Ok);
        whenShown("FMServer", [](QWidget* w) { w->hide(); });
        session().CommandLine = QStringLiteral("1 0 17 demo 127.0.0.1 1");
        QVERIFY(!CacheLogin());
        QCOMPARE(boxes.shown().size(), 2);
        QCOMPARE(programExitCount(), 1);
    }
};

QTEST_MAIN(TestAccessDaemon)
#include "TestAccessDaemon.moc"
