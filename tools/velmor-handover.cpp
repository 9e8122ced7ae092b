// velmor-handover: hands files over to the ERP archive from a script or a scanner's hot folder,
// with the same rules as the program's "Übernehmen ins Archiv".
#include "app/Handover.h"
#include "cache/LogModel.h"
#include "cache/cacheapi.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cstdio>

namespace {

enum Exit { AllHandedOver = 0, SomeNotHandedOver = 1, Refused = 2 };

const char* const Usage =
    "Aufruf: velmor-handover --login \"FELDER\" [--type CODE] [--number N] [--date TT.MM.JJJJ]\n"
    "                        [--customer NR | --supplier NR] [--site NR] [--keyword TEXT]\n"
    "                        [--delete-sources] [--] DATEI...\n"
    "FELDER ist die Befehlszeile des Programms: Firma Filiale Personalcode Passwort Server Port\n"
    "Namespace Wirtschaftsjahr; ohne --login aus der Umgebungsvariablen VELMOR_LOGIN.\n"
    "CODE ist eine der Belegarten AG, AU, BE, ER, RE; NR besteht nur aus Ziffern.\n"
    "Nach \"--\" ist jedes Argument eine Datei, auch wenn es mit \"-\" beginnt.\n"
    "Je Datei erscheint eine Zeile, sobald sie erledigt ist:\n"
    "  OK DATEI -> ARCHIV SCHLÜSSEL      übergeben (mit --delete-sources gleich danach gelöscht)\n"
    "  FEHLER DATEI: GRUND               nicht übergeben, nicht gelöscht\n"
    "Eine Datei, die zweimal genannt ist, wird einmal übergeben.\n"
    "Rückgabewerte:\n"
    "  0  alle Dateien übergeben\n"
    "  1  mindestens eine Datei nicht übergeben (oder ihre Quelle geändert und behalten)\n"
    "  2  falscher Aufruf, ungültiges Feld oder Anmeldung fehlgeschlagen; keine Datei angefasst\n";

int usage(bool asked)
{
    std::fputs(Usage, asked ? stdout : stderr);
    return asked ? AllHandedOver : Refused;
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

} // namespace

int main(int argc, char** argv)
{
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
        else if (arg == QLatin1String("--help"))
            return usage(true);
        else
            return usage(false);
        if (missing)
            return refuse(QStringLiteral("%1 erwartet einen Wert").arg(arg));
    }
    if (login.isEmpty() || files.isEmpty() || (customer && supplier))
        return usage(false);
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
