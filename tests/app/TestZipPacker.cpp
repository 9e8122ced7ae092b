// The ZIP packer on its own: one archive per source under the first free name, entry names in
// the DOS code page, racing packers, unreadable sources, a blocked staging folder, leftovers,
// a source beyond 4 GiB, and stored entries written directly byte for byte as libzip writes them.
#include "app/StoredZip.h"
#include "app/ZipPacker.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
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

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator random(7);
    for (char& c : data)
        c = char(random.bounded(256));
    return data;
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

    void publishingNeverReplaces()
    {
        QTemporaryDir dir;
        const QString staged = write(dir.filePath("staged.zip"), "NEU");
        const QString target = write(dir.filePath("a.zip"), "VERÖFFENTLICHT");
        QCOMPARE(ZipPacker::publishNoReplace(staged, target), EEXIST);
        QFile published(target);
        QVERIFY(published.open(QIODevice::ReadOnly));
        QCOMPARE(published.readAll(), QByteArray("VERÖFFENTLICHT"));
        QVERIFY(QFile::exists(staged));
        QCOMPARE(ZipPacker::publishNoReplace(staged, dir.filePath("a (2).zip")), 0);
        QVERIFY(!QFile::exists(staged));
        QVERIFY(QFile::exists(dir.filePath("a (2).zip")));
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

    // The archive side must not see which way a stored entry was written.
    void directStoredEntryIsLibzipsBytes_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QDateTime>("modified");
        QTest::addColumn<int>("method");
        const QDateTime now = QDateTime::currentDateTime();
        QTest::newRow("ascii, sampled") << "Rechnung 1"
                                        << "tif" << randomBytes(5000) << 0644 << now << int(ZIP_CM_STORE);
        QTest::newRow("umlauts in the DOS code page")
            << "Übersicht Maß"
            << "pdf" << QByteArray("%PDF") << 0644 << now << int(ZIP_CM_STORE);
        QTest::newRow("name with UTF-8 flag")
            << "Aufmaß §3"
            << "tif" << QByteArray("II*") << 0644 << now << int(ZIP_CM_STORE);
        QTest::newRow("empty file") << "leer"
                                    << "tif" << QByteArray() << 0644 << now << int(ZIP_CM_STORE);
        QTest::newRow("no extension") << "ohne"
                                      << "" << randomBytes(4096) << 0644 << now << int(ZIP_CM_STORE);
        QTest::newRow("several blocks, mode 0600, before 1980")
            << "gross"
            << "jpg" << randomBytes((3 << 20) + 17) << 0600 << QDateTime(QDate(1975, 6, 1), QTime(12, 30, 7))
            << int(ZIP_CM_STORE);
        QByteArray text;
        for (int i = 0; i < 5000; ++i)
            text += "Zeile " + QByteArray::number(i) + " Lieferschein\n";
        // A PDF is written on speculation beside its sample; this one is thrown away and deflated.
        QTest::newRow("compressible PDF, deflated") << "bericht"
                                                    << "pdf" << text << 0644 << now << int(ZIP_CM_DEFLATE);
        QTest::newRow("mode 0755, after 2107")
            << "spaet"
            << "pdf" << QByteArray("%PDF-1.4") << 0755 << QDateTime(QDate(2150, 2, 3), QTime(4, 5, 6))
            << int(ZIP_CM_STORE);
    }

    void directStoredEntryIsLibzipsBytes()
    {
        QFETCH(QString, base);
        QFETCH(QString, extension);
        QFETCH(QByteArray, data);
        QFETCH(int, mode);
        QFETCH(QDateTime, modified);
        QFETCH(int, method);
        QTemporaryDir dir;
        // The source's own suffix is what the choice between storing and deflating looks at.
        const QString source =
            write(dir.filePath(extension.isEmpty() ? "quelle" : "quelle." + extension), data);
        QVERIFY(::chmod(QFile::encodeName(source).constData(), mode_t(mode)) == 0);
        QFile file(source);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
        file.close();
        QVERIFY(QDir().mkpath(dir.filePath("alt")) && QDir().mkpath(dir.filePath("neu")));

        const auto old = LibZipPacker(LibZipPacker::Store::ThroughLibzip)
                             .pack(source, dir.filePath("alt/") + base + ".zip", extension);
        QCOMPARE(old.error, int(ZipPacker::Ok));
        QCOMPARE(entries(old.archivePath).value(0).method, quint16(method));
        const auto direct = m_packer.pack(source, dir.filePath("neu/") + base + ".zip", extension);
        QCOMPARE(direct.error, int(ZipPacker::Ok));
        const QByteArray reference = contents(old.archivePath);
        QCOMPARE(contents(direct.archivePath), reference);
        QCOMPARE(
            QDir(dir.filePath("neu/") + ZipPacker::stagingFolderName()).entryList(QDir::Files | QDir::Hidden),
            QStringList());
        if (method != ZIP_CM_STORE)
            return;

        // The writer itself, whichever way the packer chose.
        const QByteArray dos = ZipPacker::dosName(old.entryName);
        const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY);
        const int out =
            ::open(QFile::encodeName(dir.filePath("roh.zip")).constData(), O_RDWR | O_CREAT, 0644);
        struct stat st;
        QVERIFY(in >= 0 && out >= 0 && ::fstat(in, &st) == 0);
        const auto written =
            StoredZip::write(in, st, out, dos.isEmpty() ? old.entryName.toUtf8() : dos, dos.isEmpty());
        ::close(in);
        ::close(out);
        QCOMPARE(written.error, 0);
        QCOMPARE(contents(dir.filePath("roh.zip")), reference);
    }

    // A source whose size changed, that cannot be read, or a disk that is full never gives an
    // archive that looks complete.
    void directWriterFaults()
    {
        QTemporaryDir dir;
        const QString source = write(dir.filePath("kurz.tif"), "12345");
        const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY);
        struct stat st;
        QVERIFY(in >= 0 && ::fstat(in, &st) == 0);
        const int out = ::open(QFile::encodeName(dir.filePath("a.zip")).constData(), O_RDWR | O_CREAT, 0644);

        // Stat'ed before the file was cut short, or before it grew.
        for (const off_t size : {10, 4}) {
            struct stat other = st;
            other.st_size = size;
            const auto changed = StoredZip::write(in, other, out, "kurz.tif", false);
            QVERIFY(changed.sizeChanged);
            QVERIFY(!changed.readFailed);
        }

        const int folder = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
        const auto unreadable = StoredZip::write(folder, st, out, "kurz.tif", false);
        QVERIFY(unreadable.readFailed);
        QCOMPARE(unreadable.error, EISDIR);

        const int full = ::open("/dev/full", O_WRONLY);
        const auto noSpace = StoredZip::write(in, st, full, "kurz.tif", false);
        QVERIFY(!noSpace.readFailed && !noSpace.sizeChanged);
        QCOMPARE(noSpace.error, ENOSPC);
        for (int fd : {in, out, folder, full})
            ::close(fd);
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
