// Damaged scans through the preview's renderer: a corpus of PDFs and TIFFs mutated from a few
// good ones (cut short, bytes flipped, huge page counts and dimensions), made the same way on
// every run. None may crash, leak (the sanitizer pass checks) or take more than two seconds,
// and each shows a page or a German reason.
#include "PreviewSamples.h"
#include "preview/PreviewRenderer.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace preview;

namespace {

struct Mutant
{
    QString name;
    QByteArray bytes;
};

QByteArray flipped(QByteArray bytes, QRandomGenerator& random, int count)
{
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<qsizetype>(random.bounded(static_cast<quint32>(bytes.size())));
        bytes[at] = static_cast<char>(bytes.at(at) ^ (1 << random.bounded(8)));
    }
    return bytes;
}

QByteArray overwritten(QByteArray bytes, QRandomGenerator& random, char fill)
{
    const auto at = static_cast<qsizetype>(random.bounded(static_cast<quint32>(bytes.size())));
    for (qsizetype i = at; i < std::min(bytes.size(), at + 64); ++i)
        bytes[i] = fill;
    return bytes;
}

// Sets a tag of the first directory of a little-endian TIFF written by erpsim::writeTiff.
QByteArray withTag(QByteArray tiff, quint16 tag, quint32 value)
{
    const quint32 ifd = qFromLittleEndian<quint32>(tiff.constData() + 4);
    const quint16 entries = qFromLittleEndian<quint16>(tiff.constData() + ifd);
    for (quint16 i = 0; i < entries; ++i) {
        char* e = tiff.data() + ifd + 2 + i * 12;
        if (qFromLittleEndian<quint16>(e) == tag) {
            if (qFromLittleEndian<quint16>(e + 2) == 3)
                qToLittleEndian<quint16>(static_cast<quint16>(value), e + 8);
            else
                qToLittleEndian<quint32>(value, e + 8);
        }
    }
    return tiff;
}

QByteArray withNextDirectory(QByteArray tiff, quint32 next)
{
    const quint32 ifd = qFromLittleEndian<quint32>(tiff.constData() + 4);
    const quint16 entries = qFromLittleEndian<quint16>(tiff.constData() + ifd);
    qToLittleEndian<quint32>(next == 1 ? ifd : next, tiff.data() + ifd + 2 + entries * 12);
    return tiff;
}

QList<Mutant> corpus()
{
    const QList<Mutant> seeds = {
        {"rechnung.pdf", erpsim::demoInvoicePdf()},
        {"scan.pdf", samples::imagePdf(3, 300, 420)},
        {"lieferschein.tif", erpsim::demoDeliveryNoteTiff(11)},
        {"grau.tif", samples::greyTiff(3, 240, 340)},
        {"roh.tif", erpsim::sampleTiff(210, 297, 5)},
    };
    QList<Mutant> out;
    QRandomGenerator random(20261207);
    for (const Mutant& seed : seeds) {
        const qsizetype size = seed.bytes.size();
        const QString base = seed.name.section(u'.', 0, 0);
        const QString ext = seed.name.section(u'.', 1);
        auto add = [&](const QString& what, const QByteArray& bytes) {
            out << Mutant{
                QStringLiteral("%1-%2-%3.%4").arg(out.size(), 3, 10, QLatin1Char('0')).arg(base, what, ext),
                bytes};
        };
        for (double share : {0.0005, 0.01, 0.05, 0.1, 0.25, 0.4, 0.5, 0.6, 0.75, 0.9, 0.95, 0.99})
            add(QStringLiteral("abgeschnitten%1").arg(qRound(share * 10000)),
                seed.bytes.left(qRound64(size * share)));
        add("ohneLetztesByte", seed.bytes.left(size - 1));
        for (int count : {1, 2, 4, 8, 16, 64, 256})
            for (int round = 0; round < 3; ++round)
                add(QStringLiteral("gekippt%1").arg(count), flipped(seed.bytes, random, count));
        for (char fill : {'\0', '\xff', 'A'})
            add("ueberschrieben", overwritten(seed.bytes, random, fill));
    }

    // Structure pushed to its limits.
    const QByteArray pdf = erpsim::demoInvoicePdf();
    auto pdfWith = [&](const QByteArray& from, const QByteArray& to) {
        QByteArray b = pdf;
        return b.replace(from, to);
    };
    const QByteArray scan = samples::imagePdf(1, 300, 420);
    auto scanWith = [&](const QByteArray& from, const QByteArray& to) {
        QByteArray b = scan;
        return b.replace(from, to);
    };
    out << Mutant{"seitenzahl-riesig.pdf", pdfWith("/Count 2", "/Count 2147483647")}
        << Mutant{"seitenzahl-negativ.pdf", pdfWith("/Count 2", "/Count -5")}
        << Mutant{"seitenbaum-schleife.pdf",
                  pdfWith("/Parent 2 0 R", "/Parent 2 0 R /Kids [2 0 R] /Type /Pages")}
        << Mutant{"mediabox-riesig.pdf",
                  pdfWith("/MediaBox [0 0 595.28 841.89]", "/MediaBox [0 0 14400 14400]")}
        << Mutant{"mediabox-lang.pdf", pdfWith("/MediaBox [0 0 595.28 841.89]", "/MediaBox [0 0 3 9999999]")}
        << Mutant{"mediabox-1e30.pdf", pdfWith("/MediaBox [0 0 595.28 841.89]", "/MediaBox [0 0 1e30 1e30]")}
        << Mutant{"mediabox-null.pdf", pdfWith("/MediaBox [0 0 595.28 841.89]", "/MediaBox [0 0 0 0]")}
        << Mutant{"mediabox-negativ.pdf",
                  pdfWith("/MediaBox [0 0 595.28 841.89]", "/MediaBox [0 0 -595 -842]")}
        << Mutant{"startxref-falsch.pdf", pdfWith("startxref\n", "startxref\n9")}
        << Mutant{"laenge-riesig.pdf", pdfWith("/Length ", "/Length 999999999 /Old ")}
        << Mutant{"bild-riesig.pdf", scanWith("/Width 300 /Height 420", "/Width 100000 /Height 100000")}
        << Mutant{"bild-maximal.pdf",
                  scanWith("/Width 300 /Height 420", "/Width 2147483647 /Height 2147483647")}
        << Mutant{"bild-bits.pdf", scanWith("/BitsPerComponent 8", "/BitsPerComponent 77")};
    for (int copies : {200, 5000}) {
        // Thousands of pages that are all the same page.
        QByteArray kids;
        for (int i = 0; i < copies; ++i)
            kids += "5 0 R ";
        QByteArray many = pdf;
        many.replace("/Kids [5 0 R 7 0 R ] /Count 2",
                     "/Kids [" + kids + "] /Count " + QByteArray::number(copies));
        out << Mutant{QStringLiteral("seiten-%1.pdf").arg(copies), many};
    }

    const QByteArray tiff = samples::greyTiff(2, 240, 340);
    out << Mutant{"breite-riesig.tif", withTag(tiff, 256, 0xffffffff)}
        << Mutant{"hoehe-riesig.tif", withTag(tiff, 257, 1'000'000)}
        << Mutant{"flaeche-riesig.tif", withTag(withTag(tiff, 256, 30000), 257, 30000)}
        << Mutant{"breite-null.tif", withTag(tiff, 256, 0)}
        << Mutant{"bits-unsinnig.tif", withTag(tiff, 258, 255)}
        << Mutant{"kompression-unbekannt.tif", withTag(tiff, 259, 34000)}
        << Mutant{"kompression-jpeg.tif", withTag(tiff, 259, 7)}
        << Mutant{"streifen-hinter-ende.tif", withTag(tiff, 273, 0x7fffffff)}
        << Mutant{"streifenlaenge-riesig.tif", withTag(tiff, 279, 0xfffffff0)}
        << Mutant{"zeilen-null.tif", withTag(tiff, 278, 0)}
        << Mutant{"verzeichnis-schleife.tif", withNextDirectory(tiff, 1)}
        << Mutant{"verzeichnis-hinter-ende.tif", withNextDirectory(tiff, 0x7ffffff0)};
    {
        // A directory chain of 20,000 pages that all point to one picture.
        QList<erpsim::TiffPage> pages(20000, erpsim::TiffPage{8, 8, 8, 72, QByteArray(64, '\x80')});
        out << Mutant{"seiten-20000.tif", erpsim::writeTiff(pages, erpsim::TiffCompression::None)};
    }
    return out;
}

} // namespace

class TestPreviewCorpus : public QObject
{
    Q_OBJECT

private slots:
    void mutatedScans()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QList<Mutant> mutants = corpus();
        QVERIFY2(mutants.size() >= 200, qPrintable(QString::number(mutants.size())));
        // Made the same way every run, so a failure can be found again by its name.
        QCOMPARE(corpus().at(100).bytes, mutants.at(100).bytes);

        Renderer renderer;
        QSignalSpy ready(&renderer, &Renderer::ready);
        int shown = 0, refused = 0;
        double slowest = 0;
        QString slowestName;
        for (const Mutant& m : mutants) {
            const QString path = samples::write(dir.filePath(m.name), m.bytes);
            // The first page, then the last, as the pane asks for them.
            for (int page : {0, 1 << 30}) {
                QElapsedTimer clock;
                clock.start();
                renderer.request({path, page, QSize(600, 800), Fit::Width, 1.0});
                QVERIFY2(ready.wait(2000), qPrintable(m.name + " took more than 2 s"));
                const double ms = clock.nsecsElapsed() / 1e6;
                if (ms > slowest)
                    slowest = ms, slowestName = m.name;
                const auto result = ready.takeFirst().at(0).value<Result>();
                QCOMPARE(result.path, path);
                // A page or a reason, never neither and never both.
                QVERIFY2(result.image.isNull() != result.reason.isEmpty(), qPrintable(m.name));
                if (page == 0)
                    (result.image.isNull() ? refused : shown) += 1;
            }
        }
        qInfo("%lld mutated files: %d with a first page, %d with a reason; slowest %.0f ms (%s)",
              static_cast<long long>(mutants.size()), shown, refused, slowest, qPrintable(slowestName));
        // The corpus reaches both outcomes, or it tests less than it claims.
        QVERIFY(shown > 20 && refused > 20);
    }
};

QTEST_MAIN(TestPreviewCorpus)
#include "TestPreviewCorpus.moc"
