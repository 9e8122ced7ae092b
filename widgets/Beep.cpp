#include "Beep.h"

#include <QApplication>

namespace {
int rings = 0;
}

void Beep::ring()
{
    ++rings;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::beep();
}

int Beep::count()
{
    return rings;
}
