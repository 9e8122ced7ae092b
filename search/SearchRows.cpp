#include "SearchRows.h"

AccountRowStore CustomerRows;
AccountRowStore SupplierRows;
ArticleRowStore ArticleRows;
qint16 ArticleRowCount = 0;
