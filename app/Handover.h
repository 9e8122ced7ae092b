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
    bool archived = false;
    QString reason;
    QString archive;
    QString key;
};

// The hand-over of files to the ERP archive, without any window: each file is packed into its
// ZIP in the transfer directory and registered; only what is both counts as archived.
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
    static QString documentKey(const QString& personalcode, const QDateTime& time);
    static QString documentDateText(const QString& controlText);
    // The system's short date and time texts of the registration.
    static QString regionalDate(const QDateTime& time);
    static QString regionalTime(const QDateTime& time);
    // The German name of the first link field holding "|", which would shift the fields of
    // the registration; empty when none does.
    static QString fieldWithSeparator(const HandoverInput& input);

    // Hands over one file; errors are shown and logged on the way.
    HandoverOutcome transferFile(const QString& path, const HandoverInput& input);
    // Every file, one after another, at least one second apart.
    QList<HandoverOutcome> run(const QStringList& files, const HandoverInput& input,
                               const std::function<void(int done, int total)>& progress = {});

private:
    // A file whose packing has started.
    struct Prepared
    {
        bool valid = false;
        QString archive;
        QFuture<ZipPacker::Result> packing;
    };
    Prepared prepare(const QString& path);
    HandoverOutcome finish(const QString& path, const HandoverInput& input, Prepared& prepared);
    QString uniqueKey();
    QString m_lastKey;
};
