#include "DocumentSearch.h"

namespace DocumentSearch {

QString typeCode(const QString& typeText)
{
    return StrPiece(typeText, u' ', 1, QString());
}

QString accountArgument(const QString& accountText)
{
    return accountText == QLatin1String("0") ? QString() : accountText;
}

std::optional<LookupRequest> request(const QString& code, const QString& account,
                                     const QString& kontoKreisCode, const SessionContext& context)
{
    LookupRequest r;
    r.Factory = context.Factory;
    r.MoreButton = true;
    r.AutoSelect = false;
    r.MsgBoxIfNone = 2;
    r.P1 = context.Firma;
    r.P2 = context.Filiale;
    const QString title = QStringLiteral("Suche nach");
    if (code == QLatin1String("AU") || code == QLatin1String("RE")) {
        const bool orders = code == QLatin1String("AU");
        r.Class = QStringLiteral("XR.AuftrMaKundeBeleg");
        r.Query = QStringLiteral("Beleg");
        r.Title = title + (orders ? QStringLiteral(" Aufträge") : QStringLiteral(" Rechnungen"));
        r.Maxitems = 100;
        r.P3 = account;
        r.P4 = QStringLiteral("1");
        r.P6 = code;
        r.DatumFeld1 = 4;
        r.DatumParameter1 = 4;
        r.KNRParameter = 2;
        r.CmbParam1 = 3;
        r.CmbType1 = orders ? 1 : 3;
        r.CmbParam2 = 5;
        r.CmbType2 = 4;
        r.FeldUmwandl1 = 3;
        r.FeldUmwandl1Type = 11;
    } else if (code == QLatin1String("BE")) {
        r.Class = QStringLiteral("XR.BestHaupt");
        r.Query = QStringLiteral("Bestellung");
        r.Title = title + QStringLiteral(" Bestellungen");
        r.Maxitems = 50;
        r.P3 = account;
        r.DatumFeld1 = 4;
        r.DatumFeld2 = 6;
        r.LNRParameter = 2;
        r.CmbParam1 = 3;
        r.CmbType1 = 5;
        r.CmbParam2 = 4;
        r.CmbType2 = 9;
        r.FeldUmwandl1 = 2;
        r.FeldUmwandl1Type = 12;
        r.FeldUmwandl2 = 5;
        r.FeldUmwandl2Type = 13;
    } else if (code == QLatin1String("ER")) {
        r.Class = QStringLiteral("XR.EinReHaupt");
        r.Query = QStringLiteral("Rechnung");
        // The ERP's users know the title with this spelling.
        r.Title = title + QStringLiteral(" Eingangsrechungen");
        r.Maxitems = 25;
        if (kontoKreisCode == QLatin1String("L"))
            r.P5 = account;
        r.DatumFeld1 = 2;
        r.DatumParameter1 = 6;
        r.DatumFeld2 = 7;
        r.DatumParameter2 = 7;
        r.DatumParameter3 = 8;
        r.LNRParameter = 4;
        r.CmbParam1 = 2;
        r.CmbType1 = 2;
        r.CmbParam2 = 3;
        r.CmbType2 = 7;
        r.FeldUmwandl1 = 6;
        r.FeldUmwandl1Type = 8;
        r.FeldUmwandl2 = 3;
        r.FeldUmwandl2Type = 12;
        r.FeldUmwandl3 = 5;
        r.FeldUmwandl3Type = 14;
    } else if (code == QLatin1String("AG")) {
        r.Class = QStringLiteral("XR.OffertHaupt");
        r.Query = QStringLiteral("Angebote");
        r.Title = title + QStringLiteral(" Offerten");
        r.Maxitems = 50;
        r.P3 = account;
        r.DatumFeld1 = 2;
        r.KNRParameter = 2;
        r.CmbParam1 = 4;
        r.CmbType1 = 0;
        r.FeldUmwandl1 = 3;
        r.FeldUmwandl1Type = 11;
        r.FeldUmwandl2 = 4;
        r.FeldUmwandl2Type = 10;
    } else {
        return std::nullopt;
    }
    return r;
}

int numberField(const QString& code)
{
    if (code == QLatin1String("AU") || code == QLatin1String("RE"))
        return 6;
    if (code == QLatin1String("BE") || code == QLatin1String("ER"))
        return 3;
    if (code == QLatin1String("AG"))
        return 2;
    return -1;
}

int dateField(const QString& code)
{
    return code == QLatin1String("AU") || code == QLatin1String("RE") ? 4 : -1;
}

QString keyField(const QString& key, int n)
{
    const QStringList fields = key.split(QStringLiteral("||"));
    if (n < 0 || n >= fields.size())
        throw cacheclient::CacheError(
            MissingKeyField,
            QStringLiteral("Index außerhalb des gültigen Bereichs: Schlüssel \"%1\" hat kein Feld %2")
                .arg(key)
                .arg(n));
    return fields.at(n);
}

LookupRequest buildingSiteRequest(const QString& account, const SessionContext& context)
{
    LookupRequest r;
    r.Factory = context.Factory;
    r.Class = QStringLiteral("XR.KundBau");
    r.Query = QStringLiteral("BaustellenAuswahl");
    r.Title = QStringLiteral("Suche nach Baustellen");
    r.Maxitems = 100;
    r.MoreButton = true;
    r.AutoSelect = true;
    r.MsgBoxIfNone = 0;
    r.P1 = context.Firma;
    r.P2 = account;
    r.KNRParameter = 1;
    return r;
}

} // namespace DocumentSearch
