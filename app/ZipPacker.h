#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

// What a source file was when it was packed: a later deletion compares against it.
struct SourceStamp
{
    bool valid = false;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    quint64 inode = 0;
    quint64 device = 0;
    bool operator==(const SourceStamp&) const = default;
    static SourceStamp of(const QString& path);
};

// Packs one source file into a new ZIP hand-over file of its own. An error code of 0 means the
// archive at Result::archivePath is complete, durable, holds exactly the source and was published
// under a name nobody else held; anything else means nothing was published.
class ZipPacker
{
public:
    enum Error {
        Ok = 0,
        SourceUnreadable = 2,
        StagingUnavailable = 3,
        ArchiveError = 4,
        CheckFailed = 5,
        PublishFailed = 6,
    };

    struct Result
    {
        int error = Ok;
        // The archive claimed: the first free of B.zip, B (2).zip, ... for the wanted B.zip.
        QString archivePath;
        // The one entry: the archive's base name and the extension.
        QString entryName;
        // Why it failed, in German, with the cause.
        QString detail;
        SourceStamp stamp;
    };

    virtual ~ZipPacker() = default;
    // wantedArchive is the transfer folder's B.zip; extension the source's E (may be empty).
    virtual Result pack(const QString& source, const QString& wantedArchive, const QString& extension) = 0;

    // The packer the program uses; tests may put another in its place.
    static ZipPacker& instance();
    static void setInstance(ZipPacker* packer);
    // Removes what crashed runs left in the staging and claims folders of a transfer directory:
    // only what is older than a day, so runs of other processes keep their live files.
    static void cleanStaging(const QString& transferDirectory);
    static QString stagingFolderName();
    // Archive names in flight, claimed beside the staging folder.
    static QString namesFolderName();

    // "B.zip" for n = 1, else "B (n).zip".
    static QString numberedArchive(const QString& baseName, int n);
    static QString entryName(const QString& archiveBaseName, const QString& extension);
    // The entry name in the DOS code page when every character is one that CP437 and CP850 write
    // alike; an empty result otherwise (then the name is written as UTF-8 with its flag).
    static QByteArray dosName(const QString& name);
    // Moves staged to target unless target exists: 0 when done, EEXIST when taken, another errno
    // otherwise. Never replaces: the archive system may already read what another run published.
    static int publishNoReplace(const QString& staged, const QString& target);
};

// The real packer: builds the archive in a hidden staging folder of the transfer directory, syncs
// it to disk, checks it with libzip, then publishes it without replacing anything. A stored entry
// is written in one pass of its own; deflated ones and those needing Zip64 go through libzip.
class LibZipPacker : public ZipPacker
{
public:
    // ThroughLibzip writes stored entries through libzip too (its copy through a temporary file
    // and a checksum read of the source before it): the reference the direct path must match.
    enum class Store { Direct, ThroughLibzip };
    explicit LibZipPacker(Store store = Store::Direct) : m_store(store) {}
    Result pack(const QString& source, const QString& wantedArchive, const QString& extension) override;

private:
    Store m_store;
};

// Exclusive claims of names in a hidden folder of a transfer directory, atomic across processes
// and, on file servers honouring O_EXCL, across workstations.
namespace TransferClaims {
// False when someone else holds the name (or the folder cannot be written).
bool claim(const QString& folder, const QString& name);
void release(const QString& folder, const QString& name);
// Removes files in folder not modified for maxAgeSeconds.
void removeOlderThan(const QString& folder, qint64 maxAgeSeconds);
} // namespace TransferClaims
