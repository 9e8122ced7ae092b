// velmor-handover: hands files over to the ERP archive from a script or a scanner's hot folder,
// with the same rules as the program's "Übernehmen ins Archiv".
#include "HotFolder.h"
#include "app/Handover.h"
#include "cache/LogModel.h"
#include "cache/cacheapi.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

int usage()
{
    std::fputs("Aufruf: velmor-handover --login \"FELDER\" [--type CODE] [--number N] [--date TT.MM.JJJJ]\n"
               "                        [--customer NR | --supplier NR] [--site NR] [--keyword TEXT]\n"
               "                        [--delete-sources] DATEI...\n"
               "FELDER ist die Befehlszeile des Programms: Firma Filiale Personalcode Passwort Server Port\n"
               "Namespace Wirtschaftsjahr; ohne --login aus der Umgebungsvariablen VELMOR_LOGIN.\n",
               stderr);
    return 2;
}

void print(const QString& line)
{
    std::fputs((line + u'\n').toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

int refuse(const QString& reason)
{
    std::fprintf(stderr, "velmor-handover: %s\n", reason.toLocal8Bit().constData());
    return 2;
}

int watchFolder(const QString& folder, const QString& settleText, bool deleteSources, const HandoverInput& input)
{
    bool ok = false;
    const double settle = settleText.toDouble(&ok);
    if (!ok || settle < 0 || settle > 3600)
        return refuse(QStringLiteral("--settle erwartet Sekunden von 0 bis 3600, nicht \u201e%1\u201c").arg(settleText));
    HotFolder::Options options;
    options.folder = folder;
    options.settleMs = qRound64(settle * 1000);
    options.deleteSources = deleteSources;
    options.input = input;
    HotFolder hotFolder(options);
    if (const QString problem = hotFolder.prepare(); !problem.isEmpty())
        return refuse(problem);
    QObject::connect(&hotFolder, &HotFolder::result, [](const QString& line) { print(line); });
    QObject::connect(&hotFolder, &HotFolder::status, [](const QString& line) {
        std::fputs((line + u'\n').toUtf8().constData(), stderr);
    });
    hotFolder.stopOnSignals();
    // The login would give up after a few tries; a hot folder waits for its server instead.
    LoadConnectionSettings();
    if (!hotFolder.waitForServerAtStart())
        return 0;
    if (!CacheLogin())
        return refuse(QStringLiteral("Anmeldung fehlgeschlagen"));
    // From here a server that goes away makes the file wait, it does not end the program.
    setProgramExitHook([] {});
    int exitCode = 0;
    QEventLoop loop;
    QObject::connect(&hotFolder, &HotFolder::finished, &loop, [&](int code) {
        exitCode = code;
        loop.quit();
    });
    hotFolder.start();
    loop.exec();
    CacheDisconnect();
    session().Factory.reset();
    return exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MessageBox::setConsole(true);
    session().Interactive = false;
    setProgramExitHook([] { std::exit(2); });

    QStringList args = app.arguments().mid(1);
    QString login = qEnvironmentVariable("VELMOR_LOGIN");
    HandoverInput input;
    input.dateText = EmptyDateMask;
    input.account = QStringLiteral("0");
    bool deleteSources = false;
    bool customer = false, supplier = false;
    QString watchDir;
    QString settleText = QStringLiteral("5");
    QStringList files;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        auto value = [&]() -> QString { return args.isEmpty() ? QString() : args.takeFirst(); };
        if (arg == QLatin1String("--login"))
            login = value();
        else if (arg == QLatin1String("--type"))
            input.typeText = value();
        else if (arg == QLatin1String("--number"))
            input.number = value();
        else if (arg == QLatin1String("--date")) {
            input.dateText = value();
            if (!QDate::fromString(input.dateText, QStringLiteral("dd.MM.yyyy")).isValid())
                return refuse(QStringLiteral("--date erwartet ein Datum TT.MM.JJJJ, nicht \"%1\"").arg(input.dateText));
        } else if (arg == QLatin1String("--customer")) {
            input.account = value();
            customer = true;
        } else if (arg == QLatin1String("--supplier")) {
            input.account = value();
            supplier = true;
        } else if (arg == QLatin1String("--site"))
            input.site = value();
        else if (arg == QLatin1String("--keyword"))
            input.keyword = value();
        else if (arg == QLatin1String("--delete-sources"))
            deleteSources = true;
        else if (arg == QLatin1String("--watch"))
            watchDir = value();
        else if (arg == QLatin1String("--settle"))
            settleText = value();
        else if (arg == QLatin1String("--help") || arg.startsWith(QLatin1String("--")))
            return usage();
        else
            files << QFileInfo(arg).absoluteFilePath();
    }
    if (!watchDir.isEmpty() && !files.isEmpty())
        return refuse(QStringLiteral("--watch nimmt keine Dateien: es übergibt, was im Ordner erscheint"));
    if (login.isEmpty() || (files.isEmpty() && watchDir.isEmpty()) || (customer && supplier))
        return usage();
    if (!input.typeText.isEmpty() && (input.number.isEmpty() || input.number == QLatin1String(" ")))
        return refuse(QStringLiteral("Belegnummer fehlt: zu --type gehört --number"));
    const QString badField = Handover::fieldWithSeparator(input);
    if (!badField.isEmpty())
        return refuse(QStringLiteral("Das Feld \u201e%1\u201c enthält das Zeichen \u201e|\u201c").arg(badField));

    SessionContext& s = session();
    s.CommandLine = login;
    s.LoginDialogForced = true;
    if (!watchDir.isEmpty())
        return watchFolder(watchDir, settleText, deleteSources, input);
    if (!CacheLogin())
        return refuse(QStringLiteral("Anmeldung fehlgeschlagen"));

    Handover handover;
    const QList<HandoverOutcome> outcomes = handover.run(files, input);
    bool allArchived = outcomes.size() == files.size();
    for (const HandoverOutcome& outcome : outcomes) {
        if (outcome.archived) {
            print(QStringLiteral("OK %1 -> %2 %3").arg(outcome.path, outcome.archive, outcome.key));
            if (deleteSources) {
                WriteLog(QStringLiteral("OKButton_Click"), QStringLiteral("Ursprungs-File löschen"), outcome.path);
                QFile::remove(outcome.path);
            }
        } else {
            allArchived = false;
            print(QStringLiteral("FEHLER %1: %2").arg(outcome.path, outcome.reason));
        }
    }
    CacheDisconnect();
    session().Factory.reset();
    return allArchived ? 0 : 1;
}
