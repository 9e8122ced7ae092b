#pragma once

#include "SearchRows.h"

#include <QDialog>

class QComboBox;
class QPushButton;
class SearchTermField;
class VirtualList;

// The frame of the customer and supplier searches: search term, one filter combo, "Suchen" and
// a list of at most 500 accounts, of which the user picks one.
class AccountSearchForm : public QDialog
{
    Q_OBJECT

public:
    SearchTermField* SKBEZ;
    QPushButton* BUSuch;

    // The width the list is laid out with.
    static constexpr double ListWidthTwips = 9000;

protected:
    struct Layout
    {
        QString formName;
        QString caption;
        QString termLabel;
        QString comboName;
        QString comboLabel;
        QString listName;
        QString numberHeading;
    };
    AccountSearchForm(const Layout& layout, AccountRowStore& rows, QString& chosenNumber, QWidget* parent);

    // Reads the term and filter, writes the rows and the list's row count.
    virtual void runSearch() = 0;
    void showRowCount(int n);

    QComboBox* m_combo;
    VirtualList* m_list;

    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startSearch();
    void pick();
    // Columns as wide as their headings and the rows shown, within the list's width.
    void fitColumns();

    AccountRowStore& m_rows;
    QString& m_chosen;
    bool m_searching = false;
    int m_shownRows = 0;
};
