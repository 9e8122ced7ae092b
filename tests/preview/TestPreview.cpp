// The document preview: what each kind of file shows (pages or a German reason), the renderer
// dropping superseded work and keeping a few pages, and the pane's paging, fitting, zoom and
// hand-off to the system's viewer.
#include "PreviewSamples.h"
#include "preview/PreviewPane.h"
#include "widgets/MessageBox.h"
#include "widgets/SystemServices.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace preview;

namespace {

// Share of dark pixels: a drawn page of text or bars has some, a blank or failed one none.
double ink(const QImage& image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    qint64 dark = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            dark += line[x] < 128;
    }
    return grey.isNull() ? 0 : static_cast<double>(dark) / (grey.width() * grey.height());
}

Result render(const QString& path, int page = 0, QSize box = QSize(600, 800), Fit fit = Fit::Width)
{
    return Renderer::renderNow({path, page, box, fit, 1.0});
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_invoice, m_note, m_images;

    QString file(const QString& name, const QByteArray& bytes)
    {
        return samples::write(m_dir.filePath(name), bytes);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_invoice = file("Rechnung 200001.pdf", erpsim::demoInvoicePdf());
        m_note = file("Lieferschein 4711-001.tif", erpsim::demoDeliveryNoteTiff(7));
        m_images = file("Scan 20 Seiten.pdf", samples::imagePdf(20));
    }

    void cleanup()
    {
        MessageBox::setScripted(false);
        MessageBox::clear();
        SystemServices::setDocumentOpener(nullptr);
    }

    void documentsShowTheirPages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QSize>("firstPage"); // at 600 pixels wide
        QTest::newRow("invoice, text") << m_invoice << 2 << QSize(600, 849);
        QTest::newRow("delivery note, bilevel LZW") << m_note << 2 << QSize(600, 848);
        QTest::newRow("scanned pages") << m_images << 20 << QSize(600, 849);
        QTest::newRow("greyscale TIFF, three pages")
            << file("grau.tif", samples::greyTiff(3)) << 3 << QSize(600, 840);
        QTest::newRow("JPEG") << file("foto.jpg", samples::encoded("jpeg")) << 1 << QSize(600, 450);
        QTest::newRow("PNG") << file("bild.png", samples::encoded("png")) << 1 << QSize(600, 450);
        QTest::newRow("BMP") << file("bild.bmp", samples::encoded("bmp")) << 1 << QSize(600, 450);
        // The content decides, not the name.
        QTest::newRow("PDF named .tif")
            << file("falsch.tif", erpsim::demoInvoicePdf()) << 2 << QSize(600, 849);
    }

    void documentsShowTheirPages()
    {
        QFETCH(QString, path);
        QFETCH(int, pages);
        QFETCH(QSize, firstPage);
        const Result first = render(path);
        QVERIFY2(first.reason.isEmpty(), qPrintable(first.reason));
        QCOMPARE(first.pageCount, pages);
        QCOMPARE(first.image.size(), firstPage);
        QVERIFY(ink(first.image) > 0.005);
        // Paper is white, whatever the format's own background.
        QCOMPARE(QColor(first.image.pixel(first.image.width() - 1, first.image.height() - 1)),
                 QColor(Qt::white));
        const Result last = render(path, pages - 1);
        QCOMPARE(last.page, pages - 1);
        QVERIFY(!last.image.isNull());
        // Asking beyond the end shows the last page.
        QCOMPARE(render(path, pages + 5).page, pages - 1);
    }

    void fitting()
    {
        // Whole page: the A4 page fits a wide, low box by its height.
        const Result page = render(m_invoice, 0, QSize(800, 400), Fit::Page);
        QCOMPARE(page.image.height(), 400);
        QCOMPARE(page.image.width(), 283);
        const Result width = render(m_invoice, 0, QSize(800, 400), Fit::Width);
        QCOMPARE(width.image.width(), 800);
        // A page of absurd shape or zoom stays within the pixel budget.
        QSize huge = PageSource::boundedPixels(QSizeF(14400, 14400), 100);
        QVERIFY(qint64(huge.width()) * huge.height() <= Limits::MaxRenderPixels);
        huge = PageSource::boundedPixels(QSizeF(1e7, 842), 600 / 1e7);
        QVERIFY(huge.width() >= 1 && huge.height() >= 1);
    }

    void scansShrinkByAveraging_data()
    {
        QTest::addColumn<bool>("inkIsOne");
        QTest::newRow("ink is 1") << true;
        QTest::newRow("ink is 0") << false;
    }

    void scansShrinkByAveraging()
    {
        // Hairlines one pixel wide, every fourth column: a quarter of each box is ink, and none
        // may vanish between the boxes.
        QFETCH(bool, inkIsOne);
        QImage mono(800, 400, QImage::Format_Mono);
        mono.setColorTable(inkIsOne ? QList<QRgb>{qRgb(255, 255, 255), qRgb(0, 0, 0)}
                                    : QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)});
        mono.fill(inkIsOne ? 0 : 1);
        for (int y = 0; y < mono.height(); ++y)
            for (int x = 0; x < 800; x += 4)
                mono.setPixel(x, y, inkIsOne ? 1 : 0);
        const QImage small = PageSource::scaled(mono, QSize(200, 100));
        QCOMPARE(small.format(), QImage::Format_Grayscale8);
        for (int x = 0; x < 200; ++x)
            QVERIFY2(qGray(small.pixel(x, 50)) == 192, qPrintable(QString::number(x)));

        QImage grey(400, 100, QImage::Format_Grayscale8);
        grey.fill(255);
        for (int y = 0; y < 100; ++y)
            memset(grey.scanLine(y), 0, 200);
        const QImage half = PageSource::scaled(grey, QSize(40, 10));
        QCOMPARE(qGray(half.pixel(19, 5)), 0);
        QCOMPARE(qGray(half.pixel(20, 5)), 255);
        // Larger than the scan: drawn smoothly, in grey.
        QCOMPARE(PageSource::scaled(mono, QSize(1600, 800)).size(), QSize(1600, 800));
    }

    void filesWithoutPagesSayWhy_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        const QByteArray invoice = erpsim::demoInvoicePdf();
        const QByteArray note = erpsim::demoDeliveryNoteTiff(3);
        QByteArray encrypted = invoice;
        encrypted.replace("/Root 1 0 R", "/Root 1 0 R /Encrypt << /Filter /Standard /V 1 /R 2 /O <" +
                                             QByteArray(64, '1') + "> /U <" + QByteArray(64, '2') +
                                             "> /P -4 >> /ID [<00112233445566778899aabbccddeeff> "
                                             "<00112233445566778899aabbccddeeff>]");

        QTest::newRow("missing") << m_dir.filePath("fehlt.pdf") << Reason::notFound();
        QTest::newRow("folder") << m_dir.path() << Reason::notFound();
        QTest::newRow("empty PDF") << file("leer.pdf", {}) << Reason::empty();
        QTest::newRow("empty TIFF") << file("leer.tif", {}) << Reason::empty();
        QTest::newRow("text named .pdf") << file("text.pdf", "Dies ist kein PDF.\n") << Reason::damaged();
        QTest::newRow("PDF cut after its header")
            << file("kurz.pdf", invoice.left(400)) << Reason::truncated();
        QTest::newRow("PDF with garbage at its end")
            << file("kaputt.pdf", invoice.left(400) + "\n%%EOF\n") << Reason::damaged();
        QTest::newRow("encrypted") << file("geheim.pdf", encrypted) << Reason::encrypted();
        QTest::newRow("TIFF without pages")
            << file("seitenlos.tif", QByteArray("II*\0\0\0\0\0", 8) + QByteArray(64, 'x'))
            << Reason::noPages();
        QTest::newRow("TIFF cut in its pixels")
            << file("kurz.tif", note.left(note.size() / 3)) << Reason::truncated();
        QTest::newRow("TIFF header only") << file("kopf.tif", note.left(8)) << Reason::truncated();

        // A page of 60,000 x 60,000 pixels declared by a tiny file.
        QByteArray huge = erpsim::writeTiff({erpsim::TiffPage{60000, 60000, 1, 200, QByteArray(64, '\0')}},
                                            erpsim::TiffCompression::None);
        QTest::newRow("TIFF of huge dimensions")
            << file("riesig.tif", huge) << Reason::pageTooLarge(QSize(60000, 60000));
        QTest::newRow("JPEG cut short")
            << file("kurz.jpg", samples::encoded("jpeg").left(12)) << Reason::damaged();
    }

    void filesWithoutPagesSayWhy()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        const Result result = render(path);
        QVERIFY(result.image.isNull());
        QCOMPARE(result.reason, reason);
    }

    void otherTypesShowTheirFacts()
    {
        const QString doc = file("Angebot Schröder.doc", QByteArray(2500, 'x'));
        QVERIFY(QFile(doc).open(QIODevice::ReadWrite));
        const QDateTime when(QDate(2024, 5, 7), QTime(17, 25));
        {
            QFile f(doc);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(when, QFileDevice::FileModificationTime));
        }
        const Result result = render(doc);
        QCOMPARE(result.kind, Kind::Other);
        QVERIFY(result.reason.isEmpty() && result.image.isNull());
        QCOMPARE(result.facts.name, QStringLiteral("Angebot Schröder.doc"));
        QCOMPARE(result.facts.type, QStringLiteral("Textdokument (Word)"));
        QCOMPARE(result.facts.size, QStringLiteral("2,4 KB (2.500 Byte)"));
        QCOMPARE(result.facts.modified, QStringLiteral("07.05.2024 17:25"));
        QCOMPARE(typeName("XLS"), QStringLiteral("Tabelle (Excel)"));
        QCOMPARE(typeName("pptx"), QStringLiteral("Präsentation (PowerPoint)"));
        QCOMPARE(typeName(""), QStringLiteral("Datei ohne Endung"));
        QCOMPARE(sizeText(3 * 1024 * 1024 + 1), QStringLiteral("3,0 MB (3.145.729 Byte)"));
    }

    void rendererDropsSupersededWork()
    {
        Renderer renderer;
        QSignalSpy ready(&renderer, &Renderer::ready);
        QStringList paths;
        for (int i = 0; i < 8; ++i)
            paths << file(QStringLiteral("folge-%1.pdf").arg(i), samples::imagePdf(2));
        for (const QString& path : paths)
            renderer.request({path, 0, QSize(400, 500), Fit::Width, 1.0});
        QVERIFY(ready.wait(5000));
        QTest::qWait(100);
        QCOMPARE(ready.size(), 1);
        const auto result = ready.at(0).at(0).value<Result>();
        QCOMPARE(result.path, paths.last());
        QVERIFY(!result.image.isNull());
        // What was superseded before its turn was never drawn.
        QVERIFY2(renderer.renderCount() < 8, qPrintable(QString::number(renderer.renderCount())));

        // A cancelled request delivers nothing.
        renderer.request({m_invoice, 0, QSize(400, 500), Fit::Width, 1.0});
        renderer.cancel();
        QVERIFY(!ready.wait(500));
        QCOMPARE(ready.size(), 1);
    }

    void rendererKeepsAFewPages()
    {
        Renderer renderer;
        QSignalSpy ready(&renderer, &Renderer::ready);
        auto show = [&](int page) {
            renderer.request({m_images, page, QSize(300, 400), Fit::Width, 1.0});
            [&] { QVERIFY(ready.wait(5000)); }();
            return ready.takeLast().at(0).value<Result>();
        };
        QVERIFY(!show(0).fromCache);
        QVERIFY(!show(1).fromCache);
        QVERIFY(show(0).fromCache);
        for (int page = 2; page < 2 + Renderer::CachedPages; ++page)
            QVERIFY(!show(page).fromCache);
        QVERIFY(!show(0).fromCache);
        // A file changed on disk is read anew, not taken from the cache.
        const int before = renderer.renderCount();
        QFile touched(m_images);
        QVERIFY(
            touched.open(QIODevice::ReadWrite) &&
            touched.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        touched.close();
        QVERIFY(!show(0).fromCache);
        QCOMPARE(renderer.renderCount(), before + 1);

        // A damaged file is remembered as such until it changes: then it is read again.
        const QString later = file("später.pdf", "%PDF-1.4\nnoch nicht fertig\n%%EOF\n");
        auto ask = [&] {
            renderer.request({later, 0, QSize(300, 400), Fit::Width, 1.0});
            [&] { QVERIFY(ready.wait(5000)); }();
            return ready.takeLast().at(0).value<Result>();
        };
        QCOMPARE(ask().reason, Reason::damaged());
        QCOMPARE(ask().reason, Reason::damaged());
        file("später.pdf", erpsim::demoInvoicePdf());
        QVERIFY(!ask().image.isNull());
    }

    void paneTurnsPagesFitsAndZooms()
    {
        PreviewPane pane;
        pane.resize(520, 700);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QSignalSpy shown(&pane, &PreviewPane::pageShown);
        pane.showFile(m_invoice);
        QVERIFY(shown.wait(5000));
        QCOMPARE(pane.lbl_Seite->text(), QStringLiteral("Seite 1 von 2"));
        QVERIFY(!pane.b_VorigeSeite->isEnabled() && pane.b_NaechsteSeite->isEnabled());
        QCOMPARE(pane.shownImage().width(), pane.pageBox(Fit::Width).width());

        QTest::keyClick(pane.Seitenansicht, Qt::Key_PageDown);
        QVERIFY(shown.wait(5000));
        QCOMPARE(pane.lbl_Seite->text(), QStringLiteral("Seite 2 von 2"));
        QVERIFY(pane.b_VorigeSeite->isEnabled() && !pane.b_NaechsteSeite->isEnabled());
        QTest::keyClick(pane.Seitenansicht, Qt::Key_PageDown); // past the end: stays
        QCOMPARE(pane.page(), 1);
        pane.b_VorigeSeite->click();
        QVERIFY(shown.wait(5000));
        QCOMPARE(pane.page(), 0);

        pane.o_GanzeSeite->click();
        QVERIFY(shown.wait(5000));
        QCOMPARE(pane.fit(), Fit::Page);
        QVERIFY(pane.shownImage().height() <= pane.pageBox(Fit::Page).height());

        // Ctrl with the wheel: two notches zoom in by 1.25 twice, the page follows.
        const int width = pane.shownImage().width();
        const QPoint at = pane.Seitenansicht->viewport()->rect().center();
        QWheelEvent wheel(at, pane.Seitenansicht->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 240),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pane.Seitenansicht->viewport(), &wheel);
        QCOMPARE(pane.zoom(), 1.5625);
        QVERIFY(shown.wait(5000));
        QVERIFY(qAbs(pane.shownImage().width() - width * 1.5625) <= 2);

        // Another file starts at its first page, at the fitted size.
        pane.showFile(m_note);
        QVERIFY(shown.wait(5000));
        QCOMPARE(pane.zoom(), 1.0);
        QCOMPARE(pane.lbl_Seite->text(), QStringLiteral("Seite 1 von 2"));
    }

    void paneSaysWhyAndShowsFacts()
    {
        PreviewPane pane;
        pane.resize(400, 500);
        pane.show();
        QSignalSpy said(&pane, &PreviewPane::messageShown);
        QCOMPARE(pane.message(), QStringLiteral("Keine Datei ausgewählt."));
        QVERIFY(!pane.b_Oeffnen->isEnabled());

        pane.showFile(file("defekt.pdf", "%PDF-1.4\nMüll\n%%EOF\n"));
        QVERIFY(said.wait(5000));
        QCOMPARE(pane.message(), Reason::damaged());
        QVERIFY(pane.lbl_Seite->text().isEmpty());
        QVERIFY(!pane.b_NaechsteSeite->isEnabled());
        QVERIFY(pane.b_Oeffnen->isEnabled()); // the system's viewer may know better

        pane.showFile(file("Tabelle.xls", "xls"));
        QVERIFY(said.wait(5000));
        QCOMPARE(pane.message(), QStringLiteral("Für diesen Dateityp gibt es keine Vorschau."));
        QVERIFY(pane.findChildren<QLabel*>().size() > 4);
        bool typeShown = false;
        for (QLabel* label : pane.findChildren<QLabel*>())
            typeShown |= label->isVisible() && label->text() == QStringLiteral("Tabelle (Excel)");
        QVERIFY(typeShown);
    }

    void openInTheSystemViewer()
    {
        QStringList opened;
        bool works = true;
        SystemServices::setDocumentOpener([&](const QString& path) {
            opened << path;
            return works;
        });
        MessageBox::setScripted(true);
        PreviewPane pane;
        pane.showFile(m_invoice);
        pane.b_Oeffnen->click();
        QCOMPARE(opened, QStringList{m_invoice});
        QVERIFY(MessageBox::shown().isEmpty());

        works = false;
        MessageBox::queueAnswer(QMessageBox::Ok);
        pane.b_Oeffnen->click();
        QCOMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::shown().last().title, QStringLiteral("Öffnen"));
        QVERIFY(MessageBox::shown().last().text.contains(QStringLiteral("\u201eRechnung 200001.pdf\u201c")));

        // A file gone since it was listed is reported, not handed to the system.
        MessageBox::queueAnswer(QMessageBox::Ok);
        QVERIFY(!PreviewPane::openExternally(&pane, m_dir.filePath("weg.pdf")));
        QCOMPARE(opened.size(), 2);
        QCOMPARE(MessageBox::shown().last().text,
                 QStringLiteral("Die Datei \u201eweg.pdf\u201c wurde nicht gefunden."));
    }
};

QTEST_MAIN(TestPreview)
#include "TestPreview.moc"
