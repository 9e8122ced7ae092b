#pragma once

#include "AccountSearchForm.h"

// "Suche nach Kunden": customers by short name and customer group.
class FMKnrsu : public AccountSearchForm
{
    Q_OBJECT

public:
    explicit FMKnrsu(QWidget* parent = nullptr);

    void RunCustomerSearch();

    QComboBox* SKGRP;
    VirtualList* KNRSULI;

protected:
    void runSearch() override { RunCustomerSearch(); }

private:
    void loadGroups();
};
