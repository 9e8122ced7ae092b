#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QHash>
#include <QTableView>
#include <QVector>
#include <functional>

// The cells of one row as the owner's fill-row handler sets them. Columns count from 1.
class VirtualListRow
{
public:
    explicit VirtualListRow(int columns = 0) : texts(columns), backgrounds(columns) {}

    void setText(int column, const QString& text);
    void setBackground(int column, const QColor& colour);
    QString text(int column) const;
    QColor background(int column) const;

    QVector<QString> texts;
    QVector<QColor> backgrounds;
};

// A list that keeps no row data of its own: it knows a row count and asks its owner for a
// row's cells (the fill-row request) when the row is about to be drawn. Rows count from 1.
class VirtualListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    using FillRow = std::function<void(int row, VirtualListRow& cells)>;

    explicit VirtualListModel(int columns, QObject* parent = nullptr);

    void setFillRow(FillRow handler) { m_fill = std::move(handler); }
    // The count the owner set last, also while its publication to the views is pending.
    int listRowCount() const { return m_wanted; }
    void setListRowCount(int count);
    void setHeading(int column, const QString& heading);
    // Forgets every filled row, so the next drawing asks for each again.
    void refresh();

    bool isFilled(int row) const { return m_rows.contains(row); }
    // Raises the fill-row request for a row unless it is filled already.
    void fillRow(int row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // While held, rows counted and filled by handlers reach the views once, at the release:
    // a fill pass that loads many batches then costs one layout and one repaint, not one each.
    void holdUpdates() { ++m_held; }
    void releaseUpdates();

    // Set by the view while it paints: a row asked for then is filled after the paint, since
    // a handler may wait for the server and let events (paints among them) run meanwhile.
    void setPainting(bool painting) { m_painting = painting; }

signals:
    // A row was asked for while painting; the view fills the visible rows and paints again.
    void rowsWanted();

private:
    void publishRowCount();
    void queuePublication();

    int m_columns;
    int m_wanted = 0;
    int m_published = 0;
    int m_inFill = 0;
    int m_held = 0;
    bool m_changedWhileHeld = false;
    bool m_publishQueued = false;
    bool m_publishing = false;
    bool m_painting = false;
    QVector<QString> m_headings;
    QHash<int, VirtualListRow> m_rows;
    FillRow m_fill;
};

// The view: a row-selecting table without a row header. Double click or Enter on the current
// row raises chosen().
class VirtualList : public QTableView
{
    Q_OBJECT

public:
    explicit VirtualList(int columns, QWidget* parent = nullptr);

    VirtualListModel* listModel() const { return m_model; }
    void setFillRow(VirtualListModel::FillRow handler) { m_model->setFillRow(std::move(handler)); }
    void setHeading(int column, const QString& heading) { m_model->setHeading(column, heading); }
    void setColumnWidthPixels(int column, int pixels) { setColumnWidth(column - 1, pixels); }
    int columnWidthPixels(int column) const { return columnWidth(column - 1); }

    // The row count is a 16-bit number, as the list control's.
    void setRowCount(int count);
    int rowCountValue() const { return m_model->listRowCount(); }
    // 0 when no row is current.
    int currentRow() const;
    void setCurrentRow(int row);
    void refresh();

    // Raises the fill-row request for every visible row not filled yet.
    void fillVisibleRows();

signals:
    void chosen();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void choose();
    void scheduleFill();

    VirtualListModel* m_model;
    int m_pendingCurrent = -1;
    bool m_filling = false;
    bool m_fillAgain = false;
    bool m_fillScheduled = false;
};
