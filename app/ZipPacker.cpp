#include "ZipPacker.h"

#include "StoredZip.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

namespace {

ZipPacker* installed = nullptr;

constexpr qint64 Day = 24 * 3600;
// Smaller sources are judged by their suffix alone.
constexpr qint64 SampledSize = 4096;
constexpr qint64 SpeculativeSize = 64LL << 20;

bool syncPath(const QString& path, bool directory)
{
    const int fd = ::open(QFile::encodeName(path).constData(), directory ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// A reader of the log or the list should see the cause, not only a number.
QString cause(int error, const QString& path)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("keine Schreibberechtigung für %1").arg(path);
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("kein Platz mehr auf dem Datenträger von %1").arg(path);
    case ENOENT:
        return QStringLiteral("%1 gibt es nicht").arg(path);
    case ENOTDIR:
        return QStringLiteral("%1 ist kein Ordner").arg(path);
    default:
        return QStringLiteral("%1 lässt sich nicht schreiben (Systemfehler %2)").arg(path).arg(error);
    }
}

bool makeFolder(const QString& path, int& error)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0)
        return true;
    const int made = errno;
    if (made == EEXIST && QFileInfo(path).isDir())
        return true;
    error = made == EEXIST ? ENOTDIR : made;
    return false;
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
bool packedFormat(const QString& path)
{
    static const QStringList packed = {"tif", "tiff", "pdf",  "jpg",  "jpeg", "png", "gif", "zip", "gz",
                                       "7z",  "docx", "xlsx", "pptx", "odt",  "ods", "mp4", "mp3"};
    return packed.contains(QFileInfo(path).suffix().toLower());
}

bool worthDeflating(const QString& path, qint64 size)
{
    if (size < SampledSize)
        return !packedFormat(path);
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

ZipPacker::Result fail(int error, const QString& detail)
{
    ZipPacker::Result r;
    r.error = error;
    r.detail = detail;
    return r;
}

// What libzip reports, with the system's cause where there is one.
QString zipFailure(zip_t* archive, const QString& directory)
{
    zip_error_t* error = zip_get_error(archive);
    const int system = zip_error_system_type(error) == ZIP_ET_SYS ? zip_error_code_system(error) : 0;
    if (system != 0)
        return cause(system, directory);
    return QStringLiteral("libzip meldet: %1").arg(QString::fromUtf8(zip_error_strerror(error)));
}

bool isThere(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

struct DosChar
{
    char16_t unicode;
    unsigned char code;
};

// Characters that CP437 and CP850 both hold at the same code: the archive side's unpackers read
// the name alike whichever of the two they assume.
constexpr DosChar DosChars[] = {
    {u'Ç', 0x80}, {u'ü', 0x81}, {u'é', 0x82}, {u'â', 0x83}, {u'ä', 0x84}, {u'à', 0x85}, {u'å', 0x86},
    {u'ç', 0x87}, {u'ê', 0x88}, {u'ë', 0x89}, {u'è', 0x8A}, {u'ï', 0x8B}, {u'î', 0x8C}, {u'ì', 0x8D},
    {u'Ä', 0x8E}, {u'Å', 0x8F}, {u'É', 0x90}, {u'æ', 0x91}, {u'Æ', 0x92}, {u'ô', 0x93}, {u'ö', 0x94},
    {u'ò', 0x95}, {u'û', 0x96}, {u'ù', 0x97}, {u'ÿ', 0x98}, {u'Ö', 0x99}, {u'Ü', 0x9A}, {u'£', 0x9C},
    {u'ƒ', 0x9F}, {u'á', 0xA0}, {u'í', 0xA1}, {u'ó', 0xA2}, {u'ú', 0xA3}, {u'ñ', 0xA4}, {u'Ñ', 0xA5},
    {u'ª', 0xA6}, {u'º', 0xA7}, {u'¿', 0xA8}, {u'¬', 0xAA}, {u'½', 0xAB}, {u'¼', 0xAC}, {u'¡', 0xAD},
    {u'«', 0xAE}, {u'»', 0xAF}, {u'ß', 0xE1}, {u'µ', 0xE6}, {u'±', 0xF1}, {u'÷', 0xF6}, {u'°', 0xF8},
    {u'·', 0xFA}, {u'²', 0xFD},
};

SourceStamp stampOf(const struct stat& st)
{
    SourceStamp s;
    s.valid = true;
    s.size = st.st_size;
    s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.inode = st.st_ino;
    s.device = st.st_dev;
    return s;
}

} // namespace

SourceStamp SourceStamp::of(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? stampOf(st) : SourceStamp();
}

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

QString ZipPacker::namesFolderName()
{
    return QStringLiteral(".velmor-namen");
}

void ZipPacker::cleanStaging(const QString& transferDirectory)
{
    const QDir transfer(transferDirectory);
    TransferClaims::removeOlderThan(transfer.filePath(stagingFolderName()), Day);
    TransferClaims::removeOlderThan(transfer.filePath(namesFolderName()), Day);
}

QString ZipPacker::numberedArchive(const QString& baseName, int n)
{
    return n <= 1 ? baseName + QStringLiteral(".zip") : QStringLiteral("%1 (%2).zip").arg(baseName).arg(n);
}

QString ZipPacker::entryName(const QString& archiveBaseName, const QString& extension)
{
    return extension.isEmpty() ? archiveBaseName : archiveBaseName + u'.' + extension;
}

QByteArray ZipPacker::dosName(const QString& name)
{
    QByteArray out;
    out.reserve(name.size());
    for (const QChar c : name) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
            out += char(c.unicode());
            continue;
        }
        const auto* hit = std::find_if(std::begin(DosChars), std::end(DosChars),
                                       [c](const DosChar& d) { return d.unicode == c.unicode(); });
        if (hit == std::end(DosChars))
            return {};
        out += char(hit->code);
    }
    return out;
}

int ZipPacker::publishNoReplace(const QString& staged, const QString& target)
{
    const QByteArray from = QFile::encodeName(staged);
    const QByteArray to = QFile::encodeName(target);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // File systems without the flag (some network shares) still refuse a link to a taken name.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

bool TransferClaims::claim(const QString& folder, const QString& name)
{
    const int fd = ::open(QFile::encodeName(QDir(folder).filePath(name)).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void TransferClaims::release(const QString& folder, const QString& name)
{
    ::unlink(QFile::encodeName(QDir(folder).filePath(name)).constData());
}

void TransferClaims::removeOlderThan(const QString& folder, qint64 maxAgeSeconds)
{
    const QDir dir(folder);
    if (!dir.exists())
        return;
    const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-maxAgeSeconds);
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
        if (info.lastModified().toUTC() < limit)
            QFile::remove(info.absoluteFilePath());
}

ZipPacker::Result LibZipPacker::pack(const QString& source, const QString& wantedArchive,
                                     const QString& extension)
{
    const auto unreadable = [&] {
        return fail(SourceUnreadable, QStringLiteral("Quelldatei %1 nicht lesbar").arg(source));
    };
    const auto changed = [&] {
        return fail(CheckFailed, QStringLiteral("Quelldatei %1 wurde beim Packen geändert").arg(source));
    };
    const SourceStamp stamp = SourceStamp::of(source);
    if (!stamp.valid || !QFileInfo(source).isFile())
        return unreadable();
    const QFileInfo wanted(wantedArchive);
    const QString directory = wanted.absolutePath();
    const QString shown = directory + u'/';
    QString baseName = wanted.fileName();
    if (baseName.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive))
        baseName.chop(4);

    // Stored entries without Zip64 are written in one pass; a name with control characters is
    // left to libzip too, whose rule for flagging such a name is its own.
    const auto control = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; };
    const bool directable = m_store == Store::Direct && stamp.size <= StoredZip::MaxSize &&
                            std::none_of(baseName.cbegin(), baseName.cend(), control) &&
                            std::none_of(extension.cbegin(), extension.cend(), control);
    // The sample costs about as much as writing a source of a few hundred kilobytes: for formats
    // that are compressed already it runs beside the writing, which is thrown away when the sample
    // asks for deflating after all. Large sources are not written on speculation.
    std::future<bool> sampling;
    bool deflate = false;
    if (directable && stamp.size >= SampledSize && stamp.size <= SpeculativeSize && packedFormat(source)) {
        try {
            sampling = std::async(std::launch::async, worthDeflating, source, stamp.size);
        } catch (const std::system_error&) {
            // No thread to spare: sampled first, as any other source.
        }
    }
    if (!sampling.valid())
        deflate = worthDeflating(source, stamp.size);
    const auto deflating = [&] {
        if (sampling.valid())
            deflate = sampling.get();
        return deflate;
    };
    bool direct = directable && !deflate;

    quint32 sourceCrc = 0;
    qint64 sourceSize = stamp.size;
    int sourceFd = -1;
    auto closeSource = qScopeGuard([&] {
        if (sourceFd >= 0)
            ::close(sourceFd);
    });
    struct stat sourceStat = {};
    if (direct) {
        sourceFd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
        if (sourceFd < 0 || ::fstat(sourceFd, &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode))
            return unreadable();
        // What is read must be what was stamped: the last compare then covers the whole read.
        if (stampOf(sourceStat) != stamp)
            return changed();
    } else if (!checksum(source, sourceCrc, sourceSize)) {
        return unreadable();
    }

    const QString stagingPath = QDir(directory).filePath(stagingFolderName());
    const QString namesPath = QDir(directory).filePath(namesFolderName());
    for (const QString& folder : {stagingPath, namesPath}) {
        int error = 0;
        if (!makeFolder(folder, error))
            return fail(StagingUnavailable, cause(error, error == ENOTDIR ? folder : shown));
    }

    for (int attempt = 0; attempt < 8; ++attempt) {
        // The first name neither published nor claimed by a run that is packing it.
        QString name;
        for (int n = 1;; ++n) {
            if (n > 9999)
                return fail(PublishFailed,
                            QStringLiteral("kein freier Name für %1 in %2").arg(baseName, shown));
            name = numberedArchive(baseName, n);
            const QString path = QDir(directory).filePath(name);
            if (isThere(path))
                continue;
            if (!TransferClaims::claim(namesPath, name)) {
                if (errno == EEXIST)
                    continue;
                return fail(StagingUnavailable, cause(errno, shown));
            }
            if (!isThere(path))
                break;
            TransferClaims::release(namesPath, name);
        }
        auto unclaim = qScopeGuard([&] { TransferClaims::release(namesPath, name); });

        Result result;
        result.archivePath = QDir(directory).filePath(name);
        result.entryName = entryName(name.chopped(4), extension);
        result.stamp = stamp;
        const QString staged =
            QDir(stagingPath).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".zip");
        auto discard = qScopeGuard([&] { QFile::remove(staged); });
        const QByteArray dos = dosName(result.entryName);
        const QByteArray rawName = dos.isEmpty() ? result.entryName.toUtf8() : dos;

        if (direct) {
            const int fd =
                ::open(QFile::encodeName(staged).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            StoredZip::Written written;
            bool synced = false;
            if (fd < 0) {
                written.error = errno;
            } else {
                written = StoredZip::write(sourceFd, sourceStat, fd, rawName, dos.isEmpty());
                synced = written.error == 0 && !written.sizeChanged && ::fsync(fd) == 0;
                synced = ::close(fd) == 0 && synced;
            }
            if (deflating()) {
                direct = false;
                QFile::remove(staged);
                if (!checksum(source, sourceCrc, sourceSize))
                    return unreadable();
            } else {
                if (written.sizeChanged)
                    return changed();
                // As when the source was read in full before packing: its own read error.
                if (written.readFailed)
                    return unreadable();
                if (written.error != 0)
                    return fail(ArchiveError, cause(written.error, shown));
                if (!synced)
                    return fail(ArchiveError, QStringLiteral("ZIP %1 wurde nicht geschrieben").arg(staged));
                sourceCrc = written.crc;
            }
        }
        if (!direct) {
            int zipError = 0;
            zip_t* archive =
                zip_open(QFile::encodeName(staged).constData(), ZIP_CREATE | ZIP_EXCL, &zipError);
            if (!archive)
                return fail(
                    StagingUnavailable,
                    QStringLiteral("ZIP im Zwischenordner %1 lässt sich nicht anlegen (libzip-Fehler %2)")
                        .arg(stagingPath)
                        .arg(zipError));
            zip_source_t* data = zip_source_file(archive, QFile::encodeName(source).constData(), 0, -1);
            const zip_int64_t index = data ? zip_file_add(archive, rawName.constData(), data,
                                                          dos.isEmpty() ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_CP437)
                                           : -1;
            if (index < 0) {
                if (data)
                    zip_source_free(data);
                const QString text = zipFailure(archive, shown);
                zip_discard(archive);
                return fail(ArchiveError, text);
            }
            zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                     deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, deflate ? 6 : 0);
            if (zip_close(archive) != 0) {
                const QString text = zipFailure(archive, shown);
                zip_discard(archive);
                // The source may have changed or vanished while it was read.
                if (!QFileInfo(source).isReadable())
                    return unreadable();
                return fail(ArchiveError, text);
            }
            if (!isThere(staged) || !syncPath(staged, false))
                return fail(ArchiveError, QStringLiteral("ZIP %1 wurde nicht geschrieben").arg(staged));
        }

        // Read it back: exactly one entry, under the name meant, with the source's size and checksum.
        int zipError = 0;
        zip_t* check = zip_open(QFile::encodeName(staged).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &zipError);
        bool good = false;
        if (check) {
            zip_stat_t st;
            good = zip_get_num_entries(check, 0) == 1 && zip_stat_index(check, 0, ZIP_FL_ENC_RAW, &st) == 0 &&
                   QByteArray(st.name) == rawName && st.size == static_cast<zip_uint64_t>(sourceSize) &&
                   st.crc == sourceCrc;
            zip_discard(check);
        }
        // Through libzip, its checksum of the bytes it read matching ours shows the source did not
        // change between the two reads; written directly, the checksum is of the one read. Either
        // way the entry is whole, and the stamp below covers changes during the whole packing.
        if (!good)
            return fail(CheckFailed, QStringLiteral("Prüfung des ZIP für %1 fehlgeschlagen").arg(source));
        if (SourceStamp::of(source) != stamp)
            return changed();

        const int published = publishNoReplace(staged, result.archivePath);
        if (published == EEXIST)
            continue; // taken by a run that does not claim names: pack again under the next name
        if (published != 0)
            return fail(PublishFailed, cause(published, shown));
        discard.dismiss();
        syncPath(directory, true);
        return result;
    }
    return fail(PublishFailed, QStringLiteral("kein freier Name für %1 in %2").arg(baseName, shown));
}
