#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <sys/stat.h>

// A ZIP archive of one stored entry, written in one pass over the source: each block is read
// once, added to the checksum and written. Byte for byte what libzip writes for the same entry
// (no extra fields, DOS time of the source, its mode as external attributes), so the archive side
// sees no difference; libzip keeps everything else (deflate, Zip64, reading).
namespace StoredZip {

// Beyond this the archive needs Zip64 records.
constexpr qint64 MaxSize = 0xFFFF0000LL;

struct Written
{
    // errno of the failing read (readFailed) or write; 0 when the archive is complete.
    int error = 0;
    bool readFailed = false;
    // The source did not end at the size it had when it was stat'ed.
    bool sizeChanged = false;
    quint32 crc = 0;
};

// Writes the archive into the empty file archiveFd from sourceFd (read from its start, sourceStat
// its size, time and mode). Not synced: the caller syncs before it publishes.
Written write(int sourceFd, const struct stat& sourceStat, int archiveFd, const QByteArray& rawName,
              bool utf8Name);

} // namespace StoredZip
