// velmor-erp-cli: runs one operation against an ERP server and prints plain text.
#include "cache/cacheapi.h"
#include "cacheclient/Factory.h"
#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

cli::ToolInfo info()
{
    cli::ToolInfo info;
    info.name = QStringLiteral("velmor-erp-cli");
    info.summary = QStringLiteral("eine Operation auf dem ERP-Server ausführen und lesbar ausgeben");
    info.synopsis = {QStringLiteral("[--server HOST] [--port N] [--raw] [--json] BEFEHL ARGUMENT...")};
    info.description = QStringLiteral(
        "Führt eine Operation auf dem ERP-Server (oder dem Demo-Server velmor-erpd) aus und gibt das "
        "Ergebnis "
        "als Text aus. Befehle:\n\n"
        "  open KLASSE ID [EIGENSCHAFT...]   Objekt öffnen: je Eigenschaft eine Zeile NAME=Wert\n"
        "  call KLASSE METHODE [ARG...]      Klassenmethode aufrufen: den Rückgabewert\n"
        "  query KLASSE ABFRAGE [ARG...]     Abfrage: key=N, Spaltennamen, Zeilen (Tab-getrennt)\n"
        "  xecute 'M-ZEILE'                  M-Zeile ausführen: ihre Ausgabe\n\n"
        "Texte des ERP kommen in seiner 7-Bit-Form (\"M}ller\" für \"Müller\") und werden wie im Programm "
        "lesbar umgesetzt. Objekt-IDs (die Schlüsselspalte einer Abfrage und Werte mit \"||\") bleiben, wie "
        "sie "
        "sind. Optionen stehen vor dem Befehl; was nach dem Befehl kommt, sind seine Argumente.");
    info.exitCodes = {
        {0, QStringLiteral("Operation ausgeführt.")},
        {1, QStringLiteral("Der Server meldete einen Fehler (\"Fehler NUMMER: Text\" auf stderr).")},
        {2,
         QStringLiteral("Aufruf fehlerhaft: unbekannte Option oder unbekannter Befehl, Argumente fehlen.")},
        {3, QStringLiteral("Keine Verbindung zum Server.")}};
    info.sections = {{QStringLiteral("Beispiele"),
                      QStringLiteral("  velmor-erp-cli --port 1972 open XR.ParPersEdv '1||17' PNAME\n"
                                     "  velmor-erp-cli --json query XR.Windows KkrSuche 1 K MUELLER ''\n"
                                     "  velmor-erp-cli xecute 'S P0=$P(^FA(0),\"`\",2) W P0'")},
                     {QStringLiteral("Siehe auch"), QStringLiteral("velmor-erpd(1), velmor-handover(1)")}};
    return info;
}

void out(const QString& text)
{
    cli::printOut(text);
}

class Printer
{
public:
    Printer(bool raw, bool json) : m_raw(raw), m_json(json) {}

    QString text(const QString& value, bool isId = false) const
    {
        if (m_raw || isId || value.contains(QLatin1String("||")))
            return value;
        return ConvertText(value, QStringLiteral("VELMOR"), false);
    }

    // One JSON object per row, or the plain form the caller formats.
    void row(const QStringList& names, const QStringList& values) const
    {
        QJsonObject object;
        for (int i = 0; i < names.size(); ++i) {
            QString name = names[i];
            for (int n = 2; object.contains(name); ++n)
                name = names[i] + QStringLiteral("_%1").arg(n);
            object.insert(name, values.value(i));
        }
        out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + u'\n');
    }

    bool json() const { return m_json; }

private:
    bool m_raw;
    bool m_json;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    cli::CommandLine line(info());
    const QCommandLineOption serverOption(QStringLiteral("server"),
                                          QStringLiteral("Server (Standard 127.0.0.1)."),
                                          QStringLiteral("HOST"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port (Standard 1972)."),
                                        QStringLiteral("N"), QStringLiteral("1972"));
    const QCommandLineOption rawOption(QStringLiteral("raw"),
                                       QStringLiteral("Texte in der 7-Bit-Form des ERP ausgeben."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"), QStringLiteral("Je Zeile ein JSON-Objekt (Abfrage: Spaltenname → Wert; "
                                               "open: Eigenschaft → Wert; call und xecute: \"result\")."));
    line.addOptions({serverOption, portOption, rawOption, jsonOption});
    line.parser().setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (const auto exitCode = line.parse(app.arguments()))
        return *exitCode;

    QStringList args = line.positionalArguments();
    if (args.isEmpty())
        return line.usageError(QStringLiteral("Befehl fehlt: open, call, query oder xecute (--help)"));
    const QString command = args.takeFirst();
    const QStringList commands{QStringLiteral("open"), QStringLiteral("call"), QStringLiteral("query"),
                               QStringLiteral("xecute")};
    if (!commands.contains(command))
        return line.usageError(QStringLiteral("unbekannter Befehl \u201e%1\u201c (--help)").arg(command));
    if (command == QLatin1String("xecute") ? args.size() != 1 : args.size() < 2)
        return line.usageError(QStringLiteral("falsche Zahl von Argumenten zu %1 (--help)").arg(command));
    const QString server = line.value(serverOption);
    const QString port = line.value(portOption);
    bool portOk = false;
    const uint portNumber = port.toUInt(&portOk);
    if (!portOk || portNumber == 0 || portNumber > 65535)
        return line.usageError(
            QStringLiteral("--port erwartet eine Zahl von 1 bis 65535, nicht \u201e%1\u201c").arg(port));
    const Printer print(line.isSet(rawOption), line.isSet(jsonOption));

    try {
        auto factory = cacheclient::createFactory();
        QString connectString = QStringLiteral("cn_iptcp:%1[%2]:VELMOR").arg(server, port);
        if (!factory->connect(connectString) || !factory->isConnected())
            return line.fail(3, QStringLiteral("keine Verbindung zu %1:%2").arg(server, port));
        if (command == QLatin1String("open")) {
            auto object = factory->openId(args.at(0), args.at(1));
            const QStringList names = args.size() > 2 ? args.mid(2) : object->propertyNames();
            QStringList values;
            for (const QString& name : names)
                values << print.text(object->property(name));
            if (print.json())
                print.row(names, values);
            else
                for (int i = 0; i < names.size(); ++i)
                    out(names[i] + u'=' + values[i] + u'\n');
            object->close();
        } else if (command == QLatin1String("call")) {
            auto object = factory->classObject(args.at(0));
            QStringList callArgs = args.mid(2);
            const QString result = print.text(object->call(args.at(1), callArgs));
            if (print.json())
                print.row({QStringLiteral("result")}, {result});
            else
                out(result + u'\n');
            object->close();
        } else if (command == QLatin1String("query")) {
            auto query = factory->resultSet(args.at(0), args.at(1));
            query->execute(args.mid(2));
            const int key = query->keyColumn();
            QStringList names;
            for (int c = 1; c <= query->columnCount(); ++c)
                names << query->columnName(c);
            if (!print.json())
                out(QStringLiteral("key=%1\n").arg(key) + names.join(u'\t') + u'\n');
            while (query->next()) {
                QStringList row;
                for (int c = 1; c <= query->columnCount(); ++c)
                    row << print.text(query->columnValue(c), c == key);
                if (print.json())
                    print.row(names, row);
                else
                    out(row.join(u'\t') + u'\n');
            }
            query->close();
        } else {
            auto object = factory->classObject(QStringLiteral("XR.Windows"));
            const QString result = print.text(object->call(QStringLiteral("Xecute"), args.at(0)));
            if (print.json())
                print.row({QStringLiteral("result")}, {result});
            else
                out(result + u'\n');
            object->close();
        }
        factory->disconnect();
    } catch (const cacheclient::CacheError& error) {
        return line.fail(1, QStringLiteral("Fehler %1: %2").arg(error.number()).arg(error.description()));
    }
    return 0;
}
