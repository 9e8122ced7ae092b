#include "ZipPacker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUuid>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

namespace {

ZipPacker* installed = nullptr;

struct Fingerprint
{
    bool exists = false;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    quint64 inode = 0;
    bool operator==(const Fingerprint&) const = default;
};

Fingerprint fingerprint(const QString& path)
{
    Fingerprint f;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        f.exists = true;
        f.size = st.st_size;
        f.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        f.inode = st.st_ino;
    }
    return f;
}

bool syncPath(const QString& path, bool directory)
{
    const int fd = ::open(QFile::encodeName(path).constData(), directory ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// CRC-32 and size of the source as read now; false when it cannot be read.
bool checksum(const QString& path, quint32& crc, qint64& size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    uLong value = crc32(0L, Z_NULL, 0);
    size = 0;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        value = crc32_z(value, reinterpret_cast<const Bytef*>(buffer.constData()), static_cast<z_size_t>(n));
        size += n;
    }
    crc = static_cast<quint32>(value);
    return true;
}

// Scans and office files that are compressed already gain nothing from deflating; a sample
// decides for everything else.
bool worthDeflating(const QString& path, qint64 size)
{
    static const QStringList packed = {"tif", "tiff", "pdf",  "jpg",  "jpeg", "png", "gif", "zip", "gz",
                                       "7z",  "docx", "xlsx", "pptx", "odt",  "ods", "mp4", "mp3"};
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (size < 4096)
        return !packed.contains(suffix);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray sample = file.read(64 * 1024);
    uLongf bound = compressBound(static_cast<uLong>(sample.size()));
    QByteArray out(static_cast<qsizetype>(bound), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &bound,
                  reinterpret_cast<const Bytef*>(sample.constData()), static_cast<uLong>(sample.size()),
                  1) != Z_OK)
        return false;
    return bound < static_cast<uLongf>(sample.size()) * 9 / 10;
}

QString numberedName(const QString& name, int n)
{
    const QFileInfo info(name);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? name : name.left(name.size() - suffix.size() - 1);
    return suffix.isEmpty() ? QStringLiteral("%1 (%2)").arg(base).arg(n)
                            : QStringLiteral("%1 (%2).%3").arg(base).arg(n).arg(suffix);
}

ZipPacker::Result fail(int error, const QString& detail)
{
    ZipPacker::Result r;
    r.error = error;
    r.detail = detail;
    return r;
}

QString zipErrorText(zip_t* archive)
{
    return QString::fromUtf8(zip_strerror(archive));
}

} // namespace

ZipPacker& ZipPacker::instance()
{
    static LibZipPacker real;
    return installed ? *installed : real;
}

void ZipPacker::setInstance(ZipPacker* packer)
{
    installed = packer;
}

QString ZipPacker::stagingFolderName()
{
    return QStringLiteral(".velmor-staging");
}

void ZipPacker::cleanStaging(const QString& transferDirectory)
{
    QDir staging(QDir(transferDirectory).filePath(stagingFolderName()));
    if (!staging.exists())
        return;
    for (const QString& name : staging.entryList(QDir::Files | QDir::Hidden))
        staging.remove(name);
}

ZipPacker::Result LibZipPacker::pack(const QString& source, const QString& archivePath)
{
    quint32 sourceCrc = 0;
    qint64 sourceSize = 0;
    if (!QFileInfo(source).isFile() || !checksum(source, sourceCrc, sourceSize))
        return fail(SourceUnreadable, QStringLiteral("Quelldatei nicht lesbar: %1").arg(source));

    const QFileInfo target(archivePath);
    const QString stagingPath = target.absoluteDir().filePath(stagingFolderName());
    if (!QDir().mkpath(stagingPath))
        return fail(StagingUnavailable,
                    QStringLiteral("Zwischenordner %1 lässt sich nicht anlegen").arg(stagingPath));
    const QString fileName = QFileInfo(source).fileName();

    // Publishing must not replace an archive that changed meanwhile; then the work is redone.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Fingerprint before = fingerprint(archivePath);
        const QString staged =
            QDir(stagingPath).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".zip");
        if (before.exists && !QFile::copy(archivePath, staged))
            return fail(StagingUnavailable, QStringLiteral("%1 lässt sich nicht kopieren").arg(archivePath));
        auto discard = qScopeGuard([&] { QFile::remove(staged); });

        int zipError = 0;
        zip_t* archive = zip_open(QFile::encodeName(staged).constData(), ZIP_CREATE, &zipError);
        if (!archive)
            return fail(before.exists ? ArchiveError : StagingUnavailable,
                        QStringLiteral("ZIP %1 lässt sich nicht öffnen (%2)").arg(archivePath).arg(zipError));

        Result result;
        result.entryName = fileName;
        for (int n = 2;; ++n) {
            const zip_int64_t index = zip_name_locate(archive, result.entryName.toUtf8().constData(), 0);
            if (index < 0)
                break;
            zip_stat_t st;
            if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &st) == 0 &&
                (st.valid & ZIP_STAT_SIZE) && (st.valid & ZIP_STAT_CRC) &&
                st.size == static_cast<zip_uint64_t>(sourceSize) && st.crc == sourceCrc) {
                result.alreadyThere = true;
                break;
            }
            result.entryName = numberedName(fileName, n);
        }

        if (!result.alreadyThere) {
            zip_source_t* data = zip_source_file(archive, QFile::encodeName(source).constData(), 0, -1);
            const zip_int64_t index =
                data ? zip_file_add(archive, result.entryName.toUtf8().constData(), data, ZIP_FL_ENC_UTF_8)
                     : -1;
            if (index < 0) {
                if (data)
                    zip_source_free(data);
                const QString text = zipErrorText(archive);
                zip_discard(archive);
                return fail(ArchiveError, text);
            }
            const bool deflate = worthDeflating(source, sourceSize);
            zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                     deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, deflate ? 6 : 0);
        }
        if (zip_close(archive) != 0) {
            const QString text = zipErrorText(archive);
            zip_discard(archive);
            // The source may have changed or vanished while it was read.
            if (!QFileInfo(source).isReadable())
                return fail(SourceUnreadable, text);
            return fail(ArchiveError, text);
        }
        if (!QFileInfo::exists(staged) || !syncPath(staged, false))
            return fail(ArchiveError, QStringLiteral("ZIP %1 wurde nicht geschrieben").arg(staged));

        // Read the result back: the entry must be there with the source's size and checksum.
        zip_t* check = zip_open(QFile::encodeName(staged).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &zipError);
        bool good = false;
        if (check) {
            zip_stat_t st;
            good = zip_stat(check, result.entryName.toUtf8().constData(), 0, &st) == 0 &&
                   st.size == static_cast<zip_uint64_t>(sourceSize) && st.crc == sourceCrc;
            zip_discard(check);
        }
        // libzip's checksum is of the bytes it read; matching ours shows the source did not
        // change between the two reads and the entry is whole.
        if (!good)
            return fail(CheckFailed, QStringLiteral("Prüfung von %1 fehlgeschlagen").arg(archivePath));

        if (fingerprint(archivePath) != before)
            continue;
        if (::rename(QFile::encodeName(staged).constData(), QFile::encodeName(archivePath).constData()) != 0)
            return fail(PublishFailed, QStringLiteral("%1 lässt sich nicht anlegen").arg(archivePath));
        discard.dismiss();
        syncPath(target.absolutePath(), true);
        return result;
    }
    return fail(PublishFailed,
                QStringLiteral("%1 wurde während des Packens mehrfach geändert").arg(archivePath));
}
