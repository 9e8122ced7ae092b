#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writers for the demo's scanned documents: multi-page TIFF and PDF files built byte by byte
// (the daemon has no graphics stack), and the two realistic samples of the demo data.
namespace erpsim {

// A bilevel or greyscale page. Rows are packed: 1 bit per pixel (most significant bit first,
// 1 = black) or 8 bits (0 = black, 255 = white), each row starting on a byte.
struct TiffPage
{
    int width = 0;
    int height = 0;
    int bitsPerSample = 1;
    int dpi = 200;
    QByteArray pixels;
};

enum class TiffCompression { None, Lzw };

QByteArray writeTiff(const QList<TiffPage>& pages, TiffCompression compression);
// TIFF's LZW (codes of 9 to 12 bits, most significant bit first, the width growing one code early).
QByteArray lzwEncode(const QByteArray& data);

// An image drawn on a PDF page: already encoded for its filter ("DCTDecode", "FlateDecode" or
// empty for raw samples), DeviceGray or DeviceRGB.
struct PdfImage
{
    int width = 0;
    int height = 0;
    int bitsPerComponent = 8;
    QByteArray colorSpace = "DeviceGray";
    QByteArray filter;
    QByteArray data;
};

// One page: its content stream (fonts /F1 Helvetica and /F2 Helvetica-Bold, images /Im0, /Im1 ...)
// and size in points.
struct PdfPage
{
    QByteArray content;
    double width = 595.28;
    double height = 841.89;
    QList<PdfImage> images;
};

QByteArray writePdf(const QList<PdfPage>& pages);
// A PDF file of the given objects (object 1 the catalog) with its cross-reference table.
QByteArray assemblePdf(const QList<QByteArray>& objects, const QByteArray& header);
// Text for a content stream's string operand: WinAnsi bytes with ( ) \ escaped.
QByteArray pdfText(const QString& text);
// Deflated bytes as FlateDecode expects them (a zlib stream).
QByteArray flate(const QByteArray& data);

// Invoice 200001 of customer 4711 over two pages, with letterhead, positions and totals.
QByteArray demoInvoicePdf();
// Delivery note 4711-001 as a two-page 200-dpi bilevel scan from a needle printer, LZW-compressed,
// signed on receipt.
QByteArray demoDeliveryNoteTiff(quint32 seed);

} // namespace erpsim
