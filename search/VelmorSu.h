#pragma once

#include <QString>

// The one way into the master-data searches: each launcher shows its dialog modally and returns
// the number picked there, or the empty text when the dialog was closed without a pick.
QString SearchCustomer();
QString SearchSupplier();
QString SearchArticle();

// Written only by the launchers (cleared) and their dialogs' picks.
extern QString ChosenCustomerNo;
extern QString ChosenSupplierNo;
extern QString ChosenArticleNo;
