#pragma once

#include <QList>
#include <QPair>
#include <QStringList>
#include <QVariantList>
#include <functional>

namespace erpsim {

// A stored class: its table, the columns its "||"-joined id names, and its properties.
struct StoredClass
{
    struct KeyPart
    {
        QString column;
        bool numeric;
    };
    QString name;
    QString table;
    QList<KeyPart> key;
    // Property name as the ERP spells it, and the SQL expression that reads it.
    QList<QPair<QString, QString>> properties;
};

struct QueryPlan
{
    QString sql;
    QVariantList binds;
};

// A class query: what the client sees (parameters, columns, key column) and how it runs.
struct QueryDef
{
    QString className;
    QString name;
    QStringList params;
    QStringList columns;
    int keyColumn = 0;
    // Gets exactly params.size() arguments; throws CacheError for an unusable argument.
    std::function<QueryPlan(const QStringList& args)> plan;
};

namespace Catalog {
const StoredClass* findClass(const QString& name);
const QueryDef* findQuery(const QString& className, const QString& queryName);
// Every class the server knows, with or without stored objects.
bool classExists(const QString& name);
} // namespace Catalog

} // namespace erpsim
