#include "ScreenPointer.h"

#include <QCursor>
#include <QGuiApplication>

namespace {
ScreenPointer::Shape shape = ScreenPointer::Default;
QList<ScreenPointer::Shape> shapes;
bool overridden = false;
} // namespace

void ScreenPointer::set(Shape newShape)
{
    shape = newShape;
    shapes.append(newShape);
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    if (newShape == Hourglass) {
        if (overridden)
            QGuiApplication::changeOverrideCursor(QCursor(Qt::WaitCursor));
        else
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        overridden = true;
    } else if (overridden) {
        QGuiApplication::restoreOverrideCursor();
        overridden = false;
    }
}

ScreenPointer::Shape ScreenPointer::current()
{
    return shape;
}

const QList<ScreenPointer::Shape>& ScreenPointer::history()
{
    return shapes;
}

void ScreenPointer::clearHistory()
{
    shapes.clear();
}
