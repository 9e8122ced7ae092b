// The demo ERP server through the object client, in process: objects, class methods,
// queries and M lines with the shapes the program relies on.
#include "cacheclient/Factory.h"
#include "cacheclient/Protocol.h"
#include "erpsim/Catalog.h"
#include "erpsim/DemoData.h"
#include "erpsim/LocalServer.h"
#include "erpsim/Session.h"
#include "erpsim/Storage.h"
#include "erpsim/Trace.h"

#include "cacheclient/RowCells.h"

#include <QCborArray>
#include <QCborValue>
#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace cacheclient;

namespace {

const QChar Item(0xFF);

QDate fromErpDate(const QString& text)
{
    const int n = text.toInt();
    return QDate(n / 10000 + 1900, (n / 100) % 100, n % 100);
}

QString xecute(Factory& f, const QString& line)
{
    auto windows = f.classObject(QStringLiteral("XR.Windows"));
    return windows->call(QStringLiteral("Xecute"), line);
}

QList<QStringList> rows(ResultSet& rs, int limit = 100000)
{
    QList<QStringList> out;
    while (out.size() < limit && rs.next()) {
        QStringList row;
        for (int c = 1; c <= rs.columnCount(); ++c)
            row << rs.columnValue(c);
        out << row;
    }
    return out;
}

QList<QStringList> query(Factory& f, const QString& cls, const QString& name, const QStringList& args, int limit = 100000)
{
    auto rs = f.resultSet(cls, name);
    rs->execute(args);
    auto result = rows(*rs, limit);
    rs->close();
    return result;
}

int fileMode(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

int errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CacheError& e) {
        return e.number();
    }
    return 0;
}

// A session of the server spoken to directly, as the daemon's connection thread does.
class RawSession
{
public:
    explicit RawSession(const QString& db) : m_session(db)
    {
        send({{protocol::key::Op, protocol::op::Hello}, {protocol::key::Version, protocol::Version}});
    }
    QCborMap send(QCborMap request)
    {
        request.insert(protocol::key::Id, ++m_id);
        return m_session.handle(request).message;
    }
    QCborValue query(const QString& cls, const QString& name)
    {
        return send({{protocol::key::Op, protocol::op::Query},
                     {protocol::key::Class, cls},
                     {protocol::key::Name, name}})
            .value(protocol::key::Handle);
    }
    // The rows of an execute or fetch reply, packed or not.
    static QList<QStringList> rowsOf(const QCborMap& reply, int width)
    {
        namespace key = protocol::key;
        QList<QStringList> out;
        if (reply.contains(key::Cells)) {
            const QByteArray cells = reply.value(key::Cells).toByteArray();
            const qint64 count = reply.value(key::Count).toInteger();
            if (!protocol::checkCells(cells, count, width).isEmpty())
                return {{"ungültig"}};
            const char* at = cells.constData();
            for (qint64 r = 0; r < count; ++r) {
                QStringList row;
                for (int c = 0; c < width; ++c)
                    row << protocol::takeCell(at);
                out << row;
            }
        }
        for (const QCborValue& row : reply.value(key::Rows).toArray()) {
            QStringList cells;
            for (const QCborValue& cell : row.toArray())
                cells << cell.toString();
            out << cells;
        }
        return out;
    }
    erpsim::Session& session() { return m_session; }

private:
    erpsim::Session m_session;
    qint64 m_id = 0;
};

QCborArray texts(const QStringList& list)
{
    QCborArray array;
    for (const QString& t : list)
        array.append(t);
    return array;
}

// A query's rows as the SQL module reads them from the demo database, with the server's own
// statement for that query: what every client read must give, cell for cell and in this order.
QList<QStringList> sqlRows(const QString& db, const QString& cls, const QString& name, QStringList args)
{
    const erpsim::QueryDef* def = erpsim::Catalog::findQuery(cls, name);
    while (args.size() < def->params.size())
        args << QString();
    const erpsim::QueryPlan plan = def->plan(args.mid(0, def->params.size()));
    QList<QStringList> out;
    {
        auto sql = QSqlDatabase::addDatabase("QSQLITE", "sqlRows");
        sql.setDatabaseName(db);
        sql.open();
        QSqlQuery query(sql);
        query.prepare(plan.sql);
        for (const QVariant& b : plan.binds)
            query.addBindValue(b);
        query.exec();
        while (query.next()) {
            QStringList row;
            for (int c = 0; c < def->columns.size(); ++c)
                row << (query.value(c).isNull() ? QString() : query.value(c).toString());
            out << row;
        }
    }
    QSqlDatabase::removeDatabase("sqlRows");
    return out;
}

QString tableDigest(const QString& path)
{
    QByteArray all;
    {
        auto db = QSqlDatabase::addDatabase("QSQLITE", "digest");
        db.setDatabaseName(path);
        db.open();
        for (const char* table : {"konto", "kund_bau", "auftrag", "artikel", "offert"}) {
            QSqlQuery q(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2, 3").arg(QLatin1String(table)), db);
            while (q.next())
                for (int i = 0; i < 6; ++i)
                    all += q.value(i).toString().toUtf8() + '|';
        }
    }
    QSqlDatabase::removeDatabase("digest");
    return QCryptographicHash::hash(all, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestErpServer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_db;
    std::unique_ptr<erpsim::LocalServer> m_server;
    std::shared_ptr<Factory> m_f;

    std::shared_ptr<Factory> connected()
    {
        auto f = m_server->createFactory();
        QString cs = QStringLiteral("cn_iptcp:127.0.0.1[1972]:VELMOR");
        if (!f->connect(cs))
            qFatal("connect failed");
        xecute(*f, "S FIRMA=1,FIL=0,PERSONAL=\"17\"");
        xecute(*f, "D ^%XTT");
        return f;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath("erp.db");
        const auto report = erpsim::createDemoDatabase(m_db);
        QVERIFY(report.customers >= 1000);
        QVERIFY(report.documents >= 2000);
        m_server = std::make_unique<erpsim::LocalServer>(m_db);
        m_f = connected();
    }

    void storedObjectsWithMixedCaseNames()
    {
        auto user = m_f->openId("XR.ParPersEdv", "1||17");
        QCOMPARE(user->property("passwort"), QStringLiteral("demo"));
        QCOMPARE(user->property("Aktiv"), QStringLiteral("J"));
        QCOMPARE(user->property("PNAME"), QStringLiteral("Sabine M}ller"));
        QCOMPARE(user->call("PNAMELogicalToODBC", user->property("PNAME")), QStringLiteral("Sabine Müller"));
        QCOMPARE(user->property("ABTNR"), QStringLiteral("10"));
        user->close();
        QCOMPARE(errorOf([&] { user->property("PNAME"); }), ClientError::Closed);

        auto dept = m_f->openId("XR.ParPersAbt", "1||10");
        QCOMPARE(dept->call("ABTBEZlogicaltoodbc", dept->property("abtbez")), QStringLiteral("Verkauf Innendienst"));
        auto basis = m_f->openId("XR.PersBasis", "1||117");
        QCOMPARE(basis->call("EMailLogicalToODBC", basis->property("EMAIL")), QStringLiteral("s.mueller@velmor-demo.de"));
        QVERIFY(!basis->property("fax").isEmpty());
    }

    void fixedRecords()
    {
        QCOMPARE(m_f->openId("XR.ParPersEdv", "1||18")->property("AKTIV"), QStringLiteral("N"));
        const QString dept19 = m_f->openId("XR.ParPersEdv", "1||19")->property("ABTNR");
        QCOMPARE(errorOf([&] { m_f->openId("XR.ParPersAbt", "1||" + dept19); }), 5809);

        // Account ids take the number with or without leading zeros.
        auto customer = m_f->openId("XR.KontoStamm", "1||K||004711");
        QCOMPARE(customer->call("NameLogicalToODBC", customer->property("Name")),
                 QStringLiteral("Bauunternehmung Müller & Söhne GmbH"));
        QVERIFY(!m_f->openId("XR.KontoStamm", "1||L||70001")->property("Name").isEmpty());
        auto site = m_f->openId("XR.KundBau", "1||4711||1");
        QCOMPARE(site->property("Bau"), QStringLiteral("1"));
        QCOMPARE(site->call("BAUKBEZLogicalToDisplay", site->property("BAUKBEZ")),
                 QStringLiteral("Neubau Kindergarten Sonnenstraße"));
        QCOMPARE(m_f->openId("XR.WC", "1||EUR")->property("WCKBEZ"), QStringLiteral("EUR"));
    }

    void applicationParameters()
    {
        auto scan = m_f->openId("XR.ParAnwPar", "1||FXR||DirScan");
        const QString dir = scan->property("Parameter");
        QVERIFY(dir.endsWith(QDir::separator()));
        QVERIFY(QDir(dir).exists());
        QVERIFY(!QDir(dir).entryList({"*.pdf"}).isEmpty());
        QVERIFY(!QDir(dir).entryList({"*.tif"}).isEmpty());
        const QString transfer = m_f->openId("XR.ParAnwPar", "1||FXR||DirPdfFile")->property("Parameter");
        QVERIFY(transfer.endsWith(QDir::separator()) && QDir(transfer).exists());

        const int count = m_f->openId("XR.ParAnwPar", "1||FXR||M_Anzahl")->property("Parameter").toInt();
        QVERIFY(count >= 3);
        for (int i = 1; i <= count; ++i)
            QVERIFY(!m_f->openId("XR.ParAnwPar", QStringLiteral("1||FXR||M_%1").arg(i))->property("Parameter").isEmpty());
        auto keyword = m_f->openId("XR.ParAnwPar", "1||FXR||M_3");
        QCOMPARE(keyword->call("parameterLogicalToODBC", keyword->property("Parameter")), QStringLiteral("Auftragsbestätigung"));
        // Another company's parameter is another object.
        QVERIFY(m_f->openId("XR.ParAnwPar", "2||FXR||DirScan")->property("Parameter") != dir);
        QCOMPARE(errorOf([&] { m_f->openId("XR.ParAnwPar", "1||FXR||Nope"); }), 5809);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("number");
        QTest::newRow("open unknown class") << "open" << QStringList{"XR.Nope", "1||1"} << 5351;
        QTest::newRow("open unknown id") << "open" << QStringList{"XR.ParPersEdv", "1||999"} << 5809;
        QTest::newRow("open short id") << "open" << QStringList{"XR.KontoStamm", "1||K"} << 5809;
        QTest::newRow("open text for number") << "open" << QStringList{"XR.KontoStamm", "1||K||abc"} << 5809;
        QTest::newRow("open method-only class") << "open" << QStringList{"XR.Windows", "1"} << 5809;
        QTest::newRow("unknown property") << "property" << QStringList{"XR.ParPersEdv", "1||17", "Nope"} << 10006;
        QTest::newRow("unknown method") << "call" << QStringList{"XR.Windows", "Nope"} << 5353;
        QTest::newRow("method of unknown class") << "call" << QStringList{"XR.Nope", "Xecute", "W 1"} << 5351;
        QTest::newRow("conversion of unknown property") << "call" << QStringList{"XR.KundBau", "NopeLogicalToODBC", "x"} << 5353;
        QTest::newRow("Xecute without line") << "call" << QStringList{"XR.Windows", "Xecute"} << 5354;
        QTest::newRow("SetDokument eight texts") << "call" << QStringList{"AR.Dokumente", "SetDokument", "1", "2", "3", "4", "5", "6", "7", "8"} << 5354;
        QTest::newRow("unknown M line") << "call" << QStringList{"XR.Windows", "Xecute", "ZZ ^FOO"} << 5002;
        QTest::newRow("unknown query") << "query" << QStringList{"XR.Windows", "Nope"} << 5352;
        QTest::newRow("query of unknown class") << "query" << QStringList{"XR.Nope", "Beleg"} << 5351;
        QTest::newRow("too many query arguments") << "query" << QStringList{"XR.ParABTNR", "ABTNR", "1", "", "x"} << 5354;
        QTest::newRow("text for a number") << "query" << QStringList{"XR.AuftrMaKundeBeleg", "Beleg", "1", "0", "abc"} << 5355;
        QTest::newRow("unknown account circle") << "query" << QStringList{"XR.Windows", "KkrSuche", "1", "X", "", ""} << 5355;
    }

    void errors()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, args);
        QFETCH(int, number);
        const int got = errorOf([&] {
            if (kind == "open") {
                m_f->openId(args[0], args[1]);
            } else if (kind == "property") {
                m_f->openId(args[0], args[1])->property(args[2]);
            } else if (kind == "call") {
                QStringList rest = args.mid(2);
                m_f->classObject(args[0])->call(args[1], rest);
            } else {
                auto rs = m_f->resultSet(args[0], args[1]);
                rs->execute(args.mid(2));
            }
        });
        QCOMPARE(got, number);
        // The connection serves on after every error.
        QCOMPARE(xecute(*m_f, "W 1+1"), QStringLiteral("2"));
    }

    // Each lookup query fits the request its caller builds: enough parameters for the highest
    // position used, a key whose "||" fields hold the number (and date), and display columns
    // holding what the date and conversion slots expect.
    void lookupQueriesFitTheirRequests_data()
    {
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("highestPosition");
        QTest::addColumn<int>("numberField");
        QTest::addColumn<int>("dateField");
        QTest::addColumn<QList<int>>("dateColumns");
        // display column -> conversion type
        QTest::addColumn<QList<int>>("conversions");
        QTest::newRow("AU orders") << "XR.AuftrMaKundeBeleg" << "Beleg" << QStringList{"1", "0", "4711", "1", "", "AU", "", "", ""}
                                   << 5 << 6 << 4 << QList<int>{4} << QList<int>{3, 11};
        QTest::newRow("RE invoices") << "XR.AuftrMaKundeBeleg" << "Beleg" << QStringList{"1", "0", "", "", "", "RE", "", "", ""}
                                     << 5 << 6 << 4 << QList<int>{4} << QList<int>{3, 11};
        QTest::newRow("BE purchase orders") << "XR.BestHaupt" << "Bestellung" << QStringList{"1", "0", "", "", "", "", "", "", ""}
                                            << 4 << 3 << -1 << QList<int>{4, 6} << QList<int>{2, 12, 5, 13};
        QTest::newRow("ER incoming invoices") << "XR.EinReHaupt" << "Rechnung" << QStringList{"1", "0", "", "", "70001", "", "", "", ""}
                                              << 8 << 3 << -1 << QList<int>{2, 7} << QList<int>{6, 8, 3, 12, 5, 14};
        QTest::newRow("AG offers") << "XR.OffertHaupt" << "Angebote" << QStringList{"1", "0", "", "", "", "", "", "", ""}
                                   << 4 << 2 << -1 << QList<int>{2} << QList<int>{3, 11, 4, 10};
        QTest::newRow("building sites") << "XR.KundBau" << "BaustellenAuswahl" << QStringList{"1", "4711", "", "", "", "", "", "", ""}
                                        << 1 << -1 << -1 << QList<int>{} << QList<int>{};
    }

    void lookupQueriesFitTheirRequests()
    {
        QFETCH(QString, cls);
        QFETCH(QString, name);
        QFETCH(QStringList, args);
        QFETCH(int, highestPosition);
        QFETCH(int, numberField);
        QFETCH(int, dateField);
        QFETCH(QList<int>, dateColumns);
        QFETCH(QList<int>, conversions);

        auto rs = m_f->resultSet(cls, name);
        QVERIFY(rs->parameterCount() > highestPosition);
        for (int p = 1; p <= rs->parameterCount(); ++p)
            QVERIFY(!rs->parameterName(p).isEmpty());
        const int key = rs->keyColumn();
        QVERIFY(key >= 1 && key <= rs->columnCount());
        rs->execute(args);
        const auto all = rows(*rs, 100);
        rs->close();
        QVERIFY2(!all.isEmpty(), "the demo data has rows for every lookup");

        auto display = [&](const QStringList& row, int d) {
            QStringList shown = row;
            shown.removeAt(key - 1);
            return shown.value(d - 1);
        };
        const QRegularExpression digits("^\\d+$");
        for (const QStringList& row : all) {
            const QStringList fields = row.at(key - 1).split("||");
            QCOMPARE(fields.first(), QStringLiteral("1"));
            if (numberField >= 0)
                QVERIFY2(digits.match(fields.value(numberField)).hasMatch(), qPrintable(row.join(' ')));
            if (dateField >= 0)
                QVERIFY(fromErpDate(fields.value(dateField)).isValid());
            for (int d : dateColumns)
                QVERIFY2(fromErpDate(display(row, d)).isValid(), qPrintable(display(row, d)));
            int lastAccount = 0;
            for (int i = 0; i + 1 < conversions.size(); i += 2) {
                const QString value = display(row, conversions[i]);
                switch (conversions[i + 1]) {
                case 8:
                    m_f->openId("XR.WC", "1||" + value);
                    break;
                case 10:
                    m_f->openId("XR.KundBau", QStringLiteral("1||%1||%2").arg(lastAccount).arg(value));
                    break;
                case 11:
                case 12:
                    lastAccount = value.toInt();
                    m_f->openId("XR.KontoStamm", QStringLiteral("1||%1||%2").arg(conversions[i + 1] == 11 ? "K" : "L", value));
                    break;
                case 13:
                    QVERIFY(value.size() >= 4);
                    break;
                case 14:
                    QVERIFY(QRegularExpression("^-?\\d+\\.\\d\\d$").match(value).hasMatch());
                    break;
                }
            }
        }
        if (cls == "XR.KundBau") {
            // The key opens the building site whose "Bau" the caller reads.
            auto site = m_f->openId(cls, all.first().at(key - 1));
            QVERIFY(!site->property("Bau").isEmpty());
        }
    }

    void lookupRestrictions()
    {
        for (const auto& row : query(*m_f, "XR.AuftrMaKundeBeleg", "Beleg", {"1", "0", "4711", "", "", "RE"}))
            QVERIFY(row.at(0).startsWith("1||0||RE||4711||"));
        const auto sinceDate = query(*m_f, "XR.AuftrMaKundeBeleg", "Beleg", {"1", "0", "", "", "1260101", "AU"});
        for (const auto& row : sinceDate)
            QVERIFY(row.at(4).toInt() >= 1260101);
        for (const auto& row : query(*m_f, "XR.EinReHaupt", "Rechnung", {"1", "0", "", "", "70001"}))
            QCOMPARE(row.at(3), QStringLiteral("70001"));
        QCOMPARE(query(*m_f, "XR.KundBau", "BaustellenAuswahl", {"1", "4711"}).size(), 3);
        QCOMPARE(query(*m_f, "XR.KundBau", "BaustellenAuswahl", {"1", "4712"}).size(), 1);
        QCOMPARE(query(*m_f, "XR.KundBau", "BaustellenAuswahl", {"1", "4713"}).size(), 0);
        QCOMPARE(query(*m_f, "XR.KundBau", "BaustellenAuswahl", {"1", "0"}).size(), 0);
        // The fixed invoice the edge cases name.
        bool found = false;
        for (const auto& row : query(*m_f, "XR.AuftrMaKundeBeleg", "Beleg", {"1", "0", "4711", "", "", "RE"}))
            found = found || row.at(0) == "1||0||RE||4711||1240507||3||200001";
        QVERIFY(found);
    }

    void masterDataQueries()
    {
        auto kkr = m_f->resultSet("XR.Windows", "KkrSuche");
        QCOMPARE(kkr->parameterCount(), 4);
        QCOMPARE(kkr->columnCount(), 5);
        kkr->execute({"1", "K", "MUELLER", ""});
        const auto muellers = rows(*kkr);
        QVERIFY(muellers.size() > 5);
        for (const auto& row : muellers)
            QVERIFY(row.at(1).startsWith("MUELLER"));
        QVERIFY(std::any_of(muellers.begin(), muellers.end(), [](const QStringList& r) { return r.at(0) == "4711"; }));

        // Group "7 " as the customer search passes it: the number with a blank.
        for (const auto& row : query(*m_f, "XR.Windows", "KkrSuche", {"1", "K", "", "7 "}, 50))
            QCOMPARE(m_f->openId("XR.KontoStamm", "1||K||" + row.at(0))->property("Gruppe"), QStringLiteral("7"));
        for (const auto& row : query(*m_f, "XR.Windows", "KkrSuche", {"1", "L", "", "33"}, 50))
            QCOMPARE(m_f->openId("XR.KontoStamm", "1||L||" + row.at(0))->property("SAKonto"), QStringLiteral("33"));
        QVERIFY(query(*m_f, "XR.Windows", "KkrSuche", {"1", "K", "", ""}, 600).size() == 600);
        QCOMPARE(query(*m_f, "XR.Windows", "KkrSuche", {"1", "K", "\"QUOTE", ""}).size(), 0);

        const auto groups = query(*m_f, "XR.ParKundenGruppen", "Gruppen", {"1", "", "J"});
        QCOMPARE(groups.size(), 11);
        QCOMPARE(groups.first().size(), 2);
        const auto sa = query(*m_f, "XR.KontoSammelKontoKreis", "SaKontoBez", {"1", "L", "", ""});
        QCOMPARE(sa.first().at(0), QStringLiteral("033"));
        QCOMPARE(sa.first().at(1), QStringLiteral("Lieferanten Inland"));
        const auto departments = query(*m_f, "XR.ParABTNR", "ABTNR", {"1", ""});
        QVERIFY(departments.size() >= 8);
        const auto currencies = query(*m_f, "XR.WC", "WC", {"1", ""});
        QVERIFY(std::any_of(currencies.begin(), currencies.end(),
                            [](const QStringList& r) { return r.at(1) == "EUR" && r.at(2) == "EUR"; }));
    }

    // Results of every size reach the reader whole and in order, across the growing batches,
    // and the next row's value the lookup reads ahead is that row's.
    void streamedRowsAreTheServersRows_data()
    {
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("atLeast");
        QTest::newRow("no row") << "XR.KundBau"
                                << "BaustellenAuswahl" << QStringList{"1", "4713"} << 0;
        QTest::newRow("one row") << "XR.KundBau"
                                 << "BaustellenAuswahl" << QStringList{"1", "4712"} << 1;
        QTest::newRow("accounts") << "XR.Windows"
                                  << "KkrSuche" << QStringList{"1", "K", "", ""} << 1500;
        QTest::newRow("documents") << "XR.AuftrMaKundeBeleg"
                                   << "Beleg" << QStringList{"1", "0", "", "", "", ""} << 1600;
    }

    void streamedRowsAreTheServersRows()
    {
        QFETCH(QString, cls);
        QFETCH(QString, name);
        QFETCH(QStringList, args);
        QFETCH(int, atLeast);
        const auto expected = sqlRows(m_db, cls, name, args);
        QVERIFY(expected.size() >= atLeast);
        auto rs = m_f->resultSet(cls, name);
        rs->execute(args);
        QList<QStringList> streamed;
        while (rs->next()) {
            if (const auto held = rs->heldNextValue(1))
                QCOMPARE(*held, expected.value(streamed.size() + 1).value(0));
            QStringList row;
            for (int c = 1; c <= rs->columnCount(); ++c)
                row << rs->columnValue(c);
            streamed << row;
        }
        QCOMPARE(streamed, expected);
    }

    // Rows the daemon reads ahead between fetches are each served once and in order, however
    // the following fetches are sized, packed or not, while two queries are streamed in turn and
    // one of them starts over.
    void rowsReadAheadServedOnceInOrder()
    {
        namespace key = protocol::key;
        const QStringList args{"1", "K", "", ""};
        const auto expected = sqlRows(m_db, "XR.Windows", "KkrSuche", args);
        RawSession raw(m_db);
        struct Stream
        {
            QCborValue handle;
            QList<QStringList> rows;
            bool end = false;
        } streams[2];
        auto take = [](Stream& s, const QCborMap& reply) {
            s.rows << RawSession::rowsOf(reply, 5);
            s.end = reply.value(key::End).toBool();
        };
        auto execute = [&](Stream& s) {
            s.rows.clear();
            take(s, raw.send({{key::Op, protocol::op::Execute},
                              {key::Handle, s.handle},
                              {key::Args, texts(args)},
                              {key::Batch, 3},
                              {key::Packed, true}}));
        };
        for (Stream& s : streams) {
            s.handle = raw.query("XR.Windows", "KkrSuche");
            execute(s);
        }
        const int batches[] = {7, 300, 1, 64, 900, 2, 130};
        bool restarted = false;
        for (int turn = 0; !(streams[0].end && streams[1].end); ++turn) {
            Stream& s = streams[turn % 2];
            if (s.end)
                continue;
            take(s, raw.send({{key::Op, protocol::op::Fetch},
                              {key::Handle, s.handle},
                              {key::Batch, batches[turn % 7]},
                              {key::Packed, turn % 3 != 0}}));
            // Some turns leave the reading ahead unfinished, some let it run to its end.
            for (int step = 0; step < turn % 4 * 8 && raw.session().workAhead(); ++step) {
            }
            if (!restarted && s.rows.size() > 500) {
                restarted = true;
                execute(s);
            }
        }
        QVERIFY(restarted);
        QCOMPARE(streams[0].rows, expected);
        QCOMPARE(streams[1].rows, expected);
    }

    void mLines()
    {
        QCOMPARE(xecute(*m_f, "S P0=$P(^FA(0),\"`\",2) W P0"), QStringLiteral("2026"));
        QCOMPARE(xecute(*m_f, "D ^%XTT"), QString());
        const QStringList groups = xecute(*m_f, "d HGRP^XRCLSU").split(Item);
        QVERIFY(groups.size() >= 5);
        for (const QString& g : groups)
            QCOMPARE(g.split('`').size(), 2);
        const QString first = groups.first().section('`', 0, 0);
        const QStringList subs = xecute(*m_f, "d UGRP^XRCLSU(" + first + ")").split(Item);
        QVERIFY(subs.size() >= 2);
        QCOMPARE(xecute(*m_f, "d UGRP^XRCLSU(999)"), QString());
        QVERIFY(xecute(*m_f, "d ABTNR^XRCLSU").split(Item).size() >= 8);
        QCOMPARE(xecute(*m_f, "S P0=$$ASCIANSI^%UML($P($G(^B(FIRMA,\"L\",70001,1)),%,2)) W:$F($ZV,\"MSM\") P0"),
                 QStringLiteral("Baustoffwerke Schwäbisch Hall GmbH"));
        QCOMPARE(xecute(*m_f, "S P0=$$ASCIANSI^%UML($P($G(^B(FIRMA,\"L\",1,1)),%,2)) W:$F($ZV,\"MSM\") P0"), QString());
    }

    void articleSearchInBatchesOfFour()
    {
        const QString start = "D GETARF^XRCLSU(\"ZEMENT\",\"\",\"\",\"\",\"\",\"J\",\"\")";
        QStringList all;
        QString batch = xecute(*m_f, start);
        int calls = 1;
        while (true) {
            const QStringList pieces = batch.isEmpty() ? QStringList() : batch.split(Item);
            QVERIFY(pieces.size() <= 4);
            all += pieces;
            if (pieces.size() < 4)
                break;
            batch = xecute(*m_f, "D GETARN^XRCLSU");
            ++calls;
        }
        QVERIFY(all.size() > 4);
        QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), all.size());
        for (const QString& piece : all) {
            const QStringList f = piece.split('`');
            QCOMPARE(f.size(), 3);
            QVERIFY(f.at(1).startsWith("Zement"));
        }
        // After the end the continuation stays empty; a quote in a field is an ordinary character.
        QCOMPARE(xecute(*m_f, "D GETARN^XRCLSU"), QString());
        QCOMPARE(xecute(*m_f, "D GETARF^XRCLSU(\"A\"\"B\",\"\",\"\",\"\",\"\",\"\",\"\")"), QString());
        QCOMPARE(errorOf([&] { xecute(*m_f, "D GETARF^XRCLSU(\"A\",\"\",\"\")"); }), 5002);
    }

    void eachConnectionKeepsItsOwnSearch()
    {
        auto other = connected();
        const QString a = xecute(*m_f, "D GETARF^XRCLSU(\"ZEMENT\",\"\",\"\",\"\",\"\",\"\",\"\")");
        const QString b = xecute(*other, "D GETARF^XRCLSU(\"FLIESENKLEBER\",\"\",\"\",\"\",\"\",\"\",\"\")");
        QVERIFY(a.contains("Zement") && b.contains("Fliesenkleber"));
        QVERIFY(xecute(*m_f, "D GETARN^XRCLSU").contains("Zement"));
        QVERIFY(xecute(*other, "D GETARN^XRCLSU").contains("Fliesenkleber"));
        // Server-side variables are per connection too.
        xecute(*other, "S FIRMA=2");
        QCOMPARE(xecute(*m_f, "W FIRMA"), QStringLiteral("1"));
    }

    void setDokumentStoresNineTexts()
    {
        QStringList args{"1||4711|17|", "SO|1720261207172503|1", "Rechnung|Sonstiges : Rechnung", "N||tif|N",
                         "RE|200001|07052024|", "Rechnung 200001.zip|pdf|N", "07.12.2026", "17:25:03", "geheim"};
        const QString nr = m_f->classObject("AR.Dokumente")->call("SetDokument", args);
        QVERIFY(nr.toInt() > 0);
        auto db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(m_db);
        QVERIFY(db.open());
        {
            QSqlQuery q(db);
            q.prepare("SELECT arg1, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, empfangen FROM dokument WHERE nr = ?");
            q.addBindValue(nr.toInt());
            QVERIFY(q.exec() && q.next());
            for (int i = 0; i < 9; ++i)
                QCOMPARE(q.value(i).toString(), args.at(i));
            QVERIFY(!q.value(9).toString().isEmpty());
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("check");
    }

    // Database, WAL and trace are the owner's only; passwords never reach the trace.
    void secretsStayPrivate()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath("privat.db");
        const QString tracePath = dir.filePath("trace.jsonl");
        erpsim::createDemoDatabase(db);
        {
            erpsim::LocalServer server(db);
            server.setTracePath(tracePath);
            auto f = server.createFactory();
            QString cs = QStringLiteral("cn_iptcp:127.0.0.1[1972]:VELMOR");
            QVERIFY(f->connect(cs));
            QStringList args{"1||4711|17|",
                             "SO|1720261207172503|1",
                             "Rechnung|x",
                             "N||tif|N",
                             "RE|200001|07052024|",
                             "a.zip|pdf|N",
                             "07.12.2026",
                             "17:25:03",
                             "geheim"};
            auto archive = f->classObject("AR.Dokumente");
            archive->call("setdokument", args);
            args[8].clear();
            archive->call("SetDokument", args);
            QCOMPARE(f->openId("XR.ParPersEdv", "1||17")->property("Passwort"), QStringLiteral("demo"));
            QVERIFY(QFile::exists(db + "-wal"));
            QCOMPARE(fileMode(db + "-wal"), 0600);
        }
        erpsim::Trace(tracePath).write(
            QJsonObject{{"props", QJsonObject{{"PNAME", "Sabine"}, {"PASSWORT", "demo"}}}});
        QCOMPARE(fileMode(db), 0600);
        QCOMPARE(fileMode(tracePath), 0600);

        QFile file(tracePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray all = file.readAll();
        QVERIFY(!all.contains("geheim"));
        QList<QJsonArray> passwords;
        QJsonObject props;
        for (const QByteArray& line : all.split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            if (entry["name"].toString().compare("SetDokument", Qt::CaseInsensitive) == 0)
                passwords << entry["args"].toArray();
            if (entry.contains("props"))
                props = entry["props"].toObject();
        }
        QCOMPARE(passwords.size(), 2);
        QCOMPARE(passwords[0].at(8).toString(), QStringLiteral("***"));
        QCOMPARE(passwords[0].at(7).toString(), QStringLiteral("17:25:03"));
        QCOMPARE(passwords[1].at(8).toString(), QString());
        QCOMPARE(props["PASSWORT"].toString(), QStringLiteral("***"));
        QCOMPARE(props["PNAME"].toString(), QStringLiteral("Sabine"));
    }

    void unreachableServer()
    {
        auto f = m_server->createFactory();
        QString cs = "cn_iptcp:127.0.0.1[1972]:VELMOR";
        m_server->setReachable(false);
        QVERIFY(!f->connect(cs));
        QVERIFY(!f->isConnected());
        m_server->setReachable(true);
        QVERIFY(f->connect(cs));
        m_server->setReachable(false);
        QCOMPARE(errorOf([&] { f->openId("XR.ParPersEdv", "1||17"); }), ClientError::NotConnected);
        m_server->setReachable(true);
        QString bad = "nonsense";
        QVERIFY(!f->connect(bad));
    }

    // Open by id gives each stored value as text the way the SQL module reads it: NULL as an
    // empty text, a REAL in its shortest exact form, texts and key pieces beyond ASCII unchanged.
    void openGivesStoredValuesAsText_data()
    {
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("expected");
        QTest::newRow("NULL") << "XR.KontoStamm"
                              << "8||K||4711"
                              << "Name"
                              << "";
        QTest::newRow("text beyond ASCII") << "XR.KontoStamm"
                                           << "8||K||4711"
                                           << "KBEZ"
                                           << "MÜLLER \"X\"";
        QTest::newRow("REAL with a fraction") << "XR.KontoStamm"
                                              << "8||K||4711"
                                              << "Gruppe"
                                              << "2.5";
        QTest::newRow("REAL beyond 15 digits") << "XR.KontoStamm"
                                               << "8||K||4712"
                                               << "Gruppe"
                                               << "0.30000000000000004";
        QTest::newRow("REAL beyond integers") << "XR.KontoStamm"
                                              << "8||K||4712"
                                              << "SAKonto"
                                              << "1e+20";
        QTest::newRow("large integer") << "XR.KontoStamm"
                                       << "8||K||4711"
                                       << "SAKonto"
                                       << "9007199254740993";
        QTest::newRow("number piece with blanks") << "XR.KontoStamm"
                                                  << "8||K|| 4712 "
                                                  << "Nr"
                                                  << "4712";
        QTest::newRow("text key beyond ASCII") << "XR.ParAnwPar"
                                               << "8||FXR||Größe's"
                                               << "Parameter"
                                               << "groß";
        QTest::newRow("empty text key") << "XR.ParAnwPar"
                                        << "8||||M_1"
                                        << "Parameter"
                                        << "leer";
    }

    void openGivesStoredValuesAsText()
    {
        QFETCH(QString, cls);
        QFETCH(QString, id);
        QFETCH(QString, property);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath("values.db");
        {
            erpsim::Storage storage(path);
            for (const char* insert : {"INSERT INTO konto(firma, kreis, nr, kbez, name, gruppe, sakonto)"
                                       " VALUES (8, 'K', 4711, 'MÜLLER \"X\"', NULL, 2.5, 9007199254740993)",
                                       "INSERT INTO konto(firma, kreis, nr, kbez, name, gruppe, sakonto)"
                                       " VALUES (8, 'K', 4712, 'B', 'b', 0.1 + 0.2, 1e20)",
                                       "INSERT INTO anw_par VALUES (8, 'FXR', 'Größe''s', 'groß', '')",
                                       "INSERT INTO anw_par VALUES (8, '', 'M_1', 'leer', '')"})
                erpsim::exec(storage.db(), QString::fromUtf8(insert));
        }
        erpsim::LocalServer server(path);
        auto f = server.createFactory();
        QString cs = QStringLiteral("cn_iptcp:127.0.0.1[1972]:VELMOR");
        QVERIFY(f->connect(cs));
        QCOMPARE(f->openId(cls, id)->property(property), expected);
        // The statement is kept for the next open of the class, with nothing left bound.
        QCOMPARE(errorOf([&] { f->openId(cls, "8||K"); }), 5809);
        QCOMPARE(f->openId(cls, id)->property(property), expected);

        // The reply written straight from the row is byte for byte what the map encodes to.
        namespace key = cacheclient::protocol::key;
        erpsim::Session session(path);
        session.handle(QCborMap{{key::Id, 1},
                                {key::Op, cacheclient::protocol::op::Hello},
                                {key::Version, cacheclient::protocol::Version}});
        const auto reply = session.handle(QCborMap{{key::Id, 70000},
                                                   {key::Op, cacheclient::protocol::op::Open},
                                                   {key::Class, cls},
                                                   {key::ObjectId, id}});
        const QCborMap decoded = QCborValue::fromCbor(reply.payload).toMap();
        QCOMPARE(decoded.toCborValue().toCbor(), reply.payload);
        QCOMPARE(decoded.value(key::Props).toMap().value(property).toString(), expected);
        QCOMPARE(decoded.value(key::Id).toInteger(), 70000);
    }

    void demoDataIsDeterministic()
    {
        QTemporaryDir other;
        const QString path = other.filePath("again.db");
        erpsim::createDemoDatabase(path);
        QCOMPARE(tableDigest(path), tableDigest(m_db));
        erpsim::createDemoDatabase(path, erpsim::DemoSize::Small, 99);
        QVERIFY(tableDigest(path) != tableDigest(m_db));
    }
};

QTEST_GUILESS_MAIN(TestErpServer)
#include "TestErpServer.moc"
