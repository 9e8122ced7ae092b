#pragma once

#include "MInterpreter.h"
#include "Storage.h"

#include <QCborMap>
#include <QHash>
#include <QSqlQuery>
#include <memory>

namespace erpsim {

class Trace;
struct QueryDef;
class OpenQuery;
class ObjectStatement;

// The server side of one client connection: its own database connection, M variables,
// open result sets and article search. Requests arrive as protocol maps.
class Session : private MEnvironment
{
public:
    Session(const QString& databasePath, Trace* trace = nullptr, int connectionNumber = 0);
    ~Session() override;

    struct Reply
    {
        Reply(QCborMap message = {}, bool closeConnection = false)
            : message(std::move(message)), closeConnection(closeConnection)
        {
        }
        QCborMap message;
        // The request broke the protocol; the connection ends after this reply.
        bool closeConnection = false;
        // A reply already encoded (open by id); message is then empty.
        QByteArray payload;
    };
    Reply handle(const QCborMap& request);
    bool greeted() const { return m_greeted; }

    static constexpr int MaxOpenQueries = 256;
    static constexpr int MaxBatch = 10000;
    static constexpr int MaxCallArguments = 64;
    static constexpr int ArticlesPerCall = 4;

private:
    QCborMap dispatch(const QString& op, const QCborMap& request, qint64 id);
    void traceRequest(const QString& op, const QCborMap& request);

    QByteArray open(const QString& className, const QString& id, qint64 requestId);
    QCborMap call(const QString& className, const QString& method, QStringList& args);
    QCborMap prepare(const QString& className, const QString& queryName);
    QCborMap execute(qint64 handle, QStringList args, int batch);
    QCborMap fetch(qint64 handle, int batch);
    void closeQuery(qint64 handle);
    QString setDokument(const QStringList& args);

    // MEnvironment
    std::optional<QString> global(const QString& name, const QStringList& subscripts) override;
    QString doRoutine(const QString& label, const QString& routine, const QStringList& args) override;
    QString extrinsic(const QString& label, const QString& routine, const QStringList& args) override;

    QSqlQuery run(const QString& sql, const QVariantList& binds);
    QString groupList(const QString& sql, const QVariantList& binds);
    QString articleBatch();

    Storage m_storage;
    Trace* m_trace;
    int m_connection;
    bool m_greeted = false;
    MInterpreter m_m;
    QHash<qint64, std::shared_ptr<OpenQuery>> m_queries;
    // Open by id runs the same statement per class over and over.
    QHash<QString, std::shared_ptr<ObjectStatement>> m_openStatements;
    qint64 m_nextHandle = 1;

    struct ArticleSearch
    {
        bool active = false;
        QString where;
        QVariantList binds;
        QString lastKbez;
        QString lastNr;
        bool finished = true;
    };
    ArticleSearch m_articles;
};

} // namespace erpsim
