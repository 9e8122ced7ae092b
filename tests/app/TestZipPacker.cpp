// The ZIP packer on its own: one archive per source under the first free name, entry names in
// the DOS code page, racing packers, unreadable sources, a blocked staging folder, leftovers,
// and a source beyond 4 GiB.
#include "app/ZipPacker.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>
#include <zip.h>

namespace {

struct Entry
{
    QString name;
    quint64 size;
    quint16 method;
};

QList<Entry> entries(const QString& path)
{
    QList<Entry> list;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        return list;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
        list.append({QString::fromUtf8(st.name), st.size, st.comp_method});
    }
    zip_discard(archive);
    return list;
}

QByteArray readEntry(const QString& path, const QString& name)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    zip_file_t* file = zip_fopen(archive, name.toUtf8().constData(), 0);
    QByteArray data;
    char buffer[4096];
    zip_int64_t n;
    while (file && (n = zip_fread(file, buffer, sizeof buffer)) > 0)
        data.append(buffer, n);
    if (file)
        zip_fclose(file);
    zip_discard(archive);
    return data;
}

QString write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

} // namespace

class TestZipPacker : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    LibZipPacker m_packer;

    QString transfer() const { return m_dir.filePath("transfer/"); }

private slots:
    // General-purpose flags and raw name of the central directory's first entry.
    static QPair<quint16, QByteArray> centralEntry(const QString& path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = f.readAll();
        const qsizetype at = bytes.indexOf(QByteArray("PK\x01\x02", 4));
        if (at < 0 || at + 46 > bytes.size())
            return {};
        auto u16 = [&](qsizetype o) {
            return quint16(quint8(bytes[at + o]) | quint8(bytes[at + o + 1]) << 8);
        };
        return {u16(8), bytes.mid(at + 46, u16(28))};
    }

    void initTestCase() { QVERIFY(QDir().mkpath(transfer())); }

    void packsStoresAndDeflates()
    {
        QByteArray text;
        for (int i = 0; i < 5000; ++i)
            text += "Zeile " + QByteArray::number(i) + " Lieferschein Baustelle\n";
        const QString source = write(m_dir.filePath("bericht.txt"), text);
        const auto r = m_packer.pack(source, transfer() + "bericht.zip", "txt");
        QCOMPARE(r.error, int(ZipPacker::Ok));
        const auto list = entries(transfer() + "bericht.zip");
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].name, QStringLiteral("bericht.txt"));
        QCOMPARE(list[0].method, quint16(ZIP_CM_DEFLATE));
        QCOMPARE(readEntry(transfer() + "bericht.zip", "bericht.txt"), text);

        // A scan format that is compressed already is stored.
        const QString scan = write(m_dir.filePath("scan.pdf"), QByteArray(100, 'p'));
        QCOMPARE(m_packer.pack(scan, transfer() + "scan.zip", "pdf").error, int(ZipPacker::Ok));
        QCOMPARE(entries(transfer() + "scan.zip")[0].method, quint16(ZIP_CM_STORE));
        // Nothing but the archives is left where the archive system looks.
        const QStringList visible = QDir(transfer()).entryList(QDir::Files);
        QCOMPARE(visible, (QStringList{"bericht.zip", "scan.zip"}));
    }

    void numbersNamesAndNeverTouchesAnArchive()
    {
        QTemporaryDir other;
        const QString tif = write(m_dir.filePath("doc.tif"), "TIFF");
        const QString pdf = write(m_dir.filePath("doc.pdf"), "PDF");
        const QString archive = transfer() + "doc.zip";
        const auto first = m_packer.pack(tif, archive, "tif");
        QCOMPARE(first.error, int(ZipPacker::Ok));
        QCOMPARE(first.archivePath, archive);
        QCOMPARE(first.entryName, QStringLiteral("doc.tif"));
        QFile published(archive);
        QVERIFY(published.open(QIODevice::ReadOnly));
        const QByteArray bytes = published.readAll();
        published.close();

        // Every further document gets an archive of its own, its entry named after it.
        const auto second = m_packer.pack(pdf, archive, "pdf");
        QCOMPARE(second.archivePath, transfer() + "doc (2).zip");
        QCOMPARE(second.entryName, QStringLiteral("doc (2).pdf"));
        // A name another run is packing right now is skipped.
        QVERIFY(TransferClaims::claim(transfer() + ZipPacker::namesFolderName(), "doc (3).zip"));
        const auto third = m_packer.pack(write(other.filePath("doc.tif"), "OTHER"), archive, "tif");
        TransferClaims::release(transfer() + ZipPacker::namesFolderName(), "doc (3).zip");
        QCOMPARE(third.archivePath, transfer() + "doc (4).zip");
        QCOMPARE(readEntry(transfer() + "doc (4).zip", "doc (4).tif"), QByteArray("OTHER"));
        QCOMPARE(entries(transfer() + "doc (2).zip").size(), 1);
        QVERIFY(published.open(QIODevice::ReadOnly));
        QCOMPARE(published.readAll(), bytes);
        QVERIFY(third.stamp == SourceStamp::of(other.filePath("doc.tif")));
    }

    void racingPackersNeverShareAnArchive()
    {
        // Threads of one process race like processes: the claims and the publish decide.
        QTemporaryDir sources;
        QList<QFuture<ZipPacker::Result>> runs;
        for (int i = 0; i < 8; ++i) {
            const QString source =
                write(sources.filePath(QStringLiteral("%1.tif").arg(i)), QByteArray::number(i));
            runs << QtConcurrent::run(
                [this, source] { return m_packer.pack(source, transfer() + "wett.zip", "tif"); });
        }
        QSet<QString> archives;
        QSet<QByteArray> contents;
        for (auto& run : runs) {
            const auto r = run.result();
            QCOMPARE(r.error, int(ZipPacker::Ok));
            archives << r.archivePath;
            const auto list = entries(r.archivePath);
            QCOMPARE(list.size(), 1);
            QCOMPARE(list[0].name, QFileInfo(r.archivePath).completeBaseName() + ".tif");
            contents << readEntry(r.archivePath, list[0].name);
        }
        QCOMPARE(archives.size(), 8);
        QCOMPARE(contents.size(), 8);
        QVERIFY(archives.contains(transfer() + "wett.zip") && archives.contains(transfer() + "wett (8).zip"));
    }

    void entryNamesForWindowsUnpackers_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<bool>("utf8Flag");
        QTest::newRow("ascii") << "Rechnung 1" << QByteArray("Rechnung 1.tif") << false;
        QTest::newRow("umlauts in the DOS code page")
            << "Übersicht Maß äöü ÄÖ"
            << QByteArray("\x9a"
                          "bersicht Ma\xe1 \x84\x94\x81 \x8e\x99.tif")
            << false;
        QTest::newRow("paragraph needs UTF-8") << "Aufmaß §3" << QString("Aufmaß §3.tif").toUtf8() << true;
        QTest::newRow("euro needs UTF-8") << "Preis €" << QString("Preis €.tif").toUtf8() << true;
        QTest::newRow("CP437 only box char needs UTF-8") << "a╡" << QString("a╡.tif").toUtf8() << true;
    }

    void entryNamesForWindowsUnpackers()
    {
        QFETCH(QString, base);
        QFETCH(QByteArray, raw);
        QFETCH(bool, utf8Flag);
        QTemporaryDir sources;
        const QString source = write(sources.filePath("quelle.tif"), "x");
        const auto r = m_packer.pack(source, transfer() + base + ".zip", "tif");
        QCOMPARE(r.error, int(ZipPacker::Ok));
        const auto [flags, name] = centralEntry(r.archivePath);
        QCOMPARE(name, raw);
        QCOMPARE(bool(flags & 0x0800), utf8Flag);
        QCOMPARE(readEntry(r.archivePath, r.entryName), QByteArray("x"));
        QFile::remove(r.archivePath);
    }

    void failuresPublishNothing()
    {
        QCOMPARE(m_packer.pack(m_dir.filePath("fehlt.tif"), transfer() + "fehlt.zip", "tif").error,
                 int(ZipPacker::SourceUnreadable));
        QCOMPARE(m_packer.pack(m_dir.path(), transfer() + "ordner.zip", "").error,
                 int(ZipPacker::SourceUnreadable));
        QVERIFY(!QFile::exists(transfer() + "fehlt.zip"));

        QTemporaryDir blocked;
        write(blocked.filePath(ZipPacker::stagingFolderName()), "no folder");
        const QString source = write(m_dir.filePath("x.tif"), "x");
        const auto staging = m_packer.pack(source, blocked.filePath("x.zip"), "tif");
        QCOMPARE(staging.error, int(ZipPacker::StagingUnavailable));
        QCOMPARE(staging.detail, blocked.filePath(ZipPacker::stagingFolderName()) + " ist kein Ordner");
        QVERIFY(!QFile::exists(blocked.filePath("x.zip")));

        // A damaged archive of the same name is left alone.
        write(transfer() + "kaputt.zip", "not a zip");
        QCOMPARE(m_packer.pack(source, transfer() + "kaputt.zip", "tif").archivePath,
                 transfer() + "kaputt (2).zip");
        QFile damaged(transfer() + "kaputt.zip");
        QVERIFY(damaged.open(QIODevice::ReadOnly));
        QCOMPARE(damaged.readAll(), QByteArray("not a zip"));
    }

    void leftoversAreCleaned()
    {
        const QString staging = transfer() + ZipPacker::stagingFolderName();
        QDir().mkpath(staging);
        write(staging + "/abgebrochen.zip", "partial");
        write(staging + "/laeuft.zip", "another run's live file");
        QFile old(staging + "/abgebrochen.zip");
        QVERIFY(old.open(QIODevice::ReadWrite));
        QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-25 * 3600),
                                QFileDevice::FileModificationTime));
        old.close();
        ZipPacker::cleanStaging(transfer());
        QCOMPARE(QDir(staging).entryList(QDir::Files | QDir::Hidden), QStringList{"laeuft.zip"});
    }

    void beyondFourGiB()
    {
        const qint64 size = 5LL << 30;
        if (QStorageInfo(m_dir.path()).bytesAvailable() < (1LL << 30))
            QSKIP("not enough free disk space for the archive");
        QFile sparse(m_dir.filePath("gross.tif"));
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(size));
        sparse.close();
        QElapsedTimer timer;
        timer.start();
        const auto r = m_packer.pack(sparse.fileName(), transfer() + "gross.zip", "tif");
        QCOMPARE(r.error, int(ZipPacker::Ok));
        const auto list = entries(transfer() + "gross.zip");
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].size, quint64(size));
        qInfo("5 GiB gepackt in %lld ms", timer.elapsed());
        QFile::remove(transfer() + "gross.zip");
    }
};

QTEST_GUILESS_MAIN(TestZipPacker)
#include "TestZipPacker.moc"
