#include "LookupLogic.h"

#include "cache/cacheapi.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QStringBuilder>

using cacheclient::CacheError;

namespace lookup {

namespace {

int position(qint16 value)
{
    return value >= 0 && value < Positions ? value : -1;
}

int column(qint16 value)
{
    return value >= 1 ? value : -1;
}

// The account open sent ahead with the previous row's call, and what it opens.
struct Ahead
{
    std::unique_ptr<cacheclient::PendingObject> object;
    QString className;
    QString id;
};

Ahead& ahead()
{
    static Ahead instance;
    return instance;
}

std::shared_ptr<cacheclient::Factory> sessionFactory()
{
    if (!session().Factory)
        throw CacheError(cacheclient::ClientError::NotConnected,
                         QStringLiteral("Keine Verbindung zum Server"));
    return session().Factory;
}

// The object the open sent ahead brought, when it is the one wanted; else opened now. An
// open sent ahead for another object is dropped either way.
std::unique_ptr<cacheclient::CacheObject> takeOrOpen(const QString& className, const QString& id)
{
    Ahead sent = std::move(ahead());
    ahead() = Ahead();
    if (sent.object && sent.className == className && sent.id == id)
        return sent.object->take();
    return sessionFactory()->openId(className, id);
}

QString readObject(const QString& className, const QString& id,
                   const std::function<QString(cacheclient::CacheObject&)>& read)
{
    std::unique_ptr<cacheclient::CacheObject> object;
    DBBegin();
    try {
        object = takeOrOpen(className, id);
        const QString result = read(*object);
        CloseCacheObject(object);
        DBEnd(false);
        return result;
    } catch (const CacheError&) {
        // Closed and ended before the box, so the next access finds a clean state.
        CloseCacheObject(object);
        DBEnd(false);
        throw;
    }
}

QString conversionFailed(int type)
{
    return QStringLiteral("Lookup Fehler bei Feldumwandlung Type #") + QString::number(type);
}

// The name of a type 11/12 account: the object taken from the open sent ahead (or opened),
// its name call sent and, when a next account is given, that account's open sent behind it,
// before anyone waits. finish() waits for the name; the object is closed and the database
// access ended as readObject does, and a failure reported as convertField reports it.
class AccountConversion : public PendingConversion
{
public:
    AccountConversion(int type, QString prefix, const QString& accountClass, const QString& id,
                      const std::optional<QString>& nextId)
        : m_type(type), m_prefix(std::move(prefix))
    {
        DBBegin();
        m_begun = true;
        try {
            m_object = takeOrOpen(accountClass, id);
            m_args = QStringList{m_object->property(QStringLiteral("Name"))};
            if (nextId) {
                const auto factory = sessionFactory();
                cacheclient::SendTogether together(*factory);
                m_name = m_object->callAhead(QStringLiteral("NameLogicalToODBC"), m_args);
                ahead() = Ahead{factory->openIdAhead(accountClass, *nextId), accountClass, *nextId};
            }
        } catch (const CacheError& error) {
            fail(error);
        }
    }
    ~AccountConversion() override { end(); }

    QString finish() override
    {
        if (m_done)
            return m_result;
        try {
            QString name;
            if (m_name) {
                name = m_name->take();
            } else {
                QStringList changed = m_args;
                name = m_object->call(QStringLiteral("NameLogicalToODBC"), changed);
            }
            end();
            m_result = m_prefix + name;
            m_done = true;
        } catch (const CacheError& error) {
            fail(error);
        }
        return m_result;
    }

private:
    void end()
    {
        m_name.reset();
        if (!m_begun)
            return;
        m_begun = false;
        CloseCacheObject(m_object);
        DBEnd(false);
    }
    // Closed and ended before the box, so the next access finds a clean state.
    void fail(const CacheError& error)
    {
        end();
        ReportCacheError(error, conversionFailed(m_type));
        m_result = m_prefix;
        m_done = true;
    }

    int m_type;
    QString m_prefix;
    std::unique_ptr<cacheclient::CacheObject> m_object;
    QStringList m_args;
    std::unique_ptr<cacheclient::PendingText> m_name;
    QString m_result;
    bool m_begun = false;
    bool m_done = false;
};

class FinishedConversion : public PendingConversion
{
public:
    explicit FinishedConversion(QString text) : m_text(std::move(text)) {}
    QString finish() override { return m_text; }

private:
    QString m_text;
};

std::unique_ptr<PendingConversion> startAccount(int type, const QString& prefix, const QString& value,
                                                const std::optional<QString>& nextValue)
{
    const QString& firma = session().Firma;
    const QString circle = type == 11 ? QStringLiteral("K") : QStringLiteral("L");
    const QString accountClass = QStringLiteral("XR.KontoStamm");
    // Built in one allocation: two ids per row are built while the server waits for the call.
    auto accountId = [&](const QString& number) -> QString {
        return firma % u"||" % circle % u"||" % number;
    };
    // Only a next value that converts at all is opened: a cell that is no account number
    // asks the server nothing.
    bool nextIsAccount = false;
    if (nextValue)
        nextValue->trimmed().toInt(&nextIsAccount);
    return std::make_unique<AccountConversion>(type, prefix, accountClass, accountId(value),
                                               nextIsAccount ? std::optional<QString>(accountId(*nextValue))
                                                             : std::nullopt);
}

} // namespace

bool Slots::isDateColumn(int displayColumn) const
{
    return std::find(datumFeld.begin(), datumFeld.end(), displayColumn) != datumFeld.end() &&
           displayColumn > 0;
}

int Slots::conversionType(int displayColumn) const
{
    for (int n = 0; n < SlotCount; ++n)
        if (feldUmwandl[n] == displayColumn && displayColumn > 0 && feldUmwandlType[n] != -1)
            return feldUmwandlType[n];
    return -1;
}

int Slots::dateSlotAt(int position) const
{
    for (int n = 0; n < SlotCount; ++n)
        if (datumParameter[n] == position && position >= 0)
            return n;
    return -1;
}

int Slots::choiceSlotAt(int position) const
{
    for (int n = 0; n < SlotCount; ++n)
        if (cmbParam[n] == position && position >= 0)
            return n;
    return -1;
}

Slots slotsOf(const LookupRequest& r)
{
    Slots s;
    s.datumFeld = {column(r.DatumFeld1), column(r.DatumFeld2), column(r.DatumFeld3)};
    s.datumParameter = {position(r.DatumParameter1), position(r.DatumParameter2),
                        position(r.DatumParameter3)};
    s.cmbParam = {position(r.CmbParam1), position(r.CmbParam2), position(r.CmbParam3)};
    s.cmbType = {r.CmbType1, r.CmbType2, r.CmbType3};
    s.feldUmwandl = {column(r.FeldUmwandl1), column(r.FeldUmwandl2), column(r.FeldUmwandl3)};
    s.feldUmwandlType = {r.FeldUmwandl1Type, r.FeldUmwandl2Type, r.FeldUmwandl3Type};
    s.knrParameter = position(r.KNRParameter);
    s.lnrParameter = position(r.LNRParameter);
    s.anrParameter = position(r.ANRParameter);
    return s;
}

QStringList displayValues(const LookupRequest& r)
{
    return {r.P1, r.P2, r.P3, r.P4, r.P5, r.P6, r.P7, r.P8, r.P9};
}

QStringList initialArguments(const LookupRequest& request)
{
    QStringList args = displayValues(request);
    for (const int p : slotsOf(request).datumParameter)
        if (p >= 0)
            args[p] = DateToErpDate(args[p]);
    return args;
}

int pageSize(qint32 maxitems)
{
    if (maxitems <= 0)
        return DefaultPageSize;
    return qMin(maxitems, 32767);
}

int paramRows(int paramCount)
{
    if (paramCount <= 0)
        return 0;
    return qMin((paramCount + 2) / 3, 3);
}

QString countText(int rows, bool moreRows)
{
    if (moreRows)
        return QStringLiteral("Mehr als ") + QString::number(rows) + QStringLiteral(" Einträge gefunden");
    if (rows == 0)
        return QStringLiteral("No records found");
    if (rows == 1)
        return QStringLiteral("1 record found");
    return QString::number(rows) + QStringLiteral(" Einträge gefunden");
}

QString choiceCode(const QString& comboText)
{
    return StrPiece(comboText, u' ', 1, QString());
}

QStringList fixedChoiceItems(int type)
{
    switch (type) {
    case 0:
        // Two entries share code 3: the ERP has both states under one number.
        return {"0 generiert", "1 erfasst", "2 gedruckt", "3 geändert", "3 übergeleitet"};
    case 1:
        return {"1 offen", "2 erledigt"};
    case 2:
        return {"1 erfasst", "2 kontrolliert", "3 gedruckt", "4 bezahlt", "5 belastet"};
    case 3:
        return {"1 erfasst", "2 gedruckt", "3 freigegeben", "4 fakturiert", "5 gedruckt"};
    case 4:
        return {"AU Auftrag", "RE Rechnung"};
    case 6:
        return {"1 OP", "8 Bankeinzug", "9 Sperre"};
    case 7:
        // There is no payment type 6.
        return {"1 Verrechnungsscheck", "2 Überweisung",       "3 Wechsel", "4 Bankeinzug", "5 Zession",
                "7 DGD-Bank Baumarkt",  "8 DGD-Bank Baustoff", "9 Sperre"};
    case 9:
        return {"1 erfasst", "2 bestellt", "3 überfällig", "4 urgiert", "5 teiloffen", "6 erledigt"};
    default:
        return {};
    }
}

bool isReadChoiceList(int type)
{
    return type == 5 || type == 8;
}

QString choiceListOperation(int type)
{
    if (type == 5)
        return QStringLiteral("Lookup Abteilungsnahmen ermitteln");
    if (type == 8)
        return QStringLiteral("Lookup Währungscode ermitteln");
    return QString();
}

QStringList readChoiceItems(int type)
{
    const bool departments = type == 5;
    std::unique_ptr<cacheclient::ResultSet> query;
    QStringList items;
    DBBegin();
    try {
        query =
            sessionFactory()->resultSet(departments ? QStringLiteral("XR.ParABTNR") : QStringLiteral("XR.WC"),
                                        departments ? QStringLiteral("ABTNR") : QStringLiteral("WC"));
        query->execute({session().Firma, QString()});
        const int a = departments ? 1 : 2;
        while (query->next())
            items << ConvertText(query->columnValue(a), QStringLiteral("VELMOR"), false) + u' ' +
                         ConvertText(query->columnValue(a + 1), QStringLiteral("VELMOR"), false);
        CloseCacheObject(query);
        DBEnd(false);
    } catch (const CacheError&) {
        CloseCacheObject(query);
        DBEnd(false);
        throw;
    }
    return items;
}

QDate erpDateOrNull(const QString& value)
{
    try {
        return ErpDateToDate(value);
    } catch (const CacheError&) {
        return QDate();
    }
}

QString shortDateText(const QDate& date)
{
    // Qt's short forms carry a two-digit year ("dd.MM.yy"); the year is shown in full.
    // The format is made once per locale: every date cell of a list asks for it.
    static const QRegularExpression twoDigitYear(QStringLiteral("(?<!y)yy(?!y)"));
    // Each date's text is kept too: a list shows few dates many times, and formatting one
    // costs more than the rest of its cell.
    static QLocale madeFor;
    static QString format;
    static QHash<QDate, QString> texts;
    const QLocale locale;
    if (format.isNull() || locale != madeFor) {
        format = locale.dateFormat(QLocale::ShortFormat);
        format.replace(twoDigitYear, QStringLiteral("yyyy"));
        madeFor = locale;
        texts.clear();
    }
    if (const auto it = texts.constFind(date); it != texts.constEnd())
        return *it;
    if (texts.size() >= 10000)
        texts.clear();
    return *texts.insert(date, locale.toString(date, format));
}

std::optional<double> plainNumber(const QString& text)
{
    // An optional sign, then digits with an optional point and decimals, or a point and
    // decimals; digits are 0-9 only. Checked by hand: it runs for every cell of a list.
    const QString t = text.trimmed();
    qsizetype at = 0;
    const qsizetype end = t.size();
    auto digits = [&] {
        const qsizetype from = at;
        while (at < end && t.at(at) >= u'0' && t.at(at) <= u'9')
            ++at;
        return at - from;
    };
    if (at < end && (t.at(at) == u'-' || t.at(at) == u'+'))
        ++at;
    const bool whole = digits() > 0;
    if (at < end && t.at(at) == u'.') {
        ++at;
        if (digits() == 0 && !whole)
            return std::nullopt;
    } else if (!whole) {
        return std::nullopt;
    }
    if (at != end)
        return std::nullopt;
    // Up to 15 digits in all, the digits as a whole number and the power of ten of the decimals
    // are exact doubles, and one division rounds correctly: the general conversion's result.
    static constexpr double powersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const qsizetype sign = t.front() == u'-' || t.front() == u'+' ? 1 : 0;
    qint64 n = 0;
    int count = 0;
    int decimals = -1;
    for (qsizetype i = sign; i < end; ++i) {
        if (t.at(i) == u'.') {
            decimals = 0;
            continue;
        }
        if (++count > 15)
            return t.toDouble();
        n = n * 10 + (t.at(i).unicode() - u'0');
        if (decimals >= 0)
            ++decimals;
    }
    const double value = static_cast<double>(n) / powersOfTen[qMax(decimals, 0)];
    return t.front() == u'-' ? -value : value;
}

bool sortsBefore(SortKind kind, const QVariant& a, const QString& aText, const QVariant& b,
                 const QString& bText)
{
    if (kind == SortKind::Text)
        return aText < bText;
    // Cells without a value (empty, or no date) come first, among themselves by their text.
    if (!a.isValid() || !b.isValid())
        return a.isValid() ? false : (b.isValid() || aText < bText);
    if (kind == SortKind::Date)
        return a.toDate() < b.toDate();
    return a.toDouble() < b.toDouble();
}

void dropConversionAhead()
{
    ahead() = Ahead();
}

QString convertField(int type, const QString& value, qint32& lastAccount,
                     const std::optional<QString>& nextValue)
{
    const QString& firma = session().Firma;
    switch (type) {
    case -1:
        return value;
    case 13:
        return value.right(4);
    case 14: {
        bool ok = false;
        const double amount = value.trimmed().toDouble(&ok);
        // Text that is no number is shown as it is, as a number format leaves it.
        return ok ? QLocale().toString(amount, 'f', 2) : value;
    }
    case 8:
    case 10:
    case 11:
    case 12:
        break;
    default:
        return QString();
    }

    QString prefix;
    if (type == 11 || type == 12) {
        bool ok = false;
        const qint32 account = value.trimmed().toInt(&ok);
        if (!ok) {
            // No account number (e.g. an empty cell): nothing to look up, and no account for
            // a building-site column to its right.
            lastAccount = 0;
            return value;
        }
        lastAccount = account;
        prefix = QString::number(lastAccount) + QStringLiteral(" / ");
    }
    try {
        switch (type) {
        case 8:
            return readObject(
                QStringLiteral("XR.WC"), firma + QStringLiteral("||") + value,
                [](cacheclient::CacheObject& o) { return o.property(QStringLiteral("WCKBEZ")); });
        case 10:
            return readObject(QStringLiteral("XR.KundBau"),
                              firma + QStringLiteral("||") + QString::number(lastAccount) +
                                  QStringLiteral("||") + value,
                              [](cacheclient::CacheObject& o) {
                                  return o.call(QStringLiteral("BAUKBEZLogicalToDisplay"),
                                                o.property(QStringLiteral("BAUKBEZ")));
                              });
        default:
            return startAccount(type, prefix, value, nextValue)->finish();
        }
    } catch (const CacheError& error) {
        ReportCacheError(error, conversionFailed(type));
        return prefix;
    }
}

std::unique_ptr<PendingConversion> startConversion(int type, const QString& value, qint32& lastAccount,
                                                   const std::optional<QString>& nextValue)
{
    if (type == 11 || type == 12) {
        bool ok = false;
        const qint32 account = value.trimmed().toInt(&ok);
        if (ok) {
            lastAccount = account;
            return startAccount(type, QString::number(lastAccount) % u" / ", value, nextValue);
        }
    }
    return std::make_unique<FinishedConversion>(convertField(type, value, lastAccount, nextValue));
}

bool isRightAligned(int conversionType)
{
    return conversionType == 14;
}

} // namespace lookup
