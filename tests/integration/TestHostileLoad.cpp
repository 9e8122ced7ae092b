// velmor-erpd under bounded attacks on loopback. Each case runs a few seconds; after each, a
// fresh client is served, and the daemon's resident size stays below 256 MB throughout.
#include "DaemonClient.h"

#include "cacheclient/ChannelFactory.h"
#include "cacheclient/Protocol.h"
#include "cacheclient/TcpChannel.h"
#include "erpsim/DemoData.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <atomic>
#include <memory>
#include <thread>

using namespace cacheclient;
namespace key = protocol::key;

namespace {

// Under AddressSanitizer freed memory waits in a quarantine of up to 256 MB before reuse.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 RssLimitKb = 768 * 1024;
#else
constexpr qint64 RssLimitKb = 256 * 1024;
#endif

qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Samples the daemon's resident size every 20 ms while a case runs.
class RssWatch
{
public:
    explicit RssWatch(qint64 pid)
        : m_thread([this, pid] {
              while (!m_stop.load()) {
                  m_peakKb.store(std::max(m_peakKb.load(), residentKb(pid)));
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          })
    {
    }
    ~RssWatch()
    {
        m_stop.store(true);
        m_thread.join();
    }
    qint64 peakKb() const { return m_peakKb.load(); }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_peakKb{0};
    std::thread m_thread;
};

// The M error code a line fails with, or its output when it does not fail.
QString outcome(Factory& f, const QString& line)
{
    try {
        return xecute(f, line);
    } catch (const CacheError& error) {
        const qsizetype at = error.description().indexOf(u'<');
        return error.description().mid(at, error.description().indexOf(u'>', at) - at + 1);
    }
}

QByteArray hello()
{
    return protocol::encodeFrame(
        QCborMap{{key::Id, 1}, {key::Op, protocol::op::Hello}, {key::Version, protocol::Version}});
}

QByteArray rawFrame(const QByteArray& payload)
{
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian(quint32(payload.size()), frame.data());
    return frame + payload;
}

std::unique_ptr<QTcpSocket> openSocket(quint16 port, const QByteArray& first = {})
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(3000))
        return nullptr;
    if (!first.isEmpty()) {
        socket->write(first);
        socket->waitForBytesWritten(3000);
    }
    return socket;
}

// Reads until the server closes the socket or the time is up; the error number of the last
// frame, 0 when none came, -1 when the socket is still open.
int closedWith(QTcpSocket& socket, int ms)
{
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < ms) {
        socket.waitForReadyRead(50);
        received += socket.readAll();
    }
    received += socket.readAll();
    if (socket.state() == QAbstractSocket::ConnectedState)
        return -1;
    protocol::FrameReader reader(protocol::ReplyLimits);
    reader.append(received);
    QCborMap message, last;
    while (reader.next(message) == protocol::FrameReader::Status::Frame)
        last = message;
    return int(last.value(key::Error).toMap().value(key::Number).toInteger());
}

} // namespace

class TestHostileLoad : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Daemon m_daemon;
    std::unique_ptr<RssWatch> m_rss;

private slots:
    void initTestCase()
    {
        const QString db = m_dir.filePath("erp.db");
        erpsim::createDemoDatabase(db);
        QVERIFY(
            m_daemon.start(db, {"--hello-timeout", "1", "--idle-timeout", "3", "--frame-timeout", "500"}));
        // The start-up line names the limits in force.
        for (const char* limit : {"64 Verbindungen", "Anmeldung binnen 1 s", "Leerlauf bis 3 s", "500 ms"})
            QVERIFY2(m_daemon.banner().contains(QLatin1String(limit)), qPrintable(m_daemon.banner()));
    }

    void init() { m_rss = std::make_unique<RssWatch>(m_daemon.pid()); }

    void cleanup()
    {
        QVERIFY(m_daemon.running());
        auto fresh = connectTo(m_daemon);
        QVERIFY(fresh);
        QCOMPARE(xecute(*fresh, "W 1+1"), QStringLiteral("2"));
        QCOMPARE(fresh->openId("XR.WC", "1||EUR")->property("WCKBEZ"), QStringLiteral("EUR"));
        const qint64 peak = m_rss->peakKb();
        m_rss.reset();
        qInfo("resident size: peak %lld MB, now %lld MB", peak / 1024, residentKb(m_daemon.pid()) / 1024);
        QVERIFY(peak > 0);
        QVERIFY2(peak < RssLimitKb, qPrintable(QString::number(peak / 1024)));
    }

    void deepLinesAndLongStrings()
    {
        auto f = connectTo(m_daemon);
        QVERIFY(f);
        QCOMPARE(outcome(*f, "W " + QString(32000, u'-') + "1"), QStringLiteral("<STACK>"));
        QCOMPARE(outcome(*f, "W " + QString(32000, u'\'') + "1"), QStringLiteral("<STACK>"));
        QCOMPARE(outcome(*f, "S A=\"" + QString(1000, u'x') + "\"" + QString(" S A=A_A").repeated(40)),
                 QStringLiteral("<MAXSTRING>"));
        // The same connection goes on, with what it set before the error.
        QCOMPARE(xecute(*f, "W $L(A)"), QStringLiteral("32000"));
    }

    // Several connections set variables as fast as they can; each is stopped at its limit.
    void localVariableFlood()
    {
        std::vector<std::shared_ptr<Factory>> clients;
        for (int i = 0; i < 8; ++i) {
            clients.push_back(connectTo(m_daemon));
            QVERIFY(clients.back());
            xecute(*clients.back(), "S A=\"" + QString(16000, u'y') + "\" S A=A_A");
        }
        QElapsedTimer clock;
        clock.start();
        int line = 0;
        QList<int> refusedAt(clients.size(), 0);
        while (clock.elapsed() < 3000) {
            ++line;
            for (size_t c = 0; c < clients.size(); ++c) {
                QStringList sets;
                for (int v = 0; v < 20; ++v)
                    sets << QStringLiteral("L%1X%2=A").arg(line).arg(v);
                const QString result = outcome(*clients[c], "S " + sets.join(u','));
                if (result == QLatin1String("<STORE>") && refusedAt[c] == 0)
                    refusedAt[c] = line;
            }
        }
        for (int at : std::as_const(refusedAt))
            QVERIFY2(at > 0 && at < 5, qPrintable(QString::number(at)));
    }

    // Large frames of nested arrays, each on its own connection, which each closes.
    void nestedFrames()
    {
        const QByteArray deep =
            QByteArray("\xa1\x61\x61", 3) + QByteArray(protocol::MaxRequestFrame - 4, '\x81') + '\x80';
        QByteArray wide("\xa1\x61\x61\x9a", 4);
        const quint32 count = protocol::MaxRequestFrame - 16;
        wide.append(char(count >> 24)).append(char(count >> 16)).append(char(count >> 8)).append(char(count));
        wide.append(QByteArray(count, '\x80'));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 60; ++i) {
            auto socket = openSocket(m_daemon.port(), hello() + rawFrame(i % 2 ? deep : wide));
            QVERIFY(socket);
            QCOMPARE(closedWith(*socket, 5000), int(protocol::error::BadFrame));
        }
        QVERIFY(clock.elapsed() < 30000);
    }

    // Connections that never say hello, or say only hello, hold no slot a newcomer needs: with
    // every slot taken, the idlest makes room at once.
    void idleConnectionsLockNobodyOut()
    {
        Daemon strict;
        // A long hello time: the newcomer gets in only because the idlest makes room.
        QVERIFY(strict.start(m_dir.filePath("erp.db"), {"--max-connections", "8", "--hello-timeout", "30"}));
        for (const QByteArray& first : {QByteArray(), hello()}) {
            std::vector<std::unique_ptr<QTcpSocket>> idle;
            for (int i = 0; i < 10; ++i) {
                idle.push_back(openSocket(strict.port(), first));
                QVERIFY(idle.back());
                QTest::qWait(20);
            }
            QElapsedTimer clock;
            clock.start();
            auto newcomer = connectTo(strict);
            QVERIFY(newcomer);
            QCOMPARE(xecute(*newcomer, "W 7"), QStringLiteral("7"));
            QVERIFY(clock.elapsed() < 10000);
            QCOMPARE(closedWith(*idle.front(), 1000), int(protocol::error::Timeout));
            QCOMPARE(closedWith(*idle.back(), 300), -1);
        }
    }

    // Without a hello a connection ends after the hello time, with only a hello after the idle time.
    void idleConnectionsEnd()
    {
        auto silent = openSocket(m_daemon.port());
        auto greeted = openSocket(m_daemon.port(), hello());
        QVERIFY(silent && greeted);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(closedWith(*silent, 3000), int(protocol::error::Timeout));
        QVERIFY(clock.elapsed() >= 900);
        QCOMPARE(closedWith(*greeted, 1000), -1);
        QCOMPARE(closedWith(*greeted, 4000), int(protocol::error::Timeout));
        QVERIFY(clock.elapsed() >= 2900);
    }

    void listenOutsideLoopbackWarns()
    {
        QProcess help;
        help.start(Daemon::binary("velmor-erpd"), {"--help"});
        QVERIFY(help.waitForFinished(5000));
        const QString text = QString::fromUtf8(help.readAllStandardOutput());
        for (const char* option :
             {"--max-connections", "--hello-timeout", "--idle-timeout", "--frame-timeout"})
            QVERIFY2(text.contains(QLatin1String(option)), option);

        // A documentation address that no interface has: the warning comes, the listen fails.
        QProcess outside;
        outside.start(Daemon::binary("velmor-erpd"),
                      {"--db", m_dir.filePath("erp.db"), "--listen", "192.0.2.1", "--port", "0"});
        QVERIFY(outside.waitForFinished(5000));
        const QString warning = QString::fromUtf8(outside.readAllStandardError());
        QVERIFY2(warning.contains("keine Zugriffskontrolle") && warning.contains("Tests und Vorführungen"),
                 qPrintable(warning));
        QVERIFY(outside.exitCode() != 0);
    }
};

QTEST_GUILESS_MAIN(TestHostileLoad)
#include "TestHostileLoad.moc"
