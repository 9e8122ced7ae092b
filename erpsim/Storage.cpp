#include "Storage.h"

#include "ServerErrors.h"

#include <QAtomicInteger>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <fcntl.h>
#include <unistd.h>

namespace erpsim {

namespace {

const char* const Schema[] = {
    // Users, their departments and personnel records.
    "CREATE TABLE IF NOT EXISTS pers_edv(firma INTEGER NOT NULL, code TEXT NOT NULL, passwort TEXT, aktiv TEXT,"
    " pname TEXT, pnr INTEGER, abtnr INTEGER, dw TEXT, bergrp TEXT, PRIMARY KEY(firma, code))",
    "CREATE TABLE IF NOT EXISTS pers_abt(firma INTEGER NOT NULL, abtnr INTEGER NOT NULL, abtbez TEXT,"
    " habtnr INTEGER, PRIMARY KEY(firma, abtnr))",
    "CREATE TABLE IF NOT EXISTS pers_basis(firma INTEGER NOT NULL, pnr INTEGER NOT NULL, fax TEXT, email TEXT,"
    " PRIMARY KEY(firma, pnr))",
    // Application parameters per company, group and name.
    "CREATE TABLE IF NOT EXISTS anw_par(firma INTEGER NOT NULL, grp TEXT NOT NULL, name TEXT NOT NULL,"
    " parameter TEXT, beschreibung TEXT, PRIMARY KEY(firma, grp, name))",
    // Accounts: kreis 'K' customers, 'L' suppliers. Texts in the ERP's 7-bit coding,
    // kbez is the upper-case search key.
    "CREATE TABLE IF NOT EXISTS konto(firma INTEGER NOT NULL, kreis TEXT NOT NULL, nr INTEGER NOT NULL,"
    " kbez TEXT, name TEXT, plz TEXT, ort TEXT, strasse TEXT, gruppe INTEGER, sakonto INTEGER,"
    " PRIMARY KEY(firma, kreis, nr))",
    "CREATE INDEX IF NOT EXISTS konto_kbez ON konto(firma, kreis, kbez, nr)",
    "CREATE TABLE IF NOT EXISTS kund_bau(firma INTEGER NOT NULL, knr INTEGER NOT NULL, baunr INTEGER NOT NULL,"
    " baukbez TEXT, strasse TEXT, ort TEXT, PRIMARY KEY(firma, knr, baunr))",
    "CREATE TABLE IF NOT EXISTS waehrung(firma INTEGER NOT NULL, code TEXT NOT NULL, wckbez TEXT, name TEXT,"
    " PRIMARY KEY(firma, code))",
    "CREATE TABLE IF NOT EXISTS abteilung(firma INTEGER NOT NULL, abtnr INTEGER NOT NULL, name TEXT,"
    " PRIMARY KEY(firma, abtnr))",
    "CREATE TABLE IF NOT EXISTS kunden_gruppe(firma INTEGER NOT NULL, nr INTEGER NOT NULL, bez TEXT, aktiv TEXT,"
    " PRIMARY KEY(firma, nr))",
    "CREATE TABLE IF NOT EXISTS sammelkonto(firma INTEGER NOT NULL, kreis TEXT NOT NULL, nr INTEGER NOT NULL,"
    " bez TEXT, PRIMARY KEY(firma, kreis, nr))",
    // Business documents. Dates are ERP date numbers.
    "CREATE TABLE IF NOT EXISTS auftrag(firma INTEGER NOT NULL, filiale INTEGER NOT NULL, art TEXT NOT NULL,"
    " nr INTEGER NOT NULL, knr INTEGER, baunr INTEGER, datum INTEGER, status INTEGER, betrag REAL,"
    " PRIMARY KEY(firma, art, nr))",
    // The lookups list the newest first, with or without account and document kind.
    "CREATE INDEX IF NOT EXISTS auftrag_knr ON auftrag(firma, knr, art, datum, nr)",
    "CREATE INDEX IF NOT EXISTS auftrag_art ON auftrag(firma, art, datum, nr)",
    "CREATE INDEX IF NOT EXISTS auftrag_datum ON auftrag(firma, datum, nr)",
    "CREATE TABLE IF NOT EXISTS bestellung(firma INTEGER NOT NULL, filiale INTEGER NOT NULL, nr INTEGER NOT NULL,"
    " lnr INTEGER, abtnr INTEGER, datum INTEGER, kommission TEXT, liefertermin INTEGER, status INTEGER,"
    " PRIMARY KEY(firma, nr))",
    "CREATE INDEX IF NOT EXISTS bestellung_lnr ON bestellung(firma, lnr, datum, nr)",
    "CREATE INDEX IF NOT EXISTS bestellung_datum ON bestellung(firma, datum, nr)",
    "CREATE TABLE IF NOT EXISTS einre(firma INTEGER NOT NULL, filiale INTEGER NOT NULL, nr INTEGER NOT NULL,"
    " lnr INTEGER, rechnr TEXT, datum INTEGER, betrag REAL, wc TEXT, faellig INTEGER, status INTEGER,"
    " zahlart INTEGER, PRIMARY KEY(firma, nr))",
    "CREATE INDEX IF NOT EXISTS einre_lnr ON einre(firma, lnr, datum, nr)",
    "CREATE INDEX IF NOT EXISTS einre_datum ON einre(firma, datum, nr)",
    "CREATE TABLE IF NOT EXISTS offert(firma INTEGER NOT NULL, filiale INTEGER NOT NULL, nr INTEGER NOT NULL,"
    " knr INTEGER, baunr INTEGER, datum INTEGER, betreff TEXT, status INTEGER, PRIMARY KEY(firma, nr))",
    "CREATE INDEX IF NOT EXISTS offert_knr ON offert(firma, knr, datum, nr)",
    "CREATE INDEX IF NOT EXISTS offert_datum ON offert(firma, datum, nr)",
    // Articles and their groups.
    "CREATE TABLE IF NOT EXISTS hgrp(firma INTEGER NOT NULL, nr INTEGER NOT NULL, bez TEXT, PRIMARY KEY(firma, nr))",
    "CREATE TABLE IF NOT EXISTS ugrp(firma INTEGER NOT NULL, hgrp INTEGER NOT NULL, nr INTEGER NOT NULL, bez TEXT,"
    " PRIMARY KEY(firma, hgrp, nr))",
    "CREATE TABLE IF NOT EXISTS artikel(firma INTEGER NOT NULL, nr TEXT NOT NULL, kbez TEXT, bez TEXT,"
    " hgrp INTEGER, ugrp INTEGER, abtnr INTEGER, lnr INTEGER, aktiv TEXT, gelistet TEXT, PRIMARY KEY(firma, nr))",
    "CREATE INDEX IF NOT EXISTS artikel_kbez ON artikel(firma, kbez, nr)",
    // Global nodes the M lines read, by their full reference, e.g. ^FA(0).
    "CREATE TABLE IF NOT EXISTS global(ref TEXT PRIMARY KEY, value TEXT)",
    // Registrations of the document archive.
    "CREATE TABLE IF NOT EXISTS dokument(nr INTEGER PRIMARY KEY AUTOINCREMENT, empfangen TEXT NOT NULL,"
    " arg1 TEXT, arg2 TEXT, arg3 TEXT, arg4 TEXT, arg5 TEXT, arg6 TEXT, arg7 TEXT, arg8 TEXT, arg9 TEXT)",
};

QAtomicInteger<quint64> connectionCounter;

} // namespace

void exec(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        throw serverError(ServerError::Storage, QStringLiteral("Datenbankfehler: %1").arg(query.lastError().text()));
}

Storage::Storage(const QString& path) : m_path(path)
{
    m_connectionName = QStringLiteral("erpsim-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    // SQLite gives its WAL and shared-memory files the mode of the database file: a new
    // database is made readable by its owner only before SQLite creates it.
    if (!path.isEmpty() && !path.startsWith(u':') && !path.startsWith(QLatin1String("file:"))) {
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    m_db.setDatabaseName(path);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!m_db.open())
        throw serverError(ServerError::Storage,
                          QStringLiteral("Datenbank %1 lässt sich nicht öffnen: %2").arg(path, m_db.lastError().text()));
    // WAL lets readers run beside the writer; FULL makes each commit durable before the reply.
    exec(m_db, QStringLiteral("PRAGMA journal_mode=WAL"));
    exec(m_db, QStringLiteral("PRAGMA synchronous=FULL"));
    exec(m_db, QStringLiteral("PRAGMA foreign_keys=ON"));
    // Lists walk an index and fetch rows from all over the table: read them through memory
    // mapping and a larger page cache instead of one system call per page.
    exec(m_db, QStringLiteral("PRAGMA mmap_size=1073741824"));
    exec(m_db, QStringLiteral("PRAGMA cache_size=-65536"));
    createSchema(m_db);
}

Storage::~Storage()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

void Storage::createSchema(QSqlDatabase& db)
{
    for (const char* statement : Schema)
        exec(db, QString::fromLatin1(statement));
}

} // namespace erpsim
