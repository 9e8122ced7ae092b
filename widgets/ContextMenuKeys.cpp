#include "ContextMenuKeys.h"

#include <QAbstractItemView>
#include <QKeyEvent>

bool isContextMenuKey(const QKeyEvent* event)
{
    if (event->key() == Qt::Key_Menu)
        return true;
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    return event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier;
}

QPoint keyboardMenuPosition(const QAbstractItemView* view)
{
    const QRect row = view->visualRect(view->currentIndex());
    const QRect visible = view->viewport()->rect();
    if (row.isValid() && visible.intersects(row))
        return view->viewport()->mapToGlobal(
            QPoint(qMax(row.left(), 0), qMin(row.bottom(), visible.bottom())));
    return view->viewport()->mapToGlobal(QPoint(0, 0));
}
