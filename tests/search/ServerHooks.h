#pragma once

// A factory around the in-process demo server that records what the program sends and lets a
// test act while a call waits (as window events do), answer M lines itself, or fail a query.

#include "cacheclient/Factory.h"

#include <QStringList>
#include <functional>
#include <optional>

struct ServerHooks
{
    struct Query
    {
        QString name;
        QStringList args;
    };

    QStringList commands;
    QList<Query> queries;
    // Runs while an M line waits for its answer.
    std::function<void(const QString& command)> duringCommand;
    // Runs while a query's execute waits.
    std::function<void(const QString& query)> duringQuery;
    // Answers an M line instead of the server when it returns a value.
    std::function<std::optional<QString>(const QString& command)> answer;
    // The named query fails after this many rows (0: at execute).
    QString failingQuery;
    int failAfterRows = -1;
    // The named query delivers no rows.
    QString emptyQuery;
    // The named query delivers this many made-up rows ("1", "KBEZ 1", …) instead of the server's.
    QString madeUpQuery;
    int madeUpRows = 0;
    // Rows fetched through next(), over all queries.
    int rowsFetched = 0;

    QStringList queryNames() const;
    int countCommands(const QString& prefix) const;
    void reset();
};

ServerHooks& hooks();
// Routes every factory the program creates through the hooks.
void installHookedServer();
