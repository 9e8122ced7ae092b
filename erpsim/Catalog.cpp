#include "Catalog.h"

#include "ServerErrors.h"

#include <QHash>

namespace erpsim {

namespace {

using Part = StoredClass::KeyPart;

const QList<StoredClass>& classes()
{
    static const QList<StoredClass> list = {
        {"XR.ParPersEdv",
         "pers_edv",
         {{"firma", true}, {"code", false}},
         {{"Passwort", "passwort"},
          {"AKTIV", "aktiv"},
          {"PNAME", "pname"},
          {"PNR", "pnr"},
          {"ABTNR", "abtnr"},
          {"DW", "dw"},
          {"BERGRP", "bergrp"}}},
        {"XR.ParPersAbt",
         "pers_abt",
         {{"firma", true}, {"abtnr", true}},
         {{"ABTNR", "abtnr"}, {"ABTBEZ", "abtbez"}, {"HAbtNr", "habtnr"}}},
        {"XR.PersBasis", "pers_basis", {{"firma", true}, {"pnr", true}}, {{"PNR", "pnr"}, {"fax", "fax"}, {"EMAIL", "email"}}},
        {"XR.ParAnwPar",
         "anw_par",
         {{"firma", true}, {"grp", false}, {"name", false}},
         {{"Parameter", "parameter"}, {"Beschreibung", "beschreibung"}}},
        {"XR.KontoStamm",
         "konto",
         {{"firma", true}, {"kreis", false}, {"nr", true}},
         {{"Nr", "nr"}, {"KBEZ", "kbez"}, {"Name", "name"}, {"PLZ", "plz"}, {"Ort", "ort"}, {"Strasse", "strasse"},
          {"Gruppe", "gruppe"}, {"SAKonto", "sakonto"}}},
        {"XR.KundBau",
         "kund_bau",
         {{"firma", true}, {"knr", true}, {"baunr", true}},
         {{"KNR", "knr"}, {"Bau", "baunr"}, {"BAUKBEZ", "baukbez"}, {"Strasse", "strasse"}, {"Ort", "ort"}}},
        {"XR.WC", "waehrung", {{"firma", true}, {"code", false}}, {{"WC", "code"}, {"WCKBEZ", "wckbez"}, {"Name", "name"}}},
        {"XR.ParABTNR", "abteilung", {{"firma", true}, {"abtnr", true}}, {{"ABTNR", "abtnr"}, {"Name", "name"}}},
        {"XR.ParKundenGruppen", "kunden_gruppe", {{"firma", true}, {"nr", true}}, {{"Nr", "nr"}, {"Bez", "bez"}, {"Aktiv", "aktiv"}}},
        {"XR.KontoSammelKontoKreis",
         "sammelkonto",
         {{"firma", true}, {"kreis", false}, {"nr", true}},
         {{"Nr", "nr"}, {"Bez", "bez"}}},
        {"XR.AuftrMaKundeBeleg",
         "auftrag",
         {{"firma", true}, {"filiale", true}, {"art", false}, {"knr", true}, {"datum", true}, {"status", true}, {"nr", true}},
         {{"Art", "art"}, {"Nr", "nr"}, {"KNR", "knr"}, {"Bau", "baunr"}, {"Datum", "datum"}, {"Status", "status"},
          {"Betrag", "printf('%.2f', betrag)"}}},
        {"XR.BestHaupt",
         "bestellung",
         {{"firma", true}, {"filiale", true}, {"lnr", true}, {"nr", true}},
         {{"Nr", "nr"}, {"LNR", "lnr"}, {"ABTNR", "abtnr"}, {"Datum", "datum"}, {"Kommission", "kommission"},
          {"Liefertermin", "liefertermin"}, {"Status", "status"}}},
        {"XR.EinReHaupt",
         "einre",
         {{"firma", true}, {"filiale", true}, {"lnr", true}, {"nr", true}},
         {{"Nr", "nr"}, {"LNR", "lnr"}, {"RechNr", "rechnr"}, {"Datum", "datum"}, {"Betrag", "printf('%.2f', betrag)"},
          {"WC", "wc"}, {"Faellig", "faellig"}, {"Status", "status"}, {"Zahlart", "zahlart"}}},
        {"XR.OffertHaupt",
         "offert",
         {{"firma", true}, {"filiale", true}, {"nr", true}},
         {{"Nr", "nr"}, {"KNR", "knr"}, {"Bau", "baunr"}, {"Datum", "datum"}, {"Betreff", "betreff"}, {"Status", "status"}}},
    };
    return list;
}

// Classes that have class methods or queries but no stored objects of their own here.
const QStringList& methodOnlyClasses()
{
    static const QStringList list = {"XR.Windows", "AR.Dokumente"};
    return list;
}

QString arg(const QStringList& args, int i)
{
    return args.value(i).trimmed();
}

qint64 number(const QStringList& args, int i, const QString& what)
{
    bool ok = false;
    const qint64 value = arg(args, i).toLongLong(&ok);
    if (!ok)
        throw serverError(ServerError::BadArgument,
                          QStringLiteral("%1: \"%2\" ist keine Zahl").arg(what, args.value(i)));
    return value;
}

// Adds "AND column op ?" for a non-empty argument, read as a number.
void filterNumber(QueryPlan& plan, const QStringList& args, int i, const QString& column, const QString& what,
                  const char* op = "=")
{
    if (arg(args, i).isEmpty())
        return;
    plan.sql += QStringLiteral(" AND %1 %2 ?").arg(column, QLatin1String(op));
    plan.binds << number(args, i, what);
}

void filterText(QueryPlan& plan, const QStringList& args, int i, const QString& column)
{
    if (arg(args, i).isEmpty())
        return;
    plan.sql += QStringLiteral(" AND %1 = ?").arg(column);
    plan.binds << arg(args, i);
}

// Case-insensitive "contains" on a free-text column; the user's wildcards are taken literally.
void filterContains(QueryPlan& plan, const QStringList& args, int i, const QString& column)
{
    if (arg(args, i).isEmpty())
        return;
    QString term = arg(args, i).toUpper();
    term.replace("!", "!!").replace("%", "!%").replace("_", "!_");
    plan.sql += QStringLiteral(" AND upper(%1) LIKE ? ESCAPE '!'").arg(column);
    plan.binds << QStringLiteral("%%1%").arg(term);
}

// Text columns compare bytewise; this bound is above every text that begins with prefix.
QString prefixEnd(const QString& prefix)
{
    return prefix + QString::fromUcs4(U"\U0010FFFF", 1);
}

QList<QueryDef> makeQueries()
{
    QList<QueryDef> list;

    list.append({"XR.Windows", "KkrSuche", {"Firma", "Kontokreis", "Suchbegriff", "Gruppe"},
                 {"KontoNr", "KBezeichnung", "Name", "PLZ", "Strasse"}, 0, [](const QStringList& a) {
                     const QString kreis = arg(a, 1).toUpper();
                     if (kreis != QLatin1String("K") && kreis != QLatin1String("L"))
                         throw serverError(ServerError::BadArgument,
                                           QStringLiteral("Kontokreis \"%1\" gibt es nicht").arg(a.value(1)));
                     QueryPlan p{"SELECT nr, kbez, name, plz, strasse FROM konto WHERE firma = ? AND kreis = ?"
                                 " AND kbez >= ? AND kbez < ?",
                                 {number(a, 0, "Firma"), kreis, a.value(2), prefixEnd(a.value(2))}};
                     filterNumber(p, a, 3, kreis == QLatin1String("K") ? "gruppe" : "sakonto", "Gruppe");
                     p.sql += " ORDER BY kbez, nr";
                     return p;
                 }});

    list.append({"XR.ParKundenGruppen", "Gruppen", {"Firma", "Gruppe", "Aktiv"}, {"Nr", "Bezeichnung"}, 0,
                 [](const QStringList& a) {
                     QueryPlan p{"SELECT nr, bez FROM kunden_gruppe WHERE firma = ?", {number(a, 0, "Firma")}};
                     filterNumber(p, a, 1, "nr", "Gruppe");
                     filterText(p, a, 2, "aktiv");
                     p.sql += " ORDER BY nr";
                     return p;
                 }});

    list.append({"XR.KontoSammelKontoKreis", "SaKontoBez", {"Firma", "Kontokreis", "Von", "Bis"},
                 {"Nr", "Bezeichnung"}, 0, [](const QStringList& a) {
                     QueryPlan p{"SELECT printf('%03d', nr), bez FROM sammelkonto WHERE firma = ?",
                                 {number(a, 0, "Firma")}};
                     filterText(p, a, 1, "kreis");
                     filterNumber(p, a, 2, "nr", "Von", ">=");
                     filterNumber(p, a, 3, "nr", "Bis", "<=");
                     p.sql += " ORDER BY nr";
                     return p;
                 }});

    list.append({"XR.ParABTNR", "ABTNR", {"Firma", "Abteilung"}, {"ABTNR", "Name"}, 0, [](const QStringList& a) {
                     QueryPlan p{"SELECT abtnr, name FROM abteilung WHERE firma = ?", {number(a, 0, "Firma")}};
                     filterNumber(p, a, 1, "abtnr", "Abteilung");
                     p.sql += " ORDER BY abtnr";
                     return p;
                 }});

    list.append({"XR.WC", "WC", {"Firma", "Code"}, {"ID", "Code", "Kurzbezeichnung", "Name"}, 1,
                 [](const QStringList& a) {
                     QueryPlan p{"SELECT firma || '||' || code, code, wckbez, name FROM waehrung WHERE firma = ?",
                                 {number(a, 0, "Firma")}};
                     filterText(p, a, 1, "code");
                     p.sql += " ORDER BY code";
                     return p;
                 }});

    // Orders and invoices to customers. Key: Firma||Filiale||Art||Kunde||Datum||Status||Nr.
    list.append({"XR.AuftrMaKundeBeleg", "Beleg", {"Firma", "Filiale", "Kunde", "Status", "Datum ab", "Belegart"},
                 {"ID", "Belegnr", "Art", "Kunde", "Datum", "Baustelle", "Betrag", "Status"}, 1,
                 [](const QStringList& a) {
                     QueryPlan p{"SELECT firma || '||' || filiale || '||' || art || '||' || knr || '||' || datum"
                                 " || '||' || status || '||' || nr, nr, art, knr, datum, baunr,"
                                 " printf('%.2f', betrag), status FROM auftrag WHERE firma = ?",
                                 {number(a, 0, "Firma")}};
                     filterNumber(p, a, 1, "filiale", "Filiale");
                     filterNumber(p, a, 2, "knr", "Kunde");
                     filterNumber(p, a, 3, "status", "Status");
                     filterNumber(p, a, 4, "datum", "Datum ab", ">=");
                     filterText(p, a, 5, "art");
                     p.sql += " ORDER BY datum DESC, nr DESC";
                     return p;
                 }});

    // Purchase orders. Key: Firma||Filiale||Lieferant||Nr.
    list.append({"XR.BestHaupt", "Bestellung", {"Firma", "Filiale", "Lieferant", "Abteilung", "Status"},
                 {"ID", "Bestellnr", "Lieferant", "Abteilung", "Datum", "Kommission", "Liefertermin", "Status"}, 1,
                 [](const QStringList& a) {
                     QueryPlan p{"SELECT firma || '||' || filiale || '||' || lnr || '||' || nr, nr, lnr, abtnr, datum,"
                                 " kommission, liefertermin, status FROM bestellung WHERE firma = ?",
                                 {number(a, 0, "Firma")}};
                     filterNumber(p, a, 1, "filiale", "Filiale");
                     filterNumber(p, a, 2, "lnr", "Lieferant");
                     filterNumber(p, a, 3, "abtnr", "Abteilung");
                     filterNumber(p, a, 4, "status", "Status");
                     p.sql += " ORDER BY datum DESC, nr DESC";
                     return p;
                 }});

    // Incoming invoices. Key: Firma||Filiale||Lieferant||Nr.
    list.append({"XR.EinReHaupt", "Rechnung",
                 {"Firma", "Filiale", "Status", "Zahlungsart", "Lieferant", "Rechnungsnr", "Datum von", "Datum bis",
                  "F\u00e4llig bis"},
                 {"ID", "Belegnr", "Datum", "Lieferant", "Rechnungsnr", "Betrag", "W\u00e4hrung", "F\u00e4llig",
                  "Status"},
                 1, [](const QStringList& a) {
                     QueryPlan p{"SELECT firma || '||' || filiale || '||' || lnr || '||' || nr, nr, datum, lnr, rechnr,"
                                 " printf('%.2f', betrag), wc, faellig, status FROM einre WHERE firma = ?",
                                 {number(a, 0, "Firma")}};
                     filterNumber(p, a, 1, "filiale", "Filiale");
                     filterNumber(p, a, 2, "status", "Status");
                     filterNumber(p, a, 3, "zahlart", "Zahlungsart");
                     filterNumber(p, a, 4, "lnr", "Lieferant");
                     if (!arg(a, 5).isEmpty()) {
                         p.sql += " AND rechnr >= ? AND rechnr < ?";
                         p.binds << arg(a, 5) << prefixEnd(arg(a, 5));
                     }
                     filterNumber(p, a, 6, "datum", "Datum von", ">=");
                     filterNumber(p, a, 7, "datum", "Datum bis", "<=");
                     filterNumber(p, a, 8, "faellig", "F\u00e4llig bis", "<=");
                     p.sql += " ORDER BY datum DESC, nr DESC";
                     return p;
                 }});

    // Offers. Key: Firma||Filiale||Nr.
    list.append({"XR.OffertHaupt", "Angebote", {"Firma", "Filiale", "Kunde", "Betreff", "Status"},
                 {"ID", "Angebotsnr", "Datum", "Kunde", "Baustelle", "Betreff", "Status"}, 1,
                 [](const QStringList& a) {
                     QueryPlan p{"SELECT firma || '||' || filiale || '||' || nr, nr, datum, knr, baunr, betreff, status"
                                 " FROM offert WHERE firma = ?",
                                 {number(a, 0, "Firma")}};
                     filterNumber(p, a, 1, "filiale", "Filiale");
                     filterNumber(p, a, 2, "knr", "Kunde");
                     filterContains(p, a, 3, "betreff");
                     filterNumber(p, a, 4, "status", "Status");
                     p.sql += " ORDER BY datum DESC, nr DESC";
                     return p;
                 }});

    // Building sites of a customer. Key: Firma||Kunde||Baustelle, the id of XR.KundBau.
    list.append({"XR.KundBau", "BaustellenAuswahl", {"Firma", "Kunde", "Bezeichnung"},
                 {"ID", "Baustelle", "Bezeichnung", "Strasse", "Ort"}, 1, [](const QStringList& a) {
                     QueryPlan p{"SELECT firma || '||' || knr || '||' || baunr, baunr, baukbez, strasse, ort"
                                 " FROM kund_bau WHERE firma = ?",
                                 {number(a, 0, "Firma")}};
                     filterNumber(p, a, 1, "knr", "Kunde");
                     filterContains(p, a, 2, "baukbez");
                     p.sql += " ORDER BY knr, baunr";
                     return p;
                 }});
    return list;
}

} // namespace

namespace Catalog {

const StoredClass* findClass(const QString& name)
{
    for (const StoredClass& c : classes())
        if (c.name == name)
            return &c;
    return nullptr;
}

const QueryDef* findQuery(const QString& className, const QString& queryName)
{
    static const QList<QueryDef> queries = makeQueries();
    for (const QueryDef& q : queries)
        if (q.className == className && q.name == queryName)
            return &q;
    return nullptr;
}

bool classExists(const QString& name)
{
    return findClass(name) || methodOnlyClasses().contains(name);
}

} // namespace Catalog

} // namespace erpsim
