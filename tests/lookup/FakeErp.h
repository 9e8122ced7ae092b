#pragma once

// A scripted query source for the lookup tests: queries with chosen parameters, columns, key
// column and rows, recording every argument list they are executed with.

#include "cacheclient/Factory.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <functional>

struct FakeQueryDef
{
    QStringList params;
    QStringList columns;
    int keyColumn = 1;
    QList<QStringList> rows;
    // The next row is held as a network result set holds it: readable without the server.
    bool holdsNextRow = false;
};

struct FakeLog
{
    QList<QStringList> executed;
    int created = 0;
    int closed = 0;
    int rowsRead = 0;
};

class FakeResultSet : public cacheclient::ResultSet
{
public:
    // The hooks are the factory's, so a test may change them while the query is open.
    FakeResultSet(FakeQueryDef def, FakeLog& log, const std::function<void(const QStringList&)>& onExecute,
                  const std::function<void()>& onNext)
        : m_def(std::move(def)), m_log(log), m_onExecute(onExecute), m_onNext(onNext)
    {
    }

    void execute(const QStringList& args) override
    {
        if (m_closed)
            throw cacheclient::CacheError(cacheclient::ClientError::Closed, "Abfrage ist geschlossen");
        m_log.executed << args;
        m_position = -1;
        m_executed = false;
        if (m_onExecute)
            m_onExecute(args);
        m_executed = true;
    }
    bool next() override
    {
        if (!m_executed)
            throw cacheclient::CacheError(cacheclient::ClientError::Closed, "nicht ausgeführt");
        if (m_onNext)
            m_onNext();
        if (m_position + 1 >= m_def.rows.size()) {
            m_position = static_cast<int>(m_def.rows.size());
            return false;
        }
        ++m_position;
        ++m_log.rowsRead;
        return true;
    }
    int columnCount() const override { return static_cast<int>(m_def.columns.size()); }
    QString columnValue(int column) const override
    {
        if (m_position < 0 || m_position >= m_def.rows.size())
            throw cacheclient::CacheError(cacheclient::ClientError::BadArgument, "Keine aktuelle Zeile");
        return m_def.rows.at(m_position).value(column - 1);
    }
    std::optional<QString> heldNextValue(int column) const override
    {
        if (!m_def.holdsNextRow || m_position < 0 || m_position + 1 >= m_def.rows.size())
            return std::nullopt;
        return m_def.rows.at(m_position + 1).value(column - 1);
    }
    QString columnName(int column) const override { return m_def.columns.value(column - 1); }
    int parameterCount() const override { return static_cast<int>(m_def.params.size()); }
    QString parameterName(int parameter) const override { return m_def.params.value(parameter - 1); }
    int keyColumn() const override { return m_def.keyColumn; }
    void close() override
    {
        if (!m_closed)
            ++m_log.closed;
        m_closed = true;
    }

private:
    FakeQueryDef m_def;
    FakeLog& m_log;
    const std::function<void(const QStringList&)>& m_onExecute;
    const std::function<void()>& m_onNext;
    int m_position = -1;
    bool m_executed = false;
    bool m_closed = false;
};

class FakeFactory : public cacheclient::Factory
{
public:
    QHash<QString, FakeQueryDef> queries; // "Class:Query"
    FakeLog log;
    // May throw CacheError to fail an execution.
    std::function<void(const QStringList&)> onExecute;
    std::function<void()> onNext;

    void add(const QString& className, const QString& queryName, FakeQueryDef def)
    {
        queries.insert(className + u':' + queryName, std::move(def));
    }

    bool connect(QString&) override { return true; }
    bool isConnected() const override { return true; }
    void disconnect() override {}
    std::unique_ptr<cacheclient::CacheObject> openId(const QString& className, const QString& id) override
    {
        throw cacheclient::CacheError(
            5809, QStringLiteral("Objekt %1 mit Id \"%2\" nicht gefunden").arg(className, id));
    }
    std::unique_ptr<cacheclient::CacheObject> classObject(const QString& className) override
    {
        throw cacheclient::CacheError(5802, QStringLiteral("Klasse %1 gibt es nicht").arg(className));
    }
    std::unique_ptr<cacheclient::ResultSet> resultSet(const QString& className,
                                                      const QString& queryName) override
    {
        const auto it = queries.constFind(className + u':' + queryName);
        if (it == queries.constEnd())
            throw cacheclient::CacheError(
                5803, QStringLiteral("Abfrage %1 %2 gibt es nicht").arg(className, queryName));
        ++log.created;
        return std::make_unique<FakeResultSet>(*it, log, onExecute, onNext);
    }
};

// Rows "1".."count": key "K<n>", then the number and a name.
inline FakeQueryDef numberedRows(int count, const QStringList& params = {"Firma"})
{
    FakeQueryDef def{params, {"ID", "Nr", "Name"}, 1, {}};
    for (int i = 1; i <= count; ++i)
        def.rows << QStringList{QStringLiteral("K%1").arg(i), QString::number(i),
                                QStringLiteral("Name %1").arg(i)};
    return def;
}
