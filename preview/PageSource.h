#pragma once

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>
#include <memory>

class QPdfDocument;

namespace preview {

enum class Kind { Pdf, Image, Other };

// What the pane says about a file it cannot draw: name, type, size and date in German.
struct FileFacts
{
    QString name;
    QString type;
    QString size;
    QString modified;
};
FileFacts factsOf(const QString& path);
QString typeName(const QString& suffix);
QString sizeText(qint64 bytes);

// Limits that keep a single file from taking the program's memory or time.
struct Limits
{
    static constexpr qint64 MaxFileBytes = 2LL * 1024 * 1024 * 1024;
    static constexpr qint64 MaxImagePixels = 100'000'000; // A3 at 600 dpi is 70 million
    static constexpr int MaxImageSide = 40000;
    static constexpr int MaxImageBytesMB = 256; // decoded, for QImageReader's allocation limit
    static constexpr qint64 MaxRenderPixels = 16'000'000;
    static constexpr int MaxPages = 10000; // pages counted in a TIFF's directory chain
};

struct TiffLayout;

// One opened document whose pages can be drawn at any size. Not thread-bound, but used by one
// thread at a time: the renderer's worker. Every failure becomes a German reason.
class PageSource
{
public:
    explicit PageSource(const QString& path);
    ~PageSource();
    PageSource(const PageSource&) = delete;
    PageSource& operator=(const PageSource&) = delete;

    const QString& path() const { return m_path; }
    Kind kind() const { return m_kind; }
    // Empty when the document opened; otherwise why it shows no pages (for Other: empty too).
    const QString& reason() const { return m_reason; }
    bool isOpen() const { return m_reason.isEmpty() && m_kind != Kind::Other && m_pageCount > 0; }
    int pageCount() const { return m_pageCount; }
    // In points (1/72 inch); invalid when the page has no usable size.
    QSizeF pageSize(int page) const;
    // The page drawn to exactly this size on white; null with a reason on failure.
    QImage render(int page, const QSize& pixels, QString* reason);
    // Size and modification time when opened: a changed file is opened anew.
    bool isSameFile(qint64 size, const QDateTime& modified) const;

    // The page picture at exactly this size; bilevel and grey scans shrink by averaging.
    static QImage scaled(const QImage& image, const QSize& pixels);
    // The pixel size for drawing page at scale (pixels per point), kept within MaxRenderPixels.
    static QSize boundedPixels(const QSizeF& points, double scale);

private:
    void openPdf();
    void openImage(const QByteArray& head);
    QImage renderImage(int page, const QSize& pixels, QString* reason);

    QString m_path;
    Kind m_kind = Kind::Other;
    QString m_reason;
    int m_pageCount = 0;
    qint64 m_size = 0;
    QDateTime m_modified;
    std::unique_ptr<QPdfDocument> m_pdf;
    QSize m_imageSize;
    std::unique_ptr<const TiffLayout> m_tiff;
};

// German reasons shown in the pane.
namespace Reason {
QString notFound();
QString notReadable();
QString empty();
QString damaged();
QString truncated();
QString encrypted();
QString noPages();
QString tooLarge(qint64 bytes);
QString pageTooLarge(const QSize& pixels);
QString pageFailed(int page);
} // namespace Reason

} // namespace preview
