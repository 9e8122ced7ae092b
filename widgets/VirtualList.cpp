#include "VirtualList.h"

#include <QBrush>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int MaxRowCount = 32767;
// Filled rows kept for drawing; beyond this the oldest screenfuls are simply asked for again.
constexpr int MaxFilledRows = 2048;
} // namespace

void VirtualListRow::setText(int column, const QString& text)
{
    if (column >= 1 && column <= texts.size())
        texts[column - 1] = text;
}

void VirtualListRow::setBackground(int column, const QColor& colour)
{
    if (column >= 1 && column <= backgrounds.size())
        backgrounds[column - 1] = colour;
}

QString VirtualListRow::text(int column) const
{
    return texts.value(column - 1);
}

QColor VirtualListRow::background(int column) const
{
    return backgrounds.value(column - 1);
}

VirtualListModel::VirtualListModel(int columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(columns), m_headings(columns)
{
}

void VirtualListModel::setListRowCount(int count)
{
    m_wanted = qBound(0, count, MaxRowCount);
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (it.key() > m_wanted)
            it = m_rows.erase(it);
        else
            ++it;
    }
    if (m_held > 0)
        return;
    if (m_inFill == 0) {
        publishRowCount();
        return;
    }
    queuePublication();
}

void VirtualListModel::queuePublication()
{
    // Asked from inside data(): the views must not see rows come or go while they read.
    if (!m_publishQueued) {
        m_publishQueued = true;
        QMetaObject::invokeMethod(
            this, [this] { publishRowCount(); }, Qt::QueuedConnection);
    }
}

void VirtualListModel::releaseUpdates()
{
    if (m_held == 0 || --m_held > 0)
        return;
    if (m_wanted != m_published) {
        if (m_inFill == 0)
            publishRowCount();
        else
            queuePublication();
    }
    if (m_changedWhileHeld) {
        m_changedWhileHeld = false;
        if (m_published > 0)
            emit dataChanged(index(0, 0), index(m_published - 1, m_columns - 1));
    }
}

void VirtualListModel::publishRowCount()
{
    m_publishQueued = false;
    // A handler that let events run while a view read the rows being published comes back later.
    if (m_publishing) {
        queuePublication();
        return;
    }
    m_publishing = true;
    const auto done = qScopeGuard([this] { m_publishing = false; });
    // A view may read rows between begin and end, and a handler may change the count then: the
    // views get the count announced here, the change follows in a publication of its own.
    const int target = m_wanted;
    if (target > m_published) {
        beginInsertRows(QModelIndex(), m_published, target - 1);
        m_published = target;
        endInsertRows();
    } else if (target < m_published) {
        beginRemoveRows(QModelIndex(), target, m_published - 1);
        m_published = target;
        endRemoveRows();
    }
    if (m_wanted != m_published)
        queuePublication();
}

void VirtualListModel::setHeading(int column, const QString& heading)
{
    if (column < 1 || column > m_columns)
        return;
    m_headings[column - 1] = heading;
    emit headerDataChanged(Qt::Horizontal, column - 1, column - 1);
}

void VirtualListModel::refresh()
{
    m_rows.clear();
    if (m_held > 0)
        m_changedWhileHeld = true;
    else if (m_published > 0)
        emit dataChanged(index(0, 0), index(m_published - 1, m_columns - 1));
}

void VirtualListModel::fillRow(int row)
{
    if (row < 1 || row > m_wanted || m_rows.contains(row) || !m_fill)
        return;
    VirtualListRow cells(m_columns);
    m_fill(row, cells);
    // The handler may have changed the row count meanwhile.
    if (row > m_wanted)
        return;
    if (m_rows.size() >= MaxFilledRows)
        m_rows.clear();
    m_rows.insert(row, cells);
    if (m_held > 0)
        m_changedWhileHeld = true;
    else if (m_inFill == 0 && row <= m_published)
        emit dataChanged(index(row - 1, 0), index(row - 1, m_columns - 1));
}

int VirtualListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_published;
}

int VirtualListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant VirtualListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_published ||
        index.column() >= m_columns)
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::BackgroundRole)
        return QVariant();
    const int row = index.row() + 1;
    if (row > m_wanted)
        return QVariant();
    auto* self = const_cast<VirtualListModel*>(this);
    if (!m_rows.contains(row)) {
        if (m_painting) {
            emit self->rowsWanted();
            return QVariant();
        }
        ++self->m_inFill;
        self->fillRow(row);
        --self->m_inFill;
    }
    const auto it = m_rows.constFind(row);
    if (it == m_rows.constEnd())
        return QVariant();
    if (role == Qt::DisplayRole)
        return it->texts.value(index.column());
    const QColor colour = it->backgrounds.value(index.column());
    return colour.isValid() ? QVariant(QBrush(colour)) : QVariant();
}

QVariant VirtualListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return section >= 0 && section < m_columns ? QVariant(m_headings.at(section)) : QVariant();
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags VirtualListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

VirtualList::VirtualList(int columns, QWidget* parent)
    : QTableView(parent), m_model(new VirtualListModel(columns, this))
{
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setHighlightSections(false);

    connect(this, &QAbstractItemView::doubleClicked, this, &VirtualList::choose);
    connect(m_model, &VirtualListModel::rowsWanted, this, &VirtualList::scheduleFill);
    auto published = [this] {
        if (m_pendingCurrent >= 0 && m_pendingCurrent <= m_model->rowCount()) {
            const int row = m_pendingCurrent;
            m_pendingCurrent = -1;
            setCurrentRow(row);
        }
        scheduleFill();
    };
    connect(m_model, &QAbstractItemModel::rowsInserted, this, published);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, published);
}

void VirtualList::setRowCount(int count)
{
    m_model->setListRowCount(count);
    fillVisibleRows();
}

int VirtualList::currentRow() const
{
    if (m_pendingCurrent >= 0)
        return m_pendingCurrent;
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

void VirtualList::setCurrentRow(int row)
{
    if (row > m_model->rowCount() && row <= m_model->listRowCount()) {
        m_pendingCurrent = row;
        return;
    }
    m_pendingCurrent = -1;
    if (row < 1 || row > m_model->rowCount()) {
        selectionModel()->clearCurrentIndex();
        clearSelection();
        return;
    }
    const QModelIndex index = m_model->index(row - 1, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

void VirtualList::refresh()
{
    m_model->refresh();
    fillVisibleRows();
}

void VirtualList::fillVisibleRows()
{
    if (!isVisible())
        return;
    if (m_filling) {
        // A handler changed the rows while they were being filled: the running pass starts over.
        m_fillAgain = true;
        return;
    }
    m_filling = true;
    m_model->holdUpdates();
    do {
        m_fillAgain = false;
        const int first = rowAt(0);
        if (first < 0)
            break;
        // Rows the handlers add during the pass are not laid out yet: those that fit below the
        // last laid-out row are filled now as well.
        int last = rowAt(viewport()->height() - 1);
        if (last < 0)
            last =
                std::min(m_model->listRowCount(),
                         first + viewport()->height() / std::max(1, verticalHeader()->defaultSectionSize()) +
                             1) -
                1;
        for (int row = first; row <= last && row < m_model->listRowCount() && !m_fillAgain; ++row)
            m_model->fillRow(row + 1);
    } while (m_fillAgain);
    m_filling = false;
    m_model->releaseUpdates();
    viewport()->update();
}

void VirtualList::scheduleFill()
{
    if (m_fillScheduled)
        return;
    m_fillScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_fillScheduled = false;
        fillVisibleRows();
    });
}

void VirtualList::paintEvent(QPaintEvent* event)
{
    m_model->setPainting(true);
    QTableView::paintEvent(event);
    m_model->setPainting(false);
}

void VirtualList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Taken here, so Enter never reaches the dialog's default button.
        choose();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void VirtualList::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (dy != 0)
        fillVisibleRows();
}

void VirtualList::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    scheduleFill();
}

void VirtualList::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    scheduleFill();
}

void VirtualList::choose()
{
    if (currentRow() > 0)
        emit chosen();
}
