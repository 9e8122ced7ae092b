#include "DemoData.h"

#include "DemoScans.h"

#include "ErpText.h"
#include "ServerErrors.h"
#include "Storage.h"

#include <QDate>
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>

namespace erpsim {

namespace {

// Texts below are in the ERP's 7-bit coding: { | } ~ [ \ ] stand for ä ö ü ß Ä Ö Ü.
const char* const Surnames[] = {
    "M}ller", "Schr|der", "Wei~", "B{cker", "H|fer", "K}hn", "Schmidt", "Meier", "Fischer", "Wagner", "Becker",
    "Hoffmann", "Sch{fer", "Koch", "Bauer", "Richter", "Klein", "Wolf", "Neumann", "Schwarz", "Zimmermann",
    "Braun", "Kr}ger", "Hartmann", "Lange", "Schmitt", "Werner", "Krause", "Lehmann", "G|tz", "J{ger",
    "Gro~mann", "D|rr", "R|mer", "Fu~", "M|ller", "\\hler", "[rmel", "]bel", "Stra~er", "Vo~", "K|hler",
};
const char* const FirstNames[] = {
    "J}rgen", "Sabine", "Klaus", "Andrea", "Bj|rn", "Kerstin", "Peter", "Monika", "Hans-J|rg", "Ute",
    "Stefan", "G}nter", "Martina", "J|rg", "Claudia", "Thomas", "B{rbel", "Uwe", "S|ren", "Birgit",
};
const char* const Trades[] = {
    "Bauunternehmung", "Dachdeckerei", "Zimmerei", "Sanit{rtechnik", "Malerbetrieb", "Fliesenlegerei",
    "Gartenbau", "Tiefbau", "Elektrotechnik", "Schreinerei", "Stra~enbau", "Hochbau", "Trockenbau", "Heizungsbau",
};
const char* const Forms[] = {"GmbH", "GmbH & Co. KG", "AG", "e.K.", "KG", "OHG", ""};
const char* const SupplierKinds[] = {
    "Baustoffwerke", "Ziegelwerk", "Holzhandel", "Zementwerk", "Fliesenwerk", "D{mmstoffe", "Metallbau",
    "Farbenfabrik", "Werkzeughandel", "Kieswerk", "Betonwerk", "Sanit{rgro~handel",
};
const struct Town
{
    const char* plz;
    const char* name;
} Towns[] = {
    {"80331", "M}nchen"},   {"90402", "N}rnberg"},     {"97070", "W}rzburg"}, {"50667", "K|ln"},
    {"40213", "D}sseldorf"}, {"23552", "L}beck"},      {"37073", "G|ttingen"}, {"90762", "F}rth"},
    {"66111", "Saarbr}cken"}, {"49074", "Osnabr}ck"},  {"93047", "Regensburg"}, {"86150", "Augsburg"},
    {"70173", "Stuttgart"},  {"89073", "Ulm"},          {"72070", "T}bingen"},  {"94032", "Passau"},
};
const char* const Streets[] = {
    "Hauptstra~e", "Bahnhofstra~e", "Schulstra~e", "Gartenweg", "M}hlweg", "Am Gr}nanger", "Schlo~allee",
    "Kirchplatz", "Industriestra~e", "L|wenstra~e", "B{ckergasse", "Gewerbering", "Br}ckenstra~e", "Au~ere Weg",
};
const char* const SiteKinds[] = {
    "Neubau Einfamilienhaus", "Sanierung Schule", "Wohnanlage", "Umbau B}rogeb{ude", "Neubau Kindergarten",
    "Erweiterung Lagerhalle", "Dachsanierung", "Stra~enbau Abschnitt", "Neubau Mehrfamilienhaus", "Renovierung Rathaus",
};
const char* const Subjects[] = {
    "Rohbau Material", "Dachziegel und Lattung", "Fliesen Bad und K}che", "D{mmung Fassade", "Pflasterarbeiten Hof",
    "Trockenbau Innenausbau", "Estrich und Zement", "Gartenmauer", "Fenster und T}ren", "Kanalrohre",
};
const char* const CustomerGroups[] = {
    "Privatkunden", "Handwerker", "Dachdecker", "Fliesenleger", "Maler", "Gartenbauer", "Bauunternehmen",
    "Tiefbau", "Kommunen", "Architekten", "Wiederverk{ufer", "Gro~kunden",
};
const struct Department
{
    int nr;
    const char* name;
} Departments[] = {
    {1, "Baustoffe"}, {2, "Fliesen"}, {3, "Holz"}, {4, "Sanit{r"}, {5, "Werkzeug"},
    {6, "Garten"},    {7, "Farben"},  {8, "Eisenwaren"}, {9, "Dach"}, {10, "Verkauf Innendienst"},
};
const struct Group
{
    const char* name;
    const char* subs[6];
} MainGroups[] = {
    {"Zement und M|rtel", {"Zement", "Putz", "M|rtel", "Estrich", nullptr}},
    {"Mauersteine", {"Ziegel", "Kalksandstein", "Porenbeton", "Betonsteine", nullptr}},
    {"Holz", {"Kantholz", "Platten", "Latten", "Leimholz", "Terrassenholz", nullptr}},
    {"D{mmstoffe", {"Mineralwolle", "Hartschaum", "Holzfaser", nullptr}},
    {"Fliesen", {"Wandfliesen", "Bodenfliesen", "Kleber", "Fugenm|rtel", nullptr}},
    {"Sanit{r", {"Rohre", "Armaturen", "Keramik", nullptr}},
    {"Werkzeug", {"Handwerkzeug", "Elektrowerkzeug", "Messger{te", "Zubeh|r", nullptr}},
    {"Garten und Pflaster", {"Pflastersteine", "Randsteine", "Sch}ttgut", "Zaun", nullptr}},
    {"Farben und Lacke", {"Innenfarbe", "Fassadenfarbe", "Lacke", nullptr}},
    {"Eisenwaren", {"Schrauben", "N{gel", "D}bel", "Beschl{ge", nullptr}},
};
const char* const ArticleBases[] = {
    "Zement CEM I 42,5 R", "Fliesenkleber Flex", "Gipskarton GKB", "D{mmplatte WLG 035", "Kantholz Fichte",
    "Schrauben verzinkt", "Sch}ttgut Kies 0/16", "Pflasterstein grau", "Dachlatte", "Mauerziegel",
    "Porenbetonstein", "Kalkzementputz", "Fugenm|rtel", "Holzfaserd{mmplatte", "Kupferrohr", "Spachtelmasse",
    "Fassadenfarbe wei~", "Bodenfliese Feinsteinzeug", "Randstein Beton", "Stahlmatte", "Abdichtungsbahn",
    "Tiefengrund", "Estrichbeton", "Terrassendiele L{rche",
};
const char* const ArticleVariants[] = {
    "25 kg", "10 kg", "12,5 mm", "100 mm", "8x10 cm", "4x40 (500 St.)", "lose", "20x10x8", "30x50 mm",
    "2DF", "24 cm", "Sack 30 kg", "5 kg", "60 mm", "15 mm 5 m", "20 kg", "12,5 l", "60x60", "100x25x8",
    "Q188", "1 m x 10 m", "10 l", "Sack 40 kg", "145 mm",
};
const char* const Currencies[][3] = {
    {"EUR", "EUR", "Euro"}, {"CHF", "SFR", "Schweizer Franken"}, {"USD", "USD", "US-Dollar"},
    {"GBP", "GBP", "Britisches Pfund"}, {"PLN", "PLN", "Polnischer Zloty"}, {"CZK", "CZK", "Tschechische Krone"},
};

constexpr int Firma = 1;
constexpr int Filiale = 0;
constexpr int FiscalYear = 2026;

struct Sizes
{
    int customers, suppliers, articles, orders, purchaseOrders, incomingInvoices, offers;
};

Sizes sizesFor(DemoSize size)
{
    if (size == DemoSize::Large)
        return {100000, 5000, 12000, 600000, 150000, 150000, 150000};
    return {1500, 200, 800, 1600, 400, 400, 400};
}

QString l(const char* text)
{
    return QString::fromLatin1(text);
}

QString erpDate(const QDate& date)
{
    return QString::number((date.year() - 1900) * 10000 + date.month() * 100 + date.day());
}

class Generator
{
public:
    Generator(QSqlDatabase& db, quint32 seed) : m_db(db), m_random(seed) {}

    int pick(int count) { return static_cast<int>(m_random.bounded(count)); }
    template <typename T, size_t N> const T& pick(const T (&array)[N]) { return array[pick(static_cast<int>(N))]; }
    int between(int low, int high) { return low + pick(high - low + 1); }

    QDate dateBetween(const QDate& first, const QDate& last)
    {
        return first.addDays(pick(static_cast<int>(first.daysTo(last)) + 1));
    }

    // Prepared insert into table with n placeholders.
    QSqlQuery insert(const QString& table, int n)
    {
        QSqlQuery query(m_db);
        QStringList marks;
        for (int i = 0; i < n; ++i)
            marks << QStringLiteral("?");
        if (!query.prepare(QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(table, marks.join(u','))))
            throw serverError(ServerError::Storage, query.lastError().text());
        return query;
    }

    static void run(QSqlQuery& query, const QVariantList& values)
    {
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        if (!query.exec())
            throw serverError(ServerError::Storage, query.lastError().text());
    }

private:
    QSqlDatabase& m_db;
    QRandomGenerator m_random;
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw serverError(ServerError::Storage, QStringLiteral("%1 lässt sich nicht schreiben").arg(path));
}

} // namespace

QByteArray samplePdf(const QString& title)
{
    QByteArray text = title.toLatin1();
    text.replace('\\', "\\\\").replace('(', "\\(").replace(')', "\\)");
    const QByteArray content = "BT /F1 18 Tf 72 760 Td (" + text + ") Tj ET\n"
                               "BT /F1 11 Tf 72 730 Td (VELMOR Demo-Scan) Tj ET\n";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R"
        " /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
    };
    return assemblePdf(objects, "%PDF-1.4\n");
}

QByteArray sampleTiff(int width, int height, quint32 seed)
{
    // Baseline greyscale TIFF, uncompressed, one strip: header, pixels, two rationals, IFD.
    QRandomGenerator random(seed);
    QByteArray pixels(width * height, '\xff');
    for (int y = 20; y < height - 20; y += 12)
        for (int x = 20; x < width - 20 - static_cast<int>(random.bounded(width / 3)); ++x)
            pixels[y * width + x] = 0;
    const quint32 pixelOffset = 8;
    const quint32 rationalOffset = pixelOffset + static_cast<quint32>(pixels.size());
    const quint32 ifdOffset = rationalOffset + 16;

    QByteArray tiff("II*\0", 4);
    auto u16 = [&](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        tiff.append(b, 2);
    };
    auto u32 = [&](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        tiff.append(b, 4);
    };
    u32(ifdOffset);
    tiff += pixels;
    u32(200), u32(1), u32(200), u32(1);
    struct Entry
    {
        quint16 tag, type;
        quint32 count, value;
    };
    const Entry entries[] = {
        {256, 4, 1, static_cast<quint32>(width)}, {257, 4, 1, static_cast<quint32>(height)},
        {258, 3, 1, 8}, {259, 3, 1, 1}, {262, 3, 1, 1}, {273, 4, 1, pixelOffset}, {277, 3, 1, 1},
        {278, 4, 1, static_cast<quint32>(height)}, {279, 4, 1, static_cast<quint32>(pixels.size())},
        {282, 5, 1, rationalOffset}, {283, 5, 1, rationalOffset + 8}, {296, 3, 1, 2},
    };
    u16(static_cast<quint16>(std::size(entries)));
    for (const Entry& e : entries) {
        u16(e.tag), u16(e.type), u32(e.count);
        if (e.type == 3)
            u16(static_cast<quint16>(e.value)), u16(0);
        else
            u32(e.value);
    }
    u32(0);
    return tiff;
}

DemoReport createDemoDatabase(const QString& path, DemoSize size, quint32 seed)
{
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);
    const QDir base = QFileInfo(path).absoluteDir();
    DemoReport report;
    report.scansDir = base.absoluteFilePath(QStringLiteral("scans"));
    report.transferDir = base.absoluteFilePath(QStringLiteral("transfer"));
    if (!base.mkpath(QStringLiteral("scans")) || !base.mkpath(QStringLiteral("transfer")))
        throw serverError(ServerError::Storage, QStringLiteral("Ordner neben %1 lassen sich nicht anlegen").arg(path));

    const Sizes n = sizesFor(size);
    Storage storage(path);
    QSqlDatabase& db = storage.db();
    exec(db, QStringLiteral("PRAGMA synchronous=OFF"));
    exec(db, QStringLiteral("BEGIN"));
    Generator g(db, seed);
    const QDate firstDay(FiscalYear - 4, 1, 1);
    const QDate lastDay(FiscalYear, 11, 30);

    // Users and their departments. 19's department 99 and 20's personnel record 120 are missing on purpose.
    QSqlQuery user = g.insert("pers_edv", 9);
    Generator::run(user, {Firma, "17", "demo", "J", "Sabine M}ller", 117, 10, "217", "1"});
    Generator::run(user, {Firma, "18", "demo", "N", "Klaus Wei~", 118, 10, "218", "1"});
    Generator::run(user, {Firma, "19", "demo", "J", "J}rgen Sch|nfeld", 119, 99, "219", "2"});
    Generator::run(user, {Firma, "20", "demo", "J", "Petra Kr}ger", 120, 10, "220", "1"});
    Generator::run(user, {2, "17", "anders", "J", "Sabine M}ller", 117, 10, "217", "1"});
    QSqlQuery abt = g.insert("pers_abt", 4);
    Generator::run(abt, {Firma, 10, "Verkauf Innendienst", 1});
    Generator::run(abt, {Firma, 20, "Buchhaltung", 2});
    Generator::run(abt, {2, 10, "Verkauf", 1});
    QSqlQuery basis = g.insert("pers_basis", 4);
    Generator::run(basis, {Firma, 117, "0931 4711-99", "s.mueller@velmor-demo.de"});
    Generator::run(basis, {Firma, 118, "0931 4711-98", "k.weiss@velmor-demo.de"});
    Generator::run(basis, {Firma, 119, "0931 4711-97", "j.schoenfeld@velmor-demo.de"});
    Generator::run(basis, {2, 117, "", "s.mueller@velmor-demo.de"});

    // Application parameters; the folders carry a trailing separator as the program expects.
    QSqlQuery par = g.insert("anw_par", 5);
    const QString sep = QDir::separator();
    Generator::run(par, {Firma, "FXR", "DirScan", QDir::toNativeSeparators(report.scansDir) + sep,
                         "Startordner f}r Scans"});
    Generator::run(par, {Firma, "FXR", "DirPdfFile", QDir::toNativeSeparators(report.transferDir) + sep,
                         "]bergabeordner des Archivs"});
    const QStringList keywords = {"Lieferschein", "Rechnung", "Auftragsbest{tigung", "Reklamation",
                                  "Schriftverkehr", "Aufma~"};
    Generator::run(par, {Firma, "FXR", "M_Anzahl", QString::number(keywords.size()), "Anzahl Stichw|rter"});
    for (int i = 0; i < keywords.size(); ++i)
        Generator::run(par, {Firma, "FXR", QStringLiteral("M_%1").arg(i + 1), keywords.at(i), "Stichwort"});
    Generator::run(par, {2, "FXR", "DirScan", QStringLiteral("C:\\Firma2\\Scans\\"), "Startordner"});
    Generator::run(par, {2, "FXR", "M_Anzahl", "0", "Anzahl Stichw|rter"});

    QSqlQuery global = g.insert("global", 2);
    Generator::run(global, {"^FA(0)", QStringLiteral("VELMOR Demo`%1`01.01.%1`31.12.%1").arg(FiscalYear)});
    Generator::run(global, {"^FA(2)", QStringLiteral("Firma 2`%1").arg(FiscalYear - 1)});

    // Reference lists.
    QSqlQuery group = g.insert("kunden_gruppe", 4);
    for (int i = 0; i < static_cast<int>(std::size(CustomerGroups)); ++i)
        Generator::run(group, {Firma, i + 1, l(CustomerGroups[i]), i == 11 ? "N" : "J"});
    QSqlQuery sammel = g.insert("sammelkonto", 4);
    Generator::run(sammel, {Firma, "K", 10, "Kunden Inland"});
    Generator::run(sammel, {Firma, "K", 11, "Kunden Ausland"});
    Generator::run(sammel, {Firma, "L", 33, "Lieferanten Inland"});
    Generator::run(sammel, {Firma, "L", 34, "Lieferanten Ausland"});
    Generator::run(sammel, {Firma, "L", 35, "Lieferanten Gro~handel"});
    QSqlQuery dept = g.insert("abteilung", 3);
    for (const Department& d : Departments)
        Generator::run(dept, {Firma, d.nr, l(d.name)});
    QSqlQuery wc = g.insert("waehrung", 4);
    for (const auto& c : Currencies)
        Generator::run(wc, {Firma, l(c[0]), l(c[1]), l(c[2])});
    QSqlQuery hgrp = g.insert("hgrp", 3);
    QSqlQuery ugrp = g.insert("ugrp", 4);
    for (int h = 0; h < static_cast<int>(std::size(MainGroups)); ++h) {
        Generator::run(hgrp, {Firma, h + 1, l(MainGroups[h].name)});
        for (int u = 0; MainGroups[h].subs[u]; ++u)
            Generator::run(ugrp, {Firma, h + 1, u + 1, l(MainGroups[h].subs[u])});
    }

    // Accounts. Customers are numbered from 10000, 4711 to 4713 are the fixed ones.
    QSqlQuery konto = g.insert("konto", 10);
    auto addAccount = [&](const QString& kreis, int nr, const QString& name, const QString& shortName, const Town& town,
                          const QString& street, int gruppe, int sakonto) {
        Generator::run(konto, {Firma, kreis, nr, searchKey(shortName), name, l(town.plz), l(town.name), street, gruppe,
                               sakonto});
    };
    const Town& wuerzburg = Towns[2];
    addAccount("K", 4711, "Bauunternehmung M}ller & S|hne GmbH", "M}ller Bau", wuerzburg, "Hauptstra~e 12", 7, 10);
    addAccount("K", 4712, "Dachdeckerei Wei~ e.K.", "Wei~ Dach", Towns[0], "M}hlweg 3", 3, 10);
    addAccount("K", 4713, "Gartenbau Gr}n GmbH", "Gr}n Garten", Towns[1], "Am Gr}nanger 7", 6, 10);
    addAccount("L", 70001, "Baustoffwerke Schw{bisch Hall GmbH", "Baustoffwerke Schw{b", wuerzburg,
               "Industriestra~e 40", 0, 33);
    QList<int> customers = {4711, 4712, 4713};
    for (int i = 0; i < n.customers - 3; ++i) {
        const QString surname = l(g.pick(Surnames));
        const QString trade = l(g.pick(Trades));
        const QString form = l(g.pick(Forms));
        const bool person = g.pick(4) == 0;
        const QString firstName = l(g.pick(FirstNames));
        const QString name = person ? firstName + " " + surname : (trade + " " + surname + " " + form).trimmed();
        const QString shortName = surname + " " + (person ? firstName : trade);
        const int nr = 10000 + i;
        customers << nr;
        addAccount("K", nr, name, shortName, g.pick(Towns), l(g.pick(Streets)) + " " + QString::number(g.between(1, 180)),
                   g.between(1, 12), g.pick(5) ? 10 : 11);
    }
    QList<int> suppliers = {70001};
    for (int i = 0; i < n.suppliers - 1; ++i) {
        const QString kind = l(g.pick(SupplierKinds));
        const QString surname = l(g.pick(Surnames));
        const int nr = 70002 + i;
        suppliers << nr;
        addAccount("L", nr, kind + " " + surname + " " + l(g.pick(Forms)), kind + " " + surname, g.pick(Towns),
                   l(g.pick(Streets)) + " " + QString::number(g.between(1, 99)), 0, 33 + g.pick(3));
    }

    // Building sites: 4711 has three, 4712 one, 4713 none; about every third customer some.
    QSqlQuery bau = g.insert("kund_bau", 6);
    Generator::run(bau, {Firma, 4711, 1, "Neubau Kindergarten Sonnenstra~e", "Sonnenstra~e 5", "W}rzburg"});
    Generator::run(bau, {Firma, 4711, 2, "Sanierung Rathaus", "Marktplatz 1", "W}rzburg"});
    Generator::run(bau, {Firma, 4711, 3, "Wohnanlage Am Gr}nanger", "Am Gr}nanger 20", "Kitzingen"});
    Generator::run(bau, {Firma, 4712, 1, "Dachsanierung Schlo~ Wei~enstein", "Schlo~allee 2", "M}nchen"});
    QHash<int, int> sites = {{4711, 3}, {4712, 1}};
    for (int c : std::as_const(customers)) {
        if (c < 10000 || g.pick(3))
            continue;
        const int count = g.between(1, 4);
        sites.insert(c, count);
        for (int s = 1; s <= count; ++s)
            Generator::run(bau, {Firma, c, s, l(g.pick(SiteKinds)) + " " + l(g.pick(Streets)),
                                 l(g.pick(Streets)) + " " + QString::number(g.between(1, 90)), l(g.pick(Towns).name)});
    }

    // Business documents. Numbers are unique per kind; 4711 and 70001 get a share of their own.
    int documents = 0;
    QSqlQuery auftrag = g.insert("auftrag", 9);
    Generator::run(auftrag, {Firma, Filiale, "AU", 100001, 4711, 1, 1240315, 2, 12850.40});
    Generator::run(auftrag, {Firma, Filiale, "RE", 200001, 4711, 1, 1240507, 3, 15307.98});
    Generator::run(auftrag, {Firma, Filiale, "RE", 200002, 4711, 2, 1261110, 1, 845.00});
    documents += 3;
    for (int i = 0; i < n.orders - 3; ++i) {
        const bool invoice = i % 2;
        const int customer = g.pick(20) == 0 ? 4711 : customers.at(g.pick(static_cast<int>(customers.size())));
        const int siteCount = sites.value(customer);
        Generator::run(auftrag, {Firma, Filiale, invoice ? "RE" : "AU", (invoice ? 200003 : 100002) + i / 2, customer,
                                 siteCount ? g.between(1, siteCount) : 0, erpDate(g.dateBetween(firstDay, lastDay)),
                                 g.between(1, invoice ? 5 : 2), g.between(2000, 5000000) / 100.0});
        ++documents;
    }
    QSqlQuery best = g.insert("bestellung", 9);
    Generator::run(best, {Firma, Filiale, 300001, 70001, 1, 1261014, "2026/000123", 1261030, 2});
    ++documents;
    for (int i = 0; i < n.purchaseOrders - 1; ++i) {
        const QDate date = g.dateBetween(firstDay, lastDay);
        const int supplier = g.pick(10) == 0 ? 70001 : suppliers.at(g.pick(static_cast<int>(suppliers.size())));
        Generator::run(best, {Firma, Filiale, 300002 + i, supplier, g.pick(Departments).nr, erpDate(date),
                              QStringLiteral("%1/%2").arg(date.year()).arg(i + 124, 6, 10, QLatin1Char('0')),
                              erpDate(date.addDays(g.between(3, 40))), g.between(1, 6)});
        ++documents;
    }
    QSqlQuery einre = g.insert("einre", 11);
    Generator::run(einre, {Firma, Filiale, 400001, 70001, "RE-2026-0815", 1261020, 23456.78, "EUR", 1261119, 1, 2});
    ++documents;
    for (int i = 0; i < n.incomingInvoices - 1; ++i) {
        const QDate date = g.dateBetween(firstDay, lastDay);
        const int supplier = g.pick(10) == 0 ? 70001 : suppliers.at(g.pick(static_cast<int>(suppliers.size())));
        const int paymentTypes[] = {1, 2, 3, 4, 5, 7, 8, 9};
        Generator::run(einre, {Firma, Filiale, 400002 + i, supplier,
                               QStringLiteral("RE-%1-%2").arg(date.year()).arg(g.between(1, 9999), 4, 10, QLatin1Char('0')),
                               erpDate(date), g.between(1000, 9000000) / 100.0, g.pick(8) ? "EUR" : l(g.pick(Currencies)[0]),
                               erpDate(date.addDays(30)), g.between(1, 5), g.pick(paymentTypes)});
        ++documents;
    }
    QSqlQuery offert = g.insert("offert", 8);
    Generator::run(offert, {Firma, Filiale, 500001, 4711, 1, 1240110, "Rohbau Material Kindergarten", 1});
    Generator::run(offert, {Firma, Filiale, 500002, 4711, 3, 1261105, "Pflasterarbeiten Hof", 0});
    documents += 2;
    // An offer always names one of its customer's building sites, which the offer list shows by name.
    QList<int> customersWithSites = sites.keys();
    std::sort(customersWithSites.begin(), customersWithSites.end());
    for (int i = 0; i < n.offers - 2; ++i) {
        const int customer = g.pick(20) == 0 ? 4711 : customersWithSites.at(g.pick(static_cast<int>(customersWithSites.size())));
        Generator::run(offert, {Firma, Filiale, 500003 + i, customer, g.between(1, sites.value(customer)),
                                erpDate(g.dateBetween(firstDay, lastDay)), l(g.pick(Subjects)), g.between(0, 3)});
        ++documents;
    }

    // Articles.
    QSqlQuery artikel = g.insert("artikel", 10);
    for (int i = 0; i < n.articles; ++i) {
        const int h = g.pick(static_cast<int>(std::size(MainGroups)));
        int subs = 0;
        while (MainGroups[h].subs[subs])
            ++subs;
        const QString bez = l(g.pick(ArticleBases)) + " " + l(g.pick(ArticleVariants));
        const char* aktiv[] = {"J", "J", "J", "J", "N", "Z"};
        const char* gelistet[] = {"J", "J", "N", "A", "B", "C"};
        Generator::run(artikel, {Firma, QString::number(100000 + i * 7), searchKey(bez).left(30), bez, h + 1,
                                 g.between(1, subs), g.pick(Departments).nr, suppliers.at(g.pick(static_cast<int>(suppliers.size()))),
                                 l(g.pick(aktiv)), l(g.pick(gelistet))});
    }
    exec(db, QStringLiteral("COMMIT"));
    exec(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    exec(db, QStringLiteral("ANALYZE"));

    // Sample scans to hand over.
    const QDir scans(report.scansDir);
    writeFile(scans.filePath(QStringLiteral("Rechnung 200001.pdf")), demoInvoicePdf());
    writeFile(scans.filePath(QStringLiteral("Lieferschein 4711-001.tif")), demoDeliveryNoteTiff(seed));
    writeFile(scans.filePath(QStringLiteral("Angebot Schr\u00f6der.pdf")), samplePdf(QStringLiteral("Angebot Schroeder")));
    writeFile(scans.filePath(QStringLiteral("Scan_2026-12-01_0815.tif")), sampleTiff(420, 594, seed));
    writeFile(scans.filePath(QStringLiteral("Aufma\u00df Baustelle.tif")), sampleTiff(420, 594, seed + 1));

    report.customers = static_cast<int>(customers.size());
    report.suppliers = static_cast<int>(suppliers.size());
    report.articles = n.articles;
    report.documents = documents;
    return report;
}

} // namespace erpsim
