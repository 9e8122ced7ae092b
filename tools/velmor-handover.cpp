// velmor-handover: hands files over to the ERP archive from a script or a scanner's hot folder,
// with the same rules as the program's "Übernehmen ins Archiv".
#include "HotFolder.h"
#include "app/Handover.h"
#include "cache/LogModel.h"
#include "cache/cacheapi.h"
#include "cli/CommandLine.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

enum Exit { AllHandedOver = 0, SomeNotHandedOver = 1, Refused = 2 };

cli::ToolInfo handoverInfo()
{
    cli::ToolInfo info;
    info.name = QStringLiteral("velmor-handover");
    info.summary = QStringLiteral("Dateien ins ERP-Archiv übergeben, aus Skripten und Scanner-Ordnern");
    info.synopsis = {
        QStringLiteral("[--login FELDER] [VERKNÜPFUNG...] [--delete-sources] [--] DATEI..."),
        QStringLiteral("[--login FELDER] [VERKNÜPFUNG...] [--delete-sources] --watch ORDNER [--settle S]")};
    info.description = QStringLiteral(
        "Übergibt Dateien mit denselben Regeln wie \"Übernehmen ins Archiv\" im Programm velmor-archiv: jede "
        "Datei wird in ein eigenes ZIP im Übergabeordner gepackt und auf dem ERP-Server registriert.\n\n"
        "FELDER ist die Befehlszeile des Programms: Firma Filiale Personalcode Passwort Server Port "
        "Namespace "
        "Wirtschaftsjahr; ohne --login aus der Umgebungsvariablen VELMOR_LOGIN. CODE ist eine der Belegarten "
        "AG, AU, BE, ER, RE; NR besteht nur aus Ziffern. Nach \"--\" ist jedes Argument eine Datei, auch "
        "wenn "
        "es mit \"-\" beginnt. Eine Datei, die zweimal genannt ist, wird einmal übergeben.\n\n"
        "Je Datei erscheint eine Zeile, sobald sie erledigt ist:\n\n"
        "  OK DATEI -> ARCHIV SCHLÜSSEL      übergeben (mit --delete-sources gleich danach gelöscht)\n"
        "  FEHLER DATEI: GRUND               nicht übergeben, nicht gelöscht\n\n"
        "Mit --watch ORDNER beobachtet velmor-handover den Ordner: jede Datei, deren Größe und Änderungszeit "
        "sich --settle Sekunden lang nicht geändert haben, wird übergeben und nach ORDNER/übergeben/ "
        "verschoben (mit --delete-sources gelöscht); was nicht übergeben werden kann, kommt nach "
        "ORDNER/fehler/, daneben DATEI.grund.txt mit dem Grund. Versteckte Dateien und Namen auf .tmp oder "
        ".part bleiben liegen. Ist der Server weg, wartet die Datei, bis er wieder da ist. Eine "
        "Registrierung, "
        "deren Antwort mit der Verbindung verloren ging, wird nicht wiederholt (die Datei kommt nach "
        "fehler/). "
        "SIGTERM oder Strg+C beenden die Beobachtung nach der Datei in Arbeit.");
    info.exitCodes = {
        {0, QStringLiteral("Alle Dateien übergeben; mit --watch: nach SIGTERM oder Strg+C beendet.")},
        {1,
         QStringLiteral("Mindestens eine Datei nicht übergeben (oder ihre Quelle geändert und behalten); mit "
                        "--watch: der Ordner ist verschwunden.")},
        {2, QStringLiteral("Falscher Aufruf, ungültiges Feld, Ordner nicht nutzbar oder Anmeldung "
                           "fehlgeschlagen; keine Datei angefasst.")}};
    info.sections = {
        {QStringLiteral("Umgebung"),
         QStringLiteral("  VELMOR_LOGIN    die Anmeldefelder, wenn --login fehlt")},
        {QStringLiteral("Beispiele"),
         QStringLiteral("  VELMOR_LOGIN=\"1 0 17 demo 127.0.0.1 1972\" velmor-handover --type RE \\\n"
                        "      --number 200001 --customer 4711 --keyword Rechnung -- scans/*.pdf\n"
                        "  velmor-handover --keyword Scan --watch /srv/scanner --settle 10")},
        {QStringLiteral("Siehe auch"), QStringLiteral("velmor-archiv(1), velmor-erp-cli(1)")}};
    return info;
}

QList<QCommandLineOption> handoverOptions()
{
    auto option = [](const char* name, const char* value, const QString& description) {
        return QCommandLineOption(QString::fromLatin1(name), description, QString::fromUtf8(value));
    };
    return {
        option("login", "FELDER", QStringLiteral("Anmeldefelder (sonst VELMOR_LOGIN).")),
        option("type", "CODE", QStringLiteral("Belegart: AG, AU, BE, ER oder RE; verlangt --number.")),
        option("number", "NR", QStringLiteral("Belegnummer.")),
        option("date", "TT.MM.JJJJ", QStringLiteral("Belegdatum.")),
        option("customer", "NR", QStringLiteral("Kundennummer.")),
        option("supplier", "NR", QStringLiteral("Lieferantennummer (nicht zusammen mit --customer).")),
        option("site", "NR", QStringLiteral("Baustellennummer.")),
        option("keyword", "TEXT", QStringLiteral("Suchbegriff.")),
        QCommandLineOption(QStringLiteral("delete-sources"),
                           QStringLiteral("Jede übergebene Quelle gleich nach ihrer Registrierung löschen, "
                                          "wenn sie seit dem Packen unverändert ist.")),
        option("watch", "ORDNER",
               QStringLiteral("Den Ordner beobachten und übergeben, was darin erscheint.")),
        option("settle", "S",
               QStringLiteral("Sekunden, die eine Datei unverändert sein muss, bevor --watch sie nimmt "
                              "(Standard 5)."))};
}

void print(const QString& line)
{
    std::fputs((line + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

int refuse(const QString& reason)
{
    std::fprintf(stderr, "velmor-handover: %s\n", reason.toUtf8().constData());
    return Refused;
}

bool digitsOnly(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

int watchFolder(const QString& folder, const QString& settleText, bool deleteSources,
                const HandoverInput& input)
{
    bool ok = false;
    const double settle = settleText.toDouble(&ok);
    if (!ok || settle < 0 || settle > 3600)
        return refuse(QStringLiteral("--settle erwartet Sekunden von 0 bis 3600, nicht \u201e%1\u201c")
                          .arg(settleText));
    HotFolder::Options options;
    options.folder = folder;
    options.settleMs = qRound64(settle * 1000);
    options.deleteSources = deleteSources;
    options.input = input;
    HotFolder hotFolder(options);
    if (const QString problem = hotFolder.prepare(); !problem.isEmpty())
        return refuse(problem);
    QObject::connect(&hotFolder, &HotFolder::result, [](const QString& line) { print(line); });
    QObject::connect(&hotFolder, &HotFolder::status,
                     [](const QString& line) { std::fputs((line + u'\n').toUtf8().constData(), stderr); });
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
    {
        // Help and version before anything of Qt's starts, so that they print nothing else.
        cli::CommandLine line(handoverInfo());
        line.addOptions(handoverOptions());
        for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
            const std::string_view arg(argv[i]);
            if (arg == "--help" || arg == "-h")
                return cli::printOut(line.helpText()), AllHandedOver;
            if (arg == "--version" || arg == "-V")
                return cli::printOut(line.versionText()), AllHandedOver;
            if (arg == "--manpage")
                return cli::printOut(line.manPage()), AllHandedOver;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MessageBox::setConsole(true);
    session().Interactive = false;
    setProgramExitHook([] { std::exit(Refused); });

    QStringList args = app.arguments().mid(1);
    QString login = qEnvironmentVariable("VELMOR_LOGIN");
    HandoverInput input;
    input.dateText = EmptyDateMask;
    input.account = QStringLiteral("0");
    bool deleteSources = false;
    bool customer = false, supplier = false, optionsEnded = false;
    QString typeCode;
    QString watchDir;
    QString settleText = QStringLiteral("5");
    cli::CommandLine line(handoverInfo());
    line.addOptions(handoverOptions());
    QStringList files;
    QSet<QString> seen;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        bool missing = false;
        auto value = [&]() -> QString {
            missing = args.isEmpty();
            return missing ? QString() : args.takeFirst();
        };
        if (optionsEnded || !arg.startsWith(u'-') || arg == QLatin1String("-")) {
            // The same file named twice, or by two paths, is one document.
            const QFileInfo info(arg);
            const QString key = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
            if (!seen.contains(key)) {
                seen.insert(key);
                files << info.absoluteFilePath();
            }
            continue;
        }
        if (arg == QLatin1String("--"))
            optionsEnded = true;
        else if (arg == QLatin1String("--login"))
            login = value();
        else if (arg == QLatin1String("--type"))
            typeCode = value();
        else if (arg == QLatin1String("--number"))
            input.number = value();
        else if (arg == QLatin1String("--date")) {
            input.dateText = value();
            if (!QDate::fromString(input.dateText, QStringLiteral("dd.MM.yyyy")).isValid())
                return refuse(
                    QStringLiteral("--date erwartet ein Datum TT.MM.JJJJ, nicht \"%1\"").arg(input.dateText));
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
        else
            return line.usageError(
                QStringLiteral("unbekannte Option \u201e%1\u201c (--help zeigt alle)").arg(arg));
        if (missing)
            return refuse(QStringLiteral("%1 erwartet einen Wert").arg(arg));
    }
    if (login.isEmpty())
        return line.usageError(
            QStringLiteral("Anmeldefelder fehlen: --login FELDER oder VELMOR_LOGIN (--help)"));
    if (!watchDir.isEmpty() && !files.isEmpty())
        return refuse(QStringLiteral("--watch nimmt keine Dateien: es übergibt, was im Ordner erscheint"));
    if (files.isEmpty() && watchDir.isEmpty())
        return line.usageError(QStringLiteral("keine Datei genannt und kein --watch ORDNER (--help)"));
    if (customer && supplier)
        return line.usageError(QStringLiteral("--customer und --supplier schließen sich aus"));
    // The fields accept what the window's fields accept, nothing else.
    if (!typeCode.isEmpty()) {
        const QStringList types = Handover::typeTexts();
        const auto type = std::find_if(types.begin(), types.end(), [&](const QString& t) {
            return Handover::typeCode(t) == typeCode || t == typeCode;
        });
        if (type == types.end())
            return refuse(
                QStringLiteral("unbekannte Belegart \"%1\" (erlaubt: AG, AU, BE, ER, RE)").arg(typeCode));
        input.typeText = *type;
    }
    if (!digitsOnly(input.account) || input.account.isEmpty())
        return refuse(QStringLiteral("Die Kontonummer darf nur Ziffern enthalten"));
    if (!digitsOnly(input.site))
        return refuse(QStringLiteral("Die Baustellenummer darf nur Ziffern enthalten"));
    if (!input.typeText.isEmpty() && (input.number.isEmpty() || input.number == QLatin1String(" ")))
        return refuse(QStringLiteral("Belegnummer fehlt: zu --type gehört --number"));
    if (const QString field = Handover::fieldWithControlCharacter(input); !field.isEmpty())
        return refuse(QStringLiteral("Das Feld \u201e%1\u201c enthält ein Steuerzeichen").arg(field));
    const QString badField = Handover::fieldWithSeparator(input);
    if (!badField.isEmpty())
        return refuse(
            QStringLiteral("Das Feld \u201e%1\u201c enthält das Zeichen \u201e|\u201c").arg(badField));

    SessionContext& s = session();
    s.CommandLine = login;
    s.LoginDialogForced = true;
    if (!watchDir.isEmpty())
        return watchFolder(watchDir, settleText, deleteSources, input);
    if (!CacheLogin())
        return refuse(QStringLiteral("Anmeldung fehlgeschlagen"));

    // Each file is decided, printed and (if asked) deleted before the next one starts: an
    // interruption leaves at most one file undecided.
    bool allArchived = true;
    Handover::Callbacks callbacks;
    callbacks.done = [&](int, HandoverOutcome& outcome) {
        if (!outcome.archived) {
            allArchived = false;
            print(QStringLiteral("FEHLER %1: %2").arg(outcome.path, outcome.reason));
            return;
        }
        QString line = QStringLiteral("OK %1 -> %2 %3").arg(outcome.path, outcome.archive, outcome.key);
        if (deleteSources && !Handover::deleteSource(outcome)) {
            allArchived = false;
            line += QStringLiteral("; behalten: ") + outcome.reason;
        }
        print(line);
    };
    Handover handover;
    const QList<HandoverOutcome> outcomes = handover.run(files, input, callbacks);
    if (outcomes.size() != files.size())
        allArchived = false;
    CacheDisconnect();
    session().Factory.reset();
    return allArchived ? AllHandedOver : SomeNotHandedOver;
}
