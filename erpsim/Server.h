#pragma once

#include <QAtomicInt>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QThread>
#include <memory>

namespace erpsim {

class Trace;
struct ConnectionState;

// What velmor-erpd allows each connection, so that no client holds a slot the others need.
struct ServerLimits
{
    int maxConnections = 64;
    // From accept to a completed hello.
    int helloTimeoutMs = 5000;
    // Without a byte from the client; real clients disconnect after 60 s idle.
    int idleTimeoutMs = 300000;
    // In the middle of a frame without new bytes.
    int frameTimeoutMs = 10000;
};

// velmor-erpd's listener. Every connection is served by a thread of its own with its own
// session, so a slow request of one client does not hold up the others. When every slot is
// taken, the connection idle the longest makes room for a newcomer.
class Server : public QTcpServer
{
    Q_OBJECT

public:
    explicit Server(QString databasePath, QObject* parent = nullptr);
    ~Server() override;

    void setTrace(std::shared_ptr<Trace> trace) { m_trace = std::move(trace); }
    void setLimits(const ServerLimits& limits) { m_limits = limits; }
    const ServerLimits& limits() const { return m_limits; }
    void setFrameTimeout(int ms) { m_limits.frameTimeoutMs = ms; }
    void stop();

    static constexpr int MaxConnections = 64;

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    struct Worker
    {
        QPointer<QThread> thread;
        std::shared_ptr<ConnectionState> state;
    };
    // Asks the idle-longest connection to close; false when every connection is busy.
    bool evictIdlest();

    QString m_path;
    std::shared_ptr<Trace> m_trace;
    ServerLimits m_limits;
    int m_connections = 0;
    QAtomicInt m_stopping = 0;
    QList<Worker> m_workers;
};

} // namespace erpsim
