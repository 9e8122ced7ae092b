#pragma once

#include <QAbstractTableModel>
#include <QStringList>

// The program log: one row per WriteLog line, its ";"-separated parts spread over the columns
// "Programmteil", "Text", "Parameter". Kept for the run only.
class LogModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static LogModel& instance();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void addLine(const QString& line);
    // The parts of a row as written, also those beyond the third column.
    QStringList row(int row) const;
    void clear();

private:
    QList<QStringList> m_rows;
};
