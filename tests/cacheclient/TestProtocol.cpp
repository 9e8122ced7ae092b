#include "cacheclient/ConnectString.h"
#include "cacheclient/Protocol.h"
#include "cacheclient/RowCells.h"

#include <QCborArray>
#include <QCborStreamWriter>
#include <QCborValue>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>
#include <functional>
#include <limits>
#include <tuple>

using namespace cacheclient;
using Status = protocol::FrameReader::Status;

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void connectString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("nameSpace");
        QTest::newRow("default") << "cn_iptcp:192.168.1.10[1972]:VELMOR" << true << "192.168.1.10" << 1972 << "VELMOR";
        QTest::newRow("host name") << "cn_iptcp:localhost[1973]:VELMOR" << true << "localhost" << 1973 << "VELMOR";
        QTest::newRow("prefix case") << "CN_IPTCP:127.0.0.1[5]:X" << true << "127.0.0.1" << 5 << "X";
        QTest::newRow("no port") << "cn_iptcp:host[]:VELMOR" << false << "" << 0 << "";
        QTest::newRow("port text") << "cn_iptcp:host[abc]:VELMOR" << false << "" << 0 << "";
        QTest::newRow("port too big") << "cn_iptcp:host[65536]:VELMOR" << false << "" << 0 << "";
        QTest::newRow("no host") << "cn_iptcp:[1972]:VELMOR" << false << "" << 0 << "";
        QTest::newRow("no colon") << "cn_iptcp:host[1972]VELMOR" << false << "" << 0 << "";
        QTest::newRow("wrong prefix") << "tcp:host[1972]:VELMOR" << false << "" << 0 << "";
        QTest::newRow("empty") << "" << false << "" << 0 << "";
    }

    void connectString()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto target = parseConnectString(text);
        QCOMPARE(target.has_value(), valid);
        if (valid) {
            QFETCH(QString, host);
            QFETCH(int, port);
            QFETCH(QString, nameSpace);
            QCOMPARE(target->host, host);
            QCOMPARE(int(target->port), port);
            QCOMPARE(target->nameSpace, nameSpace);
        }
    }

    // Frames split anywhere, or several in one read, come out whole and in order.
    void framesSurviveAnySplit()
    {
        QByteArray stream;
        for (int i = 1; i <= 3; ++i) {
            QCborMap m;
            m.insert(protocol::key::Id, i);
            m.insert(protocol::key::Name, QString(i * 100, QChar(u'ä')));
            stream += protocol::encodeFrame(m);
        }
        for (int chunk : {1, 3, 7, 64, int(stream.size())}) {
            protocol::FrameReader reader(protocol::MaxRequestFrame);
            QList<qint64> ids;
            for (qsizetype at = 0; at < stream.size(); at += chunk) {
                reader.append(stream.mid(at, chunk));
                QCborMap m;
                while (reader.next(m) == Status::Frame) {
                    ids << m.value(protocol::key::Id).toInteger();
                    QCOMPARE(m.value(protocol::key::Name).toString().size(), ids.last() * 100);
                }
            }
            QCOMPARE(ids, (QList<qint64>{1, 2, 3}));
            QVERIFY(!reader.midFrame());
        }
    }

    void badFrames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("error");
        auto header = [](quint32 size) {
            QByteArray h(4, Qt::Uninitialized);
            qToBigEndian(size, h.data());
            return h;
        };
        const QByteArray array = QCborValue(QCborArray{1, 2}).toCbor();
        QTest::newRow("oversized") << header(protocol::MaxRequestFrame + 1) << protocol::error::FrameTooLarge;
        QTest::newRow("huge") << header(0xFFFFFFFFu) << protocol::error::FrameTooLarge;
        QTest::newRow("empty frame") << header(0) << protocol::error::FrameTooLarge;
        QTest::newRow("not a map") << header(quint32(array.size())) + array << protocol::error::BadFrame;
        QTest::newRow("garbage") << header(3) + QByteArray("\xff\xff\xff", 3) << protocol::error::BadFrame;
        QTest::newRow("cut map") << header(2) + QByteArray("\xa2\x61", 2) << protocol::error::BadFrame;
        // Within the size limit but costly to build: nesting, containers, items, tags.
        auto withField = [&](const std::function<void(QCborStreamWriter&)>& value) {
            QByteArray payload;
            QCborStreamWriter writer(&payload);
            writer.startMap(1);
            writer.append(QLatin1String("a"));
            value(writer);
            writer.endMap();
            return header(quint32(payload.size())) + payload;
        };
        const QByteArray deep =
            QByteArray("\xa1\x61\x61", 3) + QByteArray(protocol::MaxRequestFrame - 4, '\x81') + '\x80';
        QTest::newRow("1 MiB of nesting") << header(quint32(deep.size())) + deep << protocol::error::BadFrame;
        QTest::newRow("nested five deep") << withField([](QCborStreamWriter& w) {
            for (int i = 0; i < 4; ++i)
                w.startArray(1);
            w.append(1);
            for (int i = 0; i < 4; ++i)
                w.endArray();
        }) << protocol::error::BadFrame;
        QTest::newRow("many empty arrays") << withField([](QCborStreamWriter& w) {
            w.startArray(100000);
            for (int i = 0; i < 100000; ++i) {
                w.startArray(0);
                w.endArray();
            }
            w.endArray();
        }) << protocol::error::BadFrame;
        QTest::newRow("many items") << withField([](QCborStreamWriter& w) {
            w.startArray(5000);
            for (int i = 0; i < 5000; ++i)
                w.append(i);
            w.endArray();
        }) << protocol::error::BadFrame;
        QTest::newRow("indefinite nesting")
            << header(11) + QByteArray("\xbf\x61\x61\x9f\x9f\x9f\x9f\xff\xff\xff\xff", 11)
            << protocol::error::BadFrame;
        QTest::newRow("stray break") << header(4) + QByteArray("\xa1\x61\x61\xff", 4)
                                     << protocol::error::BadFrame;
        QTest::newRow("tagged value") << withField([](QCborStreamWriter& w) {
            w.append(QCborTag(1));
            w.append(0);
        }) << protocol::error::BadFrame;
    }

    // The largest frames the program really exchanges stay within the limits.
    void realFramesPass()
    {
        QCborArray args;
        for (int i = 0; i < 64; ++i)
            args.append(QString(100, u'x'));
        protocol::FrameReader requests(protocol::RequestLimits);
        requests.append(protocol::encodeFrame(QCborMap{{protocol::key::Id, 1},
                                                       {protocol::key::Op, protocol::op::Call},
                                                       {protocol::key::Class, "XR.Windows"},
                                                       {protocol::key::Name, "Xecute"},
                                                       {protocol::key::Args, args}}));
        QCborMap m;
        QCOMPARE(requests.next(m), Status::Frame);
        QCOMPARE(m.value(protocol::key::Args).toArray().size(), 64);

        QCborArray rows;
        for (int r = 0; r < 10000; ++r) {
            QCborArray row;
            for (int c = 0; c < 20; ++c)
                row.append(QString::number(r * c));
            rows.append(row);
        }
        protocol::FrameReader replies(protocol::ReplyLimits);
        replies.append(protocol::encodeFrame(
            QCborMap{{protocol::key::Id, 2}, {protocol::key::Rows, rows}, {protocol::key::End, true}}));
        QCOMPARE(replies.next(m), Status::Frame);
        QCOMPARE(m.value(protocol::key::Rows).toArray().size(), 10000);

        // Map, array and text of indefinite length: {"args": ["a" "b", 1]}.
        const QByteArray payload("\xbf\x64"
                                 "args\x9f\x7f\x61"
                                 "a\x61"
                                 "b\xff\x01\xff\xff",
                                 16);
        QByteArray frame(4, Qt::Uninitialized);
        qToBigEndian(quint32(payload.size()), frame.data());
        protocol::FrameReader indefinite(protocol::RequestLimits);
        indefinite.append(frame + payload);
        QCOMPARE(indefinite.next(m), Status::Frame);
        QCOMPARE(m.value(protocol::key::Args).toArray().toVariantList(), (QVariantList{"ab", 1}));
    }

    void badFrames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        protocol::FrameReader reader(protocol::MaxRequestFrame);
        reader.append(bytes);
        QCborMap m;
        QCOMPARE(reader.next(m), Status::Error);
        QCOMPARE(reader.errorNumber(), error);
        QVERIFY(!reader.errorText().isEmpty());
        // A failed reader never recovers: the connection is to be closed.
        reader.append(protocol::encodeFrame(QCborMap{{protocol::key::Id, 1}}));
        QCOMPARE(reader.next(m), Status::Error);
    }

    // A payload written item by item has the bytes of the same map through QCborValue, at
    // every boundary of the head's length.
    void writerMatchesTheMapEncoding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("number");
        for (const qsizetype length : {0, 23, 24, 255, 256, 65535, 65536})
            QTest::addRow("text of %lld", static_cast<long long>(length))
                << QString(length, u'a') << qint64(0);
        QTest::newRow("beyond ASCII") << QStringLiteral("Grüße § \u20ac") << qint64(1);
        for (const qint64 number :
             {qint64(23), qint64(24), qint64(255), qint64(256), qint64(65535), qint64(65536),
              qint64(4294967295), qint64(4294967296), qint64(-1), qint64(-24), qint64(-25), qint64(-257),
              std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()})
            QTest::addRow("number %lld", static_cast<long long>(number)) << QString("x") << number;
    }

    void writerMatchesTheMapEncoding()
    {
        QFETCH(QString, text);
        QFETCH(qint64, number);
        protocol::CborWriter writer;
        writer.map(2);
        writer.text("t");
        writer.text(text);
        writer.text("n");
        writer.integer(number);
        const QCborMap map{{"t", text}, {"n", number}};
        QCOMPARE(writer.payload(), map.toCborValue().toCbor());
        QCOMPARE(protocol::frameOf(writer.payload()), protocol::encodeFrame(map));
    }

    void truncatedFrameWaits()
    {
        const QByteArray frame = protocol::encodeFrame(QCborMap{{protocol::key::Id, 7}});
        protocol::FrameReader reader(protocol::MaxRequestFrame);
        reader.append(frame.left(frame.size() - 1));
        QCborMap m;
        QCOMPARE(reader.next(m), Status::NeedMore);
        QVERIFY(reader.midFrame());
        reader.append(frame.right(1));
        QCOMPARE(reader.next(m), Status::Frame);
        QCOMPARE(m.value(protocol::key::Id).toInteger(), 7);
    }

    // Packed cells give back every text as it was, whatever its length or characters; cells
    // that do not add up are refused, and damaged ones are refused or read without a byte beyond
    // their end (the sanitizer build watches every read).
    void packedCells()
    {
        const QStringList texts{"",
                                "1||4711||3",
                                QString(24, u'b'),
                                QString(256, u'd'),
                                QString(70000, u'e'),
                                "Baustoffwerke Schwäbisch Hall GmbH",
                                QString::fromUtf8("\xf0\x9f\x8f\x97 Bau"),
                                "\"quote\",comma _$ZV_"};
        QByteArray cells;
        for (const QString& text : texts)
            protocol::appendCell(cells, text);
        // CBOR texts: a standard decoder reads them too, as the items of an array.
        const QCborArray decoded = QCborValue::fromCbor("\x9f" + cells + "\xff").toArray();
        QCOMPARE(decoded.toVariantList(), QVariant(texts).toList());
        QCOMPARE(protocol::checkCells(cells, 4, 2), QString());
        const char* at = cells.constData();
        protocol::skipCell(at);
        for (qsizetype i = 1; i < texts.size(); ++i)
            QCOMPARE(protocol::takeCell(at), texts.at(i));
        QCOMPARE(at, cells.constData() + cells.size());

        for (const auto& [bytes, rows, width] : {std::tuple{cells, 5, 2},
                                                 {cells, 3, 2},
                                                 {cells, -1, 2},
                                                 {cells, 1000000, 5},
                                                 {cells, 1, 0},
                                                 {QByteArray("\x41x", 2), 1, 1},
                                                 {QByteArray("\x7f\x61x\xff", 4), 1, 1}})
            QVERIFY(!protocol::checkCells(bytes, rows, width).isEmpty());

        QByteArray valid;
        for (int i = 0; i < 40; ++i)
            protocol::appendCell(valid, QString(i * 7 % 31, QChar(u'a' + i % 26)) + (i % 5 ? "" : "ä"));
        QRandomGenerator random(16);
        int accepted = 0;
        for (int round = 0; round < 3000; ++round) {
            QByteArray damaged = valid;
            for (int change = 0, changes = 1 + random.bounded(3); change < changes && !damaged.isEmpty();
                 ++change) {
                const qsizetype pos = random.bounded(damaged.size());
                const int kind = random.bounded(3);
                if (kind == 0)
                    damaged[pos] = char(random.bounded(256));
                else if (kind == 1)
                    damaged.truncate(pos);
                else
                    damaged.remove(pos, 1 + random.bounded(3));
            }
            // A copy of exactly the damaged size, so that any read past it is outside the block.
            const QByteArray exact(damaged.constData(), damaged.size());
            if (!protocol::checkCells(exact, 8, 5).isEmpty())
                continue;
            ++accepted;
            const char* p = exact.constData();
            for (int n = 0; n < 40; ++n)
                protocol::takeCell(p);
            QCOMPARE(p, exact.constData() + exact.size());
        }
        // Byte changes inside a text keep the cells whole: the reading above ran, not only refusals.
        QVERIFY(accepted > 0);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "TestProtocol.moc"
