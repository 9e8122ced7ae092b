#include "PageSource.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QPainter>
#include <QPdfDocument>
#include <QSet>
#include <QtEndian>
#include <cmath>
#include <vector>

namespace preview {

namespace Reason {
QString notFound()
{
    return QStringLiteral("Die Datei wurde nicht gefunden. Sie wurde vielleicht verschoben oder gelöscht.");
}
QString notReadable()
{
    return QStringLiteral(
        "Die Datei lässt sich nicht lesen (keine Berechtigung, oder ein anderes Programm sperrt sie).");
}
QString empty()
{
    return QStringLiteral("Die Datei ist leer (0 Byte).");
}
QString damaged()
{
    return QStringLiteral("Die Datei ist beschädigt und lässt sich nicht anzeigen.");
}
QString truncated()
{
    return QStringLiteral(
        "Die Datei ist unvollständig (das Ende fehlt, etwa nach einem abgebrochenen Kopieren "
        "oder Scannen) und lässt sich nicht anzeigen.");
}
QString encrypted()
{
    return QStringLiteral(
        "Die Datei ist verschlüsselt (mit einem Kennwort geschützt); die Vorschau kann sie nicht "
        "öffnen.");
}
QString noPages()
{
    return QStringLiteral("Die Datei enthält keine Seiten.");
}
QString tooLarge(qint64 bytes)
{
    return QStringLiteral("Die Datei ist zu groß für eine Vorschau (%1).").arg(sizeText(bytes));
}
QString pageTooLarge(const QSize& pixels)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    return QStringLiteral("Die Seite ist zu groß für eine Vorschau (%1 × %2 Bildpunkte).")
        .arg(german.toString(pixels.width()), german.toString(pixels.height()));
}
QString pageFailed(int page)
{
    return QStringLiteral("Seite %1 lässt sich nicht darstellen; die Datei ist vermutlich beschädigt.")
        .arg(page + 1);
}
} // namespace Reason

QString typeName(const QString& suffix)
{
    const QString s = suffix.toLower();
    if (s == QLatin1String("pdf"))
        return QStringLiteral("PDF-Dokument");
    if (s == QLatin1String("tif") || s == QLatin1String("tiff"))
        return QStringLiteral("TIFF-Bild");
    if (s == QLatin1String("jpg") || s == QLatin1String("jpeg"))
        return QStringLiteral("JPEG-Bild");
    if (s == QLatin1String("png"))
        return QStringLiteral("PNG-Bild");
    if (s == QLatin1String("bmp"))
        return QStringLiteral("BMP-Bild");
    if (s == QLatin1String("doc") || s == QLatin1String("docx"))
        return QStringLiteral("Textdokument (Word)");
    if (s == QLatin1String("odt"))
        return QStringLiteral("Textdokument (OpenDocument)");
    if (s == QLatin1String("rtf"))
        return QStringLiteral("Textdokument (RTF)");
    if (s == QLatin1String("txt") || s == QLatin1String("ntf"))
        return QStringLiteral("Textdokument");
    if (s == QLatin1String("xls") || s == QLatin1String("xlsx"))
        return QStringLiteral("Tabelle (Excel)");
    if (s == QLatin1String("ods"))
        return QStringLiteral("Tabelle (OpenDocument)");
    if (s == QLatin1String("ppt") || s == QLatin1String("pptx"))
        return QStringLiteral("Präsentation (PowerPoint)");
    if (s == QLatin1String("odp"))
        return QStringLiteral("Präsentation (OpenDocument)");
    if (s.isEmpty())
        return QStringLiteral("Datei ohne Endung");
    return QStringLiteral("Datei (.%1)").arg(s);
}

QString sizeText(qint64 bytes)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    const QString exact = QStringLiteral("%1 Byte").arg(german.toString(bytes));
    if (bytes < 1024)
        return exact;
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2 (%3)")
        .arg(german.toString(value, 'f', 1), QLatin1String(units[unit]), exact);
}

FileFacts factsOf(const QString& path)
{
    const QFileInfo info(path);
    FileFacts facts;
    facts.name = info.fileName();
    facts.type = typeName(info.suffix());
    if (info.exists()) {
        facts.size = sizeText(info.size());
        facts.modified = info.lastModified().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    }
    return facts;
}

namespace {

bool looksLikePdf(const QByteArray& head)
{
    // Readers accept the marker anywhere in the first kilobyte.
    return head.indexOf("%PDF-") >= 0;
}

bool looksLikeTiff(const QByteArray& head)
{
    return head.startsWith(QByteArrayLiteral("II*\0")) || head.startsWith(QByteArrayLiteral("MM\0*"));
}

bool looksLikeImage(const QByteArray& head)
{
    return looksLikeTiff(head) || head.startsWith("\xff\xd8\xff") || head.startsWith("\x89PNG\r\n\x1a\n") ||
           head.startsWith("BM") || head.startsWith("GIF8");
}

bool previewedSuffix(const QString& suffix)
{
    static const QSet<QString> known = {QStringLiteral("pdf"), QStringLiteral("tif"),  QStringLiteral("tiff"),
                                        QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                        QStringLiteral("bmp")};
    return known.contains(suffix.toLower());
}

} // namespace

// The page layout of a classic TIFF read from its directory chain, without decoding: how many
// pages, their sizes, where their directories are, and whether the data they point to lies
// within the file.
struct TiffPage
{
    QSize size;
    bool complete = true;
    quint32 directory = 0;
    quint32 nextLink = 0; // where the directory's link to the next one is
};

struct TiffLayout
{
    bool parsed = false; // false for BigTIFF and what is not a TIFF: left to the decoder
    bool littleEndian = true;
    bool truncated = false;
    QList<TiffPage> pages;
};

namespace {

TiffLayout scanTiff(QFile& file)
{
    TiffLayout layout;
    const qint64 size = file.size();
    auto read = [&](qint64 offset, qint64 length) -> QByteArray {
        if (offset < 0 || length < 0 || offset + length > size || !file.seek(offset))
            return {};
        QByteArray bytes = file.read(length);
        return bytes.size() == length ? bytes : QByteArray();
    };
    const QByteArray header = read(0, 8);
    if (header.size() != 8)
        return layout;
    const bool little = header.startsWith("II");
    layout.littleEndian = little;
    auto u16 = [little](const char* p) -> quint32 {
        return little ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p);
    };
    auto u32 = [little](const char* p) -> quint32 {
        return little ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p);
    };
    if (u16(header.constData() + 2) != 42)
        return layout;
    layout.parsed = true;

    QSet<quint32> seen;
    quint32 ifd = u32(header.constData() + 4);
    while (ifd != 0 && layout.pages.size() < Limits::MaxPages && !seen.contains(ifd)) {
        seen.insert(ifd);
        const QByteArray countBytes = read(ifd, 2);
        if (countBytes.isEmpty()) {
            layout.truncated = true;
            break;
        }
        const quint32 entries = u16(countBytes.constData());
        const QByteArray dir = read(ifd + 2, entries * 12 + 4);
        if (dir.isEmpty()) {
            layout.truncated = true;
            break;
        }
        TiffPage page;
        page.directory = ifd;
        page.nextLink = ifd + 2 + entries * 12;
        // Strip (or tile) offsets and byte counts: each entry's count and where its values are.
        struct Values
        {
            quint32 type = 0, count = 0, inlineValue = 0, offset = 0;
            const char* raw = nullptr;
        } offsets, counts;
        for (quint32 i = 0; i < entries; ++i) {
            const char* e = dir.constData() + i * 12;
            const quint32 tag = u16(e), type = u16(e + 2), count = u32(e + 4);
            const quint32 value = type == 3 ? u16(e + 8) : u32(e + 8);
            if (tag == 256)
                page.size.setWidth(static_cast<int>(std::min<quint32>(value, INT_MAX)));
            else if (tag == 257)
                page.size.setHeight(static_cast<int>(std::min<quint32>(value, INT_MAX)));
            else if (tag == 273 || tag == 324)
                offsets = {type, count, value, u32(e + 8), e + 8};
            else if (tag == 279 || tag == 325)
                counts = {type, count, value, u32(e + 8), e + 8};
        }
        // Where the last strip ends: past the end of the file means the file was cut short.
        const quint32 unit = offsets.type == 3 ? 2 : 4;
        if (offsets.count > 0 && offsets.count == counts.count && offsets.count <= 1'000'000 &&
            (counts.type == 3 ? 2 : 4) == unit) {
            QByteArray offsetValues, countValues;
            if (offsets.count * unit <= 4) {
                offsetValues = QByteArray(offsets.raw, 4);
                countValues = QByteArray(counts.raw, 4);
            } else {
                offsetValues = read(offsets.offset, offsets.count * unit);
                countValues = read(counts.offset, counts.count * unit);
            }
            if (offsetValues.isEmpty() || countValues.isEmpty()) {
                page.complete = false;
            } else {
                for (quint32 s = 0; s < offsets.count; ++s) {
                    const char* o = offsetValues.constData() + s * unit;
                    const char* c = countValues.constData() + s * unit;
                    const qint64 end =
                        static_cast<qint64>(unit == 2 ? u16(o) : u32(o)) + (unit == 2 ? u16(c) : u32(c));
                    if (end > size) {
                        page.complete = false;
                        break;
                    }
                }
            }
        }
        if (!page.complete)
            layout.truncated = true;
        layout.pages << page;
        ifd = u32(dir.constData() + entries * 12);
    }
    return layout;
}

bool tooManyPixels(const QSize& size)
{
    return size.width() > Limits::MaxImageSide || size.height() > Limits::MaxImageSide ||
           static_cast<qint64>(size.width()) * size.height() > Limits::MaxImagePixels;
}

// A TIFF file as a TIFF of one of its pages: the header points at that page's directory and
// the directory links to none. The decoder then reads one directory, not the whole chain, which
// a file of thousands of pages would make slow.
class OnePageTiff : public QIODevice
{
public:
    OnePageTiff(const QString& path, const TiffPage& page, bool littleEndian)
        : m_file(path), m_directoryAt(4), m_linkAt(page.nextLink)
    {
        if (littleEndian)
            qToLittleEndian(page.directory, m_directory);
        else
            qToBigEndian(page.directory, m_directory);
    }
    bool open(OpenMode mode) override { return m_file.open(mode) && QIODevice::open(mode | Unbuffered); }
    void close() override
    {
        m_file.close();
        QIODevice::close();
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_file.size(); }
    bool seek(qint64 pos) override { return QIODevice::seek(pos) && m_file.seek(pos); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 start = m_file.pos();
        const qint64 n = m_file.read(data, maxSize);
        static const char noLink[4] = {};
        overlay(data, start, n, m_directoryAt, m_directory);
        overlay(data, start, n, m_linkAt, noLink);
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    static void overlay(char* data, qint64 start, qint64 n, qint64 at, const char (&bytes)[4])
    {
        for (int i = 0; i < 4; ++i)
            if (at + i >= start && at + i < start + n)
                data[at + i - start] = bytes[i];
    }

    QFile m_file;
    qint64 m_directoryAt;
    qint64 m_linkAt;
    char m_directory[4] = {};
};

} // namespace

PageSource::PageSource(const QString& path) : m_path(path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        m_reason = Reason::notFound();
        return;
    }
    m_size = info.size();
    m_modified = info.lastModified();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_reason = Reason::notReadable();
        return;
    }
    if (m_size == 0) {
        m_reason = Reason::empty();
        return;
    }
    const QByteArray head = file.read(1024);
    file.close();
    if (looksLikePdf(head))
        m_kind = Kind::Pdf;
    else if (looksLikeImage(head))
        m_kind = Kind::Image;
    else if (previewedSuffix(info.suffix()))
        m_reason = Reason::damaged(); // named like a scan, but its content is none
    if (m_kind == Kind::Other || !m_reason.isEmpty())
        return;
    if (m_size > Limits::MaxFileBytes) {
        m_reason = Reason::tooLarge(m_size);
        return;
    }
    if (m_kind == Kind::Pdf)
        openPdf();
    else
        openImage(head);
}

PageSource::~PageSource() = default;

bool PageSource::isSameFile(qint64 size, const QDateTime& modified) const
{
    return size == m_size && modified == m_modified;
}

void PageSource::openPdf()
{
    m_pdf = std::make_unique<QPdfDocument>();
    const QPdfDocument::Error error = m_pdf->load(m_path);
    if (error == QPdfDocument::Error::None && m_pdf->status() == QPdfDocument::Status::Ready) {
        m_pageCount = m_pdf->pageCount();
        if (m_pageCount <= 0)
            m_reason = Reason::noPages();
        return;
    }
    if (error == QPdfDocument::Error::IncorrectPassword ||
        error == QPdfDocument::Error::UnsupportedSecurityScheme) {
        m_reason = Reason::encrypted();
    } else if (error == QPdfDocument::Error::FileNotFound) {
        m_reason = Reason::notReadable();
    } else {
        // A file that lost its end lacks the end-of-file marker that every writer puts there.
        QFile file(m_path);
        QByteArray tail;
        if (file.open(QIODevice::ReadOnly) && file.seek(std::max<qint64>(0, m_size - 1024)))
            tail = file.read(1024);
        m_reason = tail.contains("%%EOF") ? Reason::damaged() : Reason::truncated();
    }
    m_pdf.reset();
}

void PageSource::openImage(const QByteArray& head)
{
    if (looksLikeTiff(head)) {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly)) {
            m_reason = Reason::notReadable();
            return;
        }
        auto layout = std::make_unique<TiffLayout>(scanTiff(file));
        if (layout->parsed) {
            m_pageCount = static_cast<int>(layout->pages.size());
            if (m_pageCount == 0)
                m_reason = layout->truncated ? Reason::truncated() : Reason::noPages();
            else
                m_imageSize = layout->pages.first().size;
            m_tiff = std::move(layout);
            return;
        }
    }
    QImageReader reader(m_path);
    if (!reader.canRead()) {
        m_reason = Reason::damaged();
        return;
    }
    m_imageSize = reader.size();
    if (!m_imageSize.isValid()) {
        m_reason = Reason::damaged();
        return;
    }
    m_pageCount = std::clamp(QImageReader(m_path).imageCount(), 1, Limits::MaxPages);
}

QSizeF PageSource::pageSize(int page) const
{
    if (page < 0 || page >= m_pageCount)
        return {};
    if (m_pdf)
        return m_pdf->pagePointSize(page);
    // Images are measured in pixels: only the shape matters for fitting them.
    const QSize size = m_tiff ? m_tiff->pages.at(page).size : m_imageSize;
    return size.isValid() ? QSizeF(size) : QSizeF();
}

QSize PageSource::boundedPixels(const QSizeF& points, double scale)
{
    double w = points.width() * scale, h = points.height() * scale;
    const double area = w * h;
    if (area > Limits::MaxRenderPixels) {
        const double shrink = std::sqrt(Limits::MaxRenderPixels / area);
        w *= shrink, h *= shrink;
    }
    // A page a million points long and one wide stays a sliver, not an allocation of its own.
    w = std::clamp(w, 1.0, 16384.0), h = std::clamp(h, 1.0, 16384.0);
    return {static_cast<int>(std::lround(w)), static_cast<int>(std::lround(h))};
}

QImage PageSource::render(int page, const QSize& pixels, QString* reason)
{
    if (!isOpen() || page < 0 || page >= m_pageCount || pixels.isEmpty()) {
        *reason = m_reason.isEmpty() ? Reason::pageFailed(page) : m_reason;
        return {};
    }
    if (!m_pdf)
        return renderImage(page, pixels, reason);
    const QSizeF points = m_pdf->pagePointSize(page);
    if (!(points.width() > 0 && points.height() > 0)) {
        *reason = Reason::pageFailed(page);
        return {};
    }
    QImage image = m_pdf->render(page, pixels);
    if (image.isNull()) {
        *reason = Reason::pageFailed(page);
        return {};
    }
    // Pages come with a transparent background; paper is white.
    QImage paper(image.size(), QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter painter(&paper);
    painter.drawImage(0, 0, image);
    return paper;
}

QImage PageSource::renderImage(int page, const QSize& pixels, QString* reason)
{
    std::unique_ptr<QIODevice> device;
    if (m_tiff) {
        const TiffPage& info = m_tiff->pages.at(page);
        if (tooManyPixels(info.size)) {
            *reason = Reason::pageTooLarge(info.size);
            return {};
        }
        if (!info.complete) {
            *reason = Reason::truncated();
            return {};
        }
        device = std::make_unique<OnePageTiff>(m_path, info, m_tiff->littleEndian);
    } else {
        device = std::make_unique<QFile>(m_path);
    }
    if (!device->open(QIODevice::ReadOnly)) {
        *reason = Reason::notReadable();
        return {};
    }
    QImageReader reader(device.get());
    reader.setAllocationLimit(Limits::MaxImageBytesMB);
    if (!m_tiff) {
        const QSize full = reader.size();
        if (full.isValid() && tooManyPixels(full)) {
            *reason = Reason::pageTooLarge(full);
            return {};
        }
    }
    // JPEG decodes straight to a smaller size; the others are scaled after decoding.
    if (reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(pixels);
    const QImage image = reader.read();
    if (image.isNull()) {
        *reason = page > 0 ? Reason::pageFailed(page) : Reason::damaged();
        return {};
    }
    return scaled(image, pixels);
}

QImage PageSource::scaled(const QImage& image, const QSize& pixels)
{
    if (image.size() == pixels)
        return image;
    const QImage::Format format = image.format();
    const bool bilevel = format == QImage::Format_Mono || format == QImage::Format_MonoLSB;
    const int sw = image.width(), sh = image.height(), tw = pixels.width(), th = pixels.height();
    if ((!bilevel && format != QImage::Format_Grayscale8) || tw > sw || th > sh) {
        // Qt scales smoothly only in colour: a bilevel page goes through grey first.
        const QImage source = bilevel ? image.convertToFormat(QImage::Format_Grayscale8) : image;
        return source.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    // Scans shrink by averaging each box of source pixels: thin strokes turn grey instead of
    // breaking up, and no colour copy of a page of many million pixels is made on the way.
    std::vector<int> column(sw), boxWidth(tw, 0);
    for (int x = 0; x < sw; ++x)
        ++boxWidth[column[x] = static_cast<int>(static_cast<qint64>(x) * tw / sw)];
    bool inkIsOne = true;
    if (bilevel && image.colorCount() == 2)
        inkIsOne = qGray(image.color(1)) < qGray(image.color(0));
    const uchar flip = inkIsOne ? 0x00 : 0xff;
    const bool msbFirst = format == QImage::Format_Mono;
    std::vector<quint32> ink(tw);
    QImage out(pixels, QImage::Format_Grayscale8);
    int sy = 0;
    for (int ty = 0; ty < th; ++ty) {
        const int syEnd = static_cast<int>(static_cast<qint64>(ty + 1) * sh / th);
        const int rows = syEnd - sy;
        std::fill(ink.begin(), ink.end(), 0);
        for (; sy < syEnd; ++sy) {
            const uchar* line = image.constScanLine(sy);
            if (bilevel) {
                for (int byte = 0; byte * 8 < sw; ++byte) {
                    const uchar bits = line[byte] ^ flip;
                    if (!bits)
                        continue;
                    for (int k = 0; k < 8; ++k) {
                        const int x = byte * 8 + k;
                        if (x < sw && (bits & (msbFirst ? 0x80 >> k : 1 << k)))
                            ink[column[x]] += 255;
                    }
                }
            } else {
                for (int x = 0; x < sw; ++x)
                    ink[column[x]] += 255 - line[x];
            }
        }
        uchar* target = out.scanLine(ty);
        for (int tx = 0; tx < tw; ++tx)
            target[tx] = static_cast<uchar>(255 - ink[tx] / static_cast<quint32>(boxWidth[tx] * rows));
    }
    return out;
}

} // namespace preview
