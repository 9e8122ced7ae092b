#pragma once

#include "ZipPacker.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// What the user entered in the document link, as the hand-over reads it.
struct HandoverInput
{
    QString keyword;  // cmb_Match
    QString typeText; // cmb_LinkBelArt
    QString number;   // txt_LinkBelNr
    QString dateText; // cmb_Datum, "  .  ." when empty
    QString account;  // txt_KKRNr
    QString site;     // txt_BAU
    QString password; // txt_Passwort
};

struct HandoverOutcome
{
    QString path;
    // Packed into an archive of its own, checked, published and registered.
    bool archived = false;
    // Why it was not archived, or why its source was kept; German, with the cause.
    QString reason;
    QString archive; // full path of the published archive
    QString key;
    SourceStamp stamp; // the source as it was packed
};

// The hand-over of files to the ERP archive, without any window: each file is packed into an
// archive of its own in the transfer directory and registered; only what is both counts as
// archived. Shared by the program and velmor-handover.
class Handover
{
public:
    struct Names
    {
        QString extension; // E
        QString fileName;  // N
        QString baseName;  // B
    };

    // Splits at "\" and "/" alike; a name without "." is its own base name.
    static Names splitPath(const QString& path);
    static QString typeCode(const QString& typeText);
    // The document types the link entry offers ("AG Angebot", ...).
    static QStringList typeTexts();
    static QString documentKey(const QString& personalcode, const QDateTime& time);
    static QString documentDateText(const QString& controlText);
    // Arguments 7 and 8 as the archive side reads them, whatever the process locale.
    static QString registrationDate(const QDateTime& time);
    static QString registrationTime(const QDateTime& time);
    // The German name of the first link field holding "|", which would shift the fields of
    // the registration; empty when none does.
    static QString fieldWithSeparator(const HandoverInput& input);
    // The German name of the first link field holding a control character; empty when none does.
    static QString fieldWithControlCharacter(const HandoverInput& input);
    // Why a source cannot be handed over because of its name; empty when it can.
    static QString nameProblem(const QString& path);
    // The transfer directory parameter with the separator the file names are appended to.
    static QString withSeparator(const QString& directory);
    // Why nothing can be handed over into this directory; empty when it can.
    static QString directoryProblem(const QString& directory);
    static bool insideDirectory(const QString& path, const QString& directory);
    // Document keys in use, claimed beside the staging folder.
    static QString keysFolderName();
    static QString changedSincePacking();

    // Hands over one file; errors are shown and logged on the way.
    HandoverOutcome transferFile(const QString& path, const HandoverInput& input);

    struct Callbacks
    {
        std::function<void(int index, int total)> started;
        // As soon as the file is done, before the next one starts.
        std::function<void(int index, HandoverOutcome& outcome)> done;
    };
    // Every file, one after another, at least one second apart.
    QList<HandoverOutcome> run(const QStringList& files, const HandoverInput& input,
                               const Callbacks& callbacks = {});

    // Deletes the source of an archived file when it is still what was packed. A changed or
    // replaced source is kept, logged, and the outcome's reason says so; false then.
    static bool deleteSource(HandoverOutcome& outcome);

private:
    // A file whose packing has started, or why it was not.
    struct Prepared
    {
        bool started = false;
        QString refusal;
        int zipError = 0; // the packing error a refusal counts as, if any
        QString directory;
        QFuture<ZipPacker::Result> packing;
    };
    Prepared prepare(const QString& path);
    HandoverOutcome finish(const QString& path, const HandoverInput& input, Prepared& prepared);
    QString claimKey(const QString& directory, QString& problem);
    void cleanOnce(const QString& directory);
    QString m_lastKey;
    QStringList m_cleaned;
};
