#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class SearchTermField;
class VirtualList;
class VirtualListRow;

// "Suche nach Artikel": articles by short name, groups, supplier, department and status codes.
// The server hands the hits over four at a time; the next batch is fetched when the list wants
// a row that is not loaded yet.
class FMArtsu : public QDialog
{
    Q_OBJECT

public:
    explicit FMArtsu(QWidget* parent = nullptr);

    void LoadArticleBatch();
    // The supplier field's key handling: 13 fetches the supplier's name, 36 opens the supplier search.
    void SupplierKeyDown(int keyCode, int shift);

    SearchTermField* SKBEZ;
    QComboBox* SHGRP;
    QComboBox* SUGRP;
    QLineEdit* SLNR;
    QLineEdit* LBEZ;
    QPushButton* Suchen;
    QComboBox* SABTNR;
    QComboBox* SAKTIV;
    QComboBox* SGEL;
    QPushButton* BUSuch;
    VirtualList* ARTSULI;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void loadCodes(QComboBox* combo, const QString& command);
    void mainGroupChosen();
    void startSearch();
    void fillRow(int r, VirtualListRow& cells);
    void pick();

    bool m_loading = false;
    bool m_complete = true;
    int m_groupRequest = 0;
    int m_nameRequest = 0;
};
