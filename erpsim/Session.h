#pragma once

#include "MInterpreter.h"
#include "Storage.h"

#include <QCborMap>
#include <QHash>
#include <QSqlQuery>
#include <memory>
#include <optional>

namespace cacheclient::protocol {
class PlainMap;
}

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
    // Opens and calls read in place, what a list asks for each row. Nothing when the request is
    // anything else or not fully well formed: the general way then handles it and its faults.
    std::optional<Reply> handlePlain(const cacheclient::protocol::PlainMap& request);
    bool greeted() const { return m_greeted; }
    // Work done while the client has asked nothing: a small step of reading ahead the rows of
    // the query it streams. True while such work remains; a request should not wait long for it.
    bool workAhead();

    static constexpr int MaxOpenQueries = 256;
    static constexpr int MaxBatch = 10000;
    static constexpr int MaxCallArguments = 64;
    static constexpr int ArticlesPerCall = 4;
    static constexpr int ReadAheadStep = 16;

private:
    QCborMap dispatch(const QString& op, const QCborMap& request, qint64 id);
    void traceRequest(const QString& op, const QCborMap& request);
    void traceRequest(const QString& op, QString className, QString name, const QStringList& args);
    // Runs a request's work and turns what it throws into the error reply.
    template <typename Work> Reply guarded(qint64 id, Work&& work);

    QByteArray open(const QString& className, const QString& id, qint64 requestId);
    QCborMap call(const QString& className, const QString& method, QStringList& args);
    // The method's return value; args may be changed.
    QString callMethod(const QString& className, const QString& method, QStringList& args);
    QCborMap prepare(const QString& className, const QString& queryName);
    QCborMap execute(qint64 handle, QStringList args, int batch, bool packed);
    // more: the client asks for the rows after those it was given.
    QCborMap fetch(qint64 handle, int batch, bool packed, bool more);
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
    // Open by id runs the same statement per class over and over, and writes the same names.
    struct OpenStatement
    {
        std::shared_ptr<ObjectStatement> statement;
        // The reply up to the first property's name: {class: ..., props: {; and each name, encoded.
        QByteArray head;
        QList<QByteArray> names;
    };
    QHash<QString, OpenStatement> m_openStatements;
    qint64 m_nextHandle = 1;
    // The query whose rows may be held ahead.
    qint64 m_aheadHandle = 0;

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
