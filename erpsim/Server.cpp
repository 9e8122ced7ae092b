#include "Server.h"

#include "Session.h"
#include "Trace.h"
#include "cacheclient/CacheError.h"
#include "cacheclient/Protocol.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace erpsim {

namespace protocol = cacheclient::protocol;

namespace {

class ConnectionWorker : public QThread
{
public:
    ConnectionWorker(qintptr descriptor, QString path, std::shared_ptr<Trace> trace, int number, int frameTimeoutMs,
                     const QAtomicInt& stopping)
        : m_descriptor(descriptor), m_path(std::move(path)), m_trace(std::move(trace)), m_number(number),
          m_frameTimeoutMs(frameTimeoutMs), m_stopping(stopping)
    {
    }

protected:
    void run() override
    {
        QTcpSocket socket;
        if (!socket.setSocketDescriptor(m_descriptor))
            return;
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);

        std::unique_ptr<Session> session;
        try {
            session = std::make_unique<Session>(m_path, m_trace.get(), m_number);
        } catch (const cacheclient::CacheError& error) {
            send(socket, protocol::errorReply(0, error.number(), error.description()));
            return;
        }

        protocol::FrameReader reader(protocol::MaxRequestFrame);
        QElapsedTimer sinceBytes;
        sinceBytes.start();
        while (!m_stopping.loadRelaxed()) {
            if (!socket.bytesAvailable() && !socket.waitForReadyRead(200)) {
                if (socket.state() != QAbstractSocket::ConnectedState)
                    return;
                if (reader.midFrame() && sinceBytes.elapsed() > m_frameTimeoutMs) {
                    send(socket, protocol::errorReply(0, protocol::error::Truncated,
                                                      QStringLiteral("Unvollständige Anfrage, Verbindung beendet")));
                    return;
                }
                continue;
            }
            sinceBytes.restart();
            reader.append(socket.readAll());
            for (;;) {
                QCborMap request;
                const auto status = reader.next(request);
                if (status == protocol::FrameReader::Status::NeedMore)
                    break;
                if (status == protocol::FrameReader::Status::Error) {
                    send(socket, protocol::errorReply(0, reader.errorNumber(), reader.errorText()));
                    return;
                }
                const Session::Reply reply = session->handle(request);
                if (!send(socket, reply.message) || reply.closeConnection)
                    return;
            }
        }
    }

private:
    static bool send(QTcpSocket& socket, const QCborMap& message)
    {
        socket.write(protocol::encodeFrame(message));
        // Most replies fit the kernel's buffer at once; only the rest needs a blocking wait.
        socket.flush();
        while (socket.bytesToWrite() > 0) {
            if (!socket.waitForBytesWritten(30000))
                return false;
        }
        return true;
    }

    qintptr m_descriptor;
    QString m_path;
    std::shared_ptr<Trace> m_trace;
    int m_number;
    int m_frameTimeoutMs;
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
    for (const QPointer<QThread>& worker : std::as_const(m_workers))
        if (worker)
            worker->wait();
    m_workers.clear();
}

void Server::incomingConnection(qintptr socketDescriptor)
{
    m_workers.removeAll(nullptr);
    int running = 0;
    for (const QPointer<QThread>& worker : std::as_const(m_workers))
        if (worker && worker->isRunning())
            ++running;
    if (running >= MaxConnections) {
        QTcpSocket refused;
        refused.setSocketDescriptor(socketDescriptor);
        refused.write(protocol::encodeFrame(protocol::errorReply(0, protocol::error::BadFrame,
                                                                 QStringLiteral("Zu viele Verbindungen"))));
        refused.waitForBytesWritten(1000);
        return;
    }
    auto* worker = new ConnectionWorker(socketDescriptor, m_path, m_trace, ++m_connections, m_frameTimeoutMs, m_stopping);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    m_workers.append(worker);
    worker->start();
}

} // namespace erpsim
