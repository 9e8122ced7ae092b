#pragma once

#include <QStyledItemDelegate>

// How the file list draws an entry: the file's name, its folder smaller and in grey below it,
// and its state at the right; a file that was not handed over shows the reason in red.
class FileListDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    enum Role {
        PathRole = Qt::UserRole,       // the full path, as listed
        ReasonRole = Qt::UserRole + 1, // why it was not handed over
        StateRole = Qt::UserRole + 3,
    };
    // HandedOver stays listed only with a reason: its source was kept.
    enum State { Waiting, Running, NotHandedOver, HandedOver };

    using QStyledItemDelegate::QStyledItemDelegate;

    static QString stateText(State state);
    // Whether the entry shows a reason line below its folder.
    static bool showsReason(const QModelIndex& index);
    // Splits at "/" and "\" alike: paths from Windows shares keep their backslashes.
    static QPair<QString, QString> folderAndName(const QString& path);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
