#include "AccountSearchForm.h"

#include "SearchLogic.h"
#include "SearchTermField.h"
#include "widgets/MessageBox.h"
#include "widgets/ScreenPointer.h"
#include "widgets/Twips.h"
#include "widgets/VirtualList.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {
const QColor PaleYellow(255, 255, 180);
const QColor White(255, 255, 255);
} // namespace

AccountSearchForm::AccountSearchForm(const Layout& layout, AccountRowStore& rows, QString& chosenNumber,
                                     QWidget* parent)
    : QDialog(parent), m_rows(rows), m_chosen(chosenNumber)
{
    setObjectName(layout.formName);
    setWindowTitle(layout.caption);

    SKBEZ = new SearchTermField(this);
    SKBEZ->setObjectName(QStringLiteral("SKBEZ"));
    auto* termLabel = new QLabel(layout.termLabel, this);
    termLabel->setBuddy(SKBEZ);
    m_combo = new QComboBox(this);
    m_combo->setObjectName(layout.comboName);
    m_combo->setMinimumContentsLength(24);
    auto* comboLabel = new QLabel(layout.comboLabel, this);
    comboLabel->setBuddy(m_combo);
    BUSuch = new QPushButton(QStringLiteral("Suchen"), this);
    BUSuch->setObjectName(QStringLiteral("BUSuch"));
    BUSuch->setAutoDefault(false);

    m_list = new VirtualList(6, this);
    m_list->setObjectName(layout.listName);
    m_list->setAccessibleName(QStringLiteral("Suchergebnis"));
    const QString headings[] = {layout.numberHeading, QStringLiteral("K Bezeichnung"), QStringLiteral("Name"),
                                QStringLiteral("PLZ"), QStringLiteral("Straße")};
    for (int c = 1; c <= 5; ++c)
        m_list->setHeading(c, headings[c - 1]);
    m_list->setMinimumSize(Twips::toPixels(ListWidthTwips), Twips::toPixels(4500));
    m_list->setFillRow([this](int r, VirtualListRow& cells) {
        const QColor colour = r % 2 == 0 ? White : PaleYellow;
        for (int c = 1; c <= 6; ++c)
            cells.setBackground(c, colour);
        if (r < 1 || r > MaxAccountRows)
            return;
        const AccountRow& row = m_rows[r];
        const QString texts[] = {row.Number, row.ShortName, row.Name, row.PostCode, row.Street};
        for (int c = 1; c <= 5; ++c)
            cells.setText(c, texts[c - 1]);
    });

    auto* inputs = new QGridLayout;
    inputs->addWidget(termLabel, 0, 0);
    inputs->addWidget(SKBEZ, 0, 1);
    inputs->addWidget(comboLabel, 1, 0);
    inputs->addWidget(m_combo, 1, 1);
    inputs->addWidget(BUSuch, 1, 2);
    inputs->setColumnStretch(3, 1);
    auto* box = new QVBoxLayout(this);
    box->addLayout(inputs);
    box->addWidget(m_list, 1);

    SKBEZ->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    fitColumns();
    connect(BUSuch, &QPushButton::clicked, this, &AccountSearchForm::startSearch);
    connect(m_list, &VirtualList::chosen, this, &AccountSearchForm::pick);
}

void AccountSearchForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    SKBEZ->setFocus();
}

bool AccountSearchForm::eventFilter(QObject* watched, QEvent* event)
{
    // Also when the rows bring or take the vertical scroll bar.
    if (watched == m_list->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    if (watched == SKBEZ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            SKBEZ->normalise();
            startSearch();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AccountSearchForm::startSearch()
{
    // Events run while the server answers; a second click must not start a second search.
    if (m_searching)
        return;
    // A shortcut or the Enter key may start the search while the field still has the focus.
    SKBEZ->normalise();
    if (SKBEZ->text().isEmpty()) {
        MessageBox::show(this, QMessageBox::NoIcon, QStringLiteral("Fehler: Suchbegriffseingabe"),
                         QStringLiteral("Der Suchbegriff muss mindestens 1 Zeichen Lang sein"),
                         QMessageBox::Ok);
        return;
    }
    m_searching = true;
    ScreenPointer::set(ScreenPointer::Hourglass);
    runSearch();
    ScreenPointer::set(ScreenPointer::Arrow);
    m_searching = false;
}

void AccountSearchForm::showRowCount(int n)
{
    m_shownRows = qBound(0, n, MaxAccountRows);
    m_list->setRowCount(n);
    fitColumns();
    m_list->refresh();
}

void AccountSearchForm::fitColumns()
{
    // A cell's text has the item delegate's margins on both sides, the grid line and a pixel
    // for the fraction that text widths have.
    const int cellMargin =
        2 * (m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1) + 2;
    const QFontMetrics metrics(m_list->font());
    std::array<int, 5> content{};
    std::array<int, 5> minimum{};
    for (int c = 0; c < 5; ++c) {
        minimum[c] = m_list->horizontalHeader()->sectionSizeHint(c);
        content[c] = minimum[c];
    }
    for (int r = 1; r <= m_shownRows; ++r) {
        const AccountRow& row = m_rows[r];
        const QString* texts[] = {&row.Number, &row.ShortName, &row.Name, &row.PostCode, &row.Street};
        for (int c = 0; c < 5; ++c)
            content[c] = qMax(content[c], metrics.horizontalAdvance(*texts[c]) + cellMargin);
    }
    // Room is kept for the sixth column's least width.
    const int available = m_list->viewport()->width() - m_list->horizontalHeader()->minimumSectionSize();
    const std::array<int, 5> widths = FitAccountColumns(content, minimum, available);
    // The sixth column only carries the row colour to the right edge: it stretches from its least width.
    m_list->setColumnWidthPixels(6, m_list->horizontalHeader()->minimumSectionSize());
    for (int c = 1; c <= 5; ++c)
        m_list->setColumnWidthPixels(c, widths[c - 1]);
}

void AccountSearchForm::pick()
{
    const int r = m_list->currentRow();
    if (r < 1 || r > MaxAccountRows)
        return;
    m_chosen = m_rows[r].Number;
    accept();
}
