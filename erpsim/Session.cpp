#include "Session.h"

#include "Catalog.h"
#include "ErpText.h"
#include "ServerErrors.h"
#include "Trace.h"
#include "cacheclient/Factory.h"
#include "cacheclient/Protocol.h"
#include "cacheclient/RowCells.h"

#include <QCborArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVarLengthArray>
#include <algorithm>
#include <charconv>
#include <exception>
#include <new>
#include <sqlite3.h>

namespace erpsim {

namespace key = cacheclient::protocol::key;
namespace op = cacheclient::protocol::op;
namespace perr = cacheclient::protocol::error;

// A query whose cursor stays open between fetches.
class OpenQuery
{
public:
    explicit OpenQuery(const QueryDef* def) : def(def) {}
    const QueryDef* def;
    std::unique_ptr<ObjectStatement> cursor;
    bool end = true;
    // A step has given a row since the last execute.
    bool stepped = false;
    // Rows read ahead of the client's next fetch, packed, and where in `ahead` each one ends.
    QByteArray ahead;
    QList<qsizetype> aheadEnds;
    // How many rows to hold ahead; 0 while the client is not streaming this query.
    qsizetype aheadWanted = 0;
    // Reading ahead ran out of memory in the middle of a row: the rows cannot go on whole.
    bool broken = false;

    void restart(std::unique_ptr<ObjectStatement> newCursor);

    bool atEnd() const { return end && aheadEnds.isEmpty(); }

    // Appends the cursor's next row to cells; false after the last.
    bool readRow(QByteArray& cells);

    // Up to `batch` rows into cells, those read ahead first; returns how many.
    qint64 take(int batch, QByteArray& cells)
    {
        qint64 count = 0;
        if (!aheadEnds.isEmpty()) {
            count = qMin<qsizetype>(batch, aheadEnds.size());
            const qsizetype bytes = aheadEnds.at(count - 1);
            if (count == aheadEnds.size()) {
                cells.swap(ahead);
                ahead.clear();
                aheadEnds.clear();
            } else {
                cells = ahead.left(bytes);
                ahead.remove(0, bytes);
                aheadEnds.remove(0, count);
                for (qsizetype& at : aheadEnds)
                    at -= bytes;
            }
        }
        for (; count < batch; ++count) {
            if (count == 0 && cells.isEmpty() && !end)
                cells.reserve(qsizetype(batch) * def->columns.size() * 16);
            if (!readRow(cells))
                break;
        }
        return count;
    }
};

namespace {

// Decoded empty texts come back null, and a null text binds as SQL NULL, which matches nothing.
QString nonNull(QString text)
{
    return text.isNull() ? QString("") : text;
}

// A request that breaks the protocol ends the connection.
struct ProtocolViolation
{
    int number;
    QString text;
};

QString requireText(const QCborMap& request, const QString& field)
{
    const QCborValue value = request.value(field);
    if (!value.isString())
        throw ProtocolViolation{perr::BadFrame, QStringLiteral("Feld \"%1\" muss ein Text sein").arg(field)};
    return nonNull(value.toString());
}

qint64 requireInteger(const QCborMap& request, const QString& field, qint64 min, qint64 max)
{
    const QCborValue value = request.value(field);
    if (!value.isInteger() || value.toInteger() < min || value.toInteger() > max)
        throw ProtocolViolation{
            perr::BadFrame,
            QStringLiteral("Feld \"%1\" muss eine Zahl von %2 bis %3 sein").arg(field).arg(min).arg(max)};
    return value.toInteger();
}

QStringList requireTexts(const QCborMap& request, const QString& field, qsizetype max)
{
    const QCborValue value = request.value(field);
    if (value.isUndefined())
        return {};
    if (!value.isArray() || value.toArray().size() > max)
        throw ProtocolViolation{
            perr::BadFrame,
            QStringLiteral("Feld \"%1\" muss eine Liste von höchstens %2 Texten sein").arg(field).arg(max)};
    QStringList texts;
    for (const QCborValue& item : value.toArray()) {
        if (!item.isString())
            throw ProtocolViolation{perr::BadFrame,
                                    QStringLiteral("Feld \"%1\" enthält etwas anderes als Text").arg(field)};
        texts << nonNull(item.toString());
    }
    return texts;
}

QCborArray toArray(const QStringList& texts)
{
    QCborArray array;
    for (const QString& t : texts)
        array.append(t);
    return array;
}

QString text(const QVariant& value)
{
    return value.isNull() ? QString() : value.toString();
}

bool equalsIgnoreCase(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

Session::Session(const QString& databasePath, Trace* trace, int connectionNumber)
    : m_storage(databasePath), m_trace(trace), m_connection(connectionNumber), m_m(*this)
{
}

Session::~Session()
{
    // Statements must go before the database connection they belong to.
    m_queries.clear();
    m_openStatements.clear();
}

template <typename Work> Session::Reply Session::guarded(qint64 id, Work&& work)
{
    try {
        return work();
    } catch (const ProtocolViolation& violation) {
        return {cacheclient::protocol::errorReply(id, violation.number, violation.text), true};
    } catch (const cacheclient::CacheError& error) {
        return {cacheclient::protocol::errorReply(id, error.number(), error.description()), false};
    } catch (const std::bad_alloc&) {
        // One request that exhausts memory fails alone; what it built is already released.
        return {cacheclient::protocol::errorReply(
                    id, ServerError::MError,
                    QStringLiteral("M-Fehler <STORE> Speicher für diese Anfrage erschöpft")),
                false};
    } catch (const std::exception& error) {
        return {cacheclient::protocol::errorReply(
                    id, ServerError::Internal,
                    QStringLiteral("Interner Fehler: %1").arg(QString::fromLocal8Bit(error.what()))),
                false};
    } catch (...) {
        return {
            cacheclient::protocol::errorReply(id, ServerError::Internal, QStringLiteral("Interner Fehler")),
            false};
    }
}

Session::Reply Session::handle(const QCborMap& request)
{
    const QCborValue idValue = request.value(key::Id);
    const qint64 id = idValue.isInteger() ? idValue.toInteger() : 0;
    return guarded(id, [&]() -> Reply {
        if (id <= 0)
            throw ProtocolViolation{perr::BadFrame, QStringLiteral("Anfrage ohne gültige Nummer")};
        const QString operation = requireText(request, key::Op);
        traceRequest(operation, request);
        if (!m_greeted) {
            if (operation != op::Hello)
                throw ProtocolViolation{perr::BadFrame,
                                        QStringLiteral("Die erste Anfrage muss \"hello\" sein")};
            if (request.value(key::Version).toInteger(-1) != cacheclient::protocol::Version)
                throw ProtocolViolation{
                    perr::BadVersion,
                    QStringLiteral("Protokollversion %1 wird nicht unterstützt (Server: %2)")
                        .arg(request.value(key::Version).toInteger(-1))
                        .arg(cacheclient::protocol::Version)};
            m_greeted = true;
            QCborMap reply;
            reply.insert(key::Id, id);
            reply.insert(key::Version, cacheclient::protocol::Version);
            reply.insert(key::Peer, QStringLiteral("velmor-erpd"));
            return {reply, false};
        }
        if (operation == op::Open) {
            Reply reply;
            reply.payload = open(requireText(request, key::Class), requireText(request, key::ObjectId), id);
            return reply;
        }
        return {dispatch(operation, request, id), false};
    });
}

std::optional<Session::Reply> Session::handlePlain(const cacheclient::protocol::PlainMap& request)
{
    using cacheclient::protocol::PlainItem;
    const PlainItem* id = request.find(key::Id);
    const PlainItem* operation = request.find(key::Op);
    const PlainItem* className = request.find(key::Class);
    if (!m_greeted || !id || id->type != PlainItem::Integer || id->integer <= 0 || !operation ||
        operation->type != PlainItem::Text || !className || className->type != PlainItem::Text)
        return std::nullopt;
    const QString opText = operation->toString();
    if (opText == op::Open) {
        const PlainItem* objectId = request.find(key::ObjectId);
        if (!objectId || objectId->type != PlainItem::Text)
            return std::nullopt;
        const QString cls = nonNull(className->toString());
        const QString oid = nonNull(objectId->toString());
        return guarded(id->integer, [&]() -> Reply {
            traceRequest(opText, cls, oid, {});
            Reply reply;
            reply.payload = open(cls, oid, id->integer);
            return reply;
        });
    }
    if (opText != op::Call)
        return std::nullopt;
    const PlainItem* name = request.find(key::Name);
    if (!name || name->type != PlainItem::Text)
        return std::nullopt;
    QStringList args;
    if (const PlainItem* list = request.find(key::Args)) {
        if (list->type != PlainItem::Array || list->size > MaxCallArguments)
            return std::nullopt;
        const QList<PlainItem> items = request.items(*list);
        args.reserve(items.size());
        for (const PlainItem& item : items) {
            if (item.type != PlainItem::Text)
                return std::nullopt;
            args << nonNull(item.toString());
        }
    }
    const QString cls = nonNull(className->toString());
    const QString method = nonNull(name->toString());
    return guarded(id->integer, [&]() -> Reply {
        traceRequest(opText, cls, method, args);
        Reply reply;
        const QString ret = callMethod(cls, method, args);
        reply.payload = cacheclient::protocol::callReplyPayload(ret, args, id->integer);
        return reply;
    });
}

void Session::traceRequest(const QString& operation, const QCborMap& request)
{
    if (!m_trace)
        return;
    QString className = request.value(key::Class).toString();
    QString name = request.value(key::Name).toString();
    if (operation == op::Open)
        name = request.value(key::ObjectId).toString();
    if (operation == op::Execute || operation == op::Fetch || operation == op::CloseQuery) {
        const auto it = m_queries.constFind(request.value(key::Handle).toInteger());
        if (it != m_queries.constEnd()) {
            className = (*it)->def->className;
            name = (*it)->def->name;
        }
    }
    QStringList args;
    for (const QCborValue& a : request.value(key::Args).toArray())
        args << a.toString();
    traceRequest(operation, className, name, args);
}

void Session::traceRequest(const QString& operation, QString className, QString name, const QStringList& args)
{
    if (!m_trace)
        return;
    QJsonObject entry;
    entry.insert("conn", m_connection);
    entry.insert("op", operation);
    entry.insert("class", className);
    entry.insert("name", name);
    // The document password of SetDokument is its ninth argument.
    const bool setDokument = operation == op::Call && className == QLatin1String("AR.Dokumente") &&
                             equalsIgnoreCase(name, QStringLiteral("SetDokument"));
    QJsonArray traced;
    for (const QString& value : args)
        traced.append(setDokument && traced.size() == 8 && !value.isEmpty() ? QStringLiteral("***") : value);
    entry.insert("args", traced);
    m_trace->write(entry);
}

QCborMap Session::dispatch(const QString& operation, const QCborMap& request, qint64 id)
{
    QCborMap reply;
    if (operation == op::Call) {
        QStringList args = requireTexts(request, key::Args, MaxCallArguments);
        reply = call(requireText(request, key::Class), requireText(request, key::Name), args);
    } else if (operation == op::Query) {
        reply = prepare(requireText(request, key::Class), requireText(request, key::Name));
    } else if (operation == op::Execute) {
        const qint64 handle = requireInteger(request, key::Handle, 1, std::numeric_limits<qint64>::max());
        reply = execute(handle, requireTexts(request, key::Args, cacheclient::ResultSet::MaxArguments),
                        static_cast<int>(requireInteger(request, key::Batch, 1, MaxBatch)),
                        request.value(key::Packed).isTrue());
    } else if (operation == op::Fetch) {
        const qint64 handle = requireInteger(request, key::Handle, 1, std::numeric_limits<qint64>::max());
        reply = fetch(handle, static_cast<int>(requireInteger(request, key::Batch, 1, MaxBatch)),
                      request.value(key::Packed).isTrue(), true);
    } else if (operation == op::CloseQuery) {
        closeQuery(requireInteger(request, key::Handle, 1, std::numeric_limits<qint64>::max()));
    } else if (operation == op::Hello) {
        throw ProtocolViolation{perr::BadFrame, QStringLiteral("\"hello\" nur einmal je Verbindung")};
    } else {
        throw ProtocolViolation{perr::UnknownOperation,
                                QStringLiteral("Unbekannte Operation \"%1\"").arg(operation)};
    }
    reply.insert(key::Id, id);
    return reply;
}

// A statement on the session's SQLite connection, used directly: open by id's statement of one
// class (prepared once per session), or a result set's (prepared per execute). Through the SQL
// module every row would build a record, a row cache, a variant per column and each text twice.
class ObjectStatement
{
public:
    ObjectStatement(QSqlDatabase& db, const QString& sql)
    {
        const QVariant handle = db.driver()->handle();
        m_db = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
                   ? *static_cast<sqlite3* const*>(handle.constData())
                   : nullptr;
        if (!m_db)
            throw serverError(ServerError::Storage, QStringLiteral("Keine SQLite-Verbindung"));
        if (sqlite3_prepare16_v3(m_db, sql.utf16(), static_cast<int>(sql.size() * sizeof(char16_t)),
                                 SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) != SQLITE_OK) {
            const QString error = errorText(m_db, "Unable to execute statement");
            sqlite3_finalize(m_statement);
            throw serverError(ServerError::Storage, error);
        }
    }
    ~ObjectStatement() { sqlite3_finalize(m_statement); }
    ObjectStatement(const ObjectStatement&) = delete;
    ObjectStatement& operator=(const ObjectStatement&) = delete;

    sqlite3_stmt* handle() const { return m_statement; }

    // The column as the SQL module's value would give it as text: NULL is the null text.
    static QString text(sqlite3_stmt* statement, int column)
    {
        switch (sqlite3_column_type(statement, column)) {
        case SQLITE_NULL:
            return QString();
        case SQLITE_INTEGER:
            return QString::number(sqlite3_column_int64(statement, column));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(statement, column)).toString();
        default:
            return QString(reinterpret_cast<const QChar*>(sqlite3_column_text16(statement, column)),
                           sqlite3_column_bytes16(statement, column) / static_cast<int>(sizeof(QChar)));
        }
    }
    // The same text written as a CBOR text; a 7-bit text goes as SQLite holds it.
    static void write(cacheclient::protocol::CborWriter& out, sqlite3_stmt* statement, int column)
    {
        const int type = sqlite3_column_type(statement, column);
        if (type == SQLITE_INTEGER) {
            // The digits QString::number gives, without the text in between.
            char digits[24];
            const auto end =
                std::to_chars(digits, digits + sizeof digits, sqlite3_column_int64(statement, column)).ptr;
            out.utf8(digits, end - digits);
            return;
        }
        if (type == SQLITE_TEXT) {
            const auto* bytes = sqlite3_column_text(statement, column);
            const int size = sqlite3_column_bytes(statement, column);
            if (std::all_of(bytes, bytes + size, [](unsigned char c) { return c < 0x80; })) {
                out.utf8(reinterpret_cast<const char*>(bytes), size);
                return;
            }
        }
        out.text(text(statement, column));
    }
    // The error text as the SQL module words it.
    static QString errorText(sqlite3* db, const char* driverText)
    {
        return QString(reinterpret_cast<const QChar*>(sqlite3_errmsg16(db))) + u' ' +
               QString::fromLatin1(driverText);
    }
    static QString errorText(sqlite3_stmt* statement)
    {
        return errorText(sqlite3_db_handle(statement), "Unable to fetch row");
    }

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statement = nullptr;
};

void OpenQuery::restart(std::unique_ptr<ObjectStatement> newCursor)
{
    cursor = std::move(newCursor);
    end = !cursor;
    stepped = false;
    ahead.clear();
    aheadEnds.clear();
    aheadWanted = 0;
    broken = false;
}

bool OpenQuery::readRow(QByteArray& cells)
{
    if (end || !cursor)
        return false;
    sqlite3_stmt* const statement = cursor->handle();
    const int step = sqlite3_step(statement);
    if (step != SQLITE_ROW) {
        // As through the SQL module: a failing first step fails the execute, a later one ends the rows.
        const QString failure =
            step == SQLITE_DONE || stepped ? QString() : ObjectStatement::errorText(statement);
        end = true;
        cursor.reset();
        if (!failure.isEmpty())
            throw serverError(ServerError::Storage, failure);
        return false;
    }
    stepped = true;
    for (int c = 0, columns = int(def->columns.size()); c < columns; ++c) {
        // Cells in SQLite's UTF-8 as they are when 7-bit, else as the SQL module would give them.
        switch (sqlite3_column_type(statement, c)) {
        case SQLITE_TEXT:
            if (cacheclient::protocol::appendAsciiCell(
                    cells, reinterpret_cast<const char*>(sqlite3_column_text(statement, c)),
                    sqlite3_column_bytes(statement, c)))
                continue;
            break;
        case SQLITE_BLOB:
            cacheclient::protocol::appendCell(
                cells, QString::fromUtf8(static_cast<const char*>(sqlite3_column_blob(statement, c)),
                                         sqlite3_column_bytes(statement, c)));
            continue;
        }
        cacheclient::protocol::appendCell(cells, ObjectStatement::text(statement, c));
    }
    return true;
}

QByteArray Session::open(const QString& className, const QString& id, qint64 requestId)
{
    const StoredClass* cls = Catalog::findClass(className);
    if (!cls) {
        if (Catalog::classExists(className))
            throw serverError(ServerError::NotFound,
                              QStringLiteral("Klasse %1 hat keine gespeicherten Objekte").arg(className));
        throw serverError(ServerError::NoSuchClass,
                          QStringLiteral("Klasse %1 existiert nicht").arg(className));
    }
    auto notFound = [&] {
        return serverError(ServerError::NotFound,
                           QStringLiteral("Objekt %1 mit Id \"%2\" nicht gefunden").arg(className, id));
    };
    // The pieces point into id, which outlives the statement's use of them.
    const QList<QStringView> pieces = QStringView(id).split(u"||");
    if (pieces.size() != cls->key.size())
        throw notFound();

    OpenStatement& prepared = m_openStatements[cls->name];
    if (!prepared.statement) {
        QStringList columns, conditions;
        for (const auto& prop : cls->properties)
            columns << prop.second;
        for (const auto& part : cls->key)
            conditions << part.column + QStringLiteral(" = ?");
        prepared.statement = std::make_shared<ObjectStatement>(
            m_storage.db(), QStringLiteral("SELECT %1 FROM %2 WHERE %3 LIMIT 1")
                                .arg(columns.join(", "), cls->table, conditions.join(" AND ")));
        cacheclient::protocol::CborWriter head;
        head.map(3);
        head.text(key::Class);
        head.text(cls->name);
        head.text(key::Props);
        head.map(cls->properties.size());
        prepared.head = head.take();
        for (const auto& prop : cls->properties) {
            cacheclient::protocol::CborWriter name;
            name.text(prop.first);
            prepared.names.append(name.take());
        }
    }
    const std::shared_ptr<ObjectStatement>& statement = prepared.statement;
    // Every piece is checked before any is bound, so a statement never keeps a half binding.
    QVarLengthArray<qint64, 4> numbers(pieces.size());
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (!cls->key.at(i).numeric)
            continue;
        bool ok = false;
        numbers[i] = pieces.at(i).trimmed().toLongLong(&ok);
        if (!ok)
            throw notFound();
    }
    sqlite3_stmt* const query = statement->handle();
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const int index = static_cast<int>(i + 1);
        const QStringView piece = pieces.at(i);
        // As the SQL driver binds: a null text is NULL; texts stay alive until the reset below.
        const int bound =
            cls->key.at(i).numeric ? sqlite3_bind_int64(query, index, numbers.at(i))
            : piece.isNull()
                ? sqlite3_bind_null(query, index)
                : sqlite3_bind_text16(query, index, piece.utf16(),
                                      static_cast<int>(piece.size() * sizeof(char16_t)), SQLITE_STATIC);
        if (bound != SQLITE_OK) {
            const QString failure = ObjectStatement::errorText(query);
            sqlite3_clear_bindings(query);
            throw serverError(ServerError::Storage, failure);
        }
    }
    const int step = sqlite3_step(query);
    // The reply is written straight from the row: {class, props {name: text ...}, id}.
    cacheclient::protocol::CborWriter reply;
    if (step == SQLITE_ROW) {
        reply.encoded(prepared.head);
        for (int i = 0; i < cls->properties.size(); ++i) {
            reply.encoded(prepared.names.at(i));
            ObjectStatement::write(reply, query, i);
        }
        reply.text(key::Id);
        reply.integer(requestId);
    }
    const QString failure =
        step == SQLITE_ROW || step == SQLITE_DONE ? QString() : ObjectStatement::errorText(query);
    sqlite3_reset(query);
    sqlite3_clear_bindings(query);
    if (!failure.isEmpty())
        throw serverError(ServerError::Storage, failure);
    if (step != SQLITE_ROW)
        throw notFound();
    return reply.take();
}

QCborMap Session::call(const QString& className, const QString& method, QStringList& args)
{
    QCborMap reply;
    reply.insert(key::Ret, callMethod(className, method, args));
    reply.insert(key::Args, toArray(args));
    return reply;
}

QString Session::callMethod(const QString& className, const QString& method, QStringList& args)
{
    if (!Catalog::classExists(className))
        throw serverError(ServerError::NoSuchClass,
                          QStringLiteral("Klasse %1 existiert nicht").arg(className));
    auto requireCount = [&](qsizetype count) {
        if (args.size() != count)
            throw serverError(ServerError::WrongArgumentCount,
                              QStringLiteral("%1.%2 erwartet %3 Argumente, nicht %4")
                                  .arg(className, method)
                                  .arg(count)
                                  .arg(args.size()));
    };
    QString ret;
    bool known = false;
    if (className == QLatin1String("XR.Windows") && equalsIgnoreCase(method, QStringLiteral("Xecute"))) {
        requireCount(1);
        ret = m_m.execute(args.at(0));
        known = true;
    } else if (className == QLatin1String("AR.Dokumente") &&
               equalsIgnoreCase(method, QStringLiteral("SetDokument"))) {
        requireCount(9);
        ret = setDokument(args);
        known = true;
    } else if (const StoredClass* cls = Catalog::findClass(className)) {
        // <Property>LogicalToODBC / <Property>LogicalToDisplay: the stored 7-bit form as display text.
        for (const char* suffix : {"LogicalToODBC", "LogicalToDisplay"}) {
            const QLatin1String ending(suffix);
            if (!method.endsWith(ending, Qt::CaseInsensitive))
                continue;
            const QString property = method.left(method.size() - ending.size());
            for (const auto& prop : cls->properties) {
                if (equalsIgnoreCase(prop.first, property)) {
                    requireCount(1);
                    ret = erpToDisplay(args.at(0));
                    known = true;
                }
            }
        }
    }
    if (!known)
        throw serverError(ServerError::NoSuchMethod,
                          QStringLiteral("Methode %1 gibt es in Klasse %2 nicht").arg(method, className));
    return ret;
}

QString Session::setDokument(const QStringList& args)
{
    QSqlQuery query(m_storage.db());
    query.prepare(
        QStringLiteral("INSERT INTO dokument(empfangen, arg1, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    for (const QString& a : args)
        query.addBindValue(a);
    // Autocommit with synchronous=FULL: the row is on disk when exec returns.
    if (!query.exec())
        throw serverError(ServerError::Storage,
                          QStringLiteral("Dokument nicht gespeichert: %1").arg(query.lastError().text()));
    return text(query.lastInsertId());
}

QCborMap Session::prepare(const QString& className, const QString& queryName)
{
    if (!Catalog::classExists(className))
        throw serverError(ServerError::NoSuchClass,
                          QStringLiteral("Klasse %1 existiert nicht").arg(className));
    const QueryDef* def = Catalog::findQuery(className, queryName);
    if (!def)
        throw serverError(ServerError::NoSuchQuery,
                          QStringLiteral("Abfrage %1 gibt es in Klasse %2 nicht").arg(queryName, className));
    if (m_queries.size() >= MaxOpenQueries)
        throw serverError(ServerError::BadArgument,
                          QStringLiteral("Zu viele offene Abfragen (höchstens %1)").arg(MaxOpenQueries));
    const qint64 handle = m_nextHandle++;
    m_queries.insert(handle, std::make_shared<OpenQuery>(def));
    QCborMap reply;
    reply.insert(key::Handle, handle);
    reply.insert(key::Params, toArray(def->params));
    reply.insert(key::Columns, toArray(def->columns));
    reply.insert(key::KeyColumn, def->keyColumn);
    return reply;
}

QCborMap Session::execute(qint64 handle, QStringList args, int batch, bool packed)
{
    const auto it = m_queries.constFind(handle);
    if (it == m_queries.constEnd())
        throw serverError(ServerError::NoSuchResultSet,
                          QStringLiteral("Abfrage %1 ist nicht offen").arg(handle));
    OpenQuery& q = **it;
    q.restart(nullptr);
    const qsizetype expected = q.def->params.size();
    for (qsizetype i = expected; i < args.size(); ++i)
        if (!args.at(i).isEmpty())
            throw serverError(ServerError::WrongArgumentCount,
                              QStringLiteral("Abfrage %1 hat %2 Parameter, Argument %3 ist zu viel")
                                  .arg(q.def->name)
                                  .arg(expected)
                                  .arg(i + 1));
    while (args.size() < expected)
        args << QString();
    args = args.mid(0, expected);
    const QueryPlan plan = q.def->plan(args);
    auto cursor = std::make_unique<ObjectStatement>(m_storage.db(), plan.sql);
    sqlite3_stmt* const statement = cursor->handle();
    for (int i = 0; i < plan.binds.size(); ++i) {
        // Bound as the SQL module binds: a null value (a null text too) is NULL.
        const QVariant& value = plan.binds.at(i);
        int bound = SQLITE_OK;
        if (value.isNull()) {
            bound = sqlite3_bind_null(statement, i + 1);
        } else if (value.typeId() == QMetaType::Bool || value.typeId() == QMetaType::Int ||
                   value.typeId() == QMetaType::UInt || value.typeId() == QMetaType::LongLong) {
            bound = sqlite3_bind_int64(statement, i + 1, value.toLongLong());
        } else if (value.typeId() == QMetaType::Double) {
            bound = sqlite3_bind_double(statement, i + 1, value.toDouble());
        } else {
            const QString text = value.toString();
            bound = sqlite3_bind_text16(statement, i + 1, text.utf16(),
                                        static_cast<int>(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
        }
        if (bound != SQLITE_OK)
            throw serverError(ServerError::Storage, ObjectStatement::errorText(sqlite3_db_handle(statement),
                                                                               "Unable to bind parameters"));
    }
    q.restart(std::move(cursor));
    return fetch(handle, batch, packed, false);
}

QCborMap Session::fetch(qint64 handle, int batch, bool packed, bool more)
{
    const auto it = m_queries.constFind(handle);
    if (it == m_queries.constEnd())
        throw serverError(ServerError::NoSuchResultSet,
                          QStringLiteral("Abfrage %1 ist nicht offen").arg(handle));
    OpenQuery& q = **it;
    if (q.broken)
        throw serverError(
            ServerError::MError,
            QStringLiteral("M-Fehler <STORE> Speicher für die Zeilen der Abfrage %1 erschöpft").arg(handle));
    QByteArray cells;
    const qint64 count = q.take(batch, cells);
    // A client that comes back for more rows is streaming them: the next batch is read while it
    // reads this one. Rows are held ahead for one query at a time.
    q.aheadWanted = 0;
    const auto holding = m_queries.constFind(m_aheadHandle);
    if (more && !q.atEnd() &&
        (holding == m_queries.constEnd() || (*holding)->aheadEnds.isEmpty() || m_aheadHandle == handle)) {
        q.aheadWanted = qMin<qsizetype>(2 * qsizetype(batch), MaxBatch);
        m_aheadHandle = handle;
    }
    QCborMap reply;
    if (packed) {
        reply.insert(key::Cells, cells);
        reply.insert(key::Count, count);
    } else {
        QCborArray rows;
        const char* at = cells.constData();
        for (qint64 r = 0; r < count; ++r) {
            QCborArray row;
            for (qsizetype c = 0; c < q.def->columns.size(); ++c)
                row.append(cacheclient::protocol::takeCell(at));
            rows.append(row);
        }
        reply.insert(key::Rows, rows);
    }
    reply.insert(key::End, q.atEnd());
    return reply;
}

bool Session::workAhead()
{
    const auto it = m_queries.constFind(m_aheadHandle);
    if (it == m_queries.constEnd())
        return false;
    OpenQuery& q = **it;
    if (q.aheadEnds.size() >= q.aheadWanted || q.end)
        return false;
    try {
        for (int i = 0; i < ReadAheadStep && q.aheadEnds.size() < q.aheadWanted && q.readRow(q.ahead); ++i)
            q.aheadEnds.append(q.ahead.size());
    } catch (const std::bad_alloc&) {
        // The cursor has moved past a row that is not held: the client gets an error, not a gap.
        q.restart(nullptr);
        q.broken = true;
        return false;
    }
    return true;
}

void Session::closeQuery(qint64 handle)
{
    m_queries.remove(handle);
}

// ---- M environment -------------------------------------------------------------------

std::optional<QString> Session::global(const QString& name, const QStringList& subscripts)
{
    if (name == QLatin1String("B") && subscripts.size() == 4 && subscripts.at(3) == QLatin1String("1")) {
        // Account master record: search key, name, postcode, street, town, pieces at %.
        QSqlQuery query(m_storage.db());
        query.prepare(QStringLiteral("SELECT kbez, name, plz, strasse, ort FROM konto"
                                     " WHERE firma = ? AND kreis = ? AND nr = ?"));
        query.addBindValue(subscripts.at(0).toLongLong());
        query.addBindValue(subscripts.at(1));
        bool ok = false;
        query.addBindValue(subscripts.at(2).toLongLong(&ok));
        if (!ok || !query.exec() || !query.next())
            return std::nullopt;
        QStringList pieces;
        for (int i = 0; i < 5; ++i)
            pieces << text(query.value(i));
        return pieces.join(u'^');
    }
    QSqlQuery query(m_storage.db());
    query.prepare(QStringLiteral("SELECT value FROM global WHERE ref = ?"));
    query.addBindValue(QStringLiteral("^%1(%2)").arg(name, subscripts.join(u',')));
    if (!query.exec() || !query.next())
        return std::nullopt;
    return text(query.value(0));
}

QString Session::extrinsic(const QString& label, const QString& routine, const QStringList& args)
{
    if (label == QLatin1String("ASCIANSI") && routine == QLatin1String("%UML")) {
        if (args.size() != 1)
            throw serverError(ServerError::MError, QStringLiteral("M-Fehler <PARAMETER> $$ASCIANSI^%UML"));
        return erpToDisplay(args.at(0));
    }
    throw serverError(ServerError::MError,
                      QStringLiteral("M-Fehler <NOROUTINE> $$%1^%2").arg(label, routine));
}

namespace {
const QChar ItemSeparator(0xFF);
const QChar FieldSeparator(u'`');

qint64 mNumber(const QString& value, const QString& what)
{
    bool ok = false;
    const qint64 n = value.trimmed().toLongLong(&ok);
    if (!ok)
        throw serverError(ServerError::MError,
                          QStringLiteral("M-Fehler <PARAMETER> %1 \"%2\" ist keine Zahl").arg(what, value));
    return n;
}
} // namespace

QString Session::doRoutine(const QString& label, const QString& routine, const QStringList& args)
{
    auto requireCount = [&](qsizetype count) {
        if (args.size() != count)
            throw serverError(ServerError::MError,
                              QStringLiteral("M-Fehler <PARAMETER> %1^%2 erwartet %3 Argumente, nicht %4")
                                  .arg(label, routine)
                                  .arg(count)
                                  .arg(args.size()));
    };
    auto firma = [&]() -> qint64 {
        const auto it = m_m.variables().constFind(QStringLiteral("FIRMA"));
        if (it == m_m.variables().constEnd())
            throw serverError(ServerError::MError,
                              QStringLiteral("M-Fehler <UNDEFINED> FIRMA in %1^%2").arg(label, routine));
        return mNumber(*it, QStringLiteral("FIRMA"));
    };

    if (label.isEmpty() && routine == QLatin1String("%XTT")) {
        // Session set-up of the ERP: among others the piece delimiter of its records.
        requireCount(0);
        m_m.setVariable(QStringLiteral("%"), QStringLiteral("^"));
        return QString();
    }
    if (routine == QLatin1String("XRCLSU")) {
        if (label == QLatin1String("HGRP")) {
            requireCount(0);
            return groupList(QStringLiteral("SELECT nr, bez FROM hgrp WHERE firma = ? ORDER BY nr"),
                             {firma()});
        }
        if (label == QLatin1String("UGRP")) {
            requireCount(1);
            return groupList(
                QStringLiteral("SELECT nr, bez FROM ugrp WHERE firma = ? AND hgrp = ? ORDER BY nr"),
                {firma(), mNumber(args.at(0), QStringLiteral("Hauptgruppe"))});
        }
        if (label == QLatin1String("ABTNR")) {
            requireCount(0);
            return groupList(
                QStringLiteral("SELECT abtnr, name FROM abteilung WHERE firma = ? ORDER BY abtnr"),
                {firma()});
        }
        if (label == QLatin1String("GETARF")) {
            requireCount(7);
            ArticleSearch search;
            search.where = QStringLiteral("firma = ?");
            search.binds << firma();
            if (!args.at(0).isEmpty()) {
                search.where += QStringLiteral(" AND kbez >= ? AND kbez < ?");
                search.binds << args.at(0) << args.at(0) + QString::fromUcs4(U"\U0010FFFF", 1);
            }
            const char* const numeric[] = {"hgrp", "ugrp", "lnr", "abtnr"};
            for (int i = 0; i < 4; ++i) {
                if (args.at(i + 1).trimmed().isEmpty())
                    continue;
                search.where += QStringLiteral(" AND %1 = ?").arg(QLatin1String(numeric[i]));
                search.binds << mNumber(args.at(i + 1), QLatin1String(numeric[i]));
            }
            if (!args.at(5).isEmpty()) {
                search.where += QStringLiteral(" AND aktiv = ?");
                search.binds << args.at(5);
            }
            if (!args.at(6).isEmpty()) {
                search.where += QStringLiteral(" AND gelistet = ?");
                search.binds << args.at(6);
            }
            search.active = true;
            search.finished = false;
            m_articles = search;
            return articleBatch();
        }
        if (label == QLatin1String("GETARN")) {
            requireCount(0);
            return articleBatch();
        }
    }
    throw serverError(ServerError::MError, QStringLiteral("M-Fehler <NOROUTINE> %1^%2").arg(label, routine));
}

QSqlQuery Session::run(const QString& sql, const QVariantList& binds)
{
    QSqlQuery query(m_storage.db());
    query.prepare(sql);
    for (const QVariant& b : binds)
        query.addBindValue(b);
    if (!query.exec())
        throw serverError(ServerError::Storage, query.lastError().text());
    return query;
}

QString Session::groupList(const QString& sql, const QVariantList& binds)
{
    QSqlQuery query = run(sql, binds);
    QStringList items;
    while (query.next())
        items << text(query.value(0)) + FieldSeparator + erpToDisplay(text(query.value(1)));
    return items.join(ItemSeparator);
}

// Up to four articles of the running search, continuing after the last one delivered.
QString Session::articleBatch()
{
    if (!m_articles.active || m_articles.finished)
        return QString();
    QString sql = QStringLiteral("SELECT nr, bez, abtnr, kbez FROM artikel WHERE ") + m_articles.where;
    QVariantList binds = m_articles.binds;
    if (!m_articles.lastNr.isNull()) {
        sql += QStringLiteral(" AND (kbez, nr) > (?, ?)");
        binds << m_articles.lastKbez << m_articles.lastNr;
    }
    sql += QStringLiteral(" ORDER BY kbez, nr LIMIT %1").arg(ArticlesPerCall);
    QSqlQuery query = run(sql, binds);
    QStringList items;
    while (query.next()) {
        items << text(query.value(0)) + FieldSeparator + erpToDisplay(text(query.value(1))) + FieldSeparator +
                     text(query.value(2));
        m_articles.lastNr = text(query.value(0));
        m_articles.lastKbez = text(query.value(3));
    }
    if (items.size() < ArticlesPerCall)
        m_articles.finished = true;
    return items.join(ItemSeparator);
}

} // namespace erpsim
