#pragma once

#include "LookupLogic.h"
#include "LookupRequest.h"

#include <QDialog>
#include <QFont>
#include <QHash>
#include <array>
#include <functional>

class MaskedDateEdit;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The customer, supplier and article searches that the "Suche" buttons open. The lookup
// library does not link them; the program puts its launchers here at start-up. A search that
// is not set leaves its box alone.
struct LookupSearches
{
    std::function<QString()> SearchCustomer;
    std::function<QString()> SearchSupplier;
    std::function<QString()> SearchArticle;
};
void setLookupSearches(LookupSearches searches);
const LookupSearches& lookupSearches();

// Runs one search in the modal lookup dialog and returns the key of the chosen row, or the
// empty text (cancelled, nothing found, or a query without key column). Failures to create,
// execute or load the first page of the query are thrown as CacheError to the caller, who
// reports them; failures after that are reported in the dialog, which stays usable.
QString Lookup(const LookupRequest& request);

// The state of one call, readable by tests.
struct LookupState
{
    QString Result;
    bool Busy = false;
    qint32 RowsAllotted = 0;
    bool MoreRows = false;
    // 1-based: the key of each row in the order added; element 0 is unused.
    QStringList RowKeys;
    qint16 IdColumn = 0;
    // 1-based over display columns, in twips; element 0 is unused.
    QList<qint32> ColumnWidths;
    qint16 ParamCount = 0;
    qint16 ParamRows = 0;
    QStringList DisplayValues;
    qint32 LastAccount = 0;
};

class frmLookup : public QDialog
{
    Q_OBJECT

public:
    explicit frmLookup(const LookupRequest& request, QWidget* parent = nullptr);
    ~frmLookup() override;

    // Steps of Lookup after taking the request: execute, load hidden, show when needed.
    QString run();
    // Executes the query and loads the dialog hidden (the steps before showing); throws CacheError.
    void start();

    const LookupState& state() const { return m_state; }
    const QStringList& lastArguments() const { return m_arguments; }
    // The key of a list row, empty without key column.
    QString keyOf(const QTreeWidgetItem* item) const;
    // How list column (0-based) sorts, from its slots and the rows shown.
    lookup::SortKind sortKind(int column) const;

    QFrame* Frame1;
    std::array<QLabel*, lookup::Positions> Label;
    std::array<QLineEdit*, lookup::Positions> txtParam;
    std::array<QComboBox*, lookup::SlotCount> cmbParam;
    std::array<MaskedDateEdit*, lookup::SlotCount> cmbDatum;
    QPushButton* b_KNRSuche;
    QPushButton* b_LNRSuche;
    QPushButton* b_ANRSuche;
    QTreeWidget* ListView1;
    QLabel* lblRecords;
    QWidget* Picture1;
    QPushButton* cmdSelect;
    QPushButton* cmdMore;
    QPushButton* cmdCancel;

public slots:
    // Enter in a parameter input: search again with the inputs' arguments.
    void requery();
    // "Weitere".
    void loadMore();
    // "Auswahl" and double click.
    void choose();
    // A click on a column header, or its entry in the list's pop-up menu.
    void sortByColumn(int column);
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void layoutParameters();
    void buildColumns();
    void loadPage();
    // Puts the page's rows into the list and gives grown columns their widths.
    void showHeldRows();
    // anotherFollows: the page goes on with the next row of the query.
    void addCurrentRow(bool anotherFollows = false);
    int onlyAccessingConversion() const;
    void activate();
    void fillChoiceLists();
    void layoutWindow();
    void runSearch(const std::function<QString()>& search, int position);
    void showSortMenu(const QPoint& globalPos);
    void setTabOrderByLayout();
    void emptyList();
    QWidget* inputAt(int position) const;
    // cellMargin: the width of the text followed by "xX", as a cell's sample is measured.
    int measure(const QString& text, bool cellMargin = false) const;
    void reportFailure(const cacheclient::CacheError& error);

    LookupRequest m_request;
    lookup::Slots m_slots;
    int m_pageSize;
    LookupState m_state;
    std::shared_ptr<cacheclient::Factory> m_factory;
    std::unique_ptr<cacheclient::ResultSet> m_query;
    QStringList m_arguments;
    int m_columnCount = 0;
    // onlyAccessingConversion() for the columns built once per dialog.
    int m_accessingColumn = 0;
    int m_sortColumn = -1;
    // The font last checked against the widths kept for all dialogs, and which keeping it was.
    mutable QFont m_measuredFont;
    mutable quint64 m_measuredGeneration = 0;
    // Per list column: cells with a text that is no number.
    QList<int> m_textCells;
    // A hidden list gets a page's rows and grown widths once, when the page ends: one insertion
    // and one header update instead of one per row.
    QList<QTreeWidgetItem*> m_heldRows;
    // Per display column (1-based): its width grew since the list last showed it.
    QList<bool> m_widthGrown;
    QMenu* m_sortMenu = nullptr;
    bool m_activated = false;
    const QObject* m_enterPressedIn = nullptr;
};
