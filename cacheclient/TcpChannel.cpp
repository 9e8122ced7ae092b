#include "TcpChannel.h"

#include "CacheError.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <optional>

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
    if (m_socket->state() != QAbstractSocket::ConnectedState && m_socket->state() != QAbstractSocket::UnconnectedState)
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
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    // Wake every wait that is still running; each finds the link gone.
    emit frameArrived();
}

qint64 TcpChannel::send(QCborMap& message)
{
    if (!isOpen())
        fail(ClientError::NotConnected, QStringLiteral("Keine Verbindung zum Server"));
    const qint64 id = m_nextId++;
    message.insert(key::Id, id);
    m_socket->write(protocol::encodeFrame(message));
    // Out now, not when the event loop next runs: the reply cannot start before the request left.
    m_socket->flush();
    return id;
}

void TcpChannel::post(QCborMap message)
{
    if (!isOpen())
        return;
    m_discard.insert(send(message));
}

QCborMap TcpChannel::request(QCborMap message)
{
    return waitFor(send(message));
}

QCborMap TcpChannel::waitFor(qint64 id)
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
    bool polled = false;

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
        // Most replies come within a few milliseconds: wait for them in the kernel, without
        // the cost of an event loop, then let window events run while waiting for slower ones.
        if (!polled) {
            polled = true;
            if (m_socket->waitForReadyRead(FastWaitMs))
                readFrames();
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
    const QCborMap reply = m_replies.take(id);
    throwIfError(reply);
    return reply;
}

void TcpChannel::readFrames()
{
    if (!m_socket)
        return;
    m_reader.append(m_socket->readAll());
    bool any = false;
    for (;;) {
        QCborMap message;
        const auto status = m_reader.next(message);
        if (status == protocol::FrameReader::Status::NeedMore)
            break;
        if (status == protocol::FrameReader::Status::Error) {
            m_failure = QStringLiteral("Ungültige Antwort vom Server: %1").arg(m_reader.errorText());
            close();
            return;
        }
        const qint64 id = message.value(key::Id).toInteger(-1);
        if (m_discard.remove(id))
            continue;
        // A reply without a known id is the server's last word before it closes the link.
        if (id <= 0) {
            const QCborMap error = message.value(key::Error).toMap();
            m_failure = QStringLiteral("Server hat die Verbindung beendet: %1").arg(error.value(key::Text).toString());
            continue;
        }
        m_replies.insert(id, message);
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
