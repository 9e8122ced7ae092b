#include "Handover.h"

#include "AOBStandard.h"
#include "ZipPacker.h"
#include "cache/cacheapi.h"
#include "widgets/Clock.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QLocale>
#include <QtConcurrent>

namespace {

const QString Log = QStringLiteral("OKButton_Click");
const QString FileLog = QStringLiteral("ÜbergabeFile");
const QString Step = QStringLiteral("Übergabe zum Archivsystem");

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

QString Handover::documentKey(const QString& personalcode, const QDateTime& time)
{
    return personalcode + time.toString(QStringLiteral("yyyyMMddHHmmss"));
}

QString Handover::documentDateText(const QString& controlText)
{
    const QString digits = NurZahlZeichen(controlText);
    return digits.isEmpty() || digits == EmptyDateMask ? QStringLiteral("0") : digits;
}

QString Handover::regionalDate(const QDateTime& time)
{
    return QLocale::system().toString(time.date(), QLocale::ShortFormat);
}

QString Handover::regionalTime(const QDateTime& time)
{
    // The long form without the time zone: hours, minutes and seconds as the system writes them.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(u't');
    return time.time().toString(format.trimmed());
}

QString Handover::fieldWithSeparator(const HandoverInput& input)
{
    const QList<QPair<QString, QString>> fields = {
        {QStringLiteral("Suchbegriff"), input.keyword},  {QStringLiteral("Belegart"), input.typeText},
        {QStringLiteral("Belegnummer"), input.number},   {QStringLiteral("Kontonummer"), input.account},
        {QStringLiteral("Baustellenummer"), input.site},
    };
    for (const auto& field : fields)
        if (field.second.contains(u'|'))
            return field.first;
    return QString();
}

QString Handover::uniqueKey()
{
    // Two documents must never share a key, also when the clock repeats a second.
    QString key = documentKey(session().Personalcode, Clock::instance().now());
    while (key == m_lastKey) {
        Pause(10);
        key = documentKey(session().Personalcode, Clock::instance().now());
    }
    m_lastKey = key;
    return key;
}

Handover::Prepared Handover::prepare(const QString& path)
{
    Prepared prepared;
    const QVariant directory =
        GetAppParameter(QStringLiteral("FXR"), QStringLiteral("DirPdfFile"), false, QVariant(), true);
    if (!directory.isValid())
        return prepared;
    prepared.valid = true;
    prepared.archive = directory.toString() + splitPath(path).baseName + QStringLiteral(".zip");
    ZipPacker& packer = ZipPacker::instance();
    const QString archive = prepared.archive;
    prepared.packing = QtConcurrent::run([&packer, path, archive] { return packer.pack(path, archive); });
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
    if (!prepared.valid) {
        outcome.reason = QStringLiteral("Übergabeordner nicht lesbar");
        return outcome;
    }
    const Names names = splitPath(path);
    outcome.archive = prepared.archive;
    WriteLog(Log, Step, QString());

    const ZipPacker::Result packed = waitWhileEventsRun(prepared.packing);
    WriteLog(FileLog, Step, QStringLiteral("Zippen"));
    if (packed.error != ZipPacker::Ok) {
        MessageBox::show(QApplication::activeWindow(), QMessageBox::Critical, QStringLiteral("Zippfehler"),
                         QStringLiteral("Fehler beim Zipfile erstellen"));
        WriteLog(FileLog, Step, QStringLiteral("Zippfehler:") + QString::number(packed.error));
        // Without its archive the document is not registered: it stays for another try.
        outcome.reason = packed.error == ZipPacker::SourceUnreadable
                             ? QStringLiteral("Datei nicht lesbar")
                             : QStringLiteral("Zippfehler %1").arg(packed.error);
        return outcome;
    }

    outcome.key = uniqueKey();
    const QString dateText = documentDateText(input.dateText);
    WriteLog(FileLog, Step, QStringLiteral("Übergabe abgeschlossen"));
    const QDateTime now = Clock::instance().now();
    const QString p[23] = {
        QStringLiteral("SO"),
        outcome.key,
        regionalDate(now),
        QString(),
        input.account,
        QStringLiteral("1"),
        regionalTime(now),
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
        names.baseName + QStringLiteral(".zip"),
        names.extension,
        QStringLiteral("N"),
        QString(),
        input.password,
    };
    if (!SetDokument(p)) {
        outcome.reason = QStringLiteral("Registrierung fehlgeschlagen");
        return outcome;
    }
    outcome.archived = true;
    return outcome;
}

QList<HandoverOutcome> Handover::run(const QStringList& files, const HandoverInput& input,
                                     const std::function<void(int done, int total)>& progress)
{
    static bool stagingCleaned = false;
    if (!stagingCleaned && !files.isEmpty()) {
        stagingCleaned = true;
        const QVariant directory =
            GetAppParameter(QStringLiteral("FXR"), QStringLiteral("DirPdfFile"), false, QVariant(), true);
        if (directory.isValid())
            ZipPacker::cleanStaging(directory.toString());
    }
    QList<HandoverOutcome> outcomes;
    const int total = static_cast<int>(files.size());
    for (int i = 0; i < total; ++i) {
        if (progress)
            progress(i, total);
        WriteLog(Log, QStringLiteral("File ins Archiv"), files.at(i));
        // The file is packed while the pause before it runs.
        Prepared prepared = prepare(files.at(i));
        if (i > 0)
            Pause(100);
        if (session().ProgramEnded) {
            if (prepared.valid)
                prepared.packing.waitForFinished();
            break;
        }
        outcomes << finish(files.at(i), input, prepared);
    }
    if (progress)
        progress(total, total);
    return outcomes;
}
