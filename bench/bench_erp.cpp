// Client/server figures against peers measured in the same run:
//  1. open-by-id round trip to velmor-erpd vs. a bare TCP echo of a frame of the same size;
//  2. streaming a 10,000-row result set, rows/s, vs. reading the same rows from SQLite directly;
//  3. KkrSuche's first 500 rows over the large data, vs. the same statement in SQLite directly.
// With --peer-daemon OLD, only 1. and 2. run, side by side with that other build of velmor-erpd,
// alternating, so a change to the daemon shows as a ratio; --daemon NEW replaces this build's.
#include "BenchSupport.h"
#include "cacheclient/ChannelFactory.h"
#include "cacheclient/Protocol.h"
#include "cacheclient/TcpChannel.h"
#include "erpsim/LocalServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace cacheclient;
namespace key = protocol::key;

namespace {

// A bare echo server: whatever arrives goes straight back, on a blocking socket in a thread.
class EchoServer : public QThread
{
public:
    EchoServer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 4);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }
    ~EchoServer() override
    {
        ::close(m_listener);
        wait();
    }
    quint16 port() const { return m_port; }

protected:
    void run() override
    {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0 || ::write(fd, buffer, static_cast<size_t>(n)) != n)
                break;
        }
        ::close(fd);
    }

private:
    int m_listener;
    quint16 m_port;
};

// Blocking client of the echo server: one frame out, the same frame back.
double echoRoundTripMicros(quint16 port, const QByteArray& frame, int rounds)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::vector<char> back(static_cast<size_t>(frame.size()));
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        ::write(fd, frame.constData(), static_cast<size_t>(frame.size()));
        qsizetype got = 0;
        while (got < frame.size()) {
            const ssize_t n = ::read(fd, back.data() + got, static_cast<size_t>(frame.size() - got));
            if (n <= 0)
                break;
            got += n;
        }
        samples.push_back(t.nsecsElapsed() / 1000.0);
    }
    ::close(fd);
    return median(samples);
}

std::shared_ptr<Factory> connectTo(const Daemon& daemon)
{
    auto factory = std::make_shared<ChannelFactory>(std::make_shared<TcpChannel>());
    QString cs = QStringLiteral("cn_iptcp:127.0.0.1[%1]:VELMOR").arg(daemon.port);
    return factory->connect(cs) ? factory : nullptr;
}

// Microseconds of opening random customers, one sample each.
void openMicros(Factory& factory, QRandomGenerator& random, int rounds, std::vector<double>& samples)
{
    for (int i = 0; i < rounds; ++i) {
        const QString id = QStringLiteral("1||K||%1").arg(10000 + random.bounded(99000));
        QElapsedTimer t;
        t.start();
        factory.openId("XR.KontoStamm", id);
        samples.push_back(t.nsecsElapsed() / 1000.0);
    }
}

// Rows per second of reading 10,000 building sites with all their columns.
double streamRate(Factory& factory)
{
    QElapsedTimer t;
    t.start();
    auto rs = factory.resultSet("XR.KundBau", "BaustellenAuswahl");
    rs->execute({"1", "", "", "", "", "", "", "", ""});
    int n = 0;
    qsizetype chars = 0;
    while (n < 10000 && rs->next()) {
        for (int c = 1; c <= 5; ++c)
            chars += rs->columnValue(c).size();
        ++n;
    }
    rs->close();
    if (n != 10000 || chars == 0)
        std::printf("  (only %d rows)\n", n);
    return chars > 0 ? n / (t.nsecsElapsed() / 1e9) : 0;
}

// This build's daemon and another, measured in turns, each turn starting with the other one.
int sideBySide(const QString& db, const QString& self, const QString& peer)
{
    Daemon ours, theirs;
    if (!ours.start(db, self) || !theirs.start(db, peer)) {
        std::fprintf(stderr, "velmor-erpd startet nicht\n");
        return 1;
    }
    auto a = connectTo(ours);
    auto b = connectTo(theirs);
    if (!a || !b)
        return 1;
    QRandomGenerator random(11);
    std::vector<double> warmUp, opensA, opensB, ratesA, ratesB, openRatios, rateRatios;
    openMicros(*a, random, 300, warmUp);
    openMicros(*b, random, 300, warmUp);
    // Short turns, each side right after the other, so that a burst of load on the shared
    // machine falls on both alike; the verdict is the median of the turns' ratios.
    for (int turn = 0; turn < 100; ++turn) {
        std::vector<double> turnA, turnB;
        double rateA = 0, rateB = 0;
        for (int side = 0; side < 2; ++side) {
            const bool first = (turn + side) % 2 == 0;
            Factory& f = first ? *a : *b;
            openMicros(f, random, 50, first ? turnA : turnB);
            if (turn % 5 == 0)
                (first ? rateA : rateB) = streamRate(f);
        }
        opensA.insert(opensA.end(), turnA.begin(), turnA.end());
        opensB.insert(opensB.end(), turnB.begin(), turnB.end());
        openRatios.push_back(median(turnA) / median(turnB));
        if (turn % 5 == 0) {
            ratesA.push_back(rateA);
            ratesB.push_back(rateB);
            rateRatios.push_back(rateA / rateB);
        }
    }
    const double openRatio = median(openRatios);
    const double rateRatio = median(rateRatios);
    std::printf("side by side with %s (100 alternating turns of 50 opens, 20 streams each; ratio = median of "
                "the turns' ratios):\n"
                "  open by id: %.1f us vs. %.1f us; ratio %.3f (goal <= 1.05: %s)\n"
                "  streaming: %.0f rows/s vs. %.0f rows/s; ratio %.3f (goal >= 0.95: %s)\n",
                qPrintable(peer), median(opensA), median(opensB), openRatio, verdict(openRatio <= 1.05),
                median(ratesA), median(ratesB), rateRatio, verdict(rateRatio >= 0.95));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString db, self, peer;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if ((arg == QLatin1String("--daemon") || arg == QLatin1String("--peer-daemon")) && i + 1 < argc)
            (arg == QLatin1String("--daemon") ? self : peer) = QString::fromLocal8Bit(argv[++i]);
        else
            db = arg;
    }
    if (db.isEmpty()) {
        std::fprintf(
            stderr,
            "Aufruf: bench_erp LARGE.db [--daemon VELMOR-ERPD] [--peer-daemon ANDERER-VELMOR-ERPD]\n");
        return 2;
    }
    if (!peer.isEmpty())
        return sideBySide(db, self, peer);
    Daemon daemon;
    if (!daemon.start(db, self)) {
        std::fprintf(stderr, "velmor-erpd startet nicht\n");
        return 1;
    }
    auto channel = std::make_shared<TcpChannel>();
    ChannelFactory factory(channel);
    QString cs = QStringLiteral("cn_iptcp:127.0.0.1[%1]:VELMOR").arg(daemon.port);
    if (!factory.connect(cs)) {
        std::fprintf(stderr, "keine Verbindung\n");
        return 1;
    }
    auto direct = QSqlDatabase::addDatabase("QSQLITE", "direct");
    direct.setDatabaseName(db);
    direct.open();

    // 1. Open by id vs. echo.
    QRandomGenerator random(7);
    const int rounds = 5000;
    for (int i = 0; i < 200; ++i)
        factory.openId("XR.KontoStamm", QStringLiteral("1||K||%1").arg(10000 + random.bounded(99000)));
    std::vector<double> opens;
    int replyBytes = 0;
    for (int i = 0; i < rounds; ++i) {
        const QString id = QStringLiteral("1||K||%1").arg(10000 + random.bounded(99000));
        QElapsedTimer t;
        t.start();
        auto object = factory.openId("XR.KontoStamm", id);
        opens.push_back(t.nsecsElapsed() / 1000.0);
        replyBytes = static_cast<int>(object->property("Name").size()) + 200;
    }
    {
        // The same opens without a network, to tell server work from transport.
        erpsim::LocalServer local(db);
        auto inProcess = local.createFactory();
        QString any = QStringLiteral("cn_iptcp:local[1]:VELMOR");
        inProcess->connect(any);
        std::vector<double> localOpens;
        for (int i = 0; i < rounds; ++i) {
            const QString id = QStringLiteral("1||K||%1").arg(10000 + random.bounded(99000));
            QElapsedTimer t;
            t.start();
            inProcess->openId("XR.KontoStamm", id);
            localOpens.push_back(t.nsecsElapsed() / 1000.0);
        }
        std::printf("open by id in process, no network (median): %.1f us\n", median(localOpens));
    }
    EchoServer echo;
    echo.start();
    const QByteArray echoFrame =
        protocol::encodeFrame(QCborMap{{key::Id, 1}, {key::Name, QString(replyBytes, u'x')}});
    const double echoUs = echoRoundTripMicros(echo.port(), echoFrame, rounds);
    const double openUs = median(opens);
    std::printf("open by id (XR.KontoStamm, %d rounds, median): %.1f us; bare TCP echo of a %lld-byte frame: "
                "%.1f us; "
                "ratio %.2fx (goal <= 2x the echo: %s)\n",
                rounds, openUs, static_cast<long long>(echoFrame.size()), echoUs, openUs / echoUs,
                atMost(openUs / echoUs, 2));

    // 2. Streaming 10,000 rows. Each round measures both, in turns first, and the verdict is the
    // median of the rounds' ratios: a burst of load on the shared machine falls on one round's pair.
    const int wanted = 10000;
    auto streamOnce = [&] { return streamRate(factory); };
    auto readDirect = [&] {
        QElapsedTimer d;
        d.start();
        QSqlQuery q(direct);
        q.setForwardOnly(true);
        q.exec("SELECT firma || '||' || knr || '||' || baunr, baunr, baukbez, strasse, ort FROM kund_bau"
               " WHERE firma = 1 ORDER BY knr, baunr");
        int m = 0;
        qsizetype chars = 0;
        while (m < wanted && q.next()) {
            for (int c = 0; c < 5; ++c)
                chars += q.value(c).toString().size();
            ++m;
        }
        if (m != wanted || chars == 0)
            std::printf("  (only %d rows in SQLite)\n", m);
        return m / (d.nsecsElapsed() / 1e9);
    };
    std::vector<double> streamRates, directRates, rateRatios;
    const int streamRounds = 21;
    for (int round = 0; round < streamRounds; ++round) {
        double streamed = 0, read = 0;
        if (round % 2 == 0) {
            streamed = streamOnce();
            read = readDirect();
        } else {
            read = readDirect();
            streamed = streamOnce();
        }
        streamRates.push_back(streamed);
        directRates.push_back(read);
        rateRatios.push_back(streamed / read);
    }
    const double rateRatio = median(rateRatios);
    std::printf(
        "streaming %d rows of BaustellenAuswahl (5 columns, %d rounds, medians): %.0f rows/s; SQLite read "
        "in process: %.0f rows/s; "
        "ratio %.2fx of direct (median of the rounds' ratios; goal >= 0.6x of direct: %s)\n",
        wanted, streamRounds, median(streamRates), median(directRates), rateRatio, atLeast(rateRatio, 0.6));

    // 3. KkrSuche first 500 rows.
    for (const char* text : {"", "M", "MUELLER", "SCH"}) {
        const QString term = QString::fromLatin1(text);
        std::vector<double> viaServer, viaSqlite;
        for (int run = 0; run < 21; ++run) {
            QElapsedTimer t;
            t.start();
            auto rs = factory.resultSet("XR.Windows", "KkrSuche");
            rs->execute({"1", "K", term, ""});
            int n = 0;
            while (n < 500 && rs->next()) {
                rs->columnValue(3);
                ++n;
            }
            rs->close();
            viaServer.push_back(t.nsecsElapsed() / 1e6);

            QElapsedTimer d;
            d.start();
            QSqlQuery q(direct);
            q.setForwardOnly(true);
            q.prepare(
                "SELECT nr, kbez, name, plz, strasse FROM konto WHERE firma = 1 AND kreis = 'K' AND kbez >= ?"
                " AND kbez < ? ORDER BY kbez, nr");
            q.addBindValue(term);
            q.addBindValue(term + QString::fromUcs4(U"\U0010FFFF", 1));
            q.exec();
            int m = 0;
            while (m < 500 && q.next()) {
                q.value(2);
                ++m;
            }
            viaSqlite.push_back(d.nsecsElapsed() / 1e6);
        }
        const double ms = median(viaServer);
        std::printf(
            "KkrSuche \"%s\" first 500 rows (median of 21): %.2f ms; SQLite in process: %.2f ms; ratio %.2fx "
            "(information)\n",
            qPrintable(term), ms, median(viaSqlite), ms / median(viaSqlite));
    }
    factory.disconnect();
    return 0;
}
