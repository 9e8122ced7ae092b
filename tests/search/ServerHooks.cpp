#include "ServerHooks.h"

#include "common/TestSupport.h"
#include "erpsim/LocalServer.h"

using cacheclient::CacheError;

namespace {

constexpr int InjectedError = 5001;

class HookedObject : public cacheclient::CacheObject
{
public:
    explicit HookedObject(std::unique_ptr<cacheclient::CacheObject> inner) : m_inner(std::move(inner)) {}
    QString className() const override { return m_inner->className(); }
    QString id() const override { return m_inner->id(); }
    QString property(const QString& name) const override { return m_inner->property(name); }
    QStringList propertyNames() const override { return m_inner->propertyNames(); }
    QString call(const QString& method, QStringList& args) override
    {
        if (method.compare(QLatin1String("Xecute"), Qt::CaseInsensitive) == 0 && !args.isEmpty()) {
            const QString command = args.first();
            hooks().commands << command;
            if (hooks().duringCommand)
                hooks().duringCommand(command);
            if (hooks().answer)
                if (std::optional<QString> given = hooks().answer(command))
                    return *given;
        }
        return m_inner->call(method, args);
    }
    void close() override { m_inner->close(); }

private:
    std::unique_ptr<cacheclient::CacheObject> m_inner;
};

class HookedResultSet : public cacheclient::ResultSet
{
public:
    HookedResultSet(QString name, std::unique_ptr<cacheclient::ResultSet> inner)
        : m_name(std::move(name)), m_inner(std::move(inner))
    {
    }
    void execute(const QStringList& args) override
    {
        hooks().queries.append({m_name, args});
        if (hooks().duringQuery)
            hooks().duringQuery(m_name);
        failIfDue();
        m_inner->execute(args);
    }
    bool next() override
    {
        failIfDue();
        if (hooks().emptyQuery == m_name)
            return false;
        const bool madeUp = hooks().madeUpQuery == m_name;
        const bool more = madeUp ? m_rows < hooks().madeUpRows : m_inner->next();
        if (more) {
            ++m_rows;
            ++hooks().rowsFetched;
        }
        return more;
    }
    int columnCount() const override { return m_inner->columnCount(); }
    QString columnValue(int column) const override
    {
        if (hooks().madeUpQuery != m_name)
            return m_inner->columnValue(column);
        return column == 1 ? QString::number(m_rows) : QStringLiteral("FELD%1 %2").arg(column).arg(m_rows);
    }
    QString columnName(int column) const override { return m_inner->columnName(column); }
    int parameterCount() const override { return m_inner->parameterCount(); }
    QString parameterName(int parameter) const override { return m_inner->parameterName(parameter); }
    int keyColumn() const override { return m_inner->keyColumn(); }
    void close() override { m_inner->close(); }

private:
    void failIfDue()
    {
        if (hooks().failingQuery == m_name && hooks().failAfterRows == m_rows)
            throw CacheError(InjectedError, QStringLiteral("Abfrage %1 abgebrochen").arg(m_name));
    }

    QString m_name;
    std::unique_ptr<cacheclient::ResultSet> m_inner;
    int m_rows = 0;
};

class HookedFactory : public ForwardingFactory
{
public:
    using ForwardingFactory::ForwardingFactory;
    std::unique_ptr<cacheclient::CacheObject> classObject(const QString& className) override
    {
        return std::make_unique<HookedObject>(m_inner->classObject(className));
    }
    std::unique_ptr<cacheclient::ResultSet> resultSet(const QString& className,
                                                      const QString& queryName) override
    {
        return std::make_unique<HookedResultSet>(queryName, m_inner->resultSet(className, queryName));
    }
};

} // namespace

QStringList ServerHooks::queryNames() const
{
    QStringList names;
    for (const Query& q : queries)
        names << q.name;
    return names;
}

int ServerHooks::countCommands(const QString& prefix) const
{
    int n = 0;
    for (const QString& c : commands)
        if (c.startsWith(prefix))
            ++n;
    return n;
}

void ServerHooks::reset()
{
    *this = ServerHooks();
}

ServerHooks& hooks()
{
    static ServerHooks instance;
    return instance;
}

void installHookedServer()
{
    cacheclient::setFactoryCreator(
        [] { return std::make_shared<HookedFactory>(demoServer().createFactory()); });
}
