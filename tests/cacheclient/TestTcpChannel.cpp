// The network client against a scripted server in the same thread: the client's waits run
// the event loop, so the script answers while the client waits, as windows would repaint.
#include "cacheclient/ChannelFactory.h"
#include "cacheclient/Protocol.h"
#include "cacheclient/RowCells.h"
#include "cacheclient/TcpChannel.h"

#include <QCborArray>
#include <QCborStreamWriter>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace cacheclient;
namespace key = protocol::key;

namespace {

// Answers hello, then hands every request to a script that decides the reply.
class ScriptedServer : public QObject
{
public:
    using Script = std::function<void(QTcpSocket*, const QCborMap&)>;

    explicit ScriptedServer(Script script) : m_script(std::move(script))
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            auto reader = std::make_shared<protocol::FrameReader>(protocol::MaxRequestFrame);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, reader] {
                reader->append(socket->readAll());
                QCborMap request;
                while (reader->next(request) == protocol::FrameReader::Status::Frame) {
                    if (request.value(key::Op).toString() == protocol::op::Hello) {
                        QCborMap reply{{key::Id, request.value(key::Id)}, {key::Version, protocol::Version}};
                        if (m_badVersion)
                            reply.insert(key::Version, 99);
                        socket->write(protocol::encodeFrame(reply));
                    } else {
                        m_script(socket, request);
                    }
                }
            });
        });
    }

    QString connectString() const
    {
        return QStringLiteral("cn_iptcp:127.0.0.1[%1]:VELMOR").arg(m_server.serverPort());
    }
    bool m_badVersion = false;

private:
    QTcpServer m_server;
    Script m_script;
};

// A server on a blocking socket in a thread of its own, so that it answers while the client
// waits in the kernel, not only while the client's event loop runs. After the handshake
// every request goes to the script with the descriptor to write to.
class ThreadServer : public QThread
{
public:
    using Script = std::function<void(int fd, const QCborMap& request)>;

    explicit ThreadServer(Script script) : m_script(std::move(script))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 1);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        start();
    }
    ~ThreadServer() override
    {
        ::shutdown(m_listener, SHUT_RDWR);
        wait();
        ::close(m_listener);
    }
    QString connectString() const { return QStringLiteral("cn_iptcp:127.0.0.1[%1]:VELMOR").arg(m_port); }
    // How many reads the server made so far; a script sees the number of the read that
    // brought its request.
    int reads() const { return m_reads.load(); }

    static void writeAll(int fd, const QByteArray& bytes)
    {
        for (qsizetype at = 0; at < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
            if (n <= 0)
                return;
            at += n;
        }
    }

protected:
    void run() override
    {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        // Larger than a request may be, for the test of a request the kernel takes in parts.
        protocol::FrameReader reader(protocol::ReplyLimits);
        char chunk[4096];
        bool open = true;
        while (open) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            ++m_reads;
            reader.append(QByteArray(chunk, n));
            QCborMap request;
            while (open && reader.next(request) == protocol::FrameReader::Status::Frame) {
                if (request.value(key::Op).toString() == protocol::op::Hello) {
                    writeAll(fd, protocol::encodeFrame(QCborMap{{key::Id, request.value(key::Id)},
                                                                {key::Version, protocol::Version}}));
                    continue;
                }
                const QString line = request.value(key::Args).toArray().at(0).toString();
                m_script(fd, request);
                open = !line.startsWith("close");
            }
        }
        ::close(fd);
    }

private:
    Script m_script;
    int m_listener;
    quint16 m_port = 0;
    std::atomic<int> m_reads{0};
};

// A reply written as the server would (definite lengths), or in forms only the general decoder
// reads: lengths left open, or a floating-point value among the properties.
QByteArray replyFrame(const QCborMap& reply, const QString& form)
{
    if (form == "definite")
        return protocol::encodeFrame(reply);
    QByteArray payload;
    QCborStreamWriter out(&payload);
    std::function<void(const QCborValue&)> write = [&](const QCborValue& value) {
        if (value.isMap()) {
            out.startMap();
            const QCborMap map = value.toMap();
            for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
                write(it.key());
                write(it.value());
            }
            if (form == "double" && map.contains(QStringLiteral("Nr"))) {
                out.append(QStringLiteral("Faktor"));
                out.append(1.5);
            }
            out.endMap();
        } else if (value.isArray()) {
            out.startArray();
            for (const QCborValue& item : value.toArray())
                write(item);
            out.endArray();
        } else {
            value.toCbor(out);
        }
    };
    write(reply);
    return protocol::frameOf(payload);
}

QCborMap reply(const QCborMap& request, const QString& ret)
{
    return QCborMap{{key::Id, request.value(key::Id)}, {key::Ret, ret}, {key::Args, QCborArray{}}};
}

std::shared_ptr<TcpChannel> channelFor(ChannelFactory*& factoryOut, std::shared_ptr<Factory>& holder)
{
    auto channel = std::make_shared<TcpChannel>();
    auto factory = std::make_shared<ChannelFactory>(channel);
    factoryOut = factory.get();
    holder = factory;
    return channel;
}

QString callXecute(Factory& f, const QString& line)
{
    return f.classObject("XR.Windows")->call("Xecute", line);
}

} // namespace

class TestTcpChannel : public QObject
{
    Q_OBJECT

private slots:
    void windowEventsRunWhileWaiting()
    {
        ScriptedServer server([](QTcpSocket* socket, const QCborMap& request) {
            const QString line = request.value(key::Args).toArray().at(0).toString();
            const int delay = line == "slow" ? 300 : 0;
            QTimer::singleShot(delay, socket, [socket, request, line] {
                socket->write(protocol::encodeFrame(reply(request, "echo:" + line)));
            });
        });
        ChannelFactory* f = nullptr;
        std::shared_ptr<Factory> holder;
        channelFor(f, holder);
        QString cs = server.connectString();
        QVERIFY(f->connect(cs));

        // A timer fires during the slow request and makes a request of its own from there.
        bool timerRan = false;
        QString nested;
        QTimer::singleShot(50, [&] {
            timerRan = true;
            nested = callXecute(*f, "fast");
        });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(callXecute(*f, "slow"), QStringLiteral("echo:slow"));
        QVERIFY(clock.elapsed() >= 250);
        QVERIFY(timerRan);
        QCOMPARE(nested, QStringLiteral("echo:fast"));
    }

    void failuresBecomeErrors_data()
    {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<int>("number");
        QTest::newRow("server error") << "error" << 5809;
        QTest::newRow("connection dropped") << "drop" << int(ClientError::ConnectionLost);
        QTest::newRow("oversized reply") << "oversized" << int(ClientError::ConnectionLost);
        QTest::newRow("garbage reply") << "garbage" << int(ClientError::ConnectionLost);
        QTest::newRow("no reply") << "silent" << int(ClientError::Timeout);
    }

    void failuresBecomeErrors()
    {
        QFETCH(QString, behaviour);
        QFETCH(int, number);
        ScriptedServer server([behaviour](QTcpSocket* socket, const QCborMap& request) {
            if (behaviour == "error") {
                socket->write(protocol::encodeFrame(
                    protocol::errorReply(request.value(key::Id).toInteger(), 5809, "weg")));
            } else if (behaviour == "drop") {
                socket->abort();
            } else if (behaviour == "oversized") {
                socket->write(QByteArray("\x7f\xff\xff\xff", 4));
            } else if (behaviour == "garbage") {
                socket->write(QByteArray("\x00\x00\x00\x03\xff\xff\xff", 7));
            }
        });
        ChannelFactory* f = nullptr;
        std::shared_ptr<Factory> holder;
        auto channel = channelFor(f, holder);
        channel->setTimeouts(2000, 300);
        QString cs = server.connectString();
        QVERIFY(f->connect(cs));
        try {
            callXecute(*f, "W 1");
            QFAIL("no error");
        } catch (const CacheError& error) {
            QCOMPARE(error.number(), number);
            QVERIFY(!error.description().isEmpty());
        }
        // A server error leaves the link standing; every other failure ends it.
        QCOMPARE(f->isConnected(), behaviour == "error");
    }

    // Replies read from the descriptor while the client waits in the kernel, and through the
    // socket once its event loop runs, arrive whole and in order; the server's last word before
    // it closes the link becomes the error's text.
    void repliesWhileWaitingInTheKernel_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one piece") << "whole"
                                   << "echo:whole";
        QTest::newRow("pieces within the kernel wait") << "split 1"
                                                       << "echo:split 1";
        QTest::newRow("pieces across the event loop") << "split 40"
                                                      << "echo:split 40";
        QTest::newRow("large reply") << "large" << QString(300000, u'x');
        // More than the socket buffers hold while the server sleeps: the kernel takes part of
        // the request, the socket sends the rest; the server must see it whole and in order.
        QTest::newRow("request in parts") << "long"
                                          << "echo:16000000";
        QTest::newRow("last word, then closed") << "close word"
                                                << "error:Wartung";
        QTest::newRow("closed without a word") << "close"
                                               << "error:Verbindung zum Server unterbrochen";
    }

    void repliesWhileWaitingInTheKernel()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        ThreadServer server([](int fd, const QCborMap& request) {
            const QString line = request.value(key::Args).toArray().at(0).toString();
            if (line == "close")
                return;
            if (line.startsWith("long")) {
                const bool inOrder = line.size() == 16000000 && line.count(u'y') == line.size() - 4;
                ThreadServer::writeAll(
                    fd, protocol::encodeFrame(reply(request, inOrder ? "echo:16000000" : "echo:damaged")));
                return;
            }
            if (line == "close word") {
                ThreadServer::writeAll(
                    fd, protocol::encodeFrame(protocol::errorReply(0, protocol::error::Timeout, "Wartung")));
                return;
            }
            const QByteArray frame = protocol::encodeFrame(
                reply(request, line == "large" ? QString(300000, u'x') : "echo:" + line));
            if (!line.startsWith("split")) {
                ThreadServer::writeAll(fd, frame);
                return;
            }
            // Header and half the payload, a pause, then the rest.
            const int pauseMs = line.mid(6).toInt();
            ThreadServer::writeAll(fd, frame.first(frame.size() / 2));
            QThread::msleep(pauseMs);
            ThreadServer::writeAll(fd, frame.sliced(frame.size() / 2));
        });
        ChannelFactory* f = nullptr;
        std::shared_ptr<Factory> holder;
        channelFor(f, holder);
        QString cs = server.connectString();
        QVERIFY(f->connect(cs));
        if (line == "long")
            line += QString(16000000 - 4, u'y');
        QString got;
        for (int round = 0; round < 2 && f->isConnected(); ++round) {
            try {
                got = callXecute(*f, line);
            } catch (const CacheError& error) {
                QCOMPARE(error.number(), int(ClientError::ConnectionLost));
                got = "error:" + error.description().section(": ", -1);
            }
            QCOMPARE(got, expected);
        }
        QCOMPARE(f->isConnected(), !line.startsWith("close"));
    }

    // Opens and calls read their replies alike whichever form the server writes them in, and a
    // reply carrying an error throws it.
    void rowRepliesReadAlikeInEveryForm_data()
    {
        QTest::addColumn<QString>("form");
        QTest::newRow("definite") << "definite";
        QTest::newRow("open lengths") << "indefinite";
        QTest::newRow("a floating-point value") << "double";
    }

    void rowRepliesReadAlikeInEveryForm()
    {
        QFETCH(QString, form);
        QList<QCborMap> seen;
        ScriptedServer server([&](QTcpSocket* socket, const QCborMap& request) {
            seen << request;
            const QCborValue id = request.value(key::Id);
            if (request.value(key::ObjectId).toString() == "1||K||0") {
                socket->write(replyFrame(
                    QCborMap{{key::Id, id},
                             {key::Error, QCborMap{{key::Number, 5809}, {key::Text, "Kein Konto 0"}}}},
                    form));
            } else if (request.value(key::Op).toString() == protocol::op::Open) {
                const QCborMap props{{"Name", "Müller & Söhne"},
                                     {"Ort", ""},
                                     {"Nr", 4711},
                                     {"KBEZ", "MUELLER"},
                                     {"Straße", "Hauptstr. 1"}};
                socket->write(replyFrame(
                    QCborMap{{key::Id, id}, {key::Class, "XR.KontoStamm"}, {key::Props, props}}, form));
            } else {
                socket->write(replyFrame(
                    QCborMap{{key::Id, id}, {key::Ret, "Müller"}, {key::Args, QCborArray{"geändert", 7}}},
                    form));
            }
        });
        ChannelFactory* f = nullptr;
        std::shared_ptr<Factory> holder;
        channelFor(f, holder);
        QString cs = server.connectString();
        QVERIFY(f->connect(cs));

        auto account = f->openId("XR.KontoStamm", "1||K||4711");
        QCOMPARE(account->className(), QStringLiteral("XR.KontoStamm"));
        QCOMPARE(account->id(), QStringLiteral("1||K||4711"));
        QStringList names{"Name", "Ort", "Nr", "KBEZ", "Straße"};
        if (form == "double")
            names << "Faktor";
        QCOMPARE(account->propertyNames(), names);
        QCOMPARE(account->property("name"), QStringLiteral("Müller & Söhne"));
        QCOMPARE(account->property("Straße"), QStringLiteral("Hauptstr. 1"));
        QCOMPARE(account->property("STRAßE"), QStringLiteral("Hauptstr. 1"));
        QVERIFY(account->property("Ort").isNull());
        // A value that is no text reads as an empty text, as it always did.
        QCOMPARE(account->property("Nr"), QString());
        QVERIFY_THROWS_EXCEPTION(CacheError, account->property("Strasse"));

        QStringList args{"Mueller", "zwei", "drei"};
        QCOMPARE(account->call("NameLogicalToODBC", args), QStringLiteral("Müller"));
        QCOMPARE(args, (QStringList{"geändert", QString(), "drei"}));
        auto ahead = account->callAhead("NameLogicalToODBC", {"Mueller"});
        auto next = f->openIdAhead("XR.KontoStamm", "1||K||4712");
        QCOMPARE(ahead->take(), QStringLiteral("Müller"));
        QCOMPARE(next->take()->property("KBEZ"), QStringLiteral("MUELLER"));

        try {
            f->openId("XR.KontoStamm", "1||K||0");
            QFAIL("no error thrown");
        } catch (const CacheError& error) {
            QCOMPARE(error.number(), 5809);
            QCOMPARE(error.description(), QStringLiteral("Kein Konto 0"));
        }
        QVERIFY(f->isConnected());
        // The server saw every request with the fields a map of them would carry.
        QCOMPARE(seen.size(), 5);
        QCOMPARE(seen.at(0), (QCborMap{{key::Op, protocol::op::Open},
                                       {key::Class, "XR.KontoStamm"},
                                       {key::ObjectId, "1||K||4711"},
                                       {key::Id, seen.at(0).value(key::Id)}}));
        QCOMPARE(seen.at(1).value(key::Args).toArray(), (QCborArray{"Mueller", "zwei", "drei"}));
        QCOMPARE(seen.at(1).value(key::Name).toString(), QStringLiteral("NameLogicalToODBC"));
    }

    // Requests put on their way together leave in one write: nothing while held, the call and
    // the open in the same read of the server. A reply waited for while held is sent for first.
    void heldRequestsLeaveTogether()
    {
        struct Seen
        {
            QString op;
            int read;
        };
        QMutex mutex;
        QList<Seen> seen;
        ThreadServer* serverPtr = nullptr;
        ThreadServer server([&](int fd, const QCborMap& request) {
            const QString op = request.value(key::Op).toString();
            {
                QMutexLocker lock(&mutex);
                seen.append({op, serverPtr->reads()});
            }
            const QCborValue id = request.value(key::Id);
            if (op == protocol::op::Open)
                ThreadServer::writeAll(
                    fd, protocol::encodeFrame(
                            QCborMap{{key::Id, id},
                                     {key::Class, "XR.KontoStamm"},
                                     {key::Props, QCborMap{{"Name", request.value(key::ObjectId)}}}}));
            else
                ThreadServer::writeAll(fd, protocol::encodeFrame(reply(request, "name")));
        });
        serverPtr = &server;
        auto seenCount = [&] {
            QMutexLocker lock(&mutex);
            return seen.size();
        };
        ChannelFactory* f = nullptr;
        std::shared_ptr<Factory> holder;
        channelFor(f, holder)->setTimeouts(5000, 5000);
        QString cs = server.connectString();
        QVERIFY(f->connect(cs));
        auto account = f->openId("XR.KontoStamm", "1||K||1");
        QTRY_COMPARE(seenCount(), 1);

        std::unique_ptr<PendingText> name;
        std::unique_ptr<PendingObject> next;
        {
            SendTogether together(*f);
            name = account->callAhead("NameLogicalToODBC", {"A"});
            QThread::msleep(50);
            QCOMPARE(seenCount(), 1);
            next = f->openIdAhead("XR.KontoStamm", "1||K||2");
            QThread::msleep(50);
            QCOMPARE(seenCount(), 1);
        }
        QCOMPARE(name->take(), QStringLiteral("name"));
        QCOMPARE(next->take()->property("Name"), QStringLiteral("1||K||2"));
        {
            QMutexLocker lock(&mutex);
            QCOMPARE(seen.size(), 3);
            QCOMPARE(seen.at(1).op, protocol::op::Call);
            QCOMPARE(seen.at(2).op, protocol::op::Open);
            QCOMPARE(seen.at(1).read, seen.at(2).read);
            QVERIFY(seen.at(1).read > seen.at(0).read);
        }

        {
            SendTogether outer(*f);
            SendTogether inner(*f);
            auto waited = f->openIdAhead("XR.KontoStamm", "1||K||3");
            QCOMPARE(waited->take()->property("Name"), QStringLiteral("1||K||3"));
            // Holds nest; what is sent while held after a wait is held again.
            auto later = f->openIdAhead("XR.KontoStamm", "1||K||4");
            QThread::msleep(50);
            QCOMPARE(seenCount(), 4);
            next = std::move(later);
        }
        QCOMPARE(next->take()->property("Name"), QStringLiteral("1||K||4"));
        QCOMPARE(seenCount(), 5);
    }

    void connectFailures()
    {
        ChannelFactory* f = nullptr;
        std::shared_ptr<Factory> holder;
        channelFor(f, holder);
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        const quint16 port = closed.serverPort();
        closed.close();
        QString refused = QStringLiteral("cn_iptcp:127.0.0.1[%1]:VELMOR").arg(port);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!f->connect(refused));
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!f->isConnected());
        QCOMPARE(
            [&] {
                try {
                    f->openId("XR.ParPersEdv", "1||17");
                } catch (const CacheError& e) {
                    return e.number();
                }
                return 0;
            }(),
            ClientError::NotConnected);

        // A peer that answers the handshake with another version is no server of ours.
        ScriptedServer other([](QTcpSocket*, const QCborMap&) {});
        other.m_badVersion = true;
        QString cs = other.connectString();
        QVERIFY(!f->connect(cs));
        QVERIFY(!f->isConnected());
    }

    void queriesFetchInBatches()
    {
        int fetches = 0;
        ScriptedServer server([&fetches](QTcpSocket* socket, const QCborMap& request) {
            const QString op = request.value(key::Op).toString();
            QCborMap r{{key::Id, request.value(key::Id)}};
            static int served = 0;
            if (op == protocol::op::Query) {
                r.insert(key::Handle, 1);
                r.insert(key::Params, QCborArray{"Firma"});
                r.insert(key::Columns, QCborArray{"ID", "Nr"});
                r.insert(key::KeyColumn, 1);
            } else if (op == protocol::op::Execute || op == protocol::op::Fetch) {
                if (op == protocol::op::Execute)
                    served = 0;
                else
                    ++fetches;
                QCborArray rows;
                const int batch = int(request.value(key::Batch).toInteger());
                for (int i = 0; i < batch && served < 1000; ++i, ++served)
                    rows.append(QCborArray{QString("1||%1").arg(served), QString::number(served)});
                r.insert(key::Rows, rows);
                r.insert(key::End, served >= 1000);
            }
            socket->write(protocol::encodeFrame(r));
        });
        ChannelFactory* f = nullptr;
        std::shared_ptr<Factory> holder;
        channelFor(f, holder);
        QString cs = server.connectString();
        QVERIFY(f->connect(cs));
        auto rs = f->resultSet("X", "Y");
        QCOMPARE(rs->parameterCount(), 1);
        QCOMPARE(rs->parameterName(1), QStringLiteral("Firma"));
        QCOMPARE(rs->keyColumn(), 1);
        rs->execute({"1"});
        int n = 0;
        while (rs->next()) {
            QCOMPARE(rs->columnValue(2), QString::number(n));
            ++n;
        }
        QCOMPARE(n, 1000);
        QVERIFY2(fetches <= 4, qPrintable(QString::number(fetches)));
        QVERIFY(!rs->next());
        QVERIFY_THROWS_EXCEPTION(CacheError, rs->columnValue(1));
        QVERIFY_THROWS_EXCEPTION(CacheError, rs->execute(QStringList(10, "x")));
    }
    // Packed rows over the wire: whole and in order across batches; a fetch that fails, or
    // whose rows do not add up, raises its error after the rows already held, and the
    // connection serves on.
    void packedRowsMidStream_data()
    {
        QTest::addColumn<QString>("fetchReply");
        QTest::addColumn<int>("number");
        QTest::newRow("rows") << "rows" << 0;
        QTest::newRow("server error") << "error" << 5001;
        QTest::newRow("more rows than asked") << "too many" << int(ClientError::BadReply);
        QTest::newRow("cells cut short") << "cut" << int(ClientError::BadReply);
    }

    void packedRowsMidStream()
    {
        QFETCH(QString, fetchReply);
        QFETCH(int, number);
        const int total = 1000;
        int served = 0;
        ScriptedServer server([&](QTcpSocket* socket, const QCborMap& request) {
            const QString op = request.value(key::Op).toString();
            QCborMap r{{key::Id, request.value(key::Id)}};
            if (op == protocol::op::Query) {
                r.insert(key::Handle, 1);
                r.insert(key::Columns, QCborArray{"ID", "Name"});
            } else if (op == protocol::op::Execute || (op == protocol::op::Fetch && fetchReply == "rows")) {
                QVERIFY(request.value(key::Packed).isTrue());
                QByteArray cells;
                qint64 count = 0;
                for (; count < request.value(key::Batch).toInteger() && served < total; ++count, ++served) {
                    protocol::appendCell(cells, QString("1||%1").arg(served));
                    protocol::appendCell(cells, QString("Müller %1").arg(served));
                }
                r.insert(key::Cells, cells);
                r.insert(key::Count, count);
                r.insert(key::End, served >= total);
            } else if (op == protocol::op::Fetch) {
                QByteArray cells;
                protocol::appendCell(cells, QStringLiteral("1||x"));
                protocol::appendCell(cells, QStringLiteral("x"));
                r.insert(key::Cells, cells);
                r.insert(key::Count, 1);
                r.insert(key::End, true);
                if (fetchReply == "error")
                    r = protocol::errorReply(request.value(key::Id).toInteger(), 5001,
                                             QStringLiteral("Speicherfehler im Server"));
                else if (fetchReply == "too many")
                    r.insert(key::Count, request.value(key::Batch).toInteger() + 1);
                else if (fetchReply == "cut")
                    r.insert(key::Cells, cells.left(cells.size() - 1));
            } else {
                r = reply(request, QStringLiteral("weiter"));
            }
            socket->write(protocol::encodeFrame(r));
        });
        ChannelFactory* f = nullptr;
        std::shared_ptr<Factory> holder;
        channelFor(f, holder);
        QString cs = server.connectString();
        QVERIFY(f->connect(cs));
        auto rs = f->resultSet("X", "Y");
        rs->execute({"1"});
        int n = 0;
        int error = 0;
        QString text;
        try {
            while (rs->next()) {
                QCOMPARE(rs->columnValue(1), QString("1||%1").arg(n));
                QCOMPARE(rs->columnValue(2), QString("Müller %1").arg(n));
                ++n;
            }
        } catch (const CacheError& e) {
            error = e.number();
            text = e.description();
        }
        QCOMPARE(error, number);
        if (number == 0) {
            QCOMPARE(n, total);
        } else {
            // Every row of the first batch was read before the failing fetch.
            QVERIFY(n > 0 && n < total);
            QVERIFY2(number != ClientError::BadReply || text.startsWith("Ungültige Antwort vom Server: "),
                     qPrintable(text));
            QVERIFY_THROWS_EXCEPTION(CacheError, rs->columnValue(1));
        }
        rs->close();
        QVERIFY(f->isConnected());
        QCOMPARE(callXecute(*f, "W 1"), QStringLiteral("weiter"));
    }
};

QTEST_GUILESS_MAIN(TestTcpChannel)
#include "TestTcpChannel.moc"
