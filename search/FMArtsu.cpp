#include "FMArtsu.h"

#include "SearchLogic.h"
#include "SearchTermField.h"
#include "VelmorSu.h"
#include "cache/cacheapi.h"
#include "widgets/VirtualList.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QVBoxLayout>

namespace {
const QChar ItemSeparator(0xFF);
const QColor PaleYellow(255, 255, 180);
const QColor White(255, 255, 255);
constexpr int KeyEnter = 13;
constexpr int KeyHome = 36;

QLabel* labelFor(QWidget* input, const QString& text)
{
    auto* label = new QLabel(text, input->parentWidget());
    label->setBuddy(input);
    return label;
}
} // namespace

FMArtsu::FMArtsu(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FMArtsu"));
    setWindowTitle(QStringLiteral("Suche nach Artikel"));

    auto named = [this](auto* widget, const char* name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };
    SKBEZ = named(new SearchTermField(this), "SKBEZ");
    SHGRP = named(new QComboBox(this), "SHGRP");
    SUGRP = named(new QComboBox(this), "SUGRP");
    SLNR = named(new QLineEdit(this), "SLNR");
    SLNR->setMaxLength(6);
    SLNR->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), SLNR));
    LBEZ = named(new QLineEdit(this), "LBEZ");
    LBEZ->setReadOnly(true);
    LBEZ->setFocusPolicy(Qt::NoFocus);
    LBEZ->setAccessibleName(QStringLiteral("Lieferantenname"));
    Suchen = named(new QPushButton(this), "Suchen");
    Suchen->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    Suchen->setAccessibleName(QStringLiteral("Lieferantensuche"));
    Suchen->setToolTip(QStringLiteral("Lieferantensuche"));
    SABTNR = named(new QComboBox(this), "SABTNR");
    SAKTIV = named(new QComboBox(this), "SAKTIV");
    SGEL = named(new QComboBox(this), "SGEL");
    BUSuch = named(new QPushButton(QStringLiteral("Suchen"), this), "BUSuch");
    for (QPushButton* button : {Suchen, BUSuch})
        button->setAutoDefault(false);
    for (QComboBox* combo : {SHGRP, SUGRP, SABTNR})
        combo->setMinimumContentsLength(24);

    ARTSULI = named(new VirtualList(4, this), "ARTSULI");
    ARTSULI->setAccessibleName(QStringLiteral("Suchergebnis"));
    const QString headings[] = {QStringLiteral("Art.-Nr."), QStringLiteral("Bezeichnung"),
                                QStringLiteral("Abt.-Nr.")};
    const int widths[] = {45, 350, 45};
    for (int c = 1; c <= 3; ++c) {
        ARTSULI->setHeading(c, headings[c - 1]);
        ARTSULI->setColumnWidthPixels(c, widths[c - 1]);
    }
    ARTSULI->setMinimumSize(480, 300);
    ARTSULI->setFillRow([this](int r, VirtualListRow& cells) { fillRow(r, cells); });

    auto* grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](QWidget* input, const QString& label) {
        grid->addWidget(labelFor(input, label), row, 0);
        grid->addWidget(input, row, 1);
        ++row;
    };
    addRow(SKBEZ, QStringLiteral("Kurzbezeichnung::"));
    addRow(SHGRP, QStringLiteral("Hauptgruppe:"));
    addRow(SUGRP, QStringLiteral("Untergruppe:"));
    auto* supplier = new QHBoxLayout;
    supplier->addWidget(SLNR);
    supplier->addWidget(Suchen);
    supplier->addWidget(LBEZ, 1);
    grid->addWidget(labelFor(SLNR, QStringLiteral("Lieferant:")), row, 0);
    grid->addLayout(supplier, row, 1);
    ++row;
    addRow(SABTNR, QStringLiteral("Abteilung:"));
    addRow(SAKTIV, QStringLiteral("Aktiv:"));
    addRow(SGEL, QStringLiteral("Gelistet:"));
    grid->addWidget(BUSuch, row - 1, 2);
    grid->setColumnStretch(1, 1);
    auto* box = new QVBoxLayout(this);
    box->addLayout(grid);
    box->addWidget(ARTSULI, 1);

    loadCodes(SHGRP, QStringLiteral("d HGRP^XRCLSU"));
    loadCodes(SABTNR, QStringLiteral("d ABTNR^XRCLSU"));
    SAKTIV->addItems({QString(), QStringLiteral("J"), QStringLiteral("N"), QStringLiteral("Z")});
    SAKTIV->setCurrentIndex(1);
    SGEL->addItems({QString(), QStringLiteral("J"), QStringLiteral("N"), QStringLiteral("A"),
                    QStringLiteral("B"), QStringLiteral("C")});
    SGEL->setCurrentIndex(0);
    ArticleRowCount = 0;

    SLNR->installEventFilter(this);
    connect(SHGRP, &QComboBox::currentIndexChanged, this, &FMArtsu::mainGroupChosen);
    connect(Suchen, &QPushButton::clicked, this, [this] { SupplierKeyDown(KeyHome, 0); });
    connect(BUSuch, &QPushButton::clicked, this, &FMArtsu::startSearch);
    connect(ARTSULI, &VirtualList::chosen, this, &FMArtsu::pick);
}

void FMArtsu::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    SKBEZ->setFocus();
}

void FMArtsu::loadCodes(QComboBox* combo, const QString& command)
{
    QStringList items;
    bool failed = false;
    const short n = DBCallD(command, ItemSeparator, items, failed);
    // A list that could not be loaded keeps its empty entry: the search then runs unfiltered.
    combo->clear();
    combo->addItem(QString());
    for (int i = 1; i <= n; ++i)
        combo->addItem(StrPiece(items.at(i), u'`', 1) + u' ' + StrPiece(items.at(i), u'`', 2));
}

void FMArtsu::mainGroupChosen()
{
    const QString code = EntryCode(SHGRP->currentText());
    const int request = ++m_groupRequest;
    if (code.isEmpty()) {
        SUGRP->clear();
        return;
    }
    QStringList items;
    bool failed = false;
    const short n = DBCallD(QStringLiteral("d UGRP^XRCLSU(") + code + u')', ItemSeparator, items, failed);
    // Another group was chosen while this one's list was on its way: that choice's list holds.
    if (request != m_groupRequest)
        return;
    SUGRP->clear();
    SUGRP->addItem(QString());
    for (int i = 1; i <= n; ++i)
        SUGRP->addItem(StrPiece(items.at(i), u'`', 1) + u' ' + StrPiece(items.at(i), u'`', 2));
}

bool FMArtsu::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == SLNR && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int shift = key->modifiers().testFlag(Qt::ShiftModifier) ? 1 : 0;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            SupplierKeyDown(KeyEnter, shift);
            return true;
        }
        if (key->key() == Qt::Key_Home) {
            SupplierKeyDown(KeyHome, shift);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FMArtsu::SupplierKeyDown(int keyCode, int shift)
{
    Q_UNUSED(shift)
    if (keyCode == KeyEnter && !SLNR->text().isEmpty()) {
        const QString number = SLNR->text();
        // Only a number goes into the line, so the field can never carry M code.
        if (!IsDigits(number)) {
            LBEZ->clear();
            return;
        }
        const int request = ++m_nameRequest;
        bool failed = false;
        const QString name = DBCall(SupplierNameCommand(number), failed);
        if (request == m_nameRequest)
            LBEZ->setText(name);
    } else if (keyCode == KeyHome) {
        SLNR->setText(SearchSupplier());
        SupplierKeyDown(KeyEnter, 0);
    }
}

void FMArtsu::startSearch()
{
    // A click while a batch is on its way would restart the search under the running load.
    if (m_loading)
        return;
    SKBEZ->normalise();
    ArticleRowCount = 0;
    m_complete = false;
    LoadArticleBatch();
}

void FMArtsu::LoadArticleBatch()
{
    // Rows are drawn while the server answers; a second load now would append rows twice.
    if (m_loading)
        return;
    m_loading = true;
    setCursor(Qt::WaitCursor);
    QString command = ArticleContinueCommand;
    if (ArticleRowCount == 0) {
        m_complete = false;
        command =
            ArticleSearchCommand({SKBEZ->text(), SHGRP->currentText(), SUGRP->currentText(), SLNR->text(),
                                  SABTNR->currentText(), SAKTIV->currentText(), SGEL->currentText()});
    }
    bool failed = false;
    const QString output = DBCall(command, failed);
    unsetCursor();
    m_complete = AppendArticleBatch(output);
    m_loading = false;
    if (m_complete) {
        ARTSULI->setRowCount(ArticleRowCount);
        ARTSULI->refresh();
        ARTSULI->setCurrentRow(ArticleRowCount);
        ARTSULI->refresh();
    } else {
        // Half a batch more than is loaded, so scrolling on asks for the next batch.
        ARTSULI->setRowCount(ArticleRowCount * 3 / 2);
        ARTSULI->refresh();
    }
}

void FMArtsu::fillRow(int r, VirtualListRow& cells)
{
    if (r > ArticleRowCount && !m_complete)
        LoadArticleBatch();
    const QColor colour = r % 2 == 0 ? White : PaleYellow;
    for (int c = 1; c <= 4; ++c)
        cells.setBackground(c, colour);
    // A row asked for while its batch is still on its way stays blank until the load refreshes the list.
    if (r < 1 || r > ArticleRowCount)
        return;
    const ArticleRow& row = ArticleRows[r];
    cells.setText(1, row.ArticleNo);
    cells.setText(2, row.Description);
    cells.setText(3, row.DepartmentNo);
}

void FMArtsu::pick()
{
    const int r = ARTSULI->currentRow();
    if (r < 1 || r > ArticleRowCount)
        return;
    ChosenArticleNo = ArticleRows[r].ArticleNo;
    accept();
}
