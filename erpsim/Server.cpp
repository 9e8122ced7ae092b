#include "Server.h"

#include "Session.h"
#include "Trace.h"
#include "cacheclient/CacheError.h"
#include "cacheclient/Protocol.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace erpsim {

namespace protocol = cacheclient::protocol;

namespace {

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Freed memory of a thread's arena stays with the process until it is trimmed.
void returnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// A request frame this large leaves enough freed memory behind to be worth returning.
constexpr qsizetype TrimAfterFrame = 64 * 1024;
constexpr int PollMs = 100;
// Queued replies are written once they reach this size, so a long batch of requests is not
// answered all at its end.
constexpr qsizetype FlushAt = 64 * 1024;
constexpr qint64 SendTimeoutMs = 30000;

} // namespace

// What the listener and a connection's thread share about that connection.
struct ConnectionState
{
    std::atomic<qint64> lastActiveMs{nowMs()};
    std::atomic<bool> busy{false};
    std::atomic<bool> evict{false};
};

namespace {

class ConnectionWorker : public QThread
{
public:
    ConnectionWorker(qintptr descriptor, QString path, std::shared_ptr<Trace> trace, int number,
                     const ServerLimits& limits, std::shared_ptr<ConnectionState> state,
                     const QAtomicInt& stopping)
        : m_descriptor(descriptor), m_path(std::move(path)), m_trace(std::move(trace)), m_number(number),
          m_limits(limits), m_state(std::move(state)), m_stopping(stopping)
    {
    }

protected:
    void run() override
    {
        {
            QTcpSocket socket;
            if (!socket.setSocketDescriptor(m_descriptor))
                return;
            socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            // Whatever escapes ends this connection only: an exception leaving run() would end the server.
            try {
                serve(socket);
            } catch (const std::exception& error) {
                farewell(socket, QString::fromLocal8Bit(error.what()));
            } catch (...) {
                farewell(socket, QStringLiteral("unbekannte Ausnahme"));
            }
        }
        returnFreedMemory();
    }

private:
    // Whether the client has sent bytes not read yet, without reading them.
    static bool requestWaiting(int fd)
    {
        pollfd ready{fd, POLLIN, 0};
        return ::poll(&ready, 1, 0) != 0;
    }

    void serve(QTcpSocket& socket)
    {
        std::unique_ptr<Session> session;
        try {
            session = std::make_unique<Session>(m_path, m_trace.get(), m_number);
        } catch (const cacheclient::CacheError& error) {
            send(socket, protocol::errorReply(0, error.number(), error.description()));
            return;
        }

        protocol::FrameReader reader(protocol::RequestLimits);
        const int fd = static_cast<int>(socket.socketDescriptor());
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        // Blocking with time limits: a read returns after PollMs without a byte, so the loop
        // sees its timeouts and the stop flag; a write waits up to SendTimeoutMs for room.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        const timeval readLimit{0, PollMs * 1000};
        const timeval writeLimit{SendTimeoutMs / 1000, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &readLimit, sizeof readLimit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &writeLimit, sizeof writeLimit);
        QElapsedTimer sinceStart;
        sinceStart.start();
        QElapsedTimer sinceBytes;
        sinceBytes.start();
        auto closeWith = [&](const QString& text) {
            send(socket, protocol::errorReply(0, protocol::error::Timeout, text));
        };
        while (!m_stopping.loadRelaxed()) {
            if (m_state->evict.load()) {
                closeWith(QStringLiteral(
                    "Alle Verbindungen belegt; diese war am längsten untätig und wurde beendet"));
                return;
            }
            // While the client reads a batch, the next is read ahead, step by step, until a request
            // comes. The descriptor is the only reader: nothing waits in QTcpSocket's buffer.
            if (session->workAhead() && !requestWaiting(fd))
                continue;
            if (!session->greeted() && sinceStart.elapsed() > m_limits.helloTimeoutMs) {
                closeWith(QStringLiteral("Keine Anmeldung (hello) innerhalb von %1 ms, Verbindung beendet")
                              .arg(m_limits.helloTimeoutMs));
                return;
            }
            // The descriptor is read directly, one blocking call per request that gives up
            // after PollMs: this thread runs no event loop, and QTcpSocket's notifier toggling
            // costs two wake-ups of an event dispatcher per request.
            const ssize_t got = ::recv(fd, chunk.data(), static_cast<size_t>(chunk.size()), 0);
            if (got == 0)
                return;
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    return;
                if (reader.midFrame() && sinceBytes.elapsed() > m_limits.frameTimeoutMs) {
                    send(socket,
                         protocol::errorReply(0, protocol::error::Truncated,
                                              QStringLiteral("Unvollständige Anfrage, Verbindung beendet")));
                    return;
                }
                if (sinceBytes.elapsed() > m_limits.idleTimeoutMs) {
                    closeWith(QStringLiteral("Verbindung nach %1 s ohne Anfrage beendet")
                                  .arg(m_limits.idleTimeoutMs / 1000));
                    return;
                }
                continue;
            }
            sinceBytes.restart();
            m_state->lastActiveMs.store(nowMs());
            reader.append(chunk.first(got));
            for (;;) {
                QByteArray payload;
                auto status = reader.nextPayload(payload);
                // Opens and calls are read in place; every other request is decoded into a map.
                std::optional<Session::Reply> plainReply;
                QCborMap request;
                if (status == protocol::FrameReader::Status::Frame) {
                    // Only the work is busy: a peer that does not read its replies may make room.
                    m_state->busy.store(true);
                    if (const auto plain = protocol::PlainMap::read(payload))
                        plainReply = session->handlePlain(*plain);
                    m_state->busy.store(false);
                    if (!plainReply)
                        status = reader.decode(payload, request);
                }
                if (status == protocol::FrameReader::Status::NeedMore)
                    break;
                if (status == protocol::FrameReader::Status::Error) {
                    send(socket, protocol::errorReply(0, reader.errorNumber(), reader.errorText()));
                    return;
                }
                m_state->busy.store(true);
                const Session::Reply reply = plainReply ? std::move(*plainReply) : session->handle(request);
                m_state->busy.store(false);
                request = QCborMap();
                payload = QByteArray();
                if (reader.lastFrameSize() >= TrimAfterFrame)
                    returnFreedMemory();
                queue(reply.payload.isEmpty() ? protocol::encodeFrame(reply.message)
                                              : protocol::frameOf(reply.payload));
                if ((reply.closeConnection || m_unsent.size() >= FlushAt) &&
                    (!flush(socket) || reply.closeConnection))
                    return;
            }
            if (!flush(socket))
                return;
        }
    }

    // Replies to requests that came in one read leave in one write: a client that sends a
    // call and the next open together is woken once for both answers.
    void queue(const QByteArray& frame)
    {
        if (m_unsent.isEmpty())
            m_unsent = frame;
        else
            m_unsent += frame;
    }

    bool flush(QTcpSocket& socket)
    {
        if (m_unsent.isEmpty())
            return true;
        const bool sent = sendFrame(socket, std::exchange(m_unsent, QByteArray()));
        m_state->lastActiveMs.store(nowMs());
        return sent;
    }

    void farewell(QTcpSocket& socket, const QString& reason)
    {
        try {
            send(socket,
                 protocol::errorReply(0, protocol::error::BadFrame,
                                      QStringLiteral("Interner Fehler, Verbindung beendet: %1").arg(reason)));
        } catch (...) {
        }
    }

    // A reply or a last word goes out behind the replies still queued.
    bool send(QTcpSocket& socket, const QCborMap& message)
    {
        queue(protocol::encodeFrame(message));
        return flush(socket);
    }

    static bool sendFrame(QTcpSocket& socket, const QByteArray& frame)
    {
        // Straight to the kernel, as the requests are read; a reply larger than the socket's
        // buffer waits for room, up to 30 s in all.
        const int fd = static_cast<int>(socket.socketDescriptor());
        QElapsedTimer waited;
        waited.start();
        for (qsizetype written = 0; written < frame.size();) {
            const ssize_t n = ::send(fd, frame.constData() + written,
                                     static_cast<size_t>(frame.size() - written), MSG_NOSIGNAL);
            if (n > 0) {
                written += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                return false;
            const qint64 left = SendTimeoutMs - waited.elapsed();
            pollfd room{fd, POLLOUT, 0};
            if (left <= 0 || (::poll(&room, 1, static_cast<int>(left)) < 0 && errno != EINTR))
                return false;
        }
        return true;
    }

    qintptr m_descriptor;
    QByteArray m_unsent;
    QString m_path;
    std::shared_ptr<Trace> m_trace;
    int m_number;
    ServerLimits m_limits;
    std::shared_ptr<ConnectionState> m_state;
    const QAtomicInt& m_stopping;
};

} // namespace

Server::Server(QString databasePath, QObject* parent) : QTcpServer(parent), m_path(std::move(databasePath)) {}

Server::~Server()
{
    stop();
}

void Server::stop()
{
    close();
    m_stopping.storeRelaxed(1);
    for (const Worker& worker : std::as_const(m_workers))
        if (worker.thread)
            worker.thread->wait();
    m_workers.clear();
}

bool Server::evictIdlest()
{
    const qint64 now = nowMs();
    ConnectionState* idlest = nullptr;
    qint64 longest = -1;
    for (const Worker& worker : std::as_const(m_workers)) {
        ConnectionState& state = *worker.state;
        if (state.busy.load() || state.evict.load())
            continue;
        const qint64 idle = now - state.lastActiveMs.load();
        if (idle > longest) {
            longest = idle;
            idlest = &state;
        }
    }
    if (!idlest)
        return false;
    idlest->evict.store(true);
    return true;
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    m_workers.removeIf([](const Worker& worker) { return !worker.thread || worker.thread->isFinished(); });
    // A connection told to close still runs for a moment; its slot is already free.
    qsizetype taken = 0;
    for (const Worker& worker : std::as_const(m_workers))
        if (!worker.state->evict.load())
            ++taken;
    if (taken >= m_limits.maxConnections && !evictIdlest()) {
        QTcpSocket refused;
        refused.setSocketDescriptor(socketDescriptor);
        refused.write(protocol::encodeFrame(
            protocol::errorReply(0, protocol::error::BadFrame, QStringLiteral("Zu viele Verbindungen"))));
        refused.waitForBytesWritten(1000);
        return;
    }
    auto state = std::make_shared<ConnectionState>();
    auto* worker =
        new ConnectionWorker(socketDescriptor, m_path, m_trace, ++m_connections, m_limits, state, m_stopping);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    m_workers.append({worker, state});
    worker->start();
}

} // namespace erpsim
