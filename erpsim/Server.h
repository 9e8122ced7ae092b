#pragma once

#include <QAtomicInt>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QThread>
#include <memory>

namespace erpsim {

class Trace;

// velmor-erpd's listener. Every connection is served by a thread of its own with its own
// session, so a slow request of one client does not hold up the others.
class Server : public QTcpServer
{
    Q_OBJECT

public:
    explicit Server(QString databasePath, QObject* parent = nullptr);
    ~Server() override;

    void setTrace(std::shared_ptr<Trace> trace) { m_trace = std::move(trace); }
    // How long a connection may stay in the middle of a frame without new bytes.
    void setFrameTimeout(int ms) { m_frameTimeoutMs = ms; }
    void stop();

    static constexpr int MaxConnections = 64;

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QString m_path;
    std::shared_ptr<Trace> m_trace;
    int m_frameTimeoutMs = 10000;
    int m_connections = 0;
    QAtomicInt m_stopping = 0;
    QList<QPointer<QThread>> m_workers;
};

} // namespace erpsim
