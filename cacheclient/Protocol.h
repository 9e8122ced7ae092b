#pragma once

#include <QByteArray>
#include <QCborMap>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>
#include <algorithm>
#include <optional>

// Framing and field names of the client/server link; docs/protocol.md describes it.
namespace cacheclient::protocol {

constexpr int Version = 1;
constexpr qsizetype HeaderSize = 4;
// Requests are small; replies may carry a batch of rows.
constexpr qsizetype MaxRequestFrame = 1 << 20;
constexpr qsizetype MaxReplyFrame = 64 << 20;

// What one decoded frame may hold. A decoded item costs a few times its encoded bytes, a
// container far more, so both are capped and memory stays within a small multiple of the frame.
struct FrameLimits
{
    qsizetype maxFrame;
    qsizetype maxItems;      // every value, key and container
    qsizetype maxContainers; // maps and arrays
    int maxDepth;
};
// A request is one map of a few fields and at most 64 arguments.
inline constexpr FrameLimits RequestLimits{MaxRequestFrame, 4096, 64, 4};
// A reply carries up to 10,000 rows, each an array of texts.
inline constexpr FrameLimits ReplyLimits{MaxReplyFrame, 4 << 20, 1 << 16, 8};

// Field and operation names.
namespace key {
inline const QString Op = QStringLiteral("op");
inline const QString Id = QStringLiteral("id");
inline const QString Version = QStringLiteral("version");
inline const QString Peer = QStringLiteral("peer");
inline const QString Class = QStringLiteral("class");
inline const QString ObjectId = QStringLiteral("oid");
inline const QString Name = QStringLiteral("name");
inline const QString Args = QStringLiteral("args");
inline const QString Props = QStringLiteral("props");
inline const QString Ret = QStringLiteral("ret");
inline const QString Handle = QStringLiteral("rs");
inline const QString Params = QStringLiteral("params");
inline const QString Columns = QStringLiteral("columns");
inline const QString KeyColumn = QStringLiteral("key");
inline const QString Batch = QStringLiteral("batch");
inline const QString Rows = QStringLiteral("rows");
inline const QString End = QStringLiteral("end");
inline const QString Error = QStringLiteral("error");
inline const QString Number = QStringLiteral("number");
inline const QString Text = QStringLiteral("text");
} // namespace key

namespace op {
inline const QString Hello = QStringLiteral("hello");
inline const QString Open = QStringLiteral("open");
inline const QString Call = QStringLiteral("call");
inline const QString Query = QStringLiteral("query");
inline const QString Execute = QStringLiteral("execute");
inline const QString Fetch = QStringLiteral("fetch");
inline const QString CloseQuery = QStringLiteral("closequery");
} // namespace op

// Numbers of protocol errors; a server sends them before it closes a connection.
namespace error {
constexpr int BadFrame = 9001;
constexpr int FrameTooLarge = 9002;
constexpr int UnknownOperation = 9003;
constexpr int BadVersion = 9004;
constexpr int Truncated = 9005;
// The server closed a connection that sent no hello in time, stayed idle too long, or was
// the idlest when every slot was taken.
constexpr int Timeout = 9006;
} // namespace error

QByteArray encodeFrame(const QCborMap& message);

// Accumulates bytes from a stream and cuts them into frames. Every frame is untrusted:
// a declared size above the limit, a payload beyond the limits or one that is not one CBOR
// map is an error, after which the reader stays failed.
class FrameReader
{
public:
    explicit FrameReader(const FrameLimits& limits) : m_limits(limits) {}
    // Only the size is given: the request or reply limits, whichever that size belongs to.
    explicit FrameReader(qsizetype maxFrame)
        : m_limits(maxFrame <= MaxRequestFrame ? RequestLimits : ReplyLimits)
    {
        m_limits.maxFrame = maxFrame;
    }

    enum class Status { NeedMore, Frame, Error };

    void append(const QByteArray& bytes) { m_buffer.append(bytes); }
    Status next(QCborMap& message);
    // The next frame's payload, checked against the limits but not decoded.
    Status nextPayload(QByteArray& payload);
    // Decodes a payload nextPayload gave; an error fails the reader as next() would.
    Status decode(const QByteArray& payload, QCborMap& message);
    // Bytes of an incomplete frame are waiting.
    bool midFrame() const { return !m_buffer.isEmpty(); }
    const QString& errorText() const { return m_error; }
    int errorNumber() const { return m_errorNumber; }
    // Encoded size of the last frame returned.
    qsizetype lastFrameSize() const { return m_lastFrameSize; }

private:
    Status fail(int number, const QString& text);
    // Walks the payload without building it; an empty text means it is within the limits.
    QString checkShape(const QByteArray& payload) const;

    FrameLimits m_limits;
    qsizetype m_lastFrameSize = 0;
    QByteArray m_buffer;
    QString m_error;
    int m_errorNumber = 0;
};

QCborMap errorReply(qint64 id, int number, const QString& text);

// Writes a CBOR payload item by item, for a reply built straight from its source without a
// QCborMap in between; the bytes are those QCborValue::toCbor writes for the same map
// (definite lengths, shortest heads, texts as UTF-8).
class CborWriter
{
public:
    // framed: the payload is written behind room for the frame's header, which take() fills in.
    explicit CborWriter(bool framed = false)
        : m_bytes(256, Qt::Uninitialized), m_size(framed ? HeaderSize : 0), m_framed(framed)
    {
    }
    void map(qsizetype pairs) { head(5, static_cast<quint64>(pairs)); }
    void array(qsizetype items) { head(4, static_cast<quint64>(items)); }
    void integer(qint64 value)
    {
        if (value >= 0)
            head(0, static_cast<quint64>(value));
        else
            head(1, static_cast<quint64>(-1 - value));
    }
    void text(const QString& value);
    // A key and its text.
    void field(const QString& key, const QString& value)
    {
        text(key);
        text(value);
    }
    // An array of texts.
    void texts(const QStringList& values)
    {
        array(values.size());
        for (const QString& value : values)
            text(value);
    }
    // Text already in UTF-8, which the caller has checked.
    void utf8(const char* bytes, qsizetype size);
    // Items encoded before, by a writer like this one.
    void encoded(QByteArrayView bytes) { std::copy(bytes.begin(), bytes.end(), room(bytes.size())); }
    // The payload, or the whole frame when framed; the writer is empty afterwards.
    QByteArray take();

private:
    void head(int major, quint64 value);
    // Room for n more bytes; every byte is written straight into the buffer, which grows by
    // doubling: a reply of a few dozen items costs no allocation beyond the first.
    char* room(qsizetype n)
    {
        if (n > m_bytes.size() - m_size)
            m_bytes.resize(std::max(2 * m_bytes.size(), m_size + n));
        char* const at = m_bytes.data() + m_size;
        m_size += n;
        return at;
    }

    QByteArray m_bytes;
    qsizetype m_size;
    bool m_framed;
};

// A frame around a payload that is already encoded.
QByteArray frameOf(const QByteArray& payload);

// The frames of an open and of a call with their request number: the bytes encodeFrame gives
// for the same map with the number inserted last, written without building the map.
QByteArray openFrame(const QString& className, const QString& objectId, qint64 id);
QByteArray callFrame(const QString& className, const QString& method, const QStringList& args, qint64 id);
// A call's reply, as the map {ret, args, id} encodes.
QByteArray callReplyPayload(const QString& ret, const QStringList& args, qint64 id);

// One value of a PlainMap, pointing into the payload the map holds.
struct PlainItem
{
    enum Type : quint8 { Integer, Text, Bytes, False, True, Null, Array, Map };
    Type type = Null;
    qint64 integer = 0;
    // Text and Bytes: the content; Array and Map: their first item.
    const char* data = nullptr;
    // Text and Bytes: bytes; Array: items; Map: pairs.
    qsizetype size = 0;

    // As QCborValue::toString() reads it: the text, a null text when empty or not a text.
    QString toString() const;
    // A text equal to the given one, compared without making it a QString.
    bool equals(QStringView text) const;
};

// A payload's top-level map read straight from its bytes, for the frames exchanged per row of a
// list: no QCborMap, whose every value and key costs an allocation or more. Only a plain form
// is read: definite lengths, text keys, integers within 64 bits, texts of strict UTF-8 without
// a byte-order mark or noncharacter, byte strings, false, true, null, arrays and maps of these.
// Whatever it reads, QCborValue::fromCbor reads to the same values; anything else is refused and
// goes that general way.
class PlainMap
{
public:
    static std::optional<PlainMap> read(const QByteArray& payload);

    const QByteArray& payload() const { return m_payload; }
    // The first value under a key, as QCborMap::value finds it; null when there is none.
    const PlainItem* find(const QString& key) const;
    QString text(const QString& key) const;
    // The items of an Array, or the keys and values of a Map one after the other.
    QList<PlainItem> items(const PlainItem& container) const;
    // The items of an Array as QCborValue::toString() reads them; empty when it is no array.
    QStringList texts(const PlainItem* array) const;

private:
    QByteArray m_payload;
    QVarLengthArray<std::pair<PlainItem, PlainItem>, 8> m_fields;
};

} // namespace cacheclient::protocol
