#pragma once

#include <QPoint>

class QAbstractItemView;
class QKeyEvent;

// The menu key and Shift+F10 open a pop-up menu on every platform. Some window systems turn
// them into a context-menu event, others deliver only the key, so the key is taken as well; a
// handler that sees both opens its menu once (the second finds it open).
bool isContextMenuKey(const QKeyEvent* event);

// Where a pop-up opened from the keyboard stands in an item view: at the current row's lower
// left corner when the row is on screen, else at the view's upper left corner (global position).
QPoint keyboardMenuPosition(const QAbstractItemView* view);
