#include "StoredZip.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr size_t Block = 1 << 20;
constexpr int LocalHeader = 30;
constexpr int CentralHeader = 46;
constexpr int EndRecord = 22;
// Stored entries need version 1.0; libzip writes "made by" 6.3 on Unix.
constexpr quint16 VersionNeeded = 10;
constexpr quint16 VersionMadeBy = 0x033F;
constexpr quint16 Utf8Flag = 0x0800;

void put16(char*& p, quint32 v)
{
    *p++ = char(v & 0xFF);
    *p++ = char((v >> 8) & 0xFF);
}

void put32(char*& p, quint32 v)
{
    put16(p, v & 0xFFFF);
    put16(p, v >> 16);
}

int writeAll(int fd, const char* data, size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        size -= size_t(n);
        at += n;
    }
    return 0;
}

// The DOS date (high half) and time (low half) libzip records for a modification time.
quint32 dosDateTime(time_t mtime)
{
    struct tm tm = {};
    if (!::localtime_r(&mtime, &tm))
        return 0;
    // libzip moves years before 1980 into 1980 and lets years past 2107 wrap.
    const int year = std::max(tm.tm_year, 80) + 1900 - 1980;
    const auto date = quint16((year << 9) + ((tm.tm_mon + 1) << 5) + tm.tm_mday);
    const auto time = quint16((tm.tm_hour << 11) + (tm.tm_min << 5) + (tm.tm_sec >> 1));
    return quint32(date) << 16 | time;
}

} // namespace

StoredZip::Written StoredZip::write(int sourceFd, const struct stat& sourceStat, int archiveFd,
                                    const QByteArray& rawName, bool utf8Name)
{
    Written result;
    const auto size = quint64(sourceStat.st_size);
    const auto nameSize = size_t(rawName.size());
    const off_t dataAt = off_t(LocalHeader + nameSize);

    uLong crc = crc32(0L, Z_NULL, 0);
    const std::unique_ptr<char[]> buffer(new char[Block]);
    off_t at = dataAt;
    off_t from = 0;
    for (quint64 left = size; left > 0;) {
        const ssize_t n = ::pread(sourceFd, buffer.get(), size_t(std::min<quint64>(left, Block)), from);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.error = errno;
            result.readFailed = true;
            return result;
        }
        if (n == 0) {
            result.sizeChanged = true;
            return result;
        }
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(buffer.get()), z_size_t(n));
        if ((result.error = writeAll(archiveFd, buffer.get(), size_t(n), at)) != 0)
            return result;
        // The disk starts on this block while the next is read: the final sync has little left.
        ::sync_file_range(archiveFd, at, n, SYNC_FILE_RANGE_WRITE);
        at += n;
        from += n;
        left -= quint64(n);
    }
    // A source that goes on past its stat'ed size (grown, or a file that reports no size) would
    // be cut short without a word.
    char more;
    ssize_t beyond;
    while ((beyond = ::pread(sourceFd, &more, 1, from)) < 0 && errno == EINTR) {
    }
    if (beyond != 0) {
        result.error = beyond < 0 ? errno : 0;
        result.readFailed = beyond < 0;
        result.sizeChanged = beyond > 0;
        return result;
    }
    result.crc = quint32(crc);

    const quint32 stamp = dosDateTime(sourceStat.st_mtime);
    const quint16 flags = utf8Name ? Utf8Flag : 0;
    // "Version needed" through "extra field length": alike in the local and the central header.
    auto common = [&](char*& p) {
        put16(p, VersionNeeded);
        put16(p, flags);
        put16(p, 0); // stored
        put32(p, stamp);
        put32(p, result.crc);
        put32(p, quint32(size));
        put32(p, quint32(size));
        put16(p, quint32(nameSize));
        put16(p, 0); // extra fields
    };

    QByteArray local(dataAt, Qt::Uninitialized);
    char* p = local.data();
    put32(p, 0x04034b50);
    common(p);
    std::copy(rawName.begin(), rawName.end(), p);

    const quint64 directoryAt = quint64(dataAt) + size;
    QByteArray tail(qsizetype(CentralHeader + nameSize + EndRecord), Qt::Uninitialized);
    p = tail.data();
    put32(p, 0x02014b50);
    put16(p, VersionMadeBy);
    common(p);
    put16(p, 0); // comment
    put16(p, 0); // disk
    put16(p, 0); // internal attributes
    put32(p, quint32(sourceStat.st_mode & 0xFFFF) << 16);
    put32(p, 0); // local header offset
    p = std::copy(rawName.begin(), rawName.end(), p);
    put32(p, 0x06054b50);
    put16(p, 0);
    put16(p, 0);
    put16(p, 1);
    put16(p, 1);
    put32(p, quint32(CentralHeader + nameSize));
    put32(p, quint32(directoryAt));
    put16(p, 0); // archive comment

    if ((result.error = writeAll(archiveFd, tail.constData(), size_t(tail.size()), off_t(directoryAt))) == 0)
        result.error = writeAll(archiveFd, local.constData(), size_t(local.size()), 0);
    return result;
}
