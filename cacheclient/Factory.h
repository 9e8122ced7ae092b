#pragma once

#include "CacheError.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace cacheclient {

// A reply asked for ahead: the request may already be on its way. take() gives the result or
// throws as the direct call would; a pending reply never taken is dropped.
template <typename T> class Pending
{
public:
    virtual ~Pending() = default;
    virtual T take() = 0;
};

class CacheObject;
using PendingObject = Pending<std::unique_ptr<CacheObject>>;
using PendingText = Pending<QString>;

// A stored object opened by id, or a class object on which class methods are called.
// Property and method names resolve case-insensitively, as the ERP's callers spell them
// in mixed ways (EMailLogicalToODBC of EMAIL).
class CacheObject
{
public:
    virtual ~CacheObject() = default;

    virtual QString className() const = 0;
    // Empty for a class object.
    virtual QString id() const = 0;
    // Throws CacheError when the object has no such property (or is a class object).
    virtual QString property(const QString& name) const = 0;
    // The properties a stored object arrived with, as the server spells them.
    virtual QStringList propertyNames() const = 0;
    // A class method; args are passed by reference and may be changed by the server.
    virtual QString call(const QString& method, QStringList& args) = 0;
    // sys_Close; further use throws.
    virtual void close() = 0;

    QString call(const QString& method, const QString& arg);
    QString call(const QString& method);

    // The call put on its way now, its result taken later; arguments changed by the server are
    // not returned. By default the call is made when the result is taken.
    virtual std::unique_ptr<PendingText> callAhead(const QString& method, const QStringList& args);
};

// A class query. Column and parameter numbers are 1-based.
class ResultSet
{
public:
    virtual ~ResultSet() = default;

    static constexpr int MaxArguments = 9;

    // At most nine arguments; missing ones are empty texts.
    virtual void execute(const QStringList& args) = 0;
    // True while a row was fetched, false after the last.
    virtual bool next() = 0;
    virtual int columnCount() const = 0;
    // Value of the current row; throws without a current row or for a column out of range.
    virtual QString columnValue(int column) const = 0;
    // The value of the row after the current one when the client holds it already, so reading
    // it asks the server nothing; none otherwise.
    virtual std::optional<QString> heldNextValue(int column) const
    {
        Q_UNUSED(column)
        return std::nullopt;
    }
    virtual QString columnName(int column) const = 0;
    virtual int parameterCount() const = 0;
    virtual QString parameterName(int parameter) const = 0;
    // Number of the column holding the row's object id; 0 when there is none.
    virtual int keyColumn() const = 0;
    virtual void close() = 0;
};

class Factory
{
public:
    virtual ~Factory() = default;

    // connectString is "cn_iptcp:" host "[" port "]:" namespace; passed by reference as
    // the server's client does. Returns false when no connection could be made.
    virtual bool connect(QString& connectString) = 0;
    virtual bool isConnected() const = 0;
    virtual void disconnect() = 0;

    virtual std::unique_ptr<CacheObject> openId(const QString& className, const QString& id) = 0;
    // Open by id put on its way now, the object taken later. By default the object is opened
    // when it is taken.
    virtual std::unique_ptr<PendingObject> openIdAhead(const QString& className, const QString& id);
    virtual std::unique_ptr<CacheObject> classObject(const QString& className) = 0;
    virtual std::unique_ptr<ResultSet> resultSet(const QString& className, const QString& queryName) = 0;

    // See SendTogether.
    virtual void holdSends() {}
    virtual void releaseSends() {}
};

// Requests put on their way (callAhead, openIdAhead) within its lifetime leave in one write when
// it ends, or earlier when a reply is waited for: the server reads them at once and answers
// them together, one wake-up on each side instead of one per request.
class SendTogether
{
public:
    explicit SendTogether(Factory& factory) : m_factory(factory) { m_factory.holdSends(); }
    ~SendTogether() { m_factory.releaseSends(); }
    SendTogether(const SendTogether&) = delete;
    SendTogether& operator=(const SendTogether&) = delete;

private:
    Factory& m_factory;
};

using FactoryCreator = std::function<std::shared_ptr<Factory>()>;

// Creates a new factory, as "CacheObject.Factory" would. Production creates a network
// factory; tests put an in-process one in its place.
std::shared_ptr<Factory> createFactory();
// Replaces the creation function; an empty creator restores the network factory.
void setFactoryCreator(FactoryCreator creator);

} // namespace cacheclient
