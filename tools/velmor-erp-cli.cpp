// velmor-erp-cli: runs one operation against an ERP server and prints plain text.
#include "cacheclient/Factory.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

void out(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

int usage()
{
    std::fputs("Aufruf: velmor-erp-cli --server HOST --port N BEFEHL ...\n"
               "  open CLASS ID [PROPERTY...]   Objekt öffnen, je Eigenschaft eine Zeile NAME=Wert\n"
               "  call CLASS METHOD [ARG...]    Klassenmethode aufrufen, Rückgabewert ausgeben\n"
               "  query CLASS QUERY [ARG...]    Abfrage ausführen: key=N, Spaltennamen, Zeilen (Tab-getrennt)\n"
               "  xecute 'M LINE'               M-Zeile ausführen, Ausgabe anzeigen\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString server = QStringLiteral("127.0.0.1");
    QString port = QStringLiteral("1972");
    while (args.size() >= 2 && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        const QString value = args.takeFirst();
        if (option == QLatin1String("--server"))
            server = value;
        else if (option == QLatin1String("--port"))
            port = value;
        else
            return usage();
    }
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();

    try {
        auto factory = cacheclient::createFactory();
        QString connectString = QStringLiteral("cn_iptcp:%1[%2]:VELMOR").arg(server, port);
        if (!factory->connect(connectString) || !factory->isConnected()) {
            std::fprintf(stderr, "Keine Verbindung zu %s:%s\n", qPrintable(server), qPrintable(port));
            return 1;
        }
        if (command == QLatin1String("open") && args.size() >= 2) {
            auto object = factory->openId(args.at(0), args.at(1));
            const QStringList names = args.size() > 2 ? args.mid(2) : object->propertyNames();
            for (const QString& name : names)
                out(QStringLiteral("%1=%2\n").arg(name, object->property(name)));
            object->close();
        } else if (command == QLatin1String("call") && args.size() >= 2) {
            auto object = factory->classObject(args.at(0));
            QStringList callArgs = args.mid(2);
            out(object->call(args.at(1), callArgs) + u'\n');
            object->close();
        } else if (command == QLatin1String("query") && args.size() >= 2) {
            auto query = factory->resultSet(args.at(0), args.at(1));
            query->execute(args.mid(2));
            out(QStringLiteral("key=%1\n").arg(query->keyColumn()));
            QStringList names;
            for (int c = 1; c <= query->columnCount(); ++c)
                names << query->columnName(c);
            out(names.join(u'\t') + u'\n');
            while (query->next()) {
                QStringList row;
                for (int c = 1; c <= query->columnCount(); ++c)
                    row << query->columnValue(c);
                out(row.join(u'\t') + u'\n');
            }
            query->close();
        } else if (command == QLatin1String("xecute") && args.size() == 1) {
            auto object = factory->classObject(QStringLiteral("XR.Windows"));
            out(object->call(QStringLiteral("Xecute"), args.at(0)) + u'\n');
            object->close();
        } else {
            return usage();
        }
        factory->disconnect();
    } catch (const cacheclient::CacheError& error) {
        std::fprintf(stderr, "Fehler %d: %s\n", error.number(), error.description().toUtf8().constData());
        return 1;
    }
    return 0;
}
