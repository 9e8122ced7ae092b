#include "Protocol.h"

#include <QAnyStringView>
#include <QCborValue>
#include <QVarLengthArray>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace cacheclient::protocol {

QByteArray encodeFrame(const QCborMap& message)
{
    const QByteArray payload = message.toCborValue().toCbor();
    QByteArray frame(HeaderSize, Qt::Uninitialized);
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), frame.data());
    frame.append(payload);
    return frame;
}

FrameReader::Status FrameReader::fail(int number, const QString& text)
{
    m_errorNumber = number;
    m_error = text;
    m_buffer.clear();
    return Status::Error;
}

FrameReader::Status FrameReader::nextPayload(QByteArray& payloadOut)
{
    if (m_errorNumber != 0)
        return Status::Error;
    if (m_buffer.size() < HeaderSize)
        return Status::NeedMore;
    const quint32 size = qFromBigEndian<quint32>(m_buffer.constData());
    if (size == 0 || size > static_cast<quint64>(m_limits.maxFrame))
        return fail(error::FrameTooLarge,
                    QStringLiteral("Frame size %1 outside 1..%2").arg(size).arg(m_limits.maxFrame));
    if (m_buffer.size() < HeaderSize + static_cast<qsizetype>(size))
        return Status::NeedMore;

    QByteArray payload;
    if (m_buffer.size() == HeaderSize + static_cast<qsizetype>(size)) {
        // The buffer holds this frame alone, as a reply mostly comes: it becomes the payload.
        payload = std::exchange(m_buffer, QByteArray());
        payload.remove(0, HeaderSize);
    } else {
        payload = m_buffer.mid(HeaderSize, size);
        m_buffer.remove(0, HeaderSize + size);
    }
    m_lastFrameSize = size;
    if (const QString shape = checkShape(payload); !shape.isEmpty())
        return fail(error::BadFrame, shape);
    payloadOut = std::move(payload);
    return Status::Frame;
}

FrameReader::Status FrameReader::next(QCborMap& message)
{
    QByteArray payload;
    const Status status = nextPayload(payload);
    return status == Status::Frame ? decode(payload, message) : status;
}

FrameReader::Status FrameReader::decode(const QByteArray& payload, QCborMap& message)
{
    QCborParserError parseError;
    const QCborValue value = QCborValue::fromCbor(payload, &parseError);
    if (parseError.error != QCborError::NoError)
        return fail(error::BadFrame, QStringLiteral("Invalid CBOR: %1").arg(parseError.errorString()));
    if (!value.isMap())
        return fail(error::BadFrame, QStringLiteral("Frame is not a map"));
    message = value.toMap();
    return Status::Frame;
}

namespace {

// The head of one CBOR data item: major type, additional information and its argument.
struct Head
{
    int major;
    int info;
    quint64 value;
};

bool readHead(const uchar*& at, const uchar* end, Head& head)
{
    if (at >= end)
        return false;
    const uchar first = *at++;
    head.major = first >> 5;
    head.info = first & 0x1f;
    head.value = head.info;
    if (head.info < 24 || head.info == 31)
        return true;
    if (head.info > 27)
        return false;
    const qsizetype bytes = qsizetype(1) << (head.info - 24);
    if (end - at < bytes)
        return false;
    head.value = 0;
    for (qsizetype i = 0; i < bytes; ++i)
        head.value = head.value << 8 | *at++;
    return true;
}

bool isBreak(const Head& head)
{
    return head.major == 7 && head.info == 31;
}

} // namespace

QString FrameReader::checkShape(const QByteArray& payload) const
{
    // A walk over the bytes alone, iterative and without allocation: refusing a costly frame
    // must cost less than building it. What it lets through is still fully checked by fromCbor.
    const uchar* at = reinterpret_cast<const uchar*>(payload.constData());
    const uchar* const end = at + payload.size();
    const QString invalid = QStringLiteral("Invalid CBOR");
    if (at == end || *at >> 5 != 5)
        return QStringLiteral("Frame is not a map");
    // Items still due in the innermost open container (-1: indefinite length, up to a break),
    // and in those around it. The frame itself is a container of one item.
    qint64 left = 1;
    QVarLengthArray<qint64, 16> outer;
    // Items left before the limit: one decrement and test per item.
    qsizetype itemsLeft = m_limits.maxItems;
    qsizetype containers = 0;
    for (;;) {
        if (left == 0) {
            if (outer.isEmpty())
                return QString();
            left = outer.last();
            outer.removeLast();
            continue;
        }
        if (at == end)
            return invalid;
        // Short texts, most of every frame, take the short way.
        const uint first = *at;
        if ((first & 0xdf) - 0x40 < 24) {
            const qsizetype length = first & 0x1f;
            if (end - at <= length || --itemsLeft < 0)
                break;
            at += 1 + length;
            left -= left > 0;
            continue;
        }
        Head head;
        if (!readHead(at, end, head))
            return invalid;
        if (isBreak(head)) {
            if (left != -1)
                return invalid;
            left = 0;
            continue;
        }
        if (--itemsLeft < 0)
            break;
        left -= left > 0;
        switch (head.major) {
        case 2:
        case 3:
            if (head.info == 31) {
                // A string in chunks of its own type, up to a break.
                for (;;) {
                    Head chunk;
                    if (!readHead(at, end, chunk))
                        return invalid;
                    if (isBreak(chunk))
                        break;
                    if (chunk.major != head.major || chunk.info == 31 || chunk.value > quint64(end - at))
                        return invalid;
                    at += chunk.value;
                }
            } else {
                if (head.value > quint64(end - at))
                    return invalid;
                at += head.value;
            }
            break;
        case 4:
        case 5:
            if (++containers > m_limits.maxContainers)
                return QStringLiteral("Frame holds more than %1 maps and arrays").arg(m_limits.maxContainers);
            if (outer.size() >= m_limits.maxDepth)
                return QStringLiteral("Frame nested deeper than %1").arg(m_limits.maxDepth);
            // Every item takes a byte at least, so a count beyond the bytes left is a lie.
            if (head.info != 31 && head.value > quint64(end - at))
                return invalid;
            outer.append(left);
            left = head.info == 31 ? -1 : qint64(head.value) * (head.major == 5 ? 2 : 1);
            break;
        case 6:
            return QStringLiteral("Frame holds a tagged value");
        default:
            if (head.info == 31)
                return invalid;
        }
    }
    return itemsLeft < 0 ? QStringLiteral("Frame holds more than %1 items").arg(m_limits.maxItems) : invalid;
}

void CborWriter::head(int major, quint64 value)
{
    const char type = static_cast<char>(major << 5);
    if (value < 24) {
        *room(1) = static_cast<char>(type | static_cast<char>(value));
    } else if (value <= 0xff) {
        char* const at = room(2);
        at[0] = static_cast<char>(type | 24);
        at[1] = static_cast<char>(value);
    } else if (value <= 0xffff) {
        char* const at = room(3);
        at[0] = static_cast<char>(type | 25);
        qToBigEndian<quint16>(static_cast<quint16>(value), at + 1);
    } else if (value <= 0xffffffffu) {
        char* const at = room(5);
        at[0] = static_cast<char>(type | 26);
        qToBigEndian<quint32>(static_cast<quint32>(value), at + 1);
    } else {
        char* const at = room(9);
        at[0] = static_cast<char>(type | 27);
        qToBigEndian<quint64>(value, at + 1);
    }
}

void CborWriter::text(const QString& value)
{
    // Names and most values are 7-bit: their UTF-8 is their characters, without a conversion.
    const ushort* const chars = value.utf16();
    const qsizetype size = value.size();
    if (std::all_of(chars, chars + size, [](ushort c) { return c < 0x80; })) {
        head(3, static_cast<quint64>(size));
        std::copy(chars, chars + size, room(size));
        return;
    }
    const QByteArray bytes = value.toUtf8();
    utf8(bytes.constData(), bytes.size());
}

void CborWriter::utf8(const char* bytes, qsizetype size)
{
    head(3, static_cast<quint64>(size));
    std::copy(bytes, bytes + size, room(size));
}

QByteArray CborWriter::take()
{
    m_bytes.truncate(m_size);
    if (m_framed)
        qToBigEndian<quint32>(static_cast<quint32>(m_size - HeaderSize), m_bytes.data());
    m_size = m_framed ? HeaderSize : 0;
    return std::exchange(m_bytes, QByteArray(256, Qt::Uninitialized));
}

QByteArray frameOf(const QByteArray& payload)
{
    QByteArray frame(HeaderSize, Qt::Uninitialized);
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), frame.data());
    frame.append(payload);
    return frame;
}

QByteArray openFrame(const QString& className, const QString& objectId, qint64 id)
{
    CborWriter out(true);
    out.map(4);
    out.field(key::Op, op::Open);
    out.field(key::Class, className);
    out.field(key::ObjectId, objectId);
    out.text(key::Id);
    out.integer(id);
    return out.take();
}

QByteArray callFrame(const QString& className, const QString& method, const QStringList& args, qint64 id)
{
    CborWriter out(true);
    out.map(5);
    out.field(key::Op, op::Call);
    out.field(key::Class, className);
    out.field(key::Name, method);
    out.text(key::Args);
    out.texts(args);
    out.text(key::Id);
    out.integer(id);
    return out.take();
}

QByteArray callReplyPayload(const QString& ret, const QStringList& args, qint64 id)
{
    CborWriter out;
    out.map(3);
    out.field(key::Ret, ret);
    out.text(key::Args);
    out.texts(args);
    out.text(key::Id);
    out.integer(id);
    return out.take();
}

namespace {

// UTF-8 that every decoder reads alike: no overlong form, surrogate, code point beyond U+10FFFF,
// byte-order mark (which some decoders drop) or noncharacter.
bool plainUtf8(const uchar* at, const uchar* const end)
{
    while (at < end) {
        // Eight 7-bit bytes at a time: most texts of the link are 7-bit.
        if (end - at >= 8) {
            quint64 word;
            std::memcpy(&word, at, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                at += 8;
                continue;
            }
        }
        const uint first = *at;
        if (first < 0x80) {
            ++at;
            continue;
        }
        uint point;
        qsizetype more;
        if (first >= 0xc2 && first <= 0xdf) {
            point = first & 0x1f;
            more = 1;
        } else if (first >= 0xe0 && first <= 0xef) {
            point = first & 0x0f;
            more = 2;
        } else if (first >= 0xf0 && first <= 0xf4) {
            point = first & 0x07;
            more = 3;
        } else {
            return false;
        }
        if (end - at <= more)
            return false;
        for (qsizetype i = 1; i <= more; ++i) {
            if ((at[i] & 0xc0) != 0x80)
                return false;
            point = point << 6 | (at[i] & 0x3f);
        }
        if ((more == 2 && point < 0x800) || (more == 3 && (point < 0x10000 || point > 0x10ffff)))
            return false;
        if ((point >= 0xd800 && point <= 0xdfff) || point == 0xfeff || (point >= 0xfdd0 && point <= 0xfdef) ||
            (point & 0xfffe) == 0xfffe)
            return false;
        at += 1 + more;
    }
    return true;
}

// Deeper than any frame the link exchanges.
constexpr int PlainDepth = 8;

bool readPlain(const uchar*& at, const uchar* const end, PlainItem& item, int depth)
{
    Head head;
    if (!readHead(at, end, head) || head.info == 31)
        return false;
    constexpr quint64 Largest = quint64(std::numeric_limits<qint64>::max());
    switch (head.major) {
    case 0:
    case 1:
        if (head.value > Largest)
            return false;
        item.type = PlainItem::Integer;
        item.integer = head.major == 0 ? qint64(head.value) : -1 - qint64(head.value);
        return true;
    case 2:
    case 3:
        if (head.value > quint64(end - at))
            return false;
        item.type = head.major == 2 ? PlainItem::Bytes : PlainItem::Text;
        item.data = reinterpret_cast<const char*>(at);
        item.size = qsizetype(head.value);
        if (head.major == 3 && !plainUtf8(at, at + item.size))
            return false;
        at += item.size;
        return true;
    case 4:
    case 5: {
        // Every item takes a byte at least: a count beyond the bytes left is refused at once.
        if (depth >= PlainDepth || head.value > quint64(end - at))
            return false;
        item.type = head.major == 4 ? PlainItem::Array : PlainItem::Map;
        item.data = reinterpret_cast<const char*>(at);
        item.size = qsizetype(head.value);
        const qsizetype count = head.major == 5 ? 2 * item.size : item.size;
        for (qsizetype i = 0; i < count; ++i) {
            PlainItem inner;
            if (!readPlain(at, end, inner, depth + 1))
                return false;
            if (head.major == 5 && i % 2 == 0 && inner.type != PlainItem::Text)
                return false;
        }
        return true;
    }
    case 7:
        if (head.info == 20 || head.info == 21 || head.info == 22) {
            item.type = head.info == 20   ? PlainItem::False
                        : head.info == 21 ? PlainItem::True
                                          : PlainItem::Null;
            return true;
        }
        return false;
    default:
        return false;
    }
}

} // namespace

QString PlainItem::toString() const
{
    return type == Text && size > 0 ? QString::fromUtf8(data, size) : QString();
}

bool PlainItem::equals(QStringView text) const
{
    if (type != Text)
        return false;
    // A character takes as many UTF-16 units as UTF-8 bytes only when it is 7-bit, so texts of
    // the same length are equal byte for unit; a longer UTF-8 text may still be equal.
    if (size == text.size()) {
        for (qsizetype i = 0; i < size; ++i)
            if (uchar(data[i]) != text[i].unicode() || uchar(data[i]) >= 0x80)
                return false;
        return true;
    }
    return size > text.size() && QAnyStringView::equal(QUtf8StringView(data, size), text);
}

std::optional<PlainMap> PlainMap::read(const QByteArray& payload)
{
    PlainMap map;
    map.m_payload = payload;
    const uchar* at = reinterpret_cast<const uchar*>(map.m_payload.constData());
    const uchar* const end = at + map.m_payload.size();
    Head head;
    if (!readHead(at, end, head) || head.major != 5 || head.info == 31 || head.value > quint64(end - at))
        return std::nullopt;
    for (quint64 i = 0; i < head.value; ++i) {
        PlainItem key;
        PlainItem value;
        if (!readPlain(at, end, key, 1) || key.type != PlainItem::Text || !readPlain(at, end, value, 1))
            return std::nullopt;
        map.m_fields.append({key, value});
    }
    // Bytes after the map are left to the general decoder to judge.
    if (at != end)
        return std::nullopt;
    return map;
}

const PlainItem* PlainMap::find(const QString& key) const
{
    for (const auto& [name, value] : m_fields)
        if (name.equals(key))
            return &value;
    return nullptr;
}

QString PlainMap::text(const QString& key) const
{
    const PlainItem* item = find(key);
    return item ? item->toString() : QString();
}

QList<PlainItem> PlainMap::items(const PlainItem& container) const
{
    QList<PlainItem> result;
    if (container.type != PlainItem::Array && container.type != PlainItem::Map)
        return result;
    const qsizetype count = container.type == PlainItem::Map ? 2 * container.size : container.size;
    result.resize(count);
    const uchar* at = reinterpret_cast<const uchar*>(container.data);
    const uchar* const end = reinterpret_cast<const uchar*>(m_payload.constEnd());
    for (PlainItem& item : result)
        readPlain(at, end, item, 1);
    return result;
}

QStringList PlainMap::texts(const PlainItem* array) const
{
    QStringList result;
    if (!array || array->type != PlainItem::Array)
        return result;
    const QList<PlainItem> all = items(*array);
    result.reserve(all.size());
    for (const PlainItem& item : all)
        result.append(item.toString());
    return result;
}

QCborMap errorReply(qint64 id, int number, const QString& text)
{
    QCborMap error;
    error.insert(key::Number, number);
    error.insert(key::Text, text);
    QCborMap reply;
    reply.insert(key::Id, id);
    reply.insert(key::Error, error);
    return reply;
}

} // namespace cacheclient::protocol
