#include "LogModel.h"
#include "cacheapi.h"
#include "widgets/MessageBox.h"

#include <QApplication>

QString CacheErrorText(const cacheclient::CacheError& error, const QString& operation)
{
    return QStringLiteral("Vorgang: ") + operation + QStringLiteral(".\r\n\r\nFehler: ") +
           QString::number(error.number()) + QStringLiteral("\r\n") + error.description() +
           QStringLiteral("\r\n\r\n");
}

void ReportCacheError(const cacheclient::CacheError& error, const QString& operation)
{
    session().LastErrorNumber = error.number();
    MessageBox::show(QApplication::activeWindow(), QMessageBox::Warning,
                     QStringLiteral("Caché Zugriffsfehler"), CacheErrorText(error, operation),
                     QMessageBox::Ok);
    DBEnd(true);
}

namespace {
std::function<void()> logWindowCreator;
bool logWindowCreated = false;
} // namespace

void setLogWindowCreator(std::function<void()> creator)
{
    logWindowCreator = std::move(creator);
    logWindowCreated = false;
}

void WriteLog(const QString& programPart, const QString& text, const QString& parameter)
{
    // The log never disturbs its caller.
    try {
        if (!logWindowCreated && logWindowCreator) {
            logWindowCreated = true;
            logWindowCreator();
        }
        LogModel::instance().addLine(programPart + u';' + text + u';' + parameter);
    } catch (...) {
    }
}

LogModel& LogModel::instance()
{
    static LogModel model;
    return model;
}

int LogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int LogModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant LogModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= m_rows.size())
        return QVariant();
    return m_rows.at(index.row()).value(index.column());
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const headings[] = {"Programmteil", "Text", "Parameter"};
    return section >= 0 && section < 3 ? QString::fromLatin1(headings[section]) : QVariant();
}

void LogModel::addLine(const QString& line)
{
    const int at = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), at, at);
    m_rows.append(line.split(u';'));
    endInsertRows();
}

QStringList LogModel::row(int row) const
{
    return m_rows.value(row);
}

void LogModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}
