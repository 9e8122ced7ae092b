#pragma once

// The searches' rules apart from their windows: argument texts, server command lines, row
// reading and batch splitting.

#include "SearchRows.h"

#include <QString>
#include <array>

namespace cacheclient {
class Factory;
}

// Upper-cased in the search-key form and cut to the field's 18 characters.
QString NormaliseSearchTerm(const QString& text);

// The group argument of the customer search: the entry's first two characters ("7 " for "7 | …").
QString CustomerGroupArgument(const QString& groupEntry);
// The collective account of the supplier search as bare digits ("033 | …" gives "33", no entry
// gives "1"). Throws CacheError when the number part is no 16-bit whole number.
QString SupplierAccountArgument(const QString& accountEntry);

// Pixel widths of the five account columns: each as wide as its content (heading or widest
// text, never below minimum). When that is wider than available, name and street give way,
// each in proportion to what it holds beyond its minimum; room to spare widens them 30 to 44.
std::array<int, 5> FitAccountColumns(const std::array<int, 5>& content, const std::array<int, 5>& minimum,
                                     int available);

// Runs KkrSuche for one account circle ("K" or "L") and writes at most 500 rows into rows from
// index 1. Returns the number of rows. Throws CacheError; rows read before the failure stay
// written.
int ReadAccountRows(cacheclient::Factory& factory, const QString& firma, const QString& circle,
                    const QString& term, const QString& group, AccountRowStore& rows);

// The code of a group or department entry: its text before the first blank.
QString EntryCode(const QString& entry);

struct ArticleFilter
{
    QString shortName;
    QString mainGroup;
    QString subGroup;
    QString supplier;
    QString department;
    QString active;
    QString listed;
};

// The line that starts an article search. Entries give their codes; the supplier is sent only
// when its text before the first blank is all digits.
QString ArticleSearchCommand(const ArticleFilter& filter);
extern const QString ArticleContinueCommand;

ArticleRow SplitArticleRow(const QString& piece);
// Appends the pieces of one batch answer to ArticleRows. Returns true when the search has ended:
// fewer than four pieces, or the store is full.
bool AppendArticleBatch(const QString& output);

// The line that answers a supplier's name; number must be digits only.
QString SupplierNameCommand(const QString& number);
