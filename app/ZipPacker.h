#pragma once

#include <QString>
#include <functional>
#include <memory>

// Packs one source file into the ZIP hand-over file. An error code of 0 means the archive at
// archivePath is complete, durable and holds the source; anything else means nothing was
// published under that name.
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
        // The entry that holds the source; another name when a different file of the same
        // name was there already.
        QString entryName;
        bool alreadyThere = false;
        QString detail;
    };

    virtual ~ZipPacker() = default;
    virtual Result pack(const QString& source, const QString& archivePath) = 0;

    // The packer the program uses; tests may put another in its place.
    static ZipPacker& instance();
    static void setInstance(ZipPacker* packer);
    // Removes what a crashed run left in the staging folder of a transfer directory.
    static void cleanStaging(const QString& transferDirectory);
    static QString stagingFolderName();
};

// The real packer on libzip: builds the archive in a hidden staging folder of the transfer
// directory, syncs it to disk, checks it, then publishes it by rename.
class LibZipPacker : public ZipPacker
{
public:
    Result pack(const QString& source, const QString& archivePath) override;
};
