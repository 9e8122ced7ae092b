#pragma once

#include "ConnectString.h"
#include "Protocol.h"

#include <QCborMap>
#include <QHash>
#include <QList>
#include <QStringList>
#include <exception>
#include <optional>
#include <utility>

namespace cacheclient {

// An object's properties, names and values as the server sent them, in its order. Most objects
// are read for one or two of them: a reply read in place keeps its bytes, and a value becomes a
// text when it is asked for.
class Properties
{
public:
    Properties() = default;
    explicit Properties(QList<std::pair<QString, QString>> pairs) : m_pairs(std::move(pairs)) {}
    // map: a Map item of reply.
    Properties(protocol::PlainMap reply, const protocol::PlainItem& map)
        : m_reply(std::move(reply)), m_map(map)
    {
    }

    QStringList names() const;
    // The value under a name, the server's own spelling first, then regardless of case.
    std::optional<QString> value(const QString& name) const;

private:
    QList<std::pair<QString, QString>> m_pairs;
    std::optional<protocol::PlainMap> m_reply;
    protocol::PlainItem m_map;
};

struct OpenReply
{
    QString className;
    Properties props;
};

struct CallReply
{
    QString ret;
    QStringList args;
};

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

    // Puts a request on its way and returns a ticket for its reply, so that the next request can
    // leave before this reply is read. A channel that cannot keep requests in flight runs it at
    // once; either way the server sees requests in the order they were submitted.
    virtual qint64 submit(QCborMap message);
    // The reply of a submitted request; throws as request() would.
    virtual QCborMap reply(qint64 ticket);
    // Drops a submitted request's reply unread.
    virtual void forget(qint64 ticket);

    // Opens and calls, what a list asks for each row, submitted and taken as their fields. A
    // channel that sends frames writes and reads them without maps in between; the defaults
    // go through submit() and reply().
    virtual qint64 submitOpen(const QString& className, const QString& id);
    virtual OpenReply takeOpen(qint64 ticket);
    virtual qint64 submitCall(const QString& className, const QString& method, const QStringList& args);
    virtual CallReply takeCall(qint64 ticket);

    // Requests submitted while sends are held leave together in one write, when the last hold
    // is released or a reply is waited for. Holds nest; a channel without a wire ignores them.
    virtual void holdSends() {}
    virtual void releaseSends() {}

private:
    struct Done
    {
        QCborMap reply;
        std::exception_ptr error;
    };
    QHash<qint64, Done> m_done;
    qint64 m_nextTicket = 1;
};

// Throws the CacheError a reply carries, if any.
void throwIfError(const QCborMap& reply);

// The fields of an open's or a call's request and reply, as maps carry them.
QCborMap openRequest(const QString& className, const QString& id);
QCborMap callRequest(const QString& className, const QString& method, const QStringList& args);
OpenReply openReplyOf(const QCborMap& reply);
CallReply callReplyOf(const QCborMap& reply);

} // namespace cacheclient
