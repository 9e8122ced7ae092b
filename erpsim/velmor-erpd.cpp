// velmor-erpd: the demo ERP server.
#include "cacheclient/CacheError.h"
#include "cli/CommandLine.h"
#include "erpsim/DemoData.h"
#include "erpsim/Server.h"
#include "erpsim/Trace.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <cstdio>

namespace {

cli::ToolInfo erpdInfo()
{
    cli::ToolInfo info;
    info.name = QStringLiteral("velmor-erpd");
    info.summary = QStringLiteral("Demo-ERP-Server für die VELMOR Archiv-Übergabe");
    info.synopsis = {QStringLiteral("--db DATEI [--listen ADRESSE] [--port N] [--trace DATEI] [OPTION...]"),
                     QStringLiteral("--init-demo DATEI [--size UMFANG]")};
    info.description = QStringLiteral(
        "Spielt die Serverseite des ERP für das Programm velmor-archiv und die Werkzeuge velmor-handover und "
        "velmor-erp-cli: Klassen, Abfragen und M-Zeilen, die das Programm braucht, mit echter Ablage in "
        "einer "
        "SQLite-Datenbank. Registrierungen (\"SetDokument\") werden erst nach dem Festschreiben "
        "beantwortet.\n\n"
        "Mit --init-demo legt der Server eine Demo-Datenbank samt den Ordnern scans/ (Beispiel-Scans) und "
        "transfer/ (Übergabeordner) daneben an und beendet sich. Mit --db bedient er die Datenbank, bis er "
        "beendet wird (SIGTERM oder Strg+C). Ohne --listen hört er nur auf 127.0.0.1.");
    info.exitCodes = {
        {0, QStringLiteral("Demo-Datenbank angelegt, Hilfe oder Version gezeigt.")},
        {1, QStringLiteral("Datenbank, Trace-Datei oder Adresse lassen sich nicht öffnen.")},
        {2, QStringLiteral("Aufruf fehlerhaft: unbekannte Option, fehlender oder ungültiger Wert.")}};
    info.sections = {{QStringLiteral("Beispiele"),
                      QStringLiteral("  velmor-erpd --init-demo demo/erp.db --size small\n"
                                     "  velmor-erpd --db demo/erp.db --port 1972 --trace trace.jsonl")},
                     {QStringLiteral("Siehe auch"), QStringLiteral("velmor-erp-cli(1), velmor-handover(1)")}};
    return info;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmor-erpd"));

    cli::CommandLine parser(erpdInfo());
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("SQLite-Datenbank, die bedient wird."), QStringLiteral("DATEI"));
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("Adresse (Standard 127.0.0.1). Der Demo-Server hat keine Zugriffskontrolle: andere "
                       "Adressen nur für Tests und Vorführungen."),
        QStringLiteral("ADRESSE"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port (Standard 1972, 0 = frei wählen)."), QStringLiteral("N"),
                                  QStringLiteral("1972"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Jede Anfrage als JSON-Zeile in DATEI schreiben (nur für "
                                                  "den Eigentümer lesbar, Passwörter als ***)."),
                                   QStringLiteral("DATEI"));
    const QCommandLineOption initDemo(QStringLiteral("init-demo"), QStringLiteral("Demo-Datenbank DATEI anlegen und beenden."),
                                      QStringLiteral("DATEI"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Umfang der Demo-Daten: small oder large."),
                                  QStringLiteral("UMFANG"), QStringLiteral("small"));
    const QCommandLineOption frameTimeout(
        QStringLiteral("frame-timeout"),
        QStringLiteral("Millisekunden, die eine angefangene Anfrage auf ihren Rest warten darf (Standard 10000)."),
        QStringLiteral("MS"), QStringLiteral("10000"));
    const QCommandLineOption maxConnections(
        QStringLiteral("max-connections"),
        QStringLiteral("Höchstens N Verbindungen zugleich (Standard 64); sind alle belegt, wird die am längsten "
                       "untätige für einen Neuen beendet."),
        QStringLiteral("N"), QStringLiteral("64"));
    const QCommandLineOption helloTimeout(
        QStringLiteral("hello-timeout"),
        QStringLiteral("Sekunden, in denen eine neue Verbindung sich anmelden (hello) muss (Standard 5)."),
        QStringLiteral("S"), QStringLiteral("5"));
    const QCommandLineOption idleTimeout(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Sekunden ohne Anfrage, nach denen eine Verbindung beendet wird (Standard 300)."),
        QStringLiteral("S"), QStringLiteral("300"));
    parser.addOptions(
        {db, listen, port, trace, initDemo, size, frameTimeout, maxConnections, helloTimeout, idleTimeout});
    if (const auto exitCode = parser.parse(app.arguments()))
        return *exitCode;

    if (parser.isSet(initDemo)) {
        const QString sizeName = parser.value(size);
        if (sizeName != QLatin1String("small") && sizeName != QLatin1String("large")) {
            std::fprintf(stderr, "velmor-erpd: --size muss small oder large sein\n");
            return 2;
        }
        QElapsedTimer timer;
        timer.start();
        try {
            const auto report = erpsim::createDemoDatabase(
                parser.value(initDemo), sizeName == QLatin1String("large") ? erpsim::DemoSize::Large : erpsim::DemoSize::Small);
            std::printf("velmor-erpd: Demo-Datenbank %s angelegt in %.1f s: %d Kunden, %d Lieferanten, %d Artikel, "
                        "%d Belege\n  Scans: %s\n  Übergabeordner: %s\n",
                        qPrintable(parser.value(initDemo)), timer.elapsed() / 1000.0, report.customers, report.suppliers,
                        report.articles, report.documents, qPrintable(report.scansDir), qPrintable(report.transferDir));
        } catch (const cacheclient::CacheError& error) {
            std::fprintf(stderr, "velmor-erpd: %s\n", qPrintable(error.description()));
            return 1;
        }
        return 0;
    }

    if (!parser.isSet(db)) {
        std::fprintf(stderr, "velmor-erpd: --db DATEI oder --init-demo DATEI angeben (--help)\n");
        return 2;
    }
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    QHostAddress address;
    if (!portOk || portNumber > 65535 || !address.setAddress(parser.value(listen))) {
        std::fprintf(stderr, "velmor-erpd: ungültige Adresse oder ungültiger Port\n");
        return 2;
    }

    // Seconds may have a fraction, so tests can use short times.
    auto milliseconds = [&](const QCommandLineOption& option, int& ms) {
        bool ok = false;
        const double seconds = parser.value(option).toDouble(&ok);
        if (!ok || seconds < 0.1 || seconds > 86400)
            return false;
        ms = static_cast<int>(seconds * 1000);
        return true;
    };
    erpsim::ServerLimits limits;
    bool limitsOk = false;
    limits.maxConnections = parser.value(maxConnections).toInt(&limitsOk);
    limitsOk = limitsOk && limits.maxConnections >= 1 && limits.maxConnections <= 1024;
    limitsOk = milliseconds(helloTimeout, limits.helloTimeoutMs) && limitsOk;
    limitsOk = milliseconds(idleTimeout, limits.idleTimeoutMs) && limitsOk;
    limits.frameTimeoutMs = qMax(100, parser.value(frameTimeout).toInt());
    if (!limitsOk) {
        std::fprintf(stderr, "velmor-erpd: --max-connections muss 1 bis 1024 sein, --hello-timeout und "
                             "--idle-timeout 0,1 bis 86400 Sekunden\n");
        return 2;
    }
    if (!address.isLoopback())
        std::fprintf(
            stderr,
            "velmor-erpd: Warnung: %s ist keine Loopback-Adresse. Der Demo-Server hat keine "
            "Zugriffskontrolle; jeder, der ihn erreicht, liest und schreibt seine Daten. Er ist nur für "
            "Tests und Vorführungen gedacht.\n",
            qPrintable(address.toString()));

    erpsim::Server server(parser.value(db));
    server.setLimits(limits);
    if (parser.isSet(trace)) {
        auto writer = std::make_shared<erpsim::Trace>(parser.value(trace));
        if (!writer->isOpen()) {
            std::fprintf(stderr, "velmor-erpd: Trace-Datei %s lässt sich nicht öffnen\n", qPrintable(parser.value(trace)));
            return 1;
        }
        server.setTrace(writer);
    }
    if (!server.listen(address, static_cast<quint16>(portNumber))) {
        std::fprintf(stderr, "velmor-erpd: %s:%u: %s\n", qPrintable(parser.value(listen)), portNumber,
                     qPrintable(server.errorString()));
        return 1;
    }
    // The limits come first: scripts take the port from the end of the line.
    std::printf(
        "velmor-erpd (höchstens %d Verbindungen, Anmeldung binnen %g s, Leerlauf bis %g s, Anfragerest "
        "binnen %d ms) listening on %s:%u\n",
        limits.maxConnections, limits.helloTimeoutMs / 1000.0, limits.idleTimeoutMs / 1000.0,
        limits.frameTimeoutMs, qPrintable(server.serverAddress().toString()), server.serverPort());
    std::fflush(stdout);
    return app.exec();
}
