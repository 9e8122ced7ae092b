#pragma once

#include <QObject>

class QAbstractItemView;
class QAction;
class QMenu;

// The file list's pop-up menu and keys, on whatever item view shows the list: releasing the
// right mouse button over the list, the menu key or Shift+F10 open the pop-up; Delete triggers
// its remove action (while that is enabled). A right click selects the row under the pointer,
// as the view's own press handling does; that selection is what the remove action removes.
class FileListMenu : public QObject
{
    Q_OBJECT

public:
    FileListMenu(QAbstractItemView* list, QMenu* popup, QAction* remove);

    // The first selected row from the top, or -1 when none is selected.
    static int firstSelectedRow(const QAbstractItemView* list);
    // After a removal nothing stays selected (the view would select a neighbour), so the list
    // shows what a further remove would take: nothing until the user picks a row. The current
    // row stays, so the arrow keys go on from where the removed entry stood.
    static void clearSelection(QAbstractItemView* list);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void popupAt(const QPoint& globalPos);

    QAbstractItemView* m_list;
    QMenu* m_popup;
    QAction* m_remove;
};
