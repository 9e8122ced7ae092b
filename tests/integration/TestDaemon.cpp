// velmor-erpd as a process on loopback: hostile frames, durability, parallel clients, the
// trace and the operator CLI.
#include "DaemonClient.h"

#include "cacheclient/ChannelFactory.h"
#include "cacheclient/Protocol.h"
#include "cacheclient/TcpChannel.h"
#include "erpsim/DemoData.h"

#include <QCborArray>
#include <QCborStreamWriter>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <poll.h>
#include <sys/socket.h>

using namespace cacheclient;
namespace key = protocol::key;

namespace {

QByteArray frame(const QCborMap& m)
{
    return protocol::encodeFrame(m);
}

// The same map with every length left open: no longer the plain form, so the server decodes it
// the general way.
QByteArray openFrame(const QCborMap& m)
{
    QByteArray payload;
    QCborStreamWriter out(&payload);
    out.startMap();
    for (auto it = m.constBegin(); it != m.constEnd(); ++it) {
        it.key().toCbor(out);
        if (it.value().isArray()) {
            out.startArray();
            for (const QCborValue& item : it.value().toArray())
                item.toCbor(out);
            out.endArray();
        } else {
            it.value().toCbor(out);
        }
    }
    out.endMap();
    return protocol::frameOf(payload);
}

QByteArray header(quint32 size)
{
    QByteArray h(4, Qt::Uninitialized);
    qToBigEndian(size, h.data());
    return h;
}

QByteArray hello(int version = protocol::Version)
{
    return frame(QCborMap{{key::Id, 1}, {key::Op, protocol::op::Hello}, {key::Version, version}});
}

struct CliResult
{
    int exitCode;
    QString out;
    QString err;
};

CliResult cli(const Daemon& daemon, const QStringList& args)
{
    QProcess p;
    p.start(Daemon::binary("velmor-erp-cli"),
            QStringList{"--server", "127.0.0.1", "--port", QString::number(daemon.port())} + args);
    p.waitForFinished(20000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestDaemon : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_db;
    QString m_trace;
    Daemon m_daemon;

private slots:
    void initTestCase()
    {
        m_db = m_dir.filePath("erp.db");
        m_trace = m_dir.filePath("trace.jsonl");
        erpsim::createDemoDatabase(m_db);
        QVERIFY(m_daemon.start(m_db, {"--trace", m_trace, "--frame-timeout", "300"}));
    }

    void servesTheProgramsOperations()
    {
        auto f = connectTo(m_daemon);
        QVERIFY(f);
        xecute(*f, "S FIRMA=1,FIL=0,PERSONAL=\"17\"");
        auto user = f->openId("XR.ParPersEdv", "1||17");
        QCOMPARE(user->call("PNAMELogicalToODBC", user->property("pname")), QStringLiteral("Sabine Müller"));
        // A result set larger than one batch arrives whole and in order.
        auto rs = f->resultSet("XR.Windows", "KkrSuche");
        rs->execute({"1", "K", "", ""});
        int n = 0;
        QString previous;
        while (rs->next()) {
            QVERIFY(rs->columnValue(2) >= previous);
            previous = rs->columnValue(2);
            ++n;
        }
        QCOMPARE(n, 1500);
        rs->close();
        QCOMPARE(xecute(*f, "W 1"), QStringLiteral("1"));
    }

    // While the daemon reads rows ahead, two queries read in turn on one connection arrive whole
    // and in order, and a reader that stops mid-stream leaves the connection serving on.
    void streamsWhileTheServerReadsAhead()
    {
        auto f = connectTo(m_daemon);
        QVERIFY(f);
        auto rowsOf = [&](const QString& cls, const QString& name, const QStringList& args) {
            auto rs = f->resultSet(cls, name);
            rs->execute(args);
            return rs;
        };
        auto read = [](ResultSet& rs, int limit) {
            QList<QStringList> out;
            while (out.size() < limit && rs.next())
                out << QStringList{rs.columnValue(1), rs.columnValue(2), rs.columnValue(rs.columnCount())};
            return out;
        };
        const QStringList accounts{"1", "K", "", ""};
        const QStringList documents{"1", "0", "", "", "", ""};
        const auto allAccounts = read(*rowsOf("XR.Windows", "KkrSuche", accounts), 100000);
        const auto allDocuments = read(*rowsOf("XR.AuftrMaKundeBeleg", "Beleg", documents), 100000);
        QCOMPARE(allAccounts.size(), 1500);
        QCOMPARE(allDocuments.size(), 1600);

        auto a = rowsOf("XR.Windows", "KkrSuche", accounts);
        auto d = rowsOf("XR.AuftrMaKundeBeleg", "Beleg", documents);
        QList<QStringList> readA, readD;
        for (int turn = 0; turn < 4; ++turn) {
            readA << read(*a, 300);
            readD << read(*d, 300);
        }
        QCOMPARE(readA, allAccounts.mid(0, 1200));
        a->close();
        QCOMPARE(xecute(*f, "W 1"), QStringLiteral("1"));
        readD << read(*d, 100000);
        QCOMPARE(readD, allDocuments);
    }

    void hostileFramesCloseOnlyTheirConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("error");
        QTest::newRow("truncated") << hello() + header(100) + QByteArray(10, 'x')
                                   << int(protocol::error::Truncated);
        QTest::newRow("oversized") << hello() + header(protocol::MaxRequestFrame + 1)
                                   << int(protocol::error::FrameTooLarge);
        QTest::newRow("not cbor") << hello() + header(4) + QByteArray("\xff\xfe\xfd\xfc", 4)
                                  << int(protocol::error::BadFrame);
        QTest::newRow("wrong types") << hello() + frame(QCborMap{{key::Id, 2},
                                                                 {key::Op, protocol::op::Open},
                                                                 {key::Class, 5},
                                                                 {key::ObjectId, QCborArray{}}})
                                     << int(protocol::error::BadFrame);
        QTest::newRow("unknown operation") << hello() + frame(QCborMap{{key::Id, 2}, {key::Op, "drop table"}})
                                           << int(protocol::error::UnknownOperation);
        QTest::newRow("wrong version") << hello(2) << int(protocol::error::BadVersion);
        QTest::newRow("call with a number among its args")
            << hello() + frame(QCborMap{{key::Id, 2},
                                        {key::Op, protocol::op::Call},
                                        {key::Class, "XR.KontoStamm"},
                                        {key::Name, "NameLogicalToODBC"},
                                        {key::Args, QCborArray{1}}})
            << int(protocol::error::BadFrame);
        QTest::newRow("call with 65 args")
            << hello() + frame(QCborMap{{key::Id, 2},
                                        {key::Op, protocol::op::Call},
                                        {key::Class, "XR.Windows"},
                                        {key::Name, "Xecute"},
                                        {key::Args, QCborArray::fromStringList(QStringList(65, "x"))}})
            << int(protocol::error::BadFrame);
        QTest::newRow("open without a number")
            << hello() + frame(QCborMap{
                             {key::Op, protocol::op::Open}, {key::Class, "XR.WC"}, {key::ObjectId, "1||EUR"}})
            << int(protocol::error::BadFrame);
        QTest::newRow("no handshake") << frame(QCborMap{{key::Id, 1},
                                                        {key::Op, protocol::op::Open},
                                                        {key::Class, "XR.WC"},
                                                        {key::ObjectId, "1||EUR"}})
                                      << int(protocol::error::BadFrame);
        QTest::newRow("batch out of range")
            << hello() +
                   frame(QCborMap{
                       {key::Id, 2}, {key::Op, protocol::op::Fetch}, {key::Handle, 1}, {key::Batch, 1 << 30}})
            << int(protocol::error::BadFrame);
    }

    void hostileFramesCloseOnlyTheirConnection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        auto bystander = connectTo(m_daemon);
        QVERIFY(bystander);

        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_daemon.port());
        QVERIFY(socket.waitForConnected(3000));
        socket.write(bytes);
        QByteArray received;
        QElapsedTimer clock;
        clock.start();
        while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 5000) {
            socket.waitForReadyRead(100);
            received += socket.readAll();
        }
        received += socket.readAll();
        QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);

        // The last frame the server sent names the fault.
        protocol::FrameReader reader(protocol::MaxReplyFrame);
        reader.append(received);
        QCborMap message, last;
        while (reader.next(message) == protocol::FrameReader::Status::Frame)
            last = message;
        QCOMPARE(int(last.value(key::Error).toMap().value(key::Number).toInteger()), error);

        QVERIFY(m_daemon.running());
        QCOMPARE(xecute(*bystander, "W 1+1"), QStringLiteral("2"));
        QVERIFY(connectTo(m_daemon));
    }

    // Opens and calls get the same replies and the same trace whether the server reads them in
    // place or decodes them the general way.
    void rowRequestsAnsweredAlikeInEveryForm()
    {
        const QList<QCborMap> requests{
            {{key::Op, protocol::op::Open}, {key::Class, "XR.KontoStamm"}, {key::ObjectId, "1||K||004711"}},
            {{key::Op, protocol::op::Open}, {key::Class, "XR.KontoStamm"}, {key::ObjectId, "1||K||0"}},
            {{key::Op, protocol::op::Open}, {key::Class, "XR.Nichts"}, {key::ObjectId, ""}},
            {{key::Op, protocol::op::Call},
             {key::Class, "XR.KontoStamm"},
             {key::Name, "NameLogicalToODBC"},
             {key::Args, QCborArray{"M}ller"}}},
            {{key::Op, protocol::op::Call},
             {key::Class, "XR.KontoStamm"},
             {key::Name, "NameLogicalToODBC"},
             {key::Args, QCborArray{"a", "b"}}},
            {{key::Op, protocol::op::Call}, {key::Class, "XR.KontoStamm"}, {key::Name, "Unbekannt"}},
            {{key::Op, protocol::op::Call},
             {key::Class, "XR.Windows"},
             {key::Name, "Xecute"},
             {key::Args, QCborArray{"W \"\""}}},
        };
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_daemon.port());
        QVERIFY(socket.waitForConnected(3000));
        protocol::FrameReader reader(protocol::MaxReplyFrame);
        qint64 id = 1;
        auto exchange = [&](const QByteArray& bytes) {
            socket.write(bytes);
            QCborMap reply;
            QElapsedTimer clock;
            clock.start();
            while (reader.next(reply) != protocol::FrameReader::Status::Frame && clock.elapsed() < 5000) {
                socket.waitForReadyRead(100);
                reader.append(socket.readAll());
            }
            return reply;
        };
        QVERIFY(exchange(hello()).contains(key::Version));
        const qint64 traced = QFile(m_trace).size();
        for (const QCborMap& request : requests) {
            QCborMap plain = request;
            plain.insert(key::Id, ++id);
            QCborMap general = request;
            general.insert(key::Id, ++id);
            QCborMap first = exchange(frame(plain));
            QCborMap second = exchange(openFrame(general));
            QCOMPARE(first.value(key::Id).toInteger(), id - 1);
            QCOMPARE(second.value(key::Id).toInteger(), id);
            first.remove(key::Id);
            second.remove(key::Id);
            QVERIFY(!first.isEmpty());
            QCOMPARE(first, second);
        }
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
        QFile file(m_trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        file.seek(traced);
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 2 * requests.size() + 1);
        for (qsizetype i = 0; i < requests.size(); ++i)
            QCOMPARE(lines.at(2 * i), lines.at(2 * i + 1));
        QVERIFY(lines.at(6).contains("M}ller"));
    }

    // Requests that come in one write are answered in one write, in their order; past 64 KiB of
    // replies the server writes what it has, and a bad frame still follows the replies before it.
    void requestsSentTogetherAreAnsweredTogether()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_daemon.port());
        QVERIFY(socket.waitForConnected(3000));
        const int fd = static_cast<int>(socket.socketDescriptor());
        protocol::FrameReader reader(protocol::MaxReplyFrame);
        QList<QCborMap> replies;
        int reads = 0;
        // Reads what comes until `count` replies are there or the server closes.
        auto receive = [&](int count) {
            char chunk[256 * 1024];
            while (replies.size() < count) {
                pollfd ready{fd, POLLIN, 0};
                if (::poll(&ready, 1, 5000) <= 0)
                    return;
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    return;
                ++reads;
                reader.append(QByteArray(chunk, n));
                QCborMap reply;
                while (reader.next(reply) == protocol::FrameReader::Status::Frame)
                    replies << reply;
            }
        };
        auto send = [&](const QByteArray& bytes) {
            for (qsizetype at = 0; at < bytes.size();) {
                const ssize_t n = ::send(fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
                if (n <= 0)
                    return false;
                at += n;
            }
            return true;
        };
        QVERIFY(send(hello()));
        receive(1);
        QCOMPARE(replies.size(), 1);

        // A lookup row's worth: an open, a failing open, calls, one request in the general form.
        QByteArray batch;
        qint64 id = 1;
        QList<qint64> ids;
        auto add = [&](QCborMap request, bool general = false) {
            request.insert(key::Id, ++id);
            ids << id;
            batch += general ? openFrame(request) : frame(request);
        };
        for (int i = 0; i < 6; ++i) {
            add({{key::Op, protocol::op::Open},
                 {key::Class, "XR.KontoStamm"},
                 {key::ObjectId, "1||K||004711"}});
            add({{key::Op, protocol::op::Call},
                 {key::Class, "XR.KontoStamm"},
                 {key::Name, "NameLogicalToODBC"},
                 {key::Args, QCborArray{"M}ller"}}});
        }
        add({{key::Op, protocol::op::Open}, {key::Class, "XR.KontoStamm"}, {key::ObjectId, "1||K||0"}});
        add({{key::Op, protocol::op::Call},
             {key::Class, "XR.Windows"},
             {key::Name, "Xecute"},
             {key::Args, QCborArray{"W 40+2"}}},
            true);
        replies.clear();
        reads = 0;
        QVERIFY(send(batch));
        receive(int(ids.size()));
        QCOMPARE(replies.size(), ids.size());
        QCOMPARE(reads, 1);
        for (qsizetype i = 0; i < ids.size(); ++i)
            QCOMPARE(replies.at(i).value(key::Id).toInteger(), ids.at(i));
        QCOMPARE(replies.at(0).value(key::Props).toMap().value("Name").toString(),
                 replies.at(2).value(key::Props).toMap().value("Name").toString());
        QVERIFY(!replies.at(0).value(key::Props).toMap().value("Name").toString().isEmpty());
        QCOMPARE(replies.at(1).value(key::Ret).toString(),
                 QStringLiteral("M\u00fcller").replace("\\u00fc", "ü"));
        QVERIFY(replies.at(12).contains(key::Error));
        QCOMPARE(replies.at(13).value(key::Ret).toString(), QStringLiteral("42"));

        // Far more replies than one write holds, then a frame too large to read.
        batch.clear();
        ids.clear();
        for (int i = 0; i < 3000; ++i)
            add({{key::Op, protocol::op::Open},
                 {key::Class, "XR.KontoStamm"},
                 {key::ObjectId, "1||K||004711"}});
        batch += header(quint32(protocol::MaxRequestFrame + 1)) + QByteArray(16, 'x');
        replies.clear();
        reads = 0;
        QVERIFY(send(batch));
        receive(int(ids.size()) + 1);
        QCOMPARE(replies.size(), ids.size() + 1);
        QVERIFY(reads > 1);
        for (qsizetype i = 0; i < ids.size(); ++i)
            QCOMPARE(replies.at(i).value(key::Id).toInteger(), ids.at(i));
        QCOMPARE(int(replies.last().value(key::Error).toMap().value(key::Number).toInteger()),
                 int(protocol::error::FrameTooLarge));
    }

    void twoClientsSearchArticlesSideBySide()
    {
        auto a = connectTo(m_daemon);
        auto b = connectTo(m_daemon);
        for (auto* f : {a.get(), b.get()})
            xecute(*f, "S FIRMA=1,FIL=0,PERSONAL=\"17\"");
        QVERIFY(xecute(*a, "D GETARF^XRCLSU(\"ZEMENT\",\"\",\"\",\"\",\"\",\"\",\"\")").contains("Zement"));
        QVERIFY(
            xecute(*b, "D GETARF^XRCLSU(\"DACHLATTE\",\"\",\"\",\"\",\"\",\"\",\"\")").contains("Dachlatte"));
        for (int i = 0; i < 3; ++i) {
            const QString nextA = xecute(*a, "D GETARN^XRCLSU");
            const QString nextB = xecute(*b, "D GETARN^XRCLSU");
            QVERIFY(nextA.isEmpty() || (nextA.contains("Zement") && !nextA.contains("Dachlatte")));
            QVERIFY(nextB.isEmpty() || (nextB.contains("Dachlatte") && !nextB.contains("Zement")));
        }
    }

    void registrationSurvivesKillNine()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath("durable.db");
        erpsim::createDemoDatabase(db);
        QString key;
        {
            Daemon daemon;
            QVERIFY(daemon.start(db));
            auto f = connectTo(daemon);
            QStringList args{"1||4711|17|",
                             "SO|1720261208101500|1",
                             "|Sonstiges : ",
                             "N||tif|N",
                             "RE|200001|07052024|",
                             "scan.zip|tif|N",
                             "08.12.2026",
                             "10:15:00",
                             ""};
            key = f->classObject("AR.Dokumente")->call("SetDokument", args);
            daemon.kill();
        }
        auto check = QSqlDatabase::addDatabase("QSQLITE", "durable");
        check.setDatabaseName(db);
        QVERIFY(check.open());
        {
            QSqlQuery q(check);
            q.prepare("SELECT arg2, arg6 FROM dokument WHERE nr = ?");
            q.addBindValue(key.toInt());
            QVERIFY(q.exec() && q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("SO|1720261208101500|1"));
            QCOMPARE(q.value(1).toString(), QStringLiteral("scan.zip|tif|N"));
        }
        check.close();
        check = QSqlDatabase();
        QSqlDatabase::removeDatabase("durable");
        // And the restarted server serves the same database.
        Daemon again;
        QVERIFY(again.start(db));
        QVERIFY(connectTo(again));
    }

    // ERP texts are shown converted, --raw keeps the 7-bit form, object IDs stay as they are.
    void cliPrintsPlainText_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QStringList open{"open", "XR.ParPersEdv", "1||17", "PNAME", "AKTIV"};
        QTest::newRow("open") << open << 0 << "PNAME=Sabine Müller\nAKTIV=J\n"
                              << "";
        QTest::newRow("open raw") << QStringList{"--raw"} + open << 0 << "PNAME=Sabine M}ller\nAKTIV=J\n"
                                  << "";
        QTest::newRow("open json") << QStringList{"--json"} + open << 0
                                   << "{\"AKTIV\":\"J\",\"PNAME\":\"Sabine Müller\"}\n"
                                   << "";
        QTest::newRow("call") << QStringList{"call", "XR.KontoStamm", "NameLogicalToODBC", "Gr}n"} << 0
                              << "Grün\n"
                              << "";
        QTest::newRow("xecute json") << QStringList{"--json", "xecute", "S P0=$P(^FA(0),\"`\",2) W P0"} << 0
                                     << "{\"result\":\"2026\"}\n"
                                     << "";
        QTest::newRow("server error") << QStringList{"open", "XR.ParPersEdv", "1||404"} << 1 << ""
                                      << "Fehler 5809";
        QTest::newRow("unknown option") << QStringList{"--bogus", "open"} << 2 << ""
                                        << "velmor-erp-cli: unbekannte Option \u201e--bogus\u201c";
        QTest::newRow("option without value") << QStringList{"--server"} << 2 << ""
                                              << "Option \u201e--server\u201c erwartet einen Wert";
        QTest::newRow("unknown command") << QStringList{"delete", "X", "1"} << 2 << ""
                                         << "unbekannter Befehl";
        QTest::newRow("arguments missing") << QStringList{"open", "XR.ParPersEdv"} << 2 << ""
                                           << "Argumenten zu open";
        QTest::newRow("bad port") << QStringList{"--port", "19x", "xecute", "W 1"} << 2 << ""
                                  << "--port erwartet";
        QTest::newRow("no server") << QStringList{"--port", "1", "xecute", "W 1"} << 3 << ""
                                   << "keine Verbindung zu 127.0.0.1:1";
        // Options end at the command: what follows is passed on, even when it looks like an option.
        QTest::newRow("argument like an option")
            << QStringList{"call", "XR.KontoStamm", "NameLogicalToODBC", "--raw"} << 0 << "--raw\n"
            << "";
    }

    void cliPrintsPlainText()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const auto run = cli(m_daemon, args);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, out);
        QVERIFY2(err.isEmpty() ? run.err.isEmpty() : run.err.contains(err), qPrintable(run.err));
    }

    void cliQueryRows()
    {
        auto query = cli(m_daemon, {"query", "XR.KundBau", "BaustellenAuswahl", "1", "4711"});
        QCOMPARE(query.exitCode, 0);
        const QStringList lines = query.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.at(0), QStringLiteral("key=1"));
        QCOMPARE(lines.at(1), QStringLiteral("ID\tBaustelle\tBezeichnung\tStrasse\tOrt"));
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.at(2).startsWith("1||4711||1\t1\t"));

        // One object per row; names converted, the key column untouched.
        auto json = cli(m_daemon, {"--json", "query", "XR.Windows", "KkrSuche", "1", "K", "M", ""});
        QCOMPARE(json.exitCode, 0);
        const QStringList rows = json.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY(!rows.isEmpty());
        bool umlaut = false;
        for (const QString& row : rows) {
            QJsonParseError error;
            const QJsonObject object = QJsonDocument::fromJson(row.toUtf8(), &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            QCOMPARE(object.keys(), (QStringList{"KBezeichnung", "KontoNr", "Name", "PLZ", "Strasse"}));
            QVERIFY2(!object.value("Name").toString().contains(QRegularExpression("[{|}~\\[\\]\\\\]")),
                     qPrintable(row));
            umlaut = umlaut || object.value("Name").toString().contains(QRegularExpression("[äöüÄÖÜß]"));
        }
        QVERIFY(umlaut);
        auto raw = cli(m_daemon, {"--raw", "query", "XR.Windows", "KkrSuche", "1", "K", "M", ""});
        QVERIFY(raw.out.contains(QRegularExpression("[{|}~]")));
    }

    void traceNamesEveryRequest()
    {
        auto f = connectTo(m_daemon);
        f->openId("XR.WC", "1||CHF");
        auto rs = f->resultSet("XR.ParABTNR", "ABTNR");
        rs->execute({"1", ""});
        QFile file(m_trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QJsonObject> entries;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                entries << QJsonDocument::fromJson(line).object();
        QVERIFY(entries.size() > 5);
        for (const QJsonObject& e : entries)
            QVERIFY(e.contains("op") && e.contains("class") && e.contains("name") && e.contains("args"));
        const auto has = [&](const QString& op, const QString& cls, const QString& name) {
            return std::any_of(entries.begin(), entries.end(), [&](const QJsonObject& e) {
                return e["op"] == op && e["class"] == cls && e["name"] == name;
            });
        };
        QVERIFY(has("open", "XR.WC", "1||CHF"));
        QVERIFY(has("query", "XR.ParABTNR", "ABTNR"));
        QVERIFY(has("execute", "XR.ParABTNR", "ABTNR"));
        QVERIFY(has("call", "XR.Windows", "Xecute"));
    }

    void clientNoticesAStoppedServer()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath("stop.db");
        erpsim::createDemoDatabase(db);
        Daemon daemon;
        QVERIFY(daemon.start(db));
        auto f = connectTo(daemon);
        QVERIFY(f->isConnected());
        daemon.kill();
        QVERIFY_THROWS_EXCEPTION(CacheError, xecute(*f, "W 1"));
        QVERIFY(!f->isConnected());
        QString cs = daemon.connectString();
        QVERIFY(!f->connect(cs));
    }
};

QTEST_GUILESS_MAIN(TestDaemon)
#include "TestDaemon.moc"
