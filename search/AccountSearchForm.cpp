#include "AccountSearchForm.h"

#include "SearchLogic.h"
#include "SearchTermField.h"
#include "widgets/MessageBox.h"
#include "widgets/ScreenPointer.h"
#include "widgets/Twips.h"
#include "widgets/VirtualList.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
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
    const std::array<int, 5> widths = AccountColumnWidths(ListWidthTwips);
    for (int c = 1; c <= 5; ++c) {
        m_list->setHeading(c, headings[c - 1]);
        m_list->setColumnWidthPixels(c, widths[c - 1]);
    }
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
    m_list->setRowCount(n);
    m_list->refresh();
}

void AccountSearchForm::pick()
{
    const int r = m_list->currentRow();
    if (r < 1 || r > MaxAccountRows)
        return;
    m_chosen = m_rows[r].Number;
    accept();
}
