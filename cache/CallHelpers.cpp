#include "cacheapi.h"

#include <QCoreApplication>

using cacheclient::CacheError;

const QString EmptyDateMask = QStringLiteral("  .  .");

namespace {
const QString DBCallFailure = QStringLiteral("Ungültige Anfrage! Kein Ergebnis gefunden\r\n\r\n");

QString xecute(const QString& command)
{
    std::unique_ptr<cacheclient::CacheObject> windows =
        session().Factory->classObject(QStringLiteral("XR.Windows"));
    QString line = command;
    QStringList args{line};
    const QString output = windows->call(QStringLiteral("Xecute"), args);
    CloseCacheObject(windows);
    return output;
}

std::shared_ptr<cacheclient::Factory> requireFactory()
{
    if (!session().Factory)
        throw CacheError(cacheclient::ClientError::NotConnected,
                         QStringLiteral("Keine Verbindung zum Server"));
    return session().Factory;
}
} // namespace

QString MStringLiteral(const QString& text)
{
    QString literal = text;
    literal.replace(u'"', QStringLiteral("\"\""));
    return u'"' + literal + u'"';
}

bool IsDigits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

QString DBCall(const QString& command, bool& errorFlag)
{
    // A connect that failed has been reported already.
    if (!DBBegin()) {
        errorFlag = true;
        return QString();
    }
    try {
        requireFactory();
        const QString output = xecute(command);
        DBEnd(false);
        return output;
    } catch (const CacheError& error) {
        errorFlag = true;
        ReportCacheError(error,
                         DBCallFailure + QStringLiteral("DBCall Aufruf von XR.Windwos Xecute ") + command);
        return QString();
    }
}

short DBCallD(const QString& command, QChar delimiter, QStringList& list, bool& errorFlag)
{
    if (!DBBegin()) {
        errorFlag = true;
        return 0;
    }
    QString output;
    try {
        requireFactory();
        output = xecute(command);
        DBEnd(false);
    } catch (const CacheError& error) {
        errorFlag = true;
        ReportCacheError(error,
                         DBCallFailure + QStringLiteral("DBCallD Aufruf von XR.Windwos Xecute ") + command);
        return 0;
    }
    short count = 0;
    auto store = [&](const QString& piece) {
        ++count;
        if (list.size() <= count) {
            // The upper bound grows in steps of ten; element 0 stays unused.
            const qsizetype upper = ((count + 9) / 10) * 10;
            list.resize(upper + 1);
        }
        list[count] = piece;
    };
    QString piece;
    for (const QChar c : output) {
        if (c == delimiter) {
            store(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.isEmpty())
        store(piece);
    return count;
}

void CloseCacheObject(std::unique_ptr<cacheclient::CacheObject>& object)
{
    QCoreApplication::processEvents();
    if (object) {
        try {
            object->close();
        } catch (const CacheError&) {
        }
    }
    object.reset();
}

void CloseCacheObject(std::unique_ptr<cacheclient::ResultSet>& resultSet)
{
    QCoreApplication::processEvents();
    if (resultSet) {
        try {
            resultSet->close();
        } catch (const CacheError&) {
        }
    }
    resultSet.reset();
}

QString StrPiece(const QString& text, QChar delimiter, int n, const QString& defaultValue)
{
    int piece = 1;
    QString collected;
    for (const QChar c : text) {
        if (c == delimiter) {
            if (piece == n)
                break;
            ++piece;
        } else if (piece == n) {
            collected += c;
        }
    }
    return collected.isEmpty() ? defaultValue : collected;
}

QString StrAfterLast(const QString& text, QChar delimiter)
{
    const qsizetype at = text.lastIndexOf(delimiter);
    return at < 0 ? text : text.mid(at + 1);
}

QDate ErpDateToDate(const QString& text)
{
    // The leading number of the text, 0 when there is none.
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    if (end < trimmed.size() && (trimmed[end] == u'-' || trimmed[end] == u'+'))
        ++end;
    while (end < trimmed.size() && trimmed[end].isDigit())
        ++end;
    const qint64 n = trimmed.left(end).toLongLong();
    const QDate date(static_cast<int>(n / 10000 + 1900), static_cast<int>((n / 100) % 100),
                     static_cast<int>(n % 100));
    if (n <= 0 || !date.isValid())
        throw CacheError(DateConversionError,
                         QStringLiteral("Typen unverträglich: \"%1\" ist kein Datum").arg(text));
    return date;
}

QString DateToErpDate(const QVariant& value)
{
    QDate date;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return QString();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double: {
        const double serial = value.toDouble();
        if (serial == -1 || serial == 1)
            return QString();
        date = QDate(1899, 12, 30).addDays(static_cast<qint64>(serial));
        break;
    }
    case QMetaType::QDate:
        date = value.toDate();
        break;
    case QMetaType::QDateTime:
        date = value.toDateTime().date();
        break;
    default: {
        const QString text = value.toString();
        if (text == EmptyDateMask || text.trimmed().isEmpty() || text.trimmed() == QLatin1String("-1"))
            return QString();
        date = QDate::fromString(text.trimmed(), QStringLiteral("d.M.yyyy"));
        if (!date.isValid()) {
            // Two-digit years as the system reads them: 30..99 in the 1900s, 00..29 in the 2000s.
            date = QDate::fromString(text.trimmed(), QStringLiteral("d.M.yy"));
            if (date.isValid() && date.year() < 1930)
                date = date.addYears(100);
        }
    }
    }
    if (!date.isValid() || date == QDate(1899, 12, 31))
        return QString();
    return QString::number(date.year() - 1900) +
           QStringLiteral("%1").arg(date.month(), 2, 10, QLatin1Char('0')) +
           QStringLiteral("%1").arg(date.day(), 2, 10, QLatin1Char('0'));
}
