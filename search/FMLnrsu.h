#pragma once

#include "AccountSearchForm.h"

// "Suche nach Lieferant": suppliers by short name within one collective account.
class FMLnrsu : public AccountSearchForm
{
    Q_OBJECT

public:
    explicit FMLnrsu(QWidget* parent = nullptr);

    void RunSupplierSearch();

    QComboBox* SSKTOK;
    VirtualList* LNRSULI;

protected:
    void runSearch() override { RunSupplierSearch(); }

private:
    void loadAccounts();
};
