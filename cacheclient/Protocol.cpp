#include "Protocol.h"

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
    if (size == 0 || size > static_cast<quint64>(m_maxFrame))
        return fail(error::FrameTooLarge, QStringLiteral("Frame size %1 outside 1..%2").arg(size).arg(m_maxFrame));
    if (m_buffer.size() < HeaderSize + static_cast<qsizetype>(size))
        return Status::NeedMore;

    QCborParserError parseError;
    const QByteArray payload = m_buffer.mid(HeaderSize, size);
    m_buffer.remove(0, HeaderSize + size);
    const QCborValue value = QCborValue::fromCbor(payload, &parseError);
    if (parseError.error != QCborError::NoError)
        return fail(error::BadFrame, QStringLiteral("Invalid CBOR: %1").arg(parseError.errorString()));
    if (!value.isMap())
        return fail(error::BadFrame, QStringLiteral("Frame is not a map"));
    message = value.toMap();
    return Status::Frame;
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
