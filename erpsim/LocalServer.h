#pragma once

#include "cacheclient/Factory.h"

#include <QString>
#include <memory>

namespace erpsim {

class Trace;

// The demo server inside the test process: each connected factory gets its own session over
// the same database, through the same request handling as the daemon, without a socket.
class LocalServer
{
public:
    explicit LocalServer(QString databasePath);
    ~LocalServer();

    // A creator for cacheclient::setFactoryCreator.
    cacheclient::FactoryCreator creator();
    std::shared_ptr<cacheclient::Factory> createFactory();

    // While unreachable, every connect fails and open links drop at their next request,
    // as with a stopped server.
    void setReachable(bool reachable);
    // Cuts every open link the way a server crash does: each still looks connected until its
    // next request fails; new connections work.
    void dropConnections();
    bool isReachable() const;
    // Writes a request trace, as velmor-erpd --trace does; an empty path stops it.
    void setTracePath(const QString& path);

    int connectCount() const;
    const QString& databasePath() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace erpsim
