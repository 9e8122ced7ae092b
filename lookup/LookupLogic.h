#pragma once

// The parts of the lookup dialog that need no window: the request's slots, query arguments,
// paging figures, count texts, choice lists and column conversions.

#include "LookupRequest.h"

#include <QDate>
#include <QStringList>
#include <QVariant>
#include <array>
#include <memory>
#include <optional>

namespace lookup {

constexpr int Positions = 9;
constexpr int SlotCount = 3;
constexpr int DefaultPageSize = 100;

// The request's slot fields as arrays, slot N at index N-1. Parameter positions outside
// 0..8 and display columns below 1 are taken as not used (-1).
struct Slots
{
    std::array<int, SlotCount> datumFeld{-1, -1, -1};
    std::array<int, SlotCount> datumParameter{-1, -1, -1};
    std::array<int, SlotCount> cmbParam{-1, -1, -1};
    std::array<int, SlotCount> cmbType{-1, -1, -1};
    std::array<int, SlotCount> feldUmwandl{-1, -1, -1};
    std::array<int, SlotCount> feldUmwandlType{-1, -1, -1};
    int knrParameter = -1;
    int lnrParameter = -1;
    int anrParameter = -1;

    bool isDateColumn(int displayColumn) const;
    // The conversion type of the first slot naming this column, -1 when none.
    int conversionType(int displayColumn) const;
    // The date or choice slot index (0..2) at a position, -1 when the position keeps its box.
    int dateSlotAt(int position) const;
    int choiceSlotAt(int position) const;
};

Slots slotsOf(const LookupRequest& request);
// P1..P9 as the caller gave them.
QStringList displayValues(const LookupRequest& request);
// P1..P9 with each date slot's argument turned into an ERP date number, for the query only.
QStringList initialArguments(const LookupRequest& request);
// Rows per page: 0 (and below) means 100; more than 32767 is held at 32767.
int pageSize(qint32 maxitems);
// Rows of parameter boxes: 0, or 1..3 for three boxes a row.
int paramRows(int paramCount);
QString countText(int rows, bool moreRows);
// The code before the first blank: what the query receives from a combo box.
QString choiceCode(const QString& comboText);

// The fixed choice lists; types 5 and 8 are read from the server and every other type has none.
QStringList fixedChoiceItems(int type);
bool isReadChoiceList(int type);
// The operation text of a read list ("Lookup Abteilungsnahmen ermitteln"); empty for fixed lists.
QString choiceListOperation(int type);
// Reads list 5 (departments) or 8 (currencies) through the session. Throws CacheError; the
// query object is closed and the database access ended before it does.
QStringList readChoiceItems(int type);

// A value of the system's short date form, or an empty date when the text is no ERP date number.
QDate erpDateOrNull(const QString& value);
// The system's short date form with a four-digit year ("10.11.2026" in German).
QString shortDateText(const QDate& date);

// How a list column sorts: a date column by date, a column whose values are all numbers by
// value, any other by the text shown. Cells without a date or number come first.
enum class SortKind { Text, Number, Date };
// A number as the ERP writes it: optional sign, digits, optional decimals ("12", "-3.5", ".5").
std::optional<double> plainNumber(const QString& text);
// Whether cell a sorts before cell b; each cell is its sort value (a QDate for dates, a double
// for numbers, invalid when it has none) and its shown text.
bool sortsBefore(SortKind kind, const QVariant& a, const QString& aText, const QVariant& b,
                 const QString& bText);

// Converts one cell for display. Failures are reported with the error box (after the object
// is closed and the database access ended) and leave the converted part empty.
// lastAccount is read by type 10 and written by types 11 and 12.
// nextValue, for an account conversion (11, 12) that the next row repeats for that value with
// no other database access in between: its open leaves with this row's call, so the two rows
// cost one wait less while the server sees the same calls in the same order.
QString convertField(int type, const QString& value, qint32& lastAccount,
                     const std::optional<QString>& nextValue = std::nullopt);
// A cell conversion whose server call may still be on its way: finish() waits for it and
// gives the text convertField would have given, with the same error handling. Dropped
// unfinished, it ends its database access and leaves the reply unread.
class PendingConversion
{
public:
    virtual ~PendingConversion() = default;
    virtual QString finish() = 0;
};
// As convertField, but an account conversion (11, 12) returns once its call has left, so the
// caller can prepare the row's other cells while the server answers.
std::unique_ptr<PendingConversion> startConversion(int type, const QString& value, qint32& lastAccount,
                                                   const std::optional<QString>& nextValue = std::nullopt);
// Drops an open sent ahead that no row took (the page ended early).
void dropConversionAhead();
bool isRightAligned(int conversionType);

} // namespace lookup
