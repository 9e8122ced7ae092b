#include "Protocol.h"

#include <QCborValue>
#include <QVarLengthArray>
#include <QtEndian>
#include <algorithm>

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

FrameReader::Status FrameReader::next(QCborMap& message)
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

    QCborParserError parseError;
    const QByteArray payload = m_buffer.mid(HeaderSize, size);
    m_buffer.remove(0, HeaderSize + size);
    m_lastFrameSize = size;
    if (const QString shape = checkShape(payload); !shape.isEmpty())
        return fail(error::BadFrame, shape);
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
    char bytes[9];
    qsizetype size;
    if (value < 24) {
        bytes[0] = static_cast<char>(type | static_cast<char>(value));
        size = 1;
    } else if (value <= 0xff) {
        bytes[0] = static_cast<char>(type | 24);
        bytes[1] = static_cast<char>(value);
        size = 2;
    } else if (value <= 0xffff) {
        bytes[0] = static_cast<char>(type | 25);
        qToBigEndian<quint16>(static_cast<quint16>(value), bytes + 1);
        size = 3;
    } else if (value <= 0xffffffffu) {
        bytes[0] = static_cast<char>(type | 26);
        qToBigEndian<quint32>(static_cast<quint32>(value), bytes + 1);
        size = 5;
    } else {
        bytes[0] = static_cast<char>(type | 27);
        qToBigEndian<quint64>(value, bytes + 1);
        size = 9;
    }
    m_bytes.append(bytes, size);
}

void CborWriter::text(const QString& value)
{
    // Names and most values are 7-bit: their UTF-8 is their characters, without a conversion.
    const ushort* const chars = value.utf16();
    const qsizetype size = value.size();
    if (std::all_of(chars, chars + size, [](ushort c) { return c < 0x80; })) {
        head(3, static_cast<quint64>(size));
        const qsizetype at = m_bytes.size();
        m_bytes.resize(at + size);
        std::copy(chars, chars + size, m_bytes.data() + at);
        return;
    }
    const QByteArray bytes = value.toUtf8();
    utf8(bytes.constData(), bytes.size());
}

void CborWriter::utf8(const char* bytes, qsizetype size)
{
    head(3, static_cast<quint64>(size));
    m_bytes.append(bytes, size);
}

QByteArray frameOf(const QByteArray& payload)
{
    QByteArray frame(HeaderSize, Qt::Uninitialized);
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), frame.data());
    frame.append(payload);
    return frame;
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
