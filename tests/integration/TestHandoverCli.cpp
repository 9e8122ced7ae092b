// velmor-handover against velmor-erpd: output lines, exit codes, archives that unzip accepts,
// the registrations the server stored, and deleting only what was archived.
#include "Daemon.h"

#include "erpsim/DemoData.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
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

    Run handover(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMOR_LOGIN", QStringLiteral("1 0 17 demo 127.0.0.1 %1").arg(m_daemon.port()));
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        p.setProcessEnvironment(env);
        p.start(Daemon::binary("velmor-handover"), args);
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
                QString::fromLocal8Bit(p.readAllStandardError())};
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
        const Run run = handover({"--type", "RE", "--number", "200001", "--date", "07.05.2024", "--customer", "4711",
                                  "--keyword", "Rechnung", "--delete-sources", a, b, m_dir.filePath("quelle/fehlt.tif")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.lines.size(), 3);
        QVERIFY(run.lines[0].startsWith("OK " + a + " -> " + m_dir.filePath("transfer/Lieferschein 1.zip") + " 17"));
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
                rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()}.join(" # ");
            QCOMPARE(rows, (QStringList{"1||4711|17| # Rechnung|Sonstiges : Rechnung # RE|200001|07052024| # Lieferschein 1.zip|tif|N",
                                        "1||4711|17| # Rechnung|Sonstiges : Rechnung # RE|200001|07052024| # Rechnung 2.zip|pdf|N"}));
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("regs");
    }

    void refusesBadInput()
    {
        const QString a = source("x.tif", "x");
        QCOMPARE(handover({"--type", "AU", a}).exitCode, 2);
        const Run bar = handover({"--keyword", "a|b", a});
        QCOMPARE(bar.exitCode, 2);
        QVERIFY(bar.err.contains("Suchbegriff"));
        QCOMPARE(handover({"--date", "31.02.2024", a}).exitCode, 2);
        QVERIFY(QFile::exists(a));
    }
};

QTEST_GUILESS_MAIN(TestHandoverCli)
#include "TestHandoverCli.moc"
