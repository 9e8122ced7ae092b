#pragma once

#include <QString>
#include <array>

// One row of the customer or supplier search.
struct AccountRow
{
    QString Number;
    QString ShortName;
    QString Name;
    QString PostCode;
    QString Street;
};

// One row of the article search.
struct ArticleRow
{
    QString ArticleNo;
    QString Description;
    QString DepartmentNo;
};

constexpr int MaxAccountRows = 500;
constexpr int MaxArticleRows = 10000;

// Rows are written from index 1; index 0 stays unused. The stores outlive the dialogs.
using AccountRowStore = std::array<AccountRow, MaxAccountRows + 1>;
using ArticleRowStore = std::array<ArticleRow, MaxArticleRows + 1>;

extern AccountRowStore CustomerRows;
extern AccountRowStore SupplierRows;
extern ArticleRowStore ArticleRows;
// Rows loaded so far by the running article search; 0 makes the next load start a new search.
extern qint16 ArticleRowCount;
