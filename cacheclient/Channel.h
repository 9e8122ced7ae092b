#pragma once

#include "ConnectString.h"

#include <QCborMap>

namespace cacheclient {

// One request/reply link to a server: the network socket, or an in-process engine.
class Channel
{
public:
    virtual ~Channel() = default;

    virtual bool open(const ConnectTarget& target) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Sends a request and returns its reply; a reply carrying an error, a lost connection
    // or a malformed reply throws CacheError.
    virtual QCborMap request(QCborMap message) = 0;
    // Sends a request whose reply nobody waits for (closing a query).
    virtual void post(QCborMap message) = 0;
};

// Throws the CacheError a reply carries, if any.
void throwIfError(const QCborMap& reply);

} // namespace cacheclient
