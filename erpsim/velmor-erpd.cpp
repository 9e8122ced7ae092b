// velmor-erpd: the demo ERP server.
#include "cacheclient/CacheError.h"
#include "erpsim/DemoData.h"
#include "erpsim/Server.h"
#include "erpsim/Trace.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmor-erpd"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Demo-ERP-Server für das Archiv-Übergabeprogramm"));
    parser.addHelpOption();
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("SQLite-Datenbank, die bedient wird."), QStringLiteral("FILE"));
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("Adresse (Standard 127.0.0.1). Der Demo-Server hat keine Zugriffskontrolle: andere "
                       "Adressen nur für Tests und Vorführungen."),
        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port (Standard 1972, 0 = frei wählen)."), QStringLiteral("N"),
                                  QStringLiteral("1972"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Jede Anfrage als JSON-Zeile in FILE schreiben (nur für "
                                                  "den Eigentümer lesbar, Passwörter als ***)."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption initDemo(QStringLiteral("init-demo"), QStringLiteral("Demo-Datenbank FILE anlegen und beenden."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Umfang der Demo-Daten: small oder large."),
                                  QStringLiteral("SIZE"), QStringLiteral("small"));
    const QCommandLineOption frameTimeout(
        QStringLiteral("frame-timeout"),
        QStringLiteral(
            "Millisekunden, die eine angefangene Anfrage auf ihren Rest warten darf (Standard 10000)."),
        QStringLiteral("MS"), QStringLiteral("10000"));
    const QCommandLineOption maxConnections(
        QStringLiteral("max-connections"),
        QStringLiteral(
            "Höchstens N Verbindungen zugleich (Standard 64); sind alle belegt, wird die am längsten "
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
    parser.process(app);

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
        std::fprintf(stderr, "velmor-erpd: --db FILE oder --init-demo FILE angeben (--help)\n");
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
