#include "LocalServer.h"

#include "Session.h"
#include "Trace.h"
#include "cacheclient/ChannelFactory.h"
#include "cacheclient/Protocol.h"

#include <QCborValue>

namespace erpsim {

namespace key = cacheclient::protocol::key;

struct LocalServer::State
{
    QString path;
    bool reachable = true;
    int connects = 0;
    int generation = 0;
    std::unique_ptr<Trace> trace;
};

namespace {

class LocalChannel : public cacheclient::Channel
{
public:
    explicit LocalChannel(std::shared_ptr<LocalServer::State> state) : m_state(std::move(state)) {}

    bool open(const cacheclient::ConnectTarget&) override
    {
        m_session.reset();
        if (!m_state->reachable)
            return false;
        m_session = std::make_unique<Session>(m_state->path, m_state->trace.get(), ++m_state->connects);
        m_generation = m_state->generation;
        QCborMap hello;
        hello.insert(key::Op, cacheclient::protocol::op::Hello);
        hello.insert(key::Version, cacheclient::protocol::Version);
        try {
            request(hello);
        } catch (const cacheclient::CacheError&) {
            m_session.reset();
            return false;
        }
        return true;
    }

    bool isOpen() const override { return m_session && m_state->reachable; }

    void close() override { m_session.reset(); }

    QCborMap request(QCborMap message) override
    {
        if (!isOpen() || m_generation != m_state->generation) {
            m_session.reset();
            throw cacheclient::CacheError(cacheclient::ClientError::ConnectionLost,
                                          QStringLiteral("Verbindung zum Server unterbrochen"));
        }
        message.insert(key::Id, ++m_nextId);
        const Session::Reply reply = m_session->handle(message);
        if (reply.closeConnection)
            m_session.reset();
        const QCborMap answer =
            reply.payload.isEmpty() ? reply.message : QCborValue::fromCbor(reply.payload).toMap();
        cacheclient::throwIfError(answer);
        return answer;
    }

    void post(QCborMap message) override
    {
        if (!isOpen())
            return;
        try {
            request(std::move(message));
        } catch (const cacheclient::CacheError&) {
        }
    }

private:
    std::shared_ptr<LocalServer::State> m_state;
    std::unique_ptr<Session> m_session;
    qint64 m_nextId = 0;
    int m_generation = 0;
};

} // namespace

LocalServer::LocalServer(QString databasePath) : m_state(std::make_shared<State>())
{
    m_state->path = std::move(databasePath);
}

LocalServer::~LocalServer() = default;

cacheclient::FactoryCreator LocalServer::creator()
{
    auto state = m_state;
    return [state]() -> std::shared_ptr<cacheclient::Factory> {
        return std::make_shared<cacheclient::ChannelFactory>(std::make_shared<LocalChannel>(state));
    };
}

std::shared_ptr<cacheclient::Factory> LocalServer::createFactory()
{
    return creator()();
}

void LocalServer::dropConnections()
{
    ++m_state->generation;
}

void LocalServer::setReachable(bool reachable)
{
    m_state->reachable = reachable;
}

bool LocalServer::isReachable() const
{
    return m_state->reachable;
}

void LocalServer::setTracePath(const QString& path)
{
    if (path.isEmpty())
        m_state->trace.reset();
    else
        m_state->trace = std::make_unique<Trace>(path);
}

int LocalServer::connectCount() const
{
    return m_state->connects;
}

const QString& LocalServer::databasePath() const
{
    return m_state->path;
}

} // namespace erpsim
