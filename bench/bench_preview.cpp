// The document preview against its peers, measured in the same run:
// - first page shown after selecting a 20-page A4 PDF scanned at 300 dpi, against
//   `pdftoppm -f 1 -l 1 -r 72 -png` rendering the same page (goal: at most 150 ms, and no slower);
// - first page of a 10-page A4 TIFF at 300 dpi, bilevel LZW, against ImageMagick's `convert`
//   drawing the same page at the same size (goal: at most 150 ms);
// - arrow keys held down through 50 listed scans: how late the window answers events, beside the
//   same list without a preview (goal: within 30 ms throughout), and resident memory above the
//   window without preview (goal: within 150 MB).
#include "BenchSupport.h"
#include "erpsim/DemoScans.h"
#include "preview/PreviewPane.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>

namespace {

constexpr int A4Width = 2480, A4Height = 3508; // 300 dpi

// A scanned A4 page: letterhead, a table of positions, the page number, scanner noise.
QImage scannedPage(int page, quint32 seed)
{
    QImage image(A4Width, A4Height, QImage::Format_RGB32);
    image.fill(QColor(250, 250, 247));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(90);
    font.setBold(true);
    p.setFont(font);
    p.drawText(230, 300, QStringLiteral("VELMOR Baustoffhandel GmbH"));
    font.setPixelSize(42);
    font.setBold(false);
    p.setFont(font);
    p.drawText(230, 380, QStringLiteral("Industriestraße 8 · 97076 Würzburg · Seite %1").arg(page + 1));
    p.fillRect(230, 420, 2020, 8, Qt::black);
    QRandomGenerator random(seed + static_cast<quint32>(page));
    for (int row = 0; row < 48; ++row) {
        const int y = 560 + row * 58;
        p.drawText(230, y, QStringLiteral("%1").arg((row + 1) * 10));
        p.drawText(400, y, QStringLiteral("1000%1").arg(random.bounded(90) + 10));
        p.drawText(
            640, y,
            QStringLiteral("Artikel %1 Zement Fliesenkleber Dämmplatte").arg(random.bounded(9000) + 1000));
        p.drawText(1900, y, QStringLiteral("%1,%2").arg(random.bounded(9000)).arg(random.bounded(90) + 10));
    }
    p.end();
    QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    for (int i = 0; i < 40000; ++i) {
        const int x = static_cast<int>(random.bounded(A4Width)),
                  y = static_cast<int>(random.bounded(A4Height));
        grey.scanLine(y)[x] = static_cast<uchar>(random.bounded(256));
    }
    return grey;
}

QByteArray jpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(75);
    writer.write(image);
    return bytes;
}

QByteArray scannedPdf(int pages)
{
    QList<erpsim::PdfPage> list;
    for (int p = 0; p < pages; ++p) {
        const erpsim::PdfImage image{A4Width,      A4Height,    8,
                                     "DeviceGray", "DCTDecode", jpeg(scannedPage(p, 1))};
        list << erpsim::PdfPage{"q 595.28 0 0 841.89 0 0 cm /Im0 Do Q\n", 595.28, 841.89, {image}};
    }
    return erpsim::writePdf(list);
}

QByteArray bilevelTiff(int pages)
{
    QList<erpsim::TiffPage> list;
    for (int p = 0; p < pages; ++p) {
        const QImage grey = scannedPage(p, 2);
        const int stride = (A4Width + 7) / 8;
        QByteArray bits(stride * A4Height, '\0');
        for (int y = 0; y < A4Height; ++y) {
            const uchar* line = grey.constScanLine(y);
            for (int x = 0; x < A4Width; ++x)
                if (line[x] < 128)
                    bits[y * stride + x / 8] =
                        static_cast<char>(bits[y * stride + x / 8] | (0x80 >> (x % 8)));
        }
        list << erpsim::TiffPage{A4Width, A4Height, 1, 300, bits};
    }
    return erpsim::writeTiff(list, erpsim::TiffCompression::Lzw);
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

// Distinct names for one file, so that no selection is served from the preview's cache.
QStringList copies(const QString& path, int count, const QString& dir, const QString& stem)
{
    QStringList out;
    for (int i = 0; i < count; ++i) {
        const QString link =
            QDir(dir).filePath(QStringLiteral("%1-%2.%3").arg(stem).arg(i).arg(QFileInfo(path).suffix()));
        QFile::remove(link);
        // A relative target would be read from the link's own folder.
        QFile::link(QFileInfo(path).absoluteFilePath(), link);
        out << link;
    }
    return out;
}

// Milliseconds from selecting each file to its first page shown, median of all.
double firstPageMs(preview::PreviewPane& pane, const QStringList& files)
{
    std::vector<double> samples;
    for (const QString& file : files) {
        QEventLoop loop;
        bool shown = false;
        QObject::connect(&pane, &preview::PreviewPane::pageShown, &loop, [&] {
            shown = true;
            loop.quit();
        });
        QObject::connect(&pane, &preview::PreviewPane::messageShown, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        pane.showFile(file);
        loop.exec();
        if (!shown) {
            std::printf("  no page shown for %s: %s\n", qPrintable(file), qPrintable(pane.message()));
            return -1;
        }
        samples.push_back(t.nsecsElapsed() / 1e6);
    }
    return median(samples);
}

double peerMs(const QString& program, const std::function<QStringList(const QString&)>& args,
              const QStringList& files)
{
    std::vector<double> samples;
    for (const QString& file : files) {
        QProcess process;
        QElapsedTimer t;
        t.start();
        process.start(program, args(file));
        if (!process.waitForFinished(30000) || process.exitCode() != 0) {
            std::printf("  %s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
            return -1;
        }
        samples.push_back(t.nsecsElapsed() / 1e6);
    }
    return median(samples);
}

qint64 residentKB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// How late the window's thread answers: a probe posted every 5 ms from another thread carries
// its posting time; the receiver notes the largest delay and the resident memory on the way.
class Probe : public QObject
{
public:
    struct Event : QEvent
    {
        explicit Event(qint64 posted) : QEvent(QEvent::User), posted(posted) {}
        qint64 posted;
    };
    QElapsedTimer clock;
    double worstMs = 0;
    qint64 peakKB = 0;
    int answered = 0;

    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        worstMs = std::max(worstMs, (clock.nsecsElapsed() - static_cast<Event*>(e)->posted) / 1e6);
        if (++answered % 4 == 0)
            peakKB = std::max(peakKB, residentKB());
        return true;
    }
};

struct HeldKeys
{
    double worstMs;
    qint64 peakKB;
};

// Holds the down arrow through the list and then the up arrow back, at a keyboard's repeat rate
// of 30 a second, while the probe measures.
HeldKeys holdArrows(QListWidget& list)
{
    Probe probe;
    probe.clock.start();
    list.setCurrentRow(0);
    list.setFocus();
    QApplication::processEvents();
    // Made once here: the first key event creates the keyboard device, which belongs to this thread.
    const QKeyEvent keyboard(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    Q_UNUSED(keyboard)
    std::atomic<bool> done = false;
    QThread* feeder = QThread::create([&] {
        const int rows = list.count();
        qint64 nextKey = 0;
        int keys = 0;
        while (keys < 2 * rows) {
            const qint64 now = probe.clock.nsecsElapsed();
            QCoreApplication::postEvent(&probe, new Probe::Event(now));
            if (now >= nextKey) {
                const int key = keys < rows ? Qt::Key_Down : Qt::Key_Up;
                QCoreApplication::postEvent(
                    &list, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, QString(), true));
                ++keys;
                nextKey = now + 33'000'000;
            }
            QThread::usleep(5000);
        }
        done = true;
    });
    feeder->start();
    while (!done)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    feeder->wait();
    delete feeder;
    // What the last keys asked for is still being drawn: answer it too.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return {probe.worstMs, std::max(probe.peakKB, residentKB())};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath() + "/velmor-bench-preview";
    QDir().mkpath(folder);
    const QString pdf = QDir(folder).filePath(QStringLiteral("scan-20-seiten-300dpi.pdf"));
    const QString tiff = QDir(folder).filePath(QStringLiteral("scan-10-seiten-300dpi.tif"));
    if (!QFileInfo::exists(pdf))
        write(pdf, scannedPdf(20));
    if (!QFileInfo::exists(tiff))
        write(tiff, bilevelTiff(10));
    std::printf("preview: %s (%.1f MB), %s (%.1f MB)\n", qPrintable(QFileInfo(pdf).fileName()),
                QFileInfo(pdf).size() / 1048576.0, qPrintable(QFileInfo(tiff).fileName()),
                QFileInfo(tiff).size() / 1048576.0);

    // The pane as wide as pdftoppm's page at 72 dpi, so both draw 595 pixels across.
    preview::PreviewPane pane;
    pane.resize(640, 900);
    pane.show();
    QApplication::processEvents();
    for (int i = 0; i < 5 && pane.pageBox(preview::Fit::Width).width() != 595; ++i) {
        pane.resize(pane.width() + 595 - pane.pageBox(preview::Fit::Width).width(), 900);
        QApplication::processEvents();
    }
    constexpr int Rounds = 15;

    const QStringList pdfs = copies(pdf, Rounds, folder, QStringLiteral("pdf"));
    const double ours = firstPageMs(pane, pdfs);
    const int width = pane.shownImage().width();
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    const QString out = QDir(folder).filePath(QStringLiteral("peer"));
    const double peer = peerMs(
        pdftoppm,
        [&](const QString& f) { return QStringList{"-f", "1", "-l", "1", "-r", "72", "-png", f, out}; },
        pdfs);
    std::printf("first page of a 20-page A4 PDF at 300 dpi, %d px wide, median of %d: %.1f ms; "
                "pdftoppm -f 1 -l 1 -r 72 -png: %.1f ms (%.2fx); goal <= 150 ms and no slower: %s\n",
                width, Rounds, ours, peer, ours / peer, verdict(ours >= 0 && ours <= 150 && ours <= peer));

    const QStringList tiffs = copies(tiff, Rounds, folder, QStringLiteral("tif"));
    const double oursTiff = firstPageMs(pane, tiffs);
    const QString convert =
        QStandardPaths::findExecutable(QStringLiteral("convert"), {QStringLiteral("/usr/bin")});
    const double peerTiff = convert.isEmpty()
                                ? -1
                                : peerMs(
                                      convert,
                                      [&](const QString& f) {
                                          return QStringList{f + "[0]", "-resize", "595x", out + ".png"};
                                      },
                                      tiffs);
    std::printf("first page of a 10-page A4 TIFF at 300 dpi (bilevel, LZW), median of %d: %.1f ms; "
                "ImageMagick convert of the same page to 595 px: %.1f ms (%.2fx); goal <= 150 ms: %s\n",
                Rounds, oursTiff, peerTiff, peerTiff > 0 ? oursTiff / peerTiff : 0.0,
                verdict(oursTiff >= 0 && oursTiff <= 150));

    // Fifty scans in a list beside the pane, arrow keys held down and back up.
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* list = new QListWidget(&window);
    auto* side = new preview::PreviewPane(&window);
    layout->addWidget(list, 1);
    layout->addWidget(side, 2);
    window.resize(1280, 800);
    QStringList fifty = copies(pdf, 25, folder, QStringLiteral("liste-pdf")) +
                        copies(tiff, 25, folder, QStringLiteral("liste-tif"));
    for (int i = 0; i < 25; ++i)
        list->addItem(fifty.at(i % 2 ? 25 + i : i));
    for (int i = 25; i < 50; ++i)
        list->addItem(fifty.at(i % 2 ? i - 25 : i));
    window.show();
    QApplication::processEvents();
    const qint64 without = residentKB();
    const HeldKeys plain = holdArrows(*list);
    QObject::connect(list, &QListWidget::currentTextChanged, side, &preview::PreviewPane::showFile);
    const HeldKeys shown = holdArrows(*list);
    const double aboveMB = (shown.peakKB - without) / 1024.0;
    std::printf(
        "arrow keys held through 50 scans and back: events answered within %.1f ms (the list without a "
        "preview: %.1f ms, %.2fx); goal <= 30 ms: %s; resident memory at most %.0f MB above the window "
        "without preview (%.0f MB); goal <= 150 MB: %s; pages drawn: %d\n",
        shown.worstMs, plain.worstMs, shown.worstMs / std::max(plain.worstMs, 0.1),
        verdict(shown.worstMs <= 30), aboveMB, without / 1024.0, verdict(aboveMB <= 150),
        side->renderer().renderCount());
    return 0;
}
