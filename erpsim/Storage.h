#pragma once

#include <QSqlDatabase>
#include <QString>

namespace erpsim {

// One SQLite connection to the demo ERP database, owned by the thread that opened it.
class Storage
{
public:
    // Opens (and creates the schema of) the database at path. Throws CacheError when the
    // file cannot be opened.
    explicit Storage(const QString& path);
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    QSqlDatabase& db() { return m_db; }
    const QString& path() const { return m_path; }

    static void createSchema(QSqlDatabase& db);

private:
    QString m_path;
    QString m_connectionName;
    QSqlDatabase m_db;
};

// Runs one statement; throws CacheError with the SQL error on failure.
void exec(QSqlDatabase& db, const QString& sql);

} // namespace erpsim
