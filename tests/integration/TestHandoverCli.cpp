// velmor-handover against velmor-erpd: output lines, exit codes, archives that unzip accepts,
// the registrations the server stored, and deleting only what was archived; two runs at once on
// one transfer folder; registration texts under other process locales.
#include "Daemon.h"

#include "erpsim/DemoData.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

class TestHandoverCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Daemon m_daemon;

    struct Run
    {
        int exitCode;
        QStringList lines;
        QString err;
    };

    void start(QProcess& p, const QStringList& args, const QString& locale = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMOR_LOGIN", QStringLiteral("1 0 17 demo 127.0.0.1 %1").arg(m_daemon.port()));
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        if (!locale.isEmpty())
            env.insert("LC_ALL", locale);
        p.setProcessEnvironment(env);
        p.start(Daemon::binary("velmor-handover"), args);
    }

    static Run finished(QProcess& p)
    {
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
                QString::fromUtf8(p.readAllStandardError())};
    }

    Run handover(const QStringList& args, const QString& locale = QString())
    {
        QProcess p;
        start(p, args, locale);
        return finished(p);
    }

    // Columns of the registrations stored after nr.
    QList<QStringList> registrations(int nr, const QString& columns)
    {
        QList<QStringList> rows;
        {
            auto db = QSqlDatabase::addDatabase("QSQLITE", "rows");
            db.setDatabaseName(m_dir.filePath("erp.db"));
            if (db.open()) {
                QSqlQuery q(db);
                q.exec(
                    QStringLiteral("SELECT %1 FROM dokument WHERE nr > %2 ORDER BY nr").arg(columns).arg(nr));
                while (q.next()) {
                    QStringList row;
                    for (int i = 0; i < q.record().count(); ++i)
                        row << q.value(i).toString();
                    rows << row;
                }
            }
        }
        QSqlDatabase::removeDatabase("rows");
        return rows;
    }

    int lastNr()
    {
        const auto rows = registrations(-1, "max(nr)");
        return rows.isEmpty() ? 0 : rows.first().first().toInt();
    }

    static QByteArray onlyEntry(const QString& archive, QString* name)
    {
        QProcess list;
        list.start("unzip", {"-Z1", archive});
        list.waitForFinished(10000);
        *name = QString::fromUtf8(list.readAllStandardOutput()).trimmed();
        QProcess p;
        p.start("unzip", {"-p", archive});
        p.waitForFinished(10000);
        return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray("<kein ZIP>");
    }

    QString source(const QString& name, const QByteArray& bytes)
    {
        QDir().mkpath(m_dir.filePath("quelle"));
        QFile f(m_dir.filePath("quelle/" + name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }

private slots:
    void initTestCase()
    {
        erpsim::createDemoDatabase(m_dir.filePath("erp.db"));
        QVERIFY(m_daemon.start(m_dir.filePath("erp.db")));
    }

    void handsOverAndRegisters()
    {
        const QString a = source("Lieferschein 1.tif", erpsim::sampleTiff(200, 300, 1));
        const QString b = source("Rechnung 2.pdf", erpsim::samplePdf("Rechnung 2"));
        const Run run =
            handover({"--type", "RE", "--number", "200001", "--date", "07.05.2024", "--customer", "4711",
                      "--keyword", "Rechnung", "--delete-sources", a, b, m_dir.filePath("quelle/fehlt.tif")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.lines.size(), 3);
        QVERIFY(run.lines[0].startsWith("OK " + a + " -> " + m_dir.filePath("transfer/Lieferschein 1.zip") +
                                        " 17"));
        QVERIFY(run.lines[1].startsWith("OK " + b));
        QCOMPARE(run.lines[2], "FEHLER " + m_dir.filePath("quelle/fehlt.tif") + ": Datei nicht lesbar");
        QVERIFY(!QFile::exists(a) && !QFile::exists(b));

        for (const char* zip : {"transfer/Lieferschein 1.zip", "transfer/Rechnung 2.zip"}) {
            QProcess unzip;
            unzip.start("unzip", {"-t", m_dir.filePath(QString::fromLatin1(zip))});
            QVERIFY(unzip.waitForFinished(10000));
            QCOMPARE(unzip.exitCode(), 0);
        }

        auto db = QSqlDatabase::addDatabase("QSQLITE", "regs");
        db.setDatabaseName(m_dir.filePath("erp.db"));
        QVERIFY(db.open());
        {
            QSqlQuery q("SELECT arg1, arg3, arg5, arg6 FROM dokument ORDER BY nr", db);
            QStringList rows;
            while (q.next())
                rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                    q.value(3).toString()}
                            .join(" # ");
            QCOMPARE(rows, (QStringList{"1||4711|17| # Rechnung|Sonstiges : Rechnung # RE|200001|07052024| # "
                                        "Lieferschein 1.zip|tif|N",
                                        "1||4711|17| # Rechnung|Sonstiges : Rechnung # RE|200001|07052024| # "
                                        "Rechnung 2.zip|pdf|N"}));
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("regs");
    }

    void refusesBadInput_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("type without number") << QStringList{"--type", "AU"} << "Belegnummer fehlt";
        QTest::newRow("bar") << QStringList{"--keyword", "a|b"} << "Suchbegriff";
        QTest::newRow("no such date") << QStringList{"--date", "31.02.2024"} << "--date";
        QTest::newRow("newline") << QStringList{"--keyword", "Rech\nnung"} << "Steuerzeichen";
        QTest::newRow("tab in the number")
            << QStringList{"--type", "RE", "--number", "1\t2"} << "Steuerzeichen";
        QTest::newRow("account") << QStringList{"--customer", "47a1"} << "Kontonummer";
        QTest::newRow("site") << QStringList{"--site", "-2"} << "Baustellenummer";
        QTest::newRow("type") << QStringList{"--type", "XY", "--number", "1"} << "Belegart";
        QTest::newRow("unknown option") << QStringList{"--loeschen"} << "unbekannte Option \u201e--loeschen\u201c";
    }

    void refusesBadInput()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        const QString a = source("x.tif", "x");
        const int before = lastNr();
        const Run run = handover(options + QStringList{"--delete-sources", a});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.lines.isEmpty());
        QVERIFY(QFile::exists(a));
        QCOMPARE(lastNr(), before);
    }

    void helpNamesTheExitCodes()
    {
        const Run run = handover({"--help"});
        QCOMPARE(run.exitCode, 0);
        const QString text = run.lines.join('\n');
        for (const char* code : {"  0  ", "  1  ", "  2  "})
            QVERIFY(text.contains(QLatin1String(code)));
    }

    void eachFileDecidedBeforeTheNext()
    {
        // "--" ends the options: a file named like one is a file, and deletion stays off.
        QDir().mkpath(m_dir.filePath("quelle"));
        const QString trap = source("--delete-sources", "kein Schalter");
        const QString a = source("zuerst.tif", "zuerst");
        const QString b = source("danach.tif", "danach");
        const int before = lastNr();
        QProcess p;
        // As a shell glob would pass them; the same file twice is one document.
        p.setWorkingDirectory(m_dir.filePath("quelle"));
        start(p, {"--", "zuerst.tif", "./zuerst.tif", "--delete-sources", "danach.tif"});
        QVERIFY(p.waitForReadyRead(30000));
        // The first file's line comes while the run still goes on (a second's pause per file).
        const QString first = QString::fromUtf8(p.readLine()).trimmed();
        QVERIFY2(first.startsWith("OK " + a + " -> "), qPrintable(first));
        QCOMPARE(p.state(), QProcess::Running);
        const Run run = finished(p);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.lines.size(), 2);
        QVERIFY(run.lines[0].startsWith("OK " + trap + " -> "));
        QVERIFY(run.lines[1].startsWith("OK " + b + " -> "));
        QCOMPARE(lastNr() - before, 3);
        QVERIFY(QFile::exists(a) && QFile::exists(b) && QFile::exists(trap));

        // With --delete-sources a source goes right after its own registration.
        const QString c = source("sofort.tif", "sofort");
        const QString d = source("spaeter.tif", "spaeter");
        QProcess q;
        start(q, {"--delete-sources", c, d});
        QVERIFY(q.waitForReadyRead(30000));
        QVERIFY(!QFile::exists(c));
        QVERIFY(QFile::exists(d));
        QCOMPARE(finished(q).exitCode, 0);
        QVERIFY(!QFile::exists(d));
    }

    void localeFreeDateAndTime_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("C") << "C";
        QTest::newRow("en_US") << "en_US.UTF-8";
        QTest::newRow("de_DE") << "de_DE.UTF-8";
    }

    void localeFreeDateAndTime()
    {
        QFETCH(QString, locale);
        const QString a = source("ort-" + locale + ".tif", locale.toUtf8());
        const int before = lastNr();
        const QDate today = QDate::currentDate();
        const Run run = handover({a}, locale);
        QCOMPARE(run.exitCode, 0);
        const auto rows = registrations(before, "arg7, arg8");
        QCOMPARE(rows.size(), 1);
        QVERIFY(rows[0][0] == today.toString("dd.MM.yyyy") ||
                rows[0][0] == today.addDays(1).toString("dd.MM.yyyy"));
        QVERIFY2(QRegularExpression("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d$").match(rows[0][1]).hasMatch(),
                 qPrintable(rows[0][1]));
    }

    void twoRunsAtOnceOnOneTransferFolder()
    {
        // Two workstations, the same names, the same user: every document gets its own key and
        // its own archive holding exactly it.
        QHash<QString, QByteArray> contents;
        QStringList files[2];
        for (int run = 0; run < 2; ++run) {
            const QString folder = m_dir.filePath(QStringLiteral("platz%1").arg(run));
            QDir().mkpath(folder);
            for (int i = 0; i < 3; ++i) {
                const QString path = folder + QStringLiteral("/gleich-%1.tif").arg(i);
                const QByteArray bytes = QStringLiteral("Platz %1 Datei %2").arg(run).arg(i).toUtf8();
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(bytes);
                contents.insert(path, bytes);
                files[run] << path;
            }
        }
        const int before = lastNr();
        QProcess one, two;
        start(one, QStringList{"--delete-sources"} + files[0]);
        start(two, QStringList{"--delete-sources"} + files[1]);
        const Run runs[2] = {finished(one), finished(two)};
        QSet<QString> keys, archives;
        for (const Run& run : runs) {
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.lines.size(), 3);
            for (const QString& line : run.lines) {
                const auto m = QRegularExpression("^OK (.+) -> (.+) (\\d+)$").match(line);
                QVERIFY2(m.hasMatch(), qPrintable(line));
                QString entry;
                QCOMPARE(onlyEntry(m.captured(2), &entry), contents.value(m.captured(1)));
                QCOMPARE(entry, QFileInfo(m.captured(2)).completeBaseName() + ".tif");
                keys << m.captured(3);
                archives << QFileInfo(m.captured(2)).fileName();
                QVERIFY(!QFile::exists(m.captured(1)));
            }
        }
        QCOMPARE(keys.size(), 6);
        QCOMPARE(archives.size(), 6);
        const auto rows = registrations(before, "arg2, arg6");
        QCOMPARE(rows.size(), 6);
        QSet<QString> storedKeys, storedArchives;
        for (const QStringList& row : rows) {
            storedKeys << row[0].section('|', 1, 1);
            storedArchives << row[1].section('|', 0, 0);
        }
        QCOMPARE(storedKeys, keys);
        QCOMPARE(storedArchives, archives);
    }
};

QTEST_GUILESS_MAIN(TestHandoverCli)
#include "TestHandoverCli.moc"
