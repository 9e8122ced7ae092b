#include "FMStart.h"
#include "app/frmProgrammverlauf.h"
#include "cache/cacheapi.h"
#include "cli/CommandLine.h"
#include "lookup/frmLookup.h"
#include "search/VelmorSu.h"
#include "widgets/FileDialog.h"
#include "widgets/Translations.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QLocale>
#include <QTimer>
#include <cstdio>

namespace {

// For a reviewer on a machine without a screen (scripts/demo): add the demo scans through the
// file dialog's seam, show the demo invoice in the preview, open the log, save both windows as
// pictures in the folder VELMOR_SCREENSHOTS names, and end the program.
void saveScreenshots(FMStart& window, const QString& folder)
{
    QDir().mkpath(folder);
    const QDir scans(
        GetAppParameter(QStringLiteral("FXR"), QStringLiteral("DirScan"), false, QVariant(), true)
            .toString());
    QStringList paths;
    for (const QString& name : scans.entryList(QDir::Files, QDir::Name))
        paths << scans.absoluteFilePath(name);
    FileDialog::setScripted(true);
    FileDialog::queueFileNames(paths);
    window.Dokument_Click(0);
    FileDialog::setScripted(false);
    window.cmb_LinkBelArt->setCurrentText(QStringLiteral("RE Rechnung"));
    // Large enough for the preview, on the demo invoice.
    window.resize(1280, 800);
    const QList<QListWidgetItem*> invoice =
        window.FileListe->findItems(QStringLiteral("Rechnung 200001.pdf"), Qt::MatchEndsWith);
    if (!invoice.isEmpty())
        window.FileListe->setCurrentItem(invoice.first());
    QTimer::singleShot(2500, &window, [&window, folder] {
        window.grab().save(QDir(folder).filePath(QStringLiteral("FMStart.png")));
        frmProgrammverlauf& log = frmProgrammverlauf::instance();
        log.show();
        QTimer::singleShot(500, &window, [&window, &log, folder] {
            log.grab().save(QDir(folder).filePath(QStringLiteral("frmProgrammverlauf.png")));
            window.close();
        });
    });
}

cli::ToolInfo programInfo()
{
    cli::ToolInfo info;
    info.name = QStringLiteral("velmor-archiv");
    info.summary = QStringLiteral("Dokumente mit ERP-Belegen verknüpfen und ins ERP-Archiv übergeben");
    info.synopsis = {
        QStringLiteral("[FIRMA FILIALE PERSONALCODE PASSWORT SERVER PORT NAMESPACE WIRTSCHAFTSJAHR]")};
    info.description = QStringLiteral(
        "Das Programm sammelt gescannte und Büro-Dokumente in einer Liste, verknüpft sie mit Belegen, "
        "Kunden, "
        "Lieferanten und Baustellen des ERP und übergibt sie an dessen Dokumentenarchiv: jede Datei wird in "
        "ihr eigenes ZIP im Übergabeordner gepackt und auf dem ERP-Server registriert.\n\n"
        "Ohne Argumente fragt der Anmeldedialog nach Personalcode und Passwort. Die Anmeldefelder können "
        "auch, durch Leerzeichen getrennt, auf der Befehlszeile stehen; dann entfällt der Dialog, solange "
        "sie "
        "stimmen.");
    info.exitCodes = {{0, QStringLiteral("Programm beendet (auch nach abgebrochener Anmeldung).")},
                      {2, QStringLiteral("Aufruf fehlerhaft: unbekannte Option.")}};
    info.sections = {{QStringLiteral("Siehe auch"), QStringLiteral("velmor-handover(1), velmor-erp-cli(1)")}};
    return info;
}

} // namespace

int main(int argc, char** argv)
{
    {
        // Before any window system is needed, so that --help works on a server without a display.
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        cli::CommandLine line(programInfo());
        if (const auto exitCode = cli::handleInfoOnly(line, arguments))
            return *exitCode;
    }
    // Qt's file dialog writes sizes and dates in the forms of the system locale, which Qt reads
    // from the environment once: German forms on every system ("667 Bytes", "09.12.26"), without
    // handing the setting on to programs started from here.
    const bool hadLocale = qEnvironmentVariableIsSet("LC_ALL");
    const QByteArray userLocale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    (void)QLocale::system();
    if (hadLocale)
        qputenv("LC_ALL", userLocale);
    else
        qunsetenv("LC_ALL");
    QApplication::setApplicationName(QStringLiteral("VELMOR Archiv-Übergabe"));
    QApplication::setApplicationVersion(QStringLiteral(VELMOR_VERSION));
    installGermanTranslations(app);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    // The lookup dialog's number buttons open the master-data searches.
    setLookupSearches({&SearchCustomer, &SearchSupplier, &SearchArticle});

    FMStart window;
    if (!window.start())
        return 0;
    // For the start-up benchmark: the caption is set, the program reports it and ends.
    if (qEnvironmentVariableIsSet("VELMOR_QUIT_AFTER_START")) {
        std::printf("%s\n", window.windowTitle().toUtf8().constData());
        std::fflush(stdout);
        session().Factory.reset();
        return 0;
    }
    window.show();
    const QString screenshots = qEnvironmentVariable("VELMOR_SCREENSHOTS");
    if (!screenshots.isEmpty())
        saveScreenshots(window, screenshots);
    const int result = app.exec();
    session().Factory.reset();
    return result;
}
