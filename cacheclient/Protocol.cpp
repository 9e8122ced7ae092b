#include "Protocol.h"

#include <QCborStreamReader>
#include <QCborValue>
#include <QtEndian>

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

QString FrameReader::checkShape(const QByteArray& payload) const
{
    QCborStreamReader reader(payload);
    if (!reader.isMap())
        return QStringLiteral("Frame is not a map");
    qsizetype items = 0;
    qsizetype containers = 0;
    int depth = 0;
    // Iterative, so a deeply nested frame costs no stack.
    for (;;) {
        if (reader.lastError() != QCborError::NoError)
            return QStringLiteral("Invalid CBOR: %1").arg(reader.lastError().toString());
        if (depth > 0 && !reader.hasNext()) {
            if (!reader.leaveContainer())
                return QStringLiteral("Invalid CBOR: %1").arg(reader.lastError().toString());
            if (--depth == 0)
                break;
            continue;
        }
        if (++items > m_limits.maxItems)
            return QStringLiteral("Frame holds more than %1 items").arg(m_limits.maxItems);
        if (reader.isContainer()) {
            if (++containers > m_limits.maxContainers)
                return QStringLiteral("Frame holds more than %1 maps and arrays").arg(m_limits.maxContainers);
            if (++depth > m_limits.maxDepth)
                return QStringLiteral("Frame nested deeper than %1").arg(m_limits.maxDepth);
            if (!reader.enterContainer())
                return QStringLiteral("Invalid CBOR: %1").arg(reader.lastError().toString());
            continue;
        }
        if (reader.isTag())
            return QStringLiteral("Frame holds a tagged value");
        if (!reader.next())
            return QStringLiteral("Invalid CBOR: %1").arg(reader.lastError().toString());
    }
    return QString();
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
