#include "SearchLogic.h"

#include "cache/cacheapi.h"

using cacheclient::CacheError;

namespace {
const QChar ItemSeparator(0xFF);
const QChar FieldSeparator(u'`');
constexpr int ArticlesPerCall = 4;
constexpr int SearchTermLength = 18;
// The error numbers the system raises for a text that is no number, and for one out of range.
constexpr int TypeMismatch = 13;
constexpr int Overflow = 6;
} // namespace

const QString ArticleContinueCommand = QStringLiteral("D GETARN^XRCLSU");

QString NormaliseSearchTerm(const QString& text)
{
    return ConvertText(text, QStringLiteral("VELMORSUCHE"), true).left(SearchTermLength);
}

QString CustomerGroupArgument(const QString& groupEntry)
{
    return groupEntry.left(2);
}

QString SupplierAccountArgument(const QString& accountEntry)
{
    const QString part = StrPiece(accountEntry, u'|', 1, QStringLiteral("1")).trimmed();
    bool ok = false;
    const short number = part.toShort(&ok);
    if (ok)
        return QString::number(number);
    part.toLongLong(&ok);
    if (ok)
        throw CacheError(Overflow, QStringLiteral("Überlauf: \"%1\"").arg(part));
    throw CacheError(TypeMismatch, QStringLiteral("Typen unverträglich: \"%1\" ist keine Zahl").arg(part));
}

std::array<int, 5> FitAccountColumns(const std::array<int, 5>& content, const std::array<int, 5>& minimum,
                                     int available)
{
    // Number, short name and postcode are read whole; name and street may be cut.
    constexpr int Name = 2;
    constexpr int Street = 4;
    std::array<int, 5> widths{};
    int total = 0;
    for (int i = 0; i < 5; ++i) {
        widths[i] = qMax(content[i], minimum[i]);
        total += widths[i];
    }
    if (total < available) {
        const int extra = available - total;
        const int toName = extra * 30 / 74;
        widths[Name] += toName;
        widths[Street] += extra - toName;
    } else if (total > available) {
        const int nameRoom = widths[Name] - qMax(0, minimum[Name]);
        const int streetRoom = widths[Street] - qMax(0, minimum[Street]);
        const int room = nameRoom + streetRoom;
        if (room > 0) {
            const int cut = qMin(total - available, room);
            const int fromName = static_cast<int>(qint64(cut) * nameRoom / room);
            widths[Name] -= fromName;
            widths[Street] -= cut - fromName;
        }
    }
    return widths;
}

int ReadAccountRows(cacheclient::Factory& factory, const QString& firma, const QString& circle,
                    const QString& term, const QString& group, AccountRowStore& rows)
{
    std::unique_ptr<cacheclient::ResultSet> result =
        factory.resultSet(QStringLiteral("XR.Windows"), QStringLiteral("KkrSuche"));
    int n = 0;
    try {
        result->execute({firma, circle, term, group});
        const QString velmor = QStringLiteral("VELMOR");
        while (n < MaxAccountRows && result->next()) {
            ++n;
            rows[n] = AccountRow{result->columnValue(1), result->columnValue(2),
                                 ConvertText(result->columnValue(3), velmor, false), result->columnValue(4),
                                 ConvertText(result->columnValue(5), velmor, false)};
        }
    } catch (const CacheError&) {
        CloseCacheObject(result);
        throw;
    }
    CloseCacheObject(result);
    return n;
}

QString EntryCode(const QString& entry)
{
    return entry.section(u' ', 0, 0);
}

QString ArticleSearchCommand(const ArticleFilter& filter)
{
    const QString supplier = EntryCode(filter.supplier);
    const QStringList args = {MStringLiteral(filter.shortName),
                              MStringLiteral(EntryCode(filter.mainGroup)),
                              MStringLiteral(EntryCode(filter.subGroup)),
                              MStringLiteral(IsDigits(supplier) ? supplier : QString()),
                              MStringLiteral(EntryCode(filter.department)),
                              MStringLiteral(filter.active),
                              MStringLiteral(filter.listed)};
    return QStringLiteral("D GETARF^XRCLSU(") + args.join(u',') + u')';
}

ArticleRow SplitArticleRow(const QString& piece)
{
    return ArticleRow{StrPiece(piece, FieldSeparator, 1), StrPiece(piece, FieldSeparator, 2),
                      StrPiece(piece, FieldSeparator, 3)};
}

bool AppendArticleBatch(const QString& output)
{
    for (int i = 1; i <= ArticlesPerCall; ++i) {
        const QString piece = StrPiece(output, ItemSeparator, i);
        if (piece.isEmpty() || ArticleRowCount >= MaxArticleRows)
            return true;
        ++ArticleRowCount;
        ArticleRows[ArticleRowCount] = SplitArticleRow(piece);
    }
    // A full store ends the search, even if the server has more.
    return ArticleRowCount >= MaxArticleRows;
}

QString SupplierNameCommand(const QString& number)
{
    return QStringLiteral("S P0=$$ASCIANSI^%UML($P($G(^B(FIRMA,\"L\",") + number +
           QStringLiteral(",1)),%,2)) W:$F($ZV,\"MSM\") P0");
}
