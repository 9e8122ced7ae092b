#pragma once

// Documents the preview tests draw: the demo's own scans and a few small ones made here.

#include "erpsim/DemoData.h"
#include "erpsim/DemoScans.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>

namespace samples {

// A greyscale page with a few dark bars, so a drawn page is recognisably not blank.
inline QByteArray greyPixels(int width, int height, int shade = 0)
{
    QByteArray pixels(width * height, '\xff');
    for (int y = height / 8; y < height * 7 / 8; y += 9)
        for (int x = width / 10; x < width * 6 / 10; ++x)
            pixels[y * width + x] = static_cast<char>(shade);
    return pixels;
}

// Pages holding one scanned greyscale picture each, deflated.
inline QByteArray imagePdf(int pages, int width = 248, int height = 351)
{
    QList<erpsim::PdfPage> list;
    for (int p = 0; p < pages; ++p) {
        erpsim::PdfImage image{width,        height,        8,
                               "DeviceGray", "FlateDecode", erpsim::flate(greyPixels(width, height, p * 20))};
        list << erpsim::PdfPage{"q 595.28 0 0 841.89 0 0 cm /Im0 Do Q\n", 595.28, 841.89, {image}};
    }
    return erpsim::writePdf(list);
}

inline QByteArray greyTiff(int pages, int width = 200, int height = 280)
{
    QList<erpsim::TiffPage> list;
    for (int p = 0; p < pages; ++p)
        list << erpsim::TiffPage{width, height, 8, 150, greyPixels(width, height, p * 30)};
    return erpsim::writeTiff(list, erpsim::TiffCompression::Lzw);
}

inline QByteArray encoded(const char* format, int width = 160, int height = 120)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 20; y < 100; ++y)
        for (int x = 20; x < 90; ++x)
            image.setPixel(x, y, qRgb(20, 40, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.write(image);
    return bytes;
}

inline QString write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

} // namespace samples
