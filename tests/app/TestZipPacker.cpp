// The ZIP packer on its own: new and extended archives, retries, name clashes, unreadable
// sources, a blocked staging folder, leftovers, and a source beyond 4 GiB.
#include "app/ZipPacker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
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
    void initTestCase() { QVERIFY(QDir().mkpath(transfer())); }

    void packsStoresAndDeflates()
    {
        QByteArray text;
        for (int i = 0; i < 5000; ++i)
            text += "Zeile " + QByteArray::number(i) + " Lieferschein Baustelle\n";
        const QString source = write(m_dir.filePath("bericht.txt"), text);
        const auto r = m_packer.pack(source, transfer() + "bericht.zip");
        QCOMPARE(r.error, int(ZipPacker::Ok));
        const auto list = entries(transfer() + "bericht.zip");
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].name, QStringLiteral("bericht.txt"));
        QCOMPARE(list[0].method, quint16(ZIP_CM_DEFLATE));
        QCOMPARE(readEntry(transfer() + "bericht.zip", "bericht.txt"), text);

        // A scan format that is compressed already is stored.
        const QString scan = write(m_dir.filePath("scan.pdf"), QByteArray(100, 'p'));
        QCOMPARE(m_packer.pack(scan, transfer() + "scan.zip").error, int(ZipPacker::Ok));
        QCOMPARE(entries(transfer() + "scan.zip")[0].method, quint16(ZIP_CM_STORE));
        // Nothing but the archives is left where the archive system looks.
        const QStringList visible = QDir(transfer()).entryList(QDir::Files);
        QCOMPARE(visible, (QStringList{"bericht.zip", "scan.zip"}));
    }

    void extendsRetriesAndNeverOverwrites()
    {
        QTemporaryDir other;
        const QString tif = write(m_dir.filePath("doc.tif"), "TIFF");
        const QString pdf = write(m_dir.filePath("doc.pdf"), "PDF");
        const QString archive = transfer() + "doc.zip";
        QCOMPARE(m_packer.pack(tif, archive).error, int(ZipPacker::Ok));
        QCOMPARE(m_packer.pack(pdf, archive).error, int(ZipPacker::Ok));
        const auto again = m_packer.pack(tif, archive);
        QCOMPARE(again.error, int(ZipPacker::Ok));
        QVERIFY(again.alreadyThere);
        const auto clash = m_packer.pack(write(other.filePath("doc.tif"), "OTHER"), archive);
        QCOMPARE(clash.entryName, QStringLiteral("doc (2).tif"));
        QCOMPARE(entries(archive).size(), 3);
        QCOMPARE(readEntry(archive, "doc.tif"), QByteArray("TIFF"));
        QCOMPARE(readEntry(archive, "doc (2).tif"), QByteArray("OTHER"));
    }

    void failuresPublishNothing()
    {
        QCOMPARE(m_packer.pack(m_dir.filePath("fehlt.tif"), transfer() + "fehlt.zip").error,
                 int(ZipPacker::SourceUnreadable));
        QCOMPARE(m_packer.pack(m_dir.path(), transfer() + "ordner.zip").error,
                 int(ZipPacker::SourceUnreadable));
        QVERIFY(!QFile::exists(transfer() + "fehlt.zip"));

        QTemporaryDir blocked;
        write(blocked.filePath(ZipPacker::stagingFolderName()), "no folder");
        const QString source = write(m_dir.filePath("x.tif"), "x");
        QCOMPARE(m_packer.pack(source, blocked.filePath("x.zip")).error, int(ZipPacker::StagingUnavailable));
        QVERIFY(!QFile::exists(blocked.filePath("x.zip")));

        // A damaged archive of the same name is not replaced.
        write(transfer() + "kaputt.zip", "not a zip");
        QCOMPARE(m_packer.pack(source, transfer() + "kaputt.zip").error, int(ZipPacker::ArchiveError));
        QFile damaged(transfer() + "kaputt.zip");
        QVERIFY(damaged.open(QIODevice::ReadOnly));
        QCOMPARE(damaged.readAll(), QByteArray("not a zip"));
    }

    void leftoversAreCleaned()
    {
        const QString staging = transfer() + ZipPacker::stagingFolderName();
        QDir().mkpath(staging);
        write(staging + "/abgebrochen.zip", "partial");
        ZipPacker::cleanStaging(transfer());
        QCOMPARE(QDir(staging).entryList(QDir::Files | QDir::Hidden), QStringList());
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
        const auto r = m_packer.pack(sparse.fileName(), transfer() + "gross.zip");
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
