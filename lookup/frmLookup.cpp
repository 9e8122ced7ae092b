#include "frmLookup.h"

#include "cache/cacheapi.h"
#include "widgets/Beep.h"
#include "widgets/ContextMenuKeys.h"
#include "widgets/MaskedDateEdit.h"
#include "widgets/MessageBox.h"
#include "widgets/ScreenPointer.h"
#include "widgets/SearchIcon.h"
#include "widgets/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>

using cacheclient::CacheError;
using namespace lookup;

namespace {

// Designed sizes, in twips.
constexpr int FormWidth = 8055;
constexpr int FormHeight = 8505;
constexpr int FrameLeft = 60;
constexpr int FrameTop = 60;
constexpr int BarHeight = 615;
constexpr int BoxWidth = 2295;
constexpr int BoxHeight = 285;
constexpr int BoxLefts[3] = {120, 2520, 4920};
constexpr int BoxTops[3] = {480, 1080, 1680};
constexpr int LabelAbove = 240;
constexpr int LabelHeight = 270;
constexpr int DateWidth = 1575;
constexpr int SearchButtonWidth = 360;
constexpr int ButtonWidth = 1215;
constexpr int ButtonHeight = 375;
constexpr int ButtonTop = 120;
constexpr int RecordsWidth = 3495;
constexpr int RecordsHeight = 255;
constexpr int MinColumnWidth = 250;
constexpr int MaxColumnWidth = 1500;

LookupSearches& searches()
{
    static LookupSearches instance;
    return instance;
}

void place(QWidget* w, double left, double top, double width, double height)
{
    // A window made very small yields negative sizes; they are laid out as nothing.
    w->setGeometry(Twips::toPixels(left), Twips::toPixels(top), qMax(0, Twips::toPixels(width)),
                   qMax(0, Twips::toPixels(height)));
}

double twLeft(const QWidget* w)
{
    return Twips::fromPixels(w->x());
}

double twTop(const QWidget* w)
{
    return Twips::fromPixels(w->y());
}

double twWidth(const QWidget* w)
{
    return Twips::fromPixels(w->width());
}

double twHeight(const QWidget* w)
{
    return Twips::fromPixels(w->height());
}

QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    // Enter belongs to the parameter boxes: it searches again and must not press a button.
    button->setAutoDefault(false);
    return button;
}

// The control names with their one-digit index ("txtParam0".."txtParam8").
static_assert(Positions <= 10 && SlotCount <= 10);
QString numbered(QStringView name, int index)
{
    QString text;
    text.reserve(name.size() + 1);
    text.append(name);
    text.append(QChar(u'0' + index));
    return text;
}

struct MeasuredWidths
{
    QFont font;
    int dpi = 0;
    quint64 generation = 0;
    QHash<QString, int> widths;
    // Keyed by a cell's sample: the width of the sample followed by the cell margin "xX".
    QHash<QString, int> cellWidths;
};

MeasuredWidths& measuredWidths()
{
    static MeasuredWidths instance;
    return instance;
}

// Bounds the memory of widths kept across dialogs.
constexpr qsizetype MaxMeasuredWidths = 20000;

bool isEnter(const QEvent* event, QEvent::Type type)
{
    if (event->type() != type)
        return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    return !key->isAutoRepeat() && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter);
}

} // namespace

// A list row that sorts each column by its kind: dates by date, numbers by value. Its row
// number and sort values are plain members: item data roles cost a list search per cell.
class LookupItem : public QTreeWidgetItem
{
public:
    LookupItem(const frmLookup* owner, int rowNumber, int columns)
        : m_owner(owner), m_rowNumber(rowNumber), m_sortValues(columns)
    {
    }

    int rowNumber() const { return m_rowNumber; }
    // The date or number the cell sorts by; unset when it has none.
    QVariant sortValue(int column) const { return m_sortValues.value(column); }
    void setSortValue(int column, QVariant value) { m_sortValues[column] = std::move(value); }

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const auto* row = dynamic_cast<const LookupItem*>(&other);
        return sortsBefore(m_owner->sortKind(column), sortValue(column), text(column),
                           row ? row->sortValue(column) : QVariant(), other.text(column));
    }

private:
    const frmLookup* m_owner;
    int m_rowNumber;
    QList<QVariant> m_sortValues;
};

void setLookupSearches(LookupSearches value)
{
    searches() = std::move(value);
}

const LookupSearches& lookupSearches()
{
    return searches();
}

QString Lookup(const LookupRequest& request)
{
    frmLookup dialog(request, QApplication::activeWindow());
    return dialog.run();
}

frmLookup::frmLookup(const LookupRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request), m_slots(slotsOf(request)), m_pageSize(pageSize(request.Maxitems))
{
    setObjectName(QStringLiteral("frmLookup"));
    setWindowTitle(QStringLiteral("Lookup"));
    setSizeGripEnabled(true);

    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::StyledPanel);
    for (int a = 0; a < Positions; ++a) {
        Label[a] = new QLabel(Frame1);
        Label[a]->setObjectName(numbered(u"Label", a));
        Label[a]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        txtParam[a] = new QLineEdit(Frame1);
        txtParam[a]->setObjectName(numbered(u"txtParam", a));
        txtParam[a]->installEventFilter(this);
        const double l = BoxLefts[a % 3];
        const double t = BoxTops[a / 3];
        place(Label[a], l, t - LabelAbove, BoxWidth, LabelHeight);
        place(txtParam[a], l, t, BoxWidth, BoxHeight);
        Label[a]->setBuddy(txtParam[a]);
    }
    for (int n = 0; n < SlotCount; ++n) {
        cmbParam[n] = new QComboBox(Frame1);
        cmbParam[n]->setObjectName(numbered(u"cmbParam", n));
        // A combo box no slot places stays hidden and unread; making it editable would cost
        // as much as building the rest of the dialog.
        cmbParam[n]->setEditable(m_slots.cmbParam[n] >= 0);
        cmbParam[n]->setInsertPolicy(QComboBox::NoInsert);
        place(cmbParam[n], BoxLefts[0], BoxTops[0], BoxWidth, BoxHeight);
        cmbParam[n]->hide();
        cmbDatum[n] = new MaskedDateEdit(Frame1);
        cmbDatum[n]->setObjectName(numbered(u"cmbDatum", n));
        place(cmbDatum[n], BoxLefts[0], BoxTops[0], DateWidth, BoxHeight);
        cmbDatum[n]->hide();
        connect(cmbDatum[n], &MaskedDateEdit::returnPressed, this, &frmLookup::requery);
    }
    b_KNRSuche = makeButton(QStringLiteral("b_KNRSuche"), QStringLiteral("Suche"), Frame1);
    b_LNRSuche = makeButton(QStringLiteral("b_LNRSuche"), QStringLiteral("Suche"), Frame1);
    b_ANRSuche = makeButton(QStringLiteral("b_ANRSuche"), QStringLiteral("Suche"), Frame1);
    for (QPushButton* b : {b_KNRSuche, b_LNRSuche, b_ANRSuche}) {
        // 360 twips hold no caption: the button shows a magnifier and is named by its caption.
        b->setText(QString());
        b->setIcon(searchIcon());
        b->setToolTip(QStringLiteral("Suche"));
        b->setAccessibleName(QStringLiteral("Suche"));
        b->resize(Twips::toPixels(SearchButtonWidth), Twips::toPixels(BoxHeight));
        const int side = qMax(8, qMin(b->width(), b->height()) - 6);
        b->setIconSize(QSize(side, side));
        b->hide();
    }
    connect(b_KNRSuche, &QPushButton::clicked, this,
            [this] { runSearch(lookupSearches().SearchCustomer, m_slots.knrParameter); });
    connect(b_LNRSuche, &QPushButton::clicked, this,
            [this] { runSearch(lookupSearches().SearchSupplier, m_slots.lnrParameter); });
    connect(b_ANRSuche, &QPushButton::clicked, this,
            [this] { runSearch(lookupSearches().SearchArticle, m_slots.anrParameter); });

    ListView1 = new QTreeWidget(Frame1);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Suchergebnis"));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setSectionsMovable(false);
    connect(ListView1->header(), &QHeaderView::sectionClicked, this, &frmLookup::sortByColumn);
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { choose(); });
    // The keyboard's way to sort: the list's pop-up menu names every column.
    m_sortMenu = new QMenu(this);
    m_sortMenu->setObjectName(QStringLiteral("mSortieren"));
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { showSortMenu(ListView1->viewport()->mapToGlobal(pos)); });
    ListView1->installEventFilter(this);

    lblRecords = new QLabel(QStringLiteral("nnnn Einträge gefunden."), Frame1);
    lblRecords->setObjectName(QStringLiteral("lblRecords"));
    lblRecords->setAlignment(Qt::AlignCenter);
    lblRecords->resize(Twips::toPixels(RecordsWidth), Twips::toPixels(RecordsHeight));

    Picture1 = new QWidget(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    cmdSelect = makeButton(QStringLiteral("cmdSelect"), QStringLiteral("Auswahl"), Picture1);
    cmdMore = makeButton(QStringLiteral("cmdMore"), QStringLiteral("Weitere"), Picture1);
    cmdCancel = makeButton(QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), Picture1);
    for (QPushButton* b : {cmdSelect, cmdMore, cmdCancel})
        b->resize(Twips::toPixels(ButtonWidth), Twips::toPixels(ButtonHeight));
    cmdMore->hide();
    connect(cmdSelect, &QPushButton::clicked, this, &frmLookup::choose);
    connect(cmdMore, &QPushButton::clicked, this, &frmLookup::loadMore);
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        if (m_state.Busy)
            return;
        m_state.Result.clear();
        QDialog::reject();
    });

    m_state.RowKeys = QStringList{QString()};
    m_state.ColumnWidths = {0};
    resize(Twips::toPixels(FormWidth), Twips::toPixels(FormHeight));
}

frmLookup::~frmLookup()
{
    // Closing the query lets events in: none of them may start a search or touch the list of a
    // dialog that is going. The list goes first, so its pending header update is not done.
    m_state.Busy = true;
    delete ListView1;
    ListView1 = nullptr;
    qDeleteAll(m_heldRows);
    CloseCacheObject(m_query);
}

QString frmLookup::run()
{
    start();
    const int n = ListView1->topLevelItemCount();
    if (n > 0) {
        if (n == 1 && m_request.AutoSelect)
            m_state.Result = keyOf(ListView1->topLevelItem(0));
        else
            exec();
    } else if (m_request.MsgBoxIfNone == 1) {
        MessageBox::show(parentWidget(), QMessageBox::NoIcon, QStringLiteral("Lookup"),
                         QStringLiteral("Es wurde kein Eingrag gefunden!"), QMessageBox::Ok);
    } else if (m_request.MsgBoxIfNone == 2) {
        exec();
    }
    m_factory.reset();
    CloseCacheObject(m_query);
    return m_state.Result;
}

void frmLookup::start()
{
    m_state.Result.clear();
    m_state.RowsAllotted = 0;
    m_state.DisplayValues = displayValues(m_request);
    m_arguments = initialArguments(m_request);
    m_factory = m_request.Factory;
    if (!m_factory)
        throw CacheError(cacheclient::ClientError::NotConnected,
                         QStringLiteral("Keine Verbindung zum Server"));
    m_query = m_factory->resultSet(m_request.Class, m_request.Query);
    m_query->execute(m_arguments);
    load();
}

QString frmLookup::keyOf(const QTreeWidgetItem* item) const
{
    if (!item || m_state.IdColumn <= 0)
        return QString();
    const auto* row = dynamic_cast<const LookupItem*>(item);
    return row ? m_state.RowKeys.value(row->rowNumber()) : QString();
}

void frmLookup::load()
{
    if (!m_request.Title.isEmpty())
        setWindowTitle(m_request.Title);
    m_state.Busy = true;
    try {
        layoutParameters();
        buildColumns();
        loadPage();
    } catch (...) {
        m_state.Busy = false;
        throw;
    }
    m_state.Busy = false;
    layoutWindow();
}

QWidget* frmLookup::inputAt(int position) const
{
    const int date = m_slots.dateSlotAt(position);
    if (date >= 0)
        return cmbDatum[date];
    const int choice = m_slots.choiceSlotAt(position);
    if (choice >= 0)
        return cmbParam[choice];
    return txtParam[position];
}

void frmLookup::layoutParameters()
{
    m_state.ParamCount = static_cast<qint16>(qBound(0, m_query->parameterCount(), 32767));
    m_state.ParamRows = static_cast<qint16>(paramRows(m_state.ParamCount));
    const std::array<std::pair<int, QPushButton*>, 3> buttons = {{{m_slots.knrParameter, b_KNRSuche},
                                                                  {m_slots.lnrParameter, b_LNRSuche},
                                                                  {m_slots.anrParameter, b_ANRSuche}}};
    for (int a = 0; a < Positions; ++a) {
        const bool used = a < m_state.ParamCount;
        Label[a]->setVisible(used);
        QWidget* input = inputAt(a);
        input->setVisible(used);
        if (input != txtParam[a]) {
            input->move(txtParam[a]->pos());
            txtParam[a]->hide();
        }
        for (const auto& [position, button] : buttons) {
            if (position != a)
                continue;
            txtParam[a]->resize(Twips::toPixels(twWidth(txtParam[a]) - SearchButtonWidth),
                                txtParam[a]->height());
            place(button, twLeft(txtParam[a]) + twWidth(txtParam[a]), twTop(txtParam[a]), SearchButtonWidth,
                  BoxHeight);
            button->show();
        }
        if (!used)
            continue;
        const QString name = m_query->parameterName(a + 1);
        Label[a]->setText(name);
        // A label's text follows its buddy's mnemonic by itself; only another buddy is set.
        if (Label[a]->buddy() != input)
            Label[a]->setBuddy(input);
        const QString value = m_state.DisplayValues.value(a);
        if (auto* date = qobject_cast<MaskedDateEdit*>(input)) {
            date->setText(value);
            date->lineEdit()->setAccessibleName(name);
            date->lineEdit()->end(false);
        } else if (auto* combo = qobject_cast<QComboBox*>(input)) {
            combo->setEditText(value);
            combo->lineEdit()->end(false);
        } else {
            txtParam[a]->setText(value);
            txtParam[a]->end(false);
        }
    }
    setTabOrderByLayout();
}

void frmLookup::setTabOrderByLayout()
{
    // As the eye reads the window: the inputs row by row, each followed by its search button,
    // then the list and the buttons. Hidden controls are passed over.
    QList<QWidget*> order;
    for (int a = 0; a < Positions; ++a) {
        order << inputAt(a);
        if (a == m_slots.knrParameter)
            order << b_KNRSuche;
        if (a == m_slots.lnrParameter)
            order << b_LNRSuche;
        if (a == m_slots.anrParameter)
            order << b_ANRSuche;
    }
    order << ListView1 << cmdSelect << cmdMore << cmdCancel;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

int frmLookup::measure(const QString& text, bool cellMargin) const
{
    // Pixel widths are kept for all dialogs: every list search measures its cells again, and
    // shaping a text costs more than the rest of its cell. They hold for one font at one
    // resolution; another font (or another dialog's, while this one is open) measures anew.
    MeasuredWidths& kept = measuredWidths();
    if (!font().isCopyOf(m_measuredFont) || m_measuredGeneration != kept.generation) {
        m_measuredFont = font();
        const int dpi = logicalDpiY();
        if (kept.generation == 0 || !(kept.font == m_measuredFont) || kept.dpi != dpi) {
            kept.widths.clear();
            kept.cellWidths.clear();
            kept.font = m_measuredFont;
            kept.dpi = dpi;
            ++kept.generation;
        }
        m_measuredGeneration = kept.generation;
    }
    // A cell's sample is looked up without joining the margin to it first.
    QHash<QString, int>& widths = cellMargin ? kept.cellWidths : kept.widths;
    if (widths.size() >= MaxMeasuredWidths)
        widths.clear();
    auto it = widths.constFind(text);
    if (it == widths.constEnd())
        it = widths.insert(text,
                           fontMetrics().horizontalAdvance(cellMargin ? text + QStringLiteral("xX") : text));
    return qRound(Twips::fromPixels(*it));
}

void frmLookup::buildColumns()
{
    ListView1->clear();
    m_columnCount = m_query->columnCount();
    const int key = m_query->keyColumn();
    m_state.IdColumn = static_cast<qint16>(key >= 1 && key <= m_columnCount ? key : 0);
    m_state.ColumnWidths = QList<qint32>(m_columnCount + 1, 0);
    QStringList headers;
    for (int c = 1; c <= m_columnCount; ++c) {
        if (c == m_state.IdColumn)
            continue;
        const QString header = m_query->columnName(c);
        headers << header;
        m_state.ColumnWidths[headers.size()] = measure(header);
    }
    m_textCells = QList<int>(headers.size(), 0);
    // The header widths reach the list with the first page's widths (showHeldRows).
    m_widthGrown = QList<bool>(m_state.ColumnWidths.size(), false);
    ListView1->setColumnCount(static_cast<int>(headers.size()));
    ListView1->setHeaderLabels(headers);
    for (int d = 1; d <= headers.size(); ++d) {
        m_widthGrown[d] = true;
        const Qt::Alignment align =
            isRightAligned(m_slots.conversionType(d)) ? Qt::AlignRight : Qt::AlignLeft;
        ListView1->headerItem()->setTextAlignment(d - 1, align | Qt::AlignVCenter);
    }
    m_accessingColumn = onlyAccessingConversion();
}

int frmLookup::onlyAccessingConversion() const
{
    // Conversions that ask the server; the one of them, when there is exactly one.
    int found = 0;
    for (int d = 1; d <= ListView1->columnCount(); ++d) {
        const int type = m_slots.conversionType(d);
        if (type == 8 || type == 10 || type == 11 || type == 12) {
            if (found != 0)
                return 0;
            found = d;
        }
    }
    return found;
}

void frmLookup::addCurrentRow(bool anotherFollows)
{
    const int accessing = m_accessingColumn;
    // The row's one conversion that asks the server leaves first, with the next row's open
    // behind it; the other cells are prepared while the server answers. The server sees the
    // same calls in the same order: the other cells ask it nothing.
    std::unique_ptr<lookup::PendingConversion> pending;
    if (accessing > 0 &&
        (m_slots.conversionType(accessing) == 11 || m_slots.conversionType(accessing) == 12)) {
        int c = 0;
        for (int d = 0; d < accessing;)
            if (++c != m_state.IdColumn)
                ++d;
        std::optional<QString> next;
        if (anotherFollows)
            if (const std::optional<QString> held = m_query->heldNextValue(c))
                next = ConvertText(*held, QStringLiteral("VELMOR"), false);
        pending = lookup::startConversion(
            m_slots.conversionType(accessing),
            ConvertText(m_query->columnValue(c), QStringLiteral("VELMOR"), false), m_state.LastAccount, next);
    }
    m_state.RowKeys.append(m_state.IdColumn > 0 ? m_query->columnValue(m_state.IdColumn) : QString());
    auto item = std::make_unique<LookupItem>(this, static_cast<int>(m_state.RowKeys.size() - 1),
                                             ListView1->columnCount());
    auto cell = [&](int c, int d) {
        QString v = ConvertText(m_query->columnValue(c), QStringLiteral("VELMOR"), false);
        QString sample = v;
        const bool dateColumn = m_slots.isDateColumn(d);
        QDate date;
        QString dateText;
        if (dateColumn) {
            date = erpDateOrNull(v);
            if (date.isValid()) {
                dateText = shortDateText(date);
                sample = dateText + QStringLiteral("99");
            }
        }
        const int type = m_slots.conversionType(d);
        // An amount sorts by the value it was formatted from.
        const std::optional<double> number = plainNumber(v);
        if (type != -1) {
            v = d == accessing && pending ? pending->finish() : convertField(type, v, m_state.LastAccount);
            sample = v;
        }
        // A column at its widest grows no more: its cells need no measuring.
        if (d < m_state.ColumnWidths.size() && m_state.ColumnWidths.at(d) < MaxColumnWidth) {
            const int w = qBound(MinColumnWidth, measure(sample, true), MaxColumnWidth);
            if (m_state.ColumnWidths.at(d) < w) {
                m_state.ColumnWidths[d] = w;
                m_widthGrown[d] = true;
            }
        }
        if (dateColumn) {
            // A value that is no ERP date number (e.g. empty) is shown as it came. Without a
            // conversion the date is the one read above.
            if (type != -1) {
                date = erpDateOrNull(v);
                dateText = date.isValid() ? shortDateText(date) : QString();
            }
            item->setText(d - 1, date.isValid() ? dateText : v);
            if (date.isValid())
                item->setSortValue(d - 1, date);
        } else {
            item->setText(d - 1, v);
            // Without a conversion the shown text is the value itself: its number is known.
            const std::optional<double> shown = isRightAligned(type) || type == -1 ? number : plainNumber(v);
            if (shown)
                item->setSortValue(d - 1, *shown);
            else if (!v.trimmed().isEmpty())
                m_textCells[d - 1] += 1;
        }
        if (isRightAligned(type))
            item->setTextAlignment(d - 1, Qt::AlignRight | Qt::AlignVCenter);
    };
    // The cell that waits for the server comes last, so every other cell is prepared meanwhile.
    int waiting = 0;
    int d = 0;
    for (int c = 1; c <= m_columnCount; ++c) {
        if (c == m_state.IdColumn)
            continue;
        ++d;
        if (d == accessing && pending)
            waiting = c;
        else
            cell(c, d);
    }
    if (waiting > 0)
        cell(waiting, accessing);
    m_heldRows.append(item.release());
    // A list on the screen shows every row as it comes, as the user watches a slow page fill.
    if (ListView1->isVisible())
        showHeldRows();
}

void frmLookup::showHeldRows()
{
    if (!m_heldRows.isEmpty()) {
        ListView1->addTopLevelItems(m_heldRows);
        m_heldRows.clear();
    }
    for (qsizetype d = 1; d < m_widthGrown.size(); ++d) {
        if (m_widthGrown.at(d)) {
            ListView1->setColumnWidth(static_cast<int>(d - 1), Twips::toPixels(m_state.ColumnWidths.at(d)));
            m_widthGrown[d] = false;
        }
    }
}

void frmLookup::loadPage()
{
    ScreenPointer::set(ScreenPointer::Hourglass);
    try {
        int i = 1;
        if (m_state.RowsAllotted == 0) {
            ListView1->clear();
            m_textCells.fill(0);
            m_state.RowsAllotted = m_pageSize;
            m_state.RowKeys = QStringList{QString()};
            m_state.RowKeys.reserve(m_pageSize + 1);
        } else {
            m_state.RowsAllotted += m_pageSize;
            m_state.RowKeys.reserve(m_state.RowsAllotted + 1);
            addCurrentRow(m_pageSize >= 2);
            i = 2;
        }
        m_state.MoreRows = true;
        for (; i <= m_pageSize; ++i) {
            if (!m_query->next()) {
                m_state.MoreRows = false;
                break;
            }
            addCurrentRow(i < m_pageSize);
        }
        dropConversionAhead();
        // The look-ahead row stays current in the query and opens the next page.
        if (m_state.MoreRows && !m_query->next())
            m_state.MoreRows = false;
    } catch (...) {
        dropConversionAhead();
        // The rows read before the failure stay in the list.
        showHeldRows();
        ScreenPointer::set(ScreenPointer::Arrow);
        throw;
    }
    showHeldRows();
    if (m_sortColumn >= 0)
        ListView1->sortItems(m_sortColumn, Qt::AscendingOrder);
    lblRecords->setText(countText(ListView1->topLevelItemCount(), m_state.MoreRows));
    ListView1->clearSelection();
    ListView1->setCurrentItem(nullptr);
    cmdMore->setVisible(m_state.MoreRows && m_request.MoreButton);
    if (m_state.IdColumn == 0) {
        cmdSelect->hide();
        cmdCancel->setText(QStringLiteral("OK"));
    }
    layoutWindow();
    ScreenPointer::set(ScreenPointer::Arrow);
}

void frmLookup::emptyList()
{
    ListView1->clear();
    m_textCells.fill(0);
    m_state.RowKeys = QStringList{QString()};
    m_state.RowsAllotted = 0;
    m_state.MoreRows = false;
    cmdMore->hide();
    lblRecords->setText(countText(0, false));
    layoutWindow();
}

void frmLookup::reportFailure(const CacheError& error)
{
    ScreenPointer::set(ScreenPointer::Arrow);
    ReportCacheError(error, QStringLiteral("Lookup Abfrage ") + m_request.Class + u' ' + m_request.Query);
}

void frmLookup::requery()
{
    if (m_state.Busy)
        return;
    m_state.Busy = true;
    m_state.RowsAllotted = 0;
    QStringList args;
    for (const QLineEdit* box : txtParam)
        args << box->text();
    for (int n = 0; n < SlotCount; ++n) {
        if (const int p = m_slots.datumParameter[n]; p >= 0)
            args[p] = DateToErpDate(QVariant(cmbDatum[n]->date()));
        if (const int q = m_slots.cmbParam[n]; q >= 0)
            args[q] = choiceCode(cmbParam[n]->currentText());
    }
    m_arguments = args;
    try {
        if (!m_query || !m_factory || !m_factory->isConnected()) {
            // Closed by the idle timer, or lost: reconnect as every access does and query
            // through the new connection.
            CloseCacheObject(m_query);
            if (!m_factory || !m_factory->isConnected()) {
                DBBegin();
                m_factory = session().Factory;
                if (!m_factory)
                    throw CacheError(cacheclient::ClientError::NotConnected,
                                     QStringLiteral("Keine Verbindung zum Server"));
            }
            m_query = m_factory->resultSet(m_request.Class, m_request.Query);
        }
        // The object client's close is final; executing again starts the query afresh.
        m_query->execute(args);
        loadPage();
    } catch (const CacheError& error) {
        // The dialog stays open: the list is emptied and the next Enter searches again.
        if (!m_factory || !m_factory->isConnected())
            CloseCacheObject(m_query);
        emptyList();
        m_state.Busy = false;
        reportFailure(error);
        return;
    }
    m_state.Busy = false;
}

void frmLookup::loadMore()
{
    if (m_state.Busy || !m_state.MoreRows || !m_query)
        return;
    m_state.Busy = true;
    try {
        loadPage();
    } catch (const CacheError& error) {
        m_state.MoreRows = false;
        cmdMore->hide();
        layoutWindow();
        m_state.Busy = false;
        reportFailure(error);
        return;
    }
    m_state.Busy = false;
}

void frmLookup::choose()
{
    if (m_state.Busy)
        return;
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty()) {
        Beep::ring();
        return;
    }
    if (m_state.IdColumn > 0)
        m_state.Result = keyOf(selected.first());
    accept();
}

void frmLookup::runSearch(const std::function<QString()>& search, int position)
{
    if (!search || position < 0)
        return;
    QString found;
    try {
        found = search();
    } catch (const CacheError& error) {
        ReportCacheError(error, QStringLiteral("Lookup Suche"));
        return;
    }
    txtParam[position]->setText(found);
    // The user goes on from the filled box: Enter there searches with the number.
    txtParam[position]->setFocus();
}

SortKind frmLookup::sortKind(int column) const
{
    if (m_slots.isDateColumn(column + 1))
        return SortKind::Date;
    // A column sorts by value when every cell with a text holds a number.
    return m_textCells.value(column, 1) == 0 ? SortKind::Number : SortKind::Text;
}

void frmLookup::sortByColumn(int column)
{
    if (!ListView1 || column < 0 || column >= ListView1->columnCount())
        return;
    // Ascending on every click, and on for the rest of the call.
    m_sortColumn = column;
    ListView1->header()->setSortIndicatorShown(true);
    ListView1->header()->setSortIndicator(column, Qt::AscendingOrder);
    ListView1->sortItems(column, Qt::AscendingOrder);
    if (QTreeWidgetItem* current = ListView1->currentItem())
        ListView1->scrollToItem(current);
}

void frmLookup::showSortMenu(const QPoint& globalPos)
{
    if (m_sortMenu->isVisible() || ListView1->columnCount() == 0)
        return;
    m_sortMenu->clear();
    for (int c = 0; c < ListView1->columnCount(); ++c) {
        QAction* action = m_sortMenu->addAction(
            QStringLiteral("Sortieren nach \u201e%1\u201c").arg(ListView1->headerItem()->text(c)));
        action->setObjectName(QStringLiteral("mSortieren(%1)").arg(c));
        connect(action, &QAction::triggered, this, [this, c] { sortByColumn(c); });
    }
    m_sortMenu->popup(globalPos);
}

void frmLookup::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Runs once: a dialog stacked on this one (a number search) hands the activation back
    // when it closes, and must neither add list entries twice nor clear a date the user typed.
    if (!m_activated) {
        m_activated = true;
        activate();
    }
}

void frmLookup::activate()
{
    cmdCancel->setFocus();
    cmbDatum[1]->clear();
    QWidget* target = cmdCancel;
    for (const int a : {6, 3, 0})
        if (txtParam[a]->isVisibleTo(this))
            target = txtParam[a];
    auto startsRow = [](int p) { return p == 0 || p == 3 || p == 6; };
    for (int n = 0; n < SlotCount; ++n) {
        if (startsRow(m_slots.datumParameter[n]) && cmbDatum[n]->isVisibleTo(this))
            target = cmbDatum[n];
        if (startsRow(m_slots.cmbParam[n]) && cmbParam[n]->isVisibleTo(this))
            target = cmbParam[n];
    }
    target->setFocus();
    fillChoiceLists();
}

void frmLookup::fillChoiceLists()
{
    for (int n = 0; n < SlotCount; ++n) {
        if (m_slots.cmbParam[n] < 0)
            continue;
        const int type = m_slots.cmbType[n];
        try {
            const QStringList items = isReadChoiceList(type) ? readChoiceItems(type) : fixedChoiceItems(type);
            // Adding to an empty combo box would select its first item; the caller's text stays.
            QComboBox* combo = cmbParam[n];
            const QString text = combo->currentText();
            combo->addItems(items);
            combo->setCurrentIndex(-1);
            combo->setEditText(text);
        } catch (const CacheError& error) {
            ReportCacheError(error, QStringLiteral("Lookup ") + choiceListOperation(type) +
                                        QStringLiteral(" Parameterauswahlliste Type #") +
                                        QString::number(type));
            return;
        }
    }
}

void frmLookup::layoutWindow()
{
    const double innerWidth = Twips::fromPixels(width());
    const double innerHeight = Twips::fromPixels(height());
    place(Picture1, 0, innerHeight - BarHeight, innerWidth, BarHeight);

    const double frameHeight = innerHeight - 2 * FrameTop - BarHeight;
    const double paramHeight =
        (twHeight(Label[0]) + twHeight(txtParam[0])) * m_state.ParamRows + (m_state.ParamRows > 0 ? 100 : 0);
    const double labelTop = twTop(Label[0]);
    const double listTop = labelTop + paramHeight;
    const double listHeight = frameHeight - labelTop - paramHeight - 100 - twHeight(lblRecords) - 100;
    const double recordsTop = listHeight + labelTop + paramHeight + 100;

    const double total =
        twWidth(cmdSelect) + twWidth(cmdCancel) + (cmdMore->isVisibleTo(this) ? twWidth(cmdMore) : 0.0);
    const double gap = (innerWidth - total) / (cmdMore->isVisibleTo(this) ? 4 : 3);
    double x = gap;
    for (QPushButton* b : {cmdSelect, cmdMore, cmdCancel}) {
        if (b == cmdMore && !cmdMore->isVisibleTo(this))
            continue;
        place(b, x, ButtonTop, twWidth(b), ButtonHeight);
        x += twWidth(b) + gap;
    }

    const double frameWidth = innerWidth - 2 * FrameLeft;
    const double listWidth = frameWidth - 2 * twLeft(txtParam[0]);
    place(Frame1, FrameLeft, FrameTop, frameWidth, frameHeight);
    if (m_state.ParamCount == 1) {
        txtParam[0]->resize(qMax(0, Twips::toPixels(listWidth)), txtParam[0]->height());
        // The caller's value comes back with every resize, without searching again.
        const bool wasBusy = m_state.Busy;
        m_state.Busy = true;
        txtParam[0]->clear();
        txtParam[0]->setText(m_state.DisplayValues.value(0));
        m_state.Busy = wasBusy;
    }
    if (ListView1)
        place(ListView1, twLeft(txtParam[0]), listTop, listWidth, listHeight);
    place(lblRecords, (frameWidth - twWidth(lblRecords)) / 2, recordsTop, twWidth(lblRecords),
          twHeight(lblRecords));
}

void frmLookup::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layoutWindow();
}

void frmLookup::closeEvent(QCloseEvent* event)
{
    if (m_state.Busy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void frmLookup::reject()
{
    if (m_state.Busy)
        return;
    QDialog::reject();
}

bool frmLookup::eventFilter(QObject* watched, QEvent* event)
{
    if (std::find(txtParam.begin(), txtParam.end(), watched) != txtParam.end()) {
        // The search runs when Enter comes up, but only for a press this box saw: the press
        // that closed a message box (or picked in a search opened from here) must not search.
        if (isEnter(event, QEvent::KeyPress)) {
            m_enterPressedIn = watched;
        } else if (isEnter(event, QEvent::KeyRelease)) {
            const bool pressedHere = m_enterPressedIn == watched;
            m_enterPressedIn = nullptr;
            if (pressedHere)
                requery();
        } else if (event->type() == QEvent::FocusOut && m_enterPressedIn == watched) {
            m_enterPressedIn = nullptr;
        }
    } else if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (isContextMenuKey(key)) {
            showSortMenu(keyboardMenuPosition(ListView1));
            return true;
        }
        // Enter picks the current row, as a double click does.
        if (isEnter(event, QEvent::KeyPress)) {
            choose();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
