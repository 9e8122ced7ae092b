#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace {
double fixedDpi = 0;
}

double Twips::perPixel()
{
    double dpi = fixedDpi;
    if (dpi <= 0) {
        const QScreen* screen = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                                    ? QGuiApplication::primaryScreen()
                                    : nullptr;
        dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    }
    return 1440.0 / dpi;
}

int Twips::toPixels(double twips)
{
    return static_cast<int>(std::nearbyint(twips / perPixel()));
}

double Twips::fromPixels(int pixels)
{
    return pixels * perPixel();
}

void Twips::setLogicalDpi(double dpi)
{
    fixedDpi = dpi;
}
