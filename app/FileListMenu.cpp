#include "FileListMenu.h"

#include "widgets/ContextMenuKeys.h"

#include <QAbstractItemView>
#include <QAction>
#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

FileListMenu::FileListMenu(QAbstractItemView* list, QMenu* popup, QAction* remove)
    : QObject(list), m_list(list), m_popup(popup), m_remove(remove)
{
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
}

int FileListMenu::firstSelectedRow(const QAbstractItemView* list)
{
    const QItemSelectionModel* selection = list->selectionModel();
    if (!selection || !list->model())
        return -1;
    for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
        if (selection->isRowSelected(row, list->rootIndex()))
            return row;
    return -1;
}

void FileListMenu::clearSelection(QAbstractItemView* list)
{
    if (QItemSelectionModel* selection = list->selectionModel())
        selection->clearSelection();
}

void FileListMenu::popupAt(const QPoint& globalPos)
{
    // Some window systems send both the menu key and a context-menu event for one press.
    if (!m_popup->isVisible())
        m_popup->popup(globalPos);
}

bool FileListMenu::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (watched == m_list->viewport()) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::RightButton)
                popupAt(mouse->globalPosition().toPoint());
        }
        break;
    case QEvent::ContextMenu: {
        // The pop-up belongs to the button's release; a press-time context menu of the window
        // behind the list must not open as well.
        const auto* context = static_cast<QContextMenuEvent*>(event);
        if (context->reason() == QContextMenuEvent::Keyboard)
            popupAt(keyboardMenuPosition(m_list));
        return true;
    }
    case QEvent::KeyPress:
        if (watched == m_list) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (isContextMenuKey(key)) {
                popupAt(keyboardMenuPosition(m_list));
                return true;
            }
            if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
                if (m_remove->isEnabled())
                    m_remove->trigger();
                return true;
            }
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
