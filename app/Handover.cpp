#include "Handover.h"

#include "AOBStandard.h"
#include "ZipPacker.h"
#include "cache/cacheapi.h"
#include "widgets/Clock.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

const QString Log = QStringLiteral("OKButton_Click");
const QString FileLog = QStringLiteral("ÜbergabeFile");
const QString Step = QStringLiteral("Übergabe zum Archivsystem");
const QString Unreadable = QStringLiteral("Datei nicht lesbar");
constexpr qint64 Week = 7 * 24 * 3600;

// Packing runs beside the user-interface thread; the windows keep running meanwhile.
ZipPacker::Result waitWhileEventsRun(const QFuture<ZipPacker::Result>& packing)
{
    QFutureWatcher<ZipPacker::Result> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<ZipPacker::Result>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(packing);
    if (!watcher.isFinished())
        loop.exec();
    return watcher.result();
}

bool isControl(QChar c)
{
    const auto category = c.category();
    return category == QChar::Other_Control || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

QList<QPair<QString, QString>> linkFields(const HandoverInput& input)
{
    return {
        {QStringLiteral("Suchbegriff"), input.keyword},  {QStringLiteral("Belegart"), input.typeText},
        {QStringLiteral("Belegnummer"), input.number},   {QStringLiteral("Kontonummer"), input.account},
        {QStringLiteral("Baustellenummer"), input.site},
    };
}

QString zipReason(int error, const QString& detail)
{
    return error == ZipPacker::SourceUnreadable ? Unreadable
                                                : QStringLiteral("Zippfehler %1: %2").arg(error).arg(detail);
}

} // namespace

Handover::Names Handover::splitPath(const QString& path)
{
    Names names;
    const qsizetype slash = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
    names.fileName = path.mid(slash + 1);
    const qsizetype dot = names.fileName.lastIndexOf(u'.');
    names.extension = dot < 0 ? QString() : names.fileName.mid(dot + 1);
    names.baseName = dot < 0 ? names.fileName : names.fileName.left(dot);
    return names;
}

QString Handover::typeCode(const QString& typeText)
{
    return StrPiece(typeText, u' ', 1, QString());
}

QStringList Handover::typeTexts()
{
    return {QStringLiteral("AG Angebot"), QStringLiteral("AU Auftrag"), QStringLiteral("BE Bestellung"),
            QStringLiteral("ER Eingangsrechnung"), QStringLiteral("RE Rechnung")};
}

QString Handover::documentKey(const QString& personalcode, const QDateTime& time)
{
    return personalcode + time.toString(QStringLiteral("yyyyMMddHHmmss"));
}

QString Handover::documentDateText(const QString& controlText)
{
    const QString digits = NurZahlZeichen(controlText);
    return digits.isEmpty() || digits == EmptyDateMask ? QStringLiteral("0") : digits;
}

QString Handover::registrationDate(const QDateTime& time)
{
    // QDate::toString with a format is locale-free.
    return time.date().toString(QStringLiteral("dd.MM.yyyy"));
}

QString Handover::registrationTime(const QDateTime& time)
{
    return time.time().toString(QStringLiteral("HH:mm:ss"));
}

QString Handover::fieldWithSeparator(const HandoverInput& input)
{
    for (const auto& field : linkFields(input))
        if (field.second.contains(u'|'))
            return field.first;
    return QString();
}

QString Handover::fieldWithControlCharacter(const HandoverInput& input)
{
    auto fields = linkFields(input);
    fields.append({QStringLiteral("Passwort"), input.password});
    fields.append({QStringLiteral("Datum"), input.dateText});
    for (const auto& field : fields)
        if (std::any_of(field.second.begin(), field.second.end(), isControl))
            return field.first;
    return QString();
}

QString Handover::nameProblem(const QString& path)
{
    const Names names = splitPath(path);
    if (names.fileName.contains(u'|'))
        return QStringLiteral("Der Dateiname enthält das Zeichen \u201e|\u201c");
    if (std::any_of(path.begin(), path.end(), isControl))
        return QStringLiteral("Der Dateiname enthält ein Steuerzeichen");
    // "." and ".." are no names an unpacker may create.
    if (names.baseName.isEmpty() || names.baseName.count(u'.') == names.baseName.size())
        return QStringLiteral("Der Dateiname hat keinen Namen vor der Endung");
    return QString();
}

QString Handover::withSeparator(const QString& directory)
{
    if (directory.isEmpty() || directory.endsWith(u'/') || directory.endsWith(u'\\'))
        return directory;
    return directory + u'/';
}

QString Handover::directoryProblem(const QString& directory)
{
    const QFileInfo info(directory);
    if (directory.isEmpty() || !info.exists())
        return QStringLiteral("Übergabeverzeichnis %1 gibt es nicht").arg(directory);
    if (!info.isDir())
        return QStringLiteral("Übergabeverzeichnis %1 ist kein Ordner").arg(directory);
    if (::access(QFile::encodeName(directory).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("keine Schreibberechtigung für %1").arg(directory);
    return QString();
}

bool Handover::insideDirectory(const QString& path, const QString& directory)
{
    const QString folder = QFileInfo(directory).canonicalFilePath();
    const QString file = QFileInfo(path).canonicalFilePath();
    return !folder.isEmpty() && !file.isEmpty() && file.startsWith(folder + u'/');
}

QString Handover::keysFolderName()
{
    return QStringLiteral(".velmor-schluessel");
}

QString Handover::changedSincePacking()
{
    return QStringLiteral("geändert seit dem Packen, nicht gelöscht");
}

void Handover::cleanOnce(const QString& directory)
{
    if (m_cleaned.contains(directory))
        return;
    m_cleaned << directory;
    ZipPacker::cleanStaging(directory);
    TransferClaims::removeOlderThan(QDir(directory).filePath(keysFolderName()), Week);
}

QString Handover::claimKey(const QString& directory, QString& problem)
{
    // Keys are unique only when every process and workstation on this transfer folder claims
    // them in the same place; a key in use means waiting for the next second.
    const QString folder = QDir(directory).filePath(keysFolderName());
    if (!QDir().mkpath(folder)) {
        problem = QStringLiteral("Ordner %1 lässt sich nicht anlegen").arg(folder);
        return QString();
    }
    for (;;) {
        const QString key = documentKey(session().Personalcode, Clock::instance().now());
        if (key != m_lastKey) {
            if (TransferClaims::claim(folder, key)) {
                m_lastKey = key;
                return key;
            }
            if (errno != EEXIST) {
                problem = QStringLiteral("Belegschlüssel lässt sich in %1 nicht reservieren").arg(folder);
                return QString();
            }
        }
        while (documentKey(session().Personalcode, Clock::instance().now()) == key) {
            Pause(10);
            if (session().ProgramEnded) {
                problem = QStringLiteral("Programm beendet");
                return QString();
            }
        }
    }
}

Handover::Prepared Handover::prepare(const QString& path)
{
    Prepared prepared;
    const QVariant directory =
        GetAppParameter(QStringLiteral("FXR"), QStringLiteral("DirPdfFile"), false, QVariant(), true);
    if (!directory.isValid()) {
        prepared.refusal = QStringLiteral("Übergabeordner nicht lesbar");
        return prepared;
    }
    prepared.directory = withSeparator(directory.toString());
    prepared.refusal = nameProblem(path);
    if (!prepared.refusal.isEmpty())
        return prepared;
    if (const QString problem = directoryProblem(prepared.directory); !problem.isEmpty()) {
        prepared.zipError = ZipPacker::StagingUnavailable;
        prepared.refusal = zipReason(prepared.zipError, problem);
        return prepared;
    }
    if (insideDirectory(path, prepared.directory)) {
        prepared.refusal = QStringLiteral("liegt im Übergabeverzeichnis");
        return prepared;
    }
    cleanOnce(prepared.directory);
    const Names names = splitPath(path);
    const QString wanted = prepared.directory + names.baseName + QStringLiteral(".zip");
    const QString extension = names.extension;
    ZipPacker& packer = ZipPacker::instance();
    prepared.started = true;
    prepared.packing = QtConcurrent::run(
        [&packer, path, wanted, extension] { return packer.pack(path, wanted, extension); });
    return prepared;
}

HandoverOutcome Handover::transferFile(const QString& path, const HandoverInput& input)
{
    Prepared prepared = prepare(path);
    return finish(path, input, prepared);
}

HandoverOutcome Handover::finish(const QString& path, const HandoverInput& input, Prepared& prepared)
{
    HandoverOutcome outcome;
    outcome.path = path;
    auto refuse = [&](const QString& reason) {
        outcome.reason = reason;
        WriteLog(FileLog, Step, QStringLiteral("nicht übergeben: ") + reason);
        return outcome;
    };
    auto zipFailed = [&](int error, const QString& reason) {
        MessageBox::show(QApplication::activeWindow(), QMessageBox::Critical, QStringLiteral("Zippfehler"),
                         QStringLiteral("Fehler beim Zipfile erstellen"));
        WriteLog(FileLog, Step, QStringLiteral("Zippfehler:") + QString::number(error));
        // Without its archive the document is not registered: it stays for another try.
        return refuse(reason);
    };
    if (!prepared.started) {
        if (prepared.zipError != 0)
            return zipFailed(prepared.zipError, prepared.refusal);
        return refuse(prepared.refusal);
    }
    WriteLog(Log, Step, QString());

    const ZipPacker::Result packed = waitWhileEventsRun(prepared.packing);
    WriteLog(FileLog, Step, QStringLiteral("Zippen"));
    if (packed.error != ZipPacker::Ok)
        return zipFailed(packed.error, zipReason(packed.error, packed.detail));
    outcome.archive = packed.archivePath;
    outcome.stamp = packed.stamp;

    QString problem;
    outcome.key = claimKey(prepared.directory, problem);
    if (outcome.key.isEmpty())
        return refuse(problem);
    const QString dateText = documentDateText(input.dateText);
    WriteLog(FileLog, Step, QStringLiteral("Übergabe abgeschlossen"));
    const QDateTime now = Clock::instance().now();
    const QString p[23] = {
        QStringLiteral("SO"),
        outcome.key,
        registrationDate(now),
        QString(),
        input.account,
        QStringLiteral("1"),
        registrationTime(now),
        input.keyword,
        QStringLiteral("N"),
        QString(),
        typeCode(input.typeText),
        input.number,
        QStringLiteral("Sonstiges : ") + input.keyword,
        dateText,
        session().Personalcode,
        QStringLiteral("tif"),
        QStringLiteral("N"),
        input.site,
        // The archive this document went into: B.zip, or B (2).zip when that was taken.
        QFileInfo(packed.archivePath).fileName(),
        splitPath(path).extension,
        QStringLiteral("N"),
        QString(),
        input.password,
    };
    if (!SetDokument(p))
        return refuse(QStringLiteral("Registrierung fehlgeschlagen"));
    outcome.archived = true;
    return outcome;
}

QList<HandoverOutcome> Handover::run(const QStringList& files, const HandoverInput& input,
                                     const Callbacks& callbacks)
{
    QList<HandoverOutcome> outcomes;
    const int total = static_cast<int>(files.size());
    for (int i = 0; i < total; ++i) {
        if (callbacks.started)
            callbacks.started(i, total);
        WriteLog(Log, QStringLiteral("File ins Archiv"), files.at(i));
        // The file is packed while the pause before it runs.
        Prepared prepared = prepare(files.at(i));
        if (i > 0)
            Pause(100);
        if (session().ProgramEnded) {
            if (prepared.started)
                prepared.packing.waitForFinished();
            break;
        }
        outcomes << finish(files.at(i), input, prepared);
        if (callbacks.done)
            callbacks.done(i, outcomes.last());
    }
    return outcomes;
}

bool Handover::deleteSource(HandoverOutcome& outcome)
{
    WriteLog(Log, QStringLiteral("Ursprungs-File löschen"), outcome.path);
    const SourceStamp now = SourceStamp::of(outcome.path);
    if (!now.valid)
        return true;
    // What is there now is not what went into the archive: deleting it would lose it.
    if (!outcome.stamp.valid || now != outcome.stamp) {
        outcome.reason = changedSincePacking();
        WriteLog(Log, QStringLiteral("Ursprungs-File löschen"),
                 outcome.path + QStringLiteral(": ") + outcome.reason);
        return false;
    }
    return QFile::remove(outcome.path) || !QFileInfo::exists(outcome.path);
}
