#include "cacheclient/Channel.h"
#include "cacheclient/ConnectString.h"
#include "cacheclient/Protocol.h"
#include "cacheclient/RowCells.h"

#include <QCborArray>
#include <QCborStreamWriter>
#include <QCborValue>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>
#include <algorithm>
#include <functional>
#include <limits>
#include <tuple>

using namespace cacheclient;
using Status = protocol::FrameReader::Status;

namespace {

bool sameItem(const protocol::PlainMap& map, const protocol::PlainItem& item, const QCborValue& value)
{
    using Item = protocol::PlainItem;
    const QString text = item.toString();
    if (text != value.toString() || text.isNull() != value.toString().isNull())
        return false;
    switch (item.type) {
    case Item::Integer:
        return value.isInteger() && value.toInteger() == item.integer;
    case Item::Text:
        return value.isString();
    case Item::Bytes:
        return value.isByteArray() && value.toByteArray() == QByteArray(item.data, item.size);
    case Item::False:
        return value.isFalse();
    case Item::True:
        return value.isTrue();
    case Item::Null:
        return value.isNull();
    case Item::Array: {
        const QCborArray array = value.toArray();
        const QList<Item> items = map.items(item);
        if (!value.isArray() || array.size() != items.size())
            return false;
        for (qsizetype i = 0; i < items.size(); ++i)
            if (!sameItem(map, items.at(i), array.at(i)))
                return false;
        return map.texts(&item) == [&] {
            QStringList list;
            for (const QCborValue& v : array)
                list << v.toString();
            return list;
        }();
    }
    case Item::Map: {
        const QCborMap inner = value.toMap();
        const QList<Item> items = map.items(item);
        if (!value.isMap() || inner.size() * 2 != items.size())
            return false;
        qsizetype i = 0;
        for (auto it = inner.constBegin(); it != inner.constEnd(); ++it, i += 2)
            if (!sameItem(map, items.at(i), it.key()) || !sameItem(map, items.at(i + 1), it.value()))
                return false;
        return true;
    }
    }
    return false;
}

// Every key finds the value QCborMap::value finds for it, and no other key is found.
bool sameValue(const protocol::PlainMap& plain, const QCborMap& decoded)
{
    for (auto it = decoded.constBegin(); it != decoded.constEnd(); ++it) {
        const QString key = it.key().toString();
        const protocol::PlainItem* item = plain.find(key);
        // The link's field names are 7-bit; QCborMap::value itself misses some longer others.
        if (std::any_of(key.cbegin(), key.cend(), [](QChar c) { return c.unicode() >= 0x80; }))
            continue;
        if (!item || !sameItem(plain, *item, decoded.value(key)) ||
            plain.text(key) != decoded.value(key).toString())
            return false;
    }
    return !plain.find(QStringLiteral("absent"));
}

} // namespace

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
        QTest::newRow("default") << "cn_iptcp:192.168.1.10[1972]:VELMOR" << true << "192.168.1.10" << 1972
                                 << "VELMOR";
        QTest::newRow("host name") << "cn_iptcp:localhost[1973]:VELMOR" << true << "localhost" << 1973
                                   << "VELMOR";
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
        const QByteArray payload = writer.take();
        QCOMPARE(payload, map.toCborValue().toCbor());
        QCOMPARE(protocol::frameOf(payload), protocol::encodeFrame(map));
        // Framed, and written again after a take: the writer starts afresh.
        protocol::CborWriter framed(true);
        for (int round = 0; round < 2; ++round) {
            framed.map(2);
            framed.text("t");
            framed.text(text);
            framed.text("n");
            framed.integer(number);
            QCOMPARE(framed.take(), protocol::encodeFrame(map));
        }
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

    // Opens and calls written straight from their fields are the frames of the same maps.
    void rowFramesAreTheMapsBytes_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<qint64>("number");
        QTest::newRow("account") << "XR.KontoStamm"
                                 << "1||K||4711" << QStringList{"Müller"} << qint64(1);
        QTest::newRow("empty texts") << ""
                                     << "" << QStringList{""} << qint64(23);
        QTest::newRow("no args") << "XR.Windows"
                                 << "Xecute" << QStringList{} << qint64(24);
        QTest::newRow("beyond 7 bits")
            << "XR.KundBau"
            << "1||4711||Grüße \u20ac \U0001F3D7" << QStringList{"ä", QString(300, u'ß')} << qint64(255);
        for (const qsizetype length : {23, 24, 255, 256, 65536})
            QTest::addRow("text of %lld", static_cast<long long>(length))
                << "XR.ParAnwPar" << QString(length, u'x') << QStringList(3, QString(length, u'y'))
                << qint64(256);
        QStringList many;
        for (int i = 0; i < 64; ++i)
            many << QString::number(i);
        QTest::newRow("64 args, large number") << "AR.Dokumente"
                                               << "SetDokument" << many << qint64(4294967296);
    }

    void rowFramesAreTheMapsBytes()
    {
        QFETCH(QString, className);
        QFETCH(QString, name);
        QFETCH(QStringList, args);
        QFETCH(qint64, number);
        QCborMap open = openRequest(className, name);
        open.insert(protocol::key::Id, number);
        QCOMPARE(protocol::openFrame(className, name, number), protocol::encodeFrame(open));
        QCborMap call = callRequest(className, name, args);
        call.insert(protocol::key::Id, number);
        QCOMPARE(protocol::callFrame(className, name, args, number), protocol::encodeFrame(call));
        QCborArray changed;
        for (const QString& arg : args)
            changed.append(arg);
        QCOMPARE(protocol::callReplyPayload(name, args, number), (QCborMap{{protocol::key::Ret, name},
                                                                           {protocol::key::Args, changed},
                                                                           {protocol::key::Id, number}})
                                                                     .toCborValue()
                                                                     .toCbor());
    }

    // What is read in place reads as QCborValue::fromCbor reads it, value for value; payloads
    // of every kind, damaged at random, are read or refused but never read differently.
    void plainMapReadsAsTheDecoderDoes()
    {
        QRandomGenerator random(20261209);
        const QStringList texts{"",
                                "a",
                                "Müller",
                                QString(24, u'k'),
                                QString(300, u'ü'),
                                QString::fromUtf8("\xf0\x9f\x8f\x97"),
                                "1||K||4711"};
        const QStringList fields{"id", "class", "props", "ret", "args", "error", QString(30, u'f')};
        std::function<QCborValue(int)> value = [&](int depth) -> QCborValue {
            switch (random.bounded(depth > 2 ? 9 : 11)) {
            case 0:
                return qint64(random.generate64());
            case 1:
                return random.bounded(100000) - 50000;
            case 2:
            case 3:
                return texts.at(random.bounded(texts.size()));
            case 4:
                return QByteArray(random.bounded(30), 'b');
            case 5:
                return random.bounded(2) == 1;
            case 6:
                return QCborValue(nullptr);
            case 7:
                return random.bounded(2) ? QCborValue(1.5) : QCborValue(QCborTag(1), 7);
            case 8:
                return QCborValue();
            case 9: {
                QCborArray array;
                for (int i = random.bounded(4); i > 0; --i)
                    array.append(value(depth + 1));
                return array;
            }
            default: {
                QCborMap map;
                for (int i = random.bounded(4); i > 0; --i)
                    map.insert(texts.at(random.bounded(texts.size())), value(depth + 1));
                return map;
            }
            }
        };
        int read = 0;
        int damagedRead = 0;
        for (int round = 0; round < 6000; ++round) {
            QCborMap map;
            for (int i = random.bounded(6); i > 0; --i)
                map.insert(fields.at(random.bounded(fields.size())), value(1));
            QByteArray payload = map.toCborValue().toCbor();
            const bool damaged = round % 2 == 1;
            if (damaged)
                payload[random.bounded(payload.size())] = char(random.bounded(256));
            const auto plain = protocol::PlainMap::read(payload);
            if (!plain)
                continue;
            QCborParserError error;
            const QCborValue decoded = QCborValue::fromCbor(payload, &error);
            QCOMPARE(error.error, QCborError::NoError);
            QVERIFY(decoded.isMap());
            QVERIFY2(sameValue(*plain, decoded.toMap()), payload.toHex().constData());
            ++(damaged ? damagedRead : read);
        }
        // Both kinds were read, not only refused.
        QVERIFY(read > 500);
        QVERIFY(damagedRead > 100);
    }

    // Forms a decoder may read its own way, or that no map of the link needs, go the general way.
    void plainMapRefuses_data()
    {
        QTest::addColumn<QByteArray>("payload");
        auto map = [](const QByteArray& value) { return QByteArray("\xa1\x61k", 3) + value; };
        QTest::newRow("not a map") << QByteArray("\x81\x01", 2);
        QTest::newRow("indefinite map") << QByteArray("\xbf\x61k\x01\xff", 5);
        QTest::newRow("indefinite text") << map(QByteArray("\x7f\x61x\xff", 4));
        QTest::newRow("indefinite array") << map(QByteArray("\x9f\x01\xff", 3));
        QTest::newRow("tag") << map(QByteArray("\xc1\x01", 2));
        QTest::newRow("double") << map(QByteArray("\xfb\x3f\xf8\0\0\0\0\0\0", 9));
        QTest::newRow("half") << map(QByteArray("\xf9\x3c\x00", 3));
        QTest::newRow("undefined") << map(QByteArray("\xf7", 1));
        QTest::newRow("simple value") << map(QByteArray("\xf8\x20", 2));
        QTest::newRow("unsigned beyond 63 bits") << map(QByteArray("\x1b\x80\0\0\0\0\0\0\0", 9));
        QTest::newRow("negative beyond 63 bits") << map(QByteArray("\x3b\x80\0\0\0\0\0\0\0", 9));
        QTest::newRow("number key") << QByteArray("\xa1\x01\x01", 3);
        QTest::newRow("number key inside") << map(QByteArray("\xa1\x01\x01", 3));
        QTest::newRow("bytes after the map") << map(QByteArray("\x01\x01", 2));
        QTest::newRow("text beyond the end") << map(QByteArray("\x65"
                                                               "abc",
                                                               4));
        QTest::newRow("count beyond the end") << map(QByteArray("\x85\x01", 2));
        QTest::newRow("overlong slash") << map(QByteArray("\x62\xc0\xaf", 3));
        QTest::newRow("overlong 3 bytes") << map(QByteArray("\x63\xe0\x80\xaf", 4));
        QTest::newRow("overlong 4 bytes") << map(QByteArray("\x64\xf0\x80\x80\xaf", 5));
        QTest::newRow("surrogate") << map(QByteArray("\x63\xed\xa0\x80", 4));
        QTest::newRow("beyond U+10FFFF") << map(QByteArray("\x64\xf4\x90\x80\x80", 5));
        QTest::newRow("byte-order mark") << map(QByteArray("\x63\xef\xbb\xbf", 4));
        QTest::newRow("noncharacter U+FFFE") << map(QByteArray("\x63\xef\xbf\xbe", 4));
        QTest::newRow("noncharacter U+FDD0") << map(QByteArray("\x63\xef\xb7\x90", 4));
        QTest::newRow("lone continuation") << map(QByteArray("\x61\x80", 2));
        QTest::newRow("cut sequence") << map(QByteArray("\x61\xc3", 2));
        QByteArray nested(1, '\x01');
        for (int i = 0; i < 8; ++i)
            nested.prepend('\x81');
        QTest::newRow("nested too deep") << map(nested);
    }

    void plainMapRefuses()
    {
        QFETCH(QByteArray, payload);
        QVERIFY(!protocol::PlainMap::read(payload));
    }

    // A text read in place is compared with a QString as the decoded text would be.
    void plainTextEquals_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("asked");
        QTest::newRow("same 7-bit") << "props"
                                    << "props";
        QTest::newRow("other case") << "props"
                                    << "Props";
        QTest::newRow("prefix") << "prop"
                                << "props";
        QTest::newRow("both empty") << ""
                                    << "";
        QTest::newRow("umlaut") << "Straße"
                                << "Straße";
        QTest::newRow("umlaut against its bytes as Latin-1") << "ä" << QString::fromLatin1("\xc3\xa4");
        QTest::newRow("same length, one umlaut") << "abä"
                                                 << "abcd";
        QTest::newRow("beyond 16 bits")
            << QString::fromUtf8("\xf0\x9f\x8f\x97") << QString::fromUtf8("\xf0\x9f\x8f\x97");
        QTest::newRow("beyond 16 bits, other")
            << QString::fromUtf8("\xf0\x9f\x8f\x97") << QString::fromUtf8("\xf0\x9f\x8f\x98");
    }

    void plainTextEquals()
    {
        QFETCH(QString, stored);
        QFETCH(QString, asked);
        const auto plain = protocol::PlainMap::read(QCborMap{{"k", stored}, {"n", 1}}.toCborValue().toCbor());
        QVERIFY(plain);
        QCOMPARE(plain->find("k")->equals(asked), stored == asked);
        QVERIFY(!plain->find("n")->equals(QString()));
        QCOMPARE(plain->find(stored) != nullptr, stored == "k" || stored == "n");
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "TestProtocol.moc"
