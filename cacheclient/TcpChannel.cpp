#include "TcpChannel.h"

#include "CacheError.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace cacheclient {

namespace key = protocol::key;

TcpChannel::TcpChannel(QObject* parent) : QObject(parent) {}

TcpChannel::~TcpChannel()
{
    close();
}

void TcpChannel::setTimeouts(int connectMs, int replyMs)
{
    m_connectMs = connectMs;
    m_replyMs = replyMs;
}

bool TcpChannel::open(const ConnectTarget& target)
{
    close();
    m_socket = new QTcpSocket(this);
    m_reader = protocol::FrameReader(protocol::ReplyLimits);
    m_replies.clear();
    m_discard.clear();
    m_failure.clear();
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpChannel::readFrames);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpChannel::frameArrived);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpChannel::frameArrived);

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(m_socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(m_socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    m_socket->connectToHost(target.host, target.port);
    timer.start(m_connectMs);
    if (m_socket->state() != QAbstractSocket::ConnectedState &&
        m_socket->state() != QAbstractSocket::UnconnectedState)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        close();
        return false;
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    try {
        QCborMap hello;
        hello.insert(key::Op, protocol::op::Hello);
        hello.insert(key::Version, protocol::Version);
        hello.insert(key::Peer, QStringLiteral("velmor-archiv"));
        const QCborMap reply = request(hello);
        if (reply.value(key::Version).toInteger() != protocol::Version) {
            close();
            return false;
        }
    } catch (const CacheError&) {
        close();
        return false;
    }
    return true;
}

bool TcpChannel::isOpen() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TcpChannel::close()
{
    if (!m_socket)
        return;
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    m_held.clear();
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    // Wake every wait that is still running; each finds the link gone.
    emit frameArrived();
}

qint64 TcpChannel::nextNumber()
{
    if (!isOpen())
        fail(ClientError::NotConnected, QStringLiteral("Keine Verbindung zum Server"));
    return m_nextId++;
}

qint64 TcpChannel::send(QCborMap& message)
{
    const qint64 id = nextNumber();
    message.insert(key::Id, id);
    return sendFrame(id, protocol::encodeFrame(message));
}

qint64 TcpChannel::sendFrame(qint64 id, const QByteArray& frame)
{
    if (m_holds > 0)
        m_held += frame;
    else
        write(frame);
    return id;
}

void TcpChannel::holdSends()
{
    ++m_holds;
}

void TcpChannel::releaseSends()
{
    if (m_holds > 0 && --m_holds == 0)
        sendHeld();
}

void TcpChannel::sendHeld()
{
    if (m_held.isEmpty())
        return;
    const QByteArray held = std::exchange(m_held, QByteArray());
    if (isOpen())
        write(held);
}

void TcpChannel::write(const QByteArray& bytes)
{
    qsizetype written = 0;
    // Straight to the kernel while nothing waits in the socket's own buffer: a write through
    // QAbstractSocket arms and disarms its write notifier, a wake-up of the event dispatcher
    // each, for bytes the kernel takes whole. What it does not take goes the Qt way.
    if (m_socket->bytesToWrite() == 0) {
        const int fd = static_cast<int>(m_socket->socketDescriptor());
        while (written < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.constData() + written,
                                     static_cast<size_t>(bytes.size() - written), MSG_NOSIGNAL);
            if (n > 0)
                written += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            else {
                // The link is gone; a last word of the server may still wait to be read.
                readAvailable();
                close();
                return;
            }
        }
    }
    if (written < bytes.size()) {
        m_socket->write(bytes.constData() + written, bytes.size() - written);
        // Out now, not when the event loop next runs: the reply cannot start before the request left.
        m_socket->flush();
    }
}

void TcpChannel::post(QCborMap message)
{
    if (!isOpen())
        return;
    m_discard.insert(send(message));
}

QCborMap TcpChannel::request(QCborMap message)
{
    return checkedMap(waitFor(send(message)));
}

qint64 TcpChannel::submit(QCborMap message)
{
    return send(message);
}

QCborMap TcpChannel::reply(qint64 ticket)
{
    return checkedMap(waitFor(ticket));
}

qint64 TcpChannel::submitOpen(const QString& className, const QString& id)
{
    const qint64 number = nextNumber();
    return sendFrame(number, protocol::openFrame(className, id, number));
}

OpenReply TcpChannel::takeOpen(qint64 ticket)
{
    const Reply reply = waitFor(ticket);
    if (!reply.plain || reply.plain->find(key::Error))
        return openReplyOf(checkedMap(reply));
    const protocol::PlainMap& plain = *reply.plain;
    OpenReply open;
    open.className = plain.text(key::Class);
    if (const protocol::PlainItem* props = plain.find(key::Props);
        props && props->type == protocol::PlainItem::Map)
        open.props = Properties(plain, *props);
    return open;
}

qint64 TcpChannel::submitCall(const QString& className, const QString& method, const QStringList& args)
{
    const qint64 number = nextNumber();
    return sendFrame(number, protocol::callFrame(className, method, args, number));
}

CallReply TcpChannel::takeCall(qint64 ticket)
{
    const Reply reply = waitFor(ticket);
    if (!reply.plain || reply.plain->find(key::Error))
        return callReplyOf(checkedMap(reply));
    return {reply.plain->text(key::Ret), reply.plain->texts(reply.plain->find(key::Args))};
}

QCborMap TcpChannel::checkedMap(const Reply& reply)
{
    QCborMap map = reply.map;
    if (reply.plain) {
        QCborParserError error;
        map = QCborValue::fromCbor(reply.plain->payload(), &error).toMap();
        // What reads as plain decodes; should it not, the reply is refused, not read as empty.
        if (error.error != QCborError::NoError)
            fail(ClientError::BadReply,
                 QStringLiteral("Ungültige Antwort vom Server: %1").arg(error.errorString()));
    }
    throwIfError(map);
    return map;
}

void TcpChannel::forget(qint64 ticket)
{
    if (!m_replies.remove(ticket) && isOpen())
        m_discard.insert(ticket);
}

TcpChannel::Reply TcpChannel::waitFor(qint64 id)
{
    // The event loop and its timer are made only for a reply that is slow to come: most
    // replies are taken by the blocking polls below, and building the loop costs more than
    // the round trip itself.
    struct SlowWait
    {
        QEventLoop loop;
        QTimer timer;
        bool timedOut = false;
    };
    std::optional<SlowWait> slow;
    QElapsedTimer waited;
    waited.start();
    // A held request may be the one waited for.
    sendHeld();

    while (!m_replies.contains(id)) {
        if (!isOpen())
            fail(ClientError::ConnectionLost,
                 m_failure.isEmpty() ? QStringLiteral("Verbindung zum Server unterbrochen") : m_failure);
        if ((slow && slow->timedOut) || waited.elapsed() > m_replyMs) {
            close();
            fail(ClientError::Timeout, QStringLiteral("Der Server antwortet nicht (Zeitüberschreitung)"));
        }
        // Replies that are already on the wire are taken without a trip through the loop.
        if (m_socket->bytesAvailable() > 0) {
            readFrames();
            continue;
        }
        // Most replies come within a few milliseconds: wait for them in the kernel, on the
        // descriptor itself, without the cost of an event loop or of the socket's notifiers,
        // then let window events run while waiting for slower ones.
        if (waited.elapsed() < FastWaitMs) {
            pollfd ready{static_cast<int>(m_socket->socketDescriptor()), POLLIN, 0};
            const int left = static_cast<int>(std::max<qint64>(1, FastWaitMs - waited.elapsed()));
            if (::poll(&ready, 1, left) > 0)
                readAvailable();
            continue;
        }
        // The poll may have found the link closed; a signal sent before exec() would be lost.
        if (!isOpen())
            continue;
        if (!slow) {
            slow.emplace();
            SlowWait* wait = &*slow;
            wait->timer.setSingleShot(true);
            QObject::connect(&wait->timer, &QTimer::timeout, &wait->loop, [wait] {
                wait->timedOut = true;
                wait->loop.quit();
            });
            QObject::connect(this, &TcpChannel::frameArrived, &wait->loop, &QEventLoop::quit);
            wait->timer.start(std::max<qint64>(0, m_replyMs - waited.elapsed()));
        }
        slow->loop.exec();
    }
    return m_replies.take(id);
}

void TcpChannel::readFrames()
{
    if (!m_socket)
        return;
    m_reader.append(m_socket->readAll());
    takeFrames();
}

void TcpChannel::readAvailable()
{
    if (!m_socket)
        return;
    // Bytes the socket already took from the kernel come before any still in it.
    if (m_socket->bytesAvailable() > 0) {
        readFrames();
        return;
    }
    char chunk[64 * 1024];
    ssize_t n;
    do
        n = ::recv(static_cast<int>(m_socket->socketDescriptor()), chunk, sizeof chunk, 0);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        m_reader.append(QByteArray(chunk, n));
        takeFrames();
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
        // The server closed the link (after its last word, if it sent one) or it broke.
        close();
    }
}

void TcpChannel::takeFrames()
{
    bool any = false;
    for (;;) {
        QByteArray payload;
        auto status = m_reader.nextPayload(payload);
        Reply reply;
        qint64 id = -1;
        if (status == protocol::FrameReader::Status::Frame) {
            reply.plain = protocol::PlainMap::read(payload);
            if (reply.plain) {
                const protocol::PlainItem* number = reply.plain->find(key::Id);
                id = number && number->type == protocol::PlainItem::Integer ? number->integer : -1;
            } else {
                status = m_reader.decode(payload, reply.map);
                id = reply.map.value(key::Id).toInteger(-1);
            }
        }
        if (status == protocol::FrameReader::Status::NeedMore)
            break;
        if (status == protocol::FrameReader::Status::Error) {
            m_failure = QStringLiteral("Ungültige Antwort vom Server: %1").arg(m_reader.errorText());
            close();
            return;
        }
        if (m_discard.remove(id))
            continue;
        // A reply without a known id is the server's last word before it closes the link.
        if (id <= 0) {
            const QCborMap message = reply.plain ? QCborValue::fromCbor(payload).toMap() : reply.map;
            const QCborMap error = message.value(key::Error).toMap();
            m_failure = QStringLiteral("Server hat die Verbindung beendet: %1")
                            .arg(error.value(key::Text).toString());
            continue;
        }
        m_replies.insert(id, std::move(reply));
        any = true;
    }
    if (any)
        emit frameArrived();
}

void TcpChannel::fail(int number, const QString& text)
{
    throw CacheError(number, text);
}

} // namespace cacheclient
