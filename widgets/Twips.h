#pragma once

#include <QtGlobal>

// Geometry is documented in twips: 1440 to the inch, at the screen's logical DPI
// (15 twips to the pixel at 96 DPI).
namespace Twips {
double perPixel();
// Rounds half to even, as the documented widths expect.
int toPixels(double twips);
double fromPixels(int pixels);
// Test seam: fixes the logical DPI (0 restores the screen's).
void setLogicalDpi(double dpi);
} // namespace Twips
