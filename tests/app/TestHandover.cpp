// The archive hand-over: argument strings, names and keys table-driven; whole runs through the
// main window against the in-process demo server with the real ZIP packer, on a mock clock;
// sources changed after packing; names that would break the registration or the archive.
#include "app/AOBStandard.h"
#include "app/FMStart.h"
#include "app/Handover.h"
#include "app/ZipPacker.h"
#include "cache/FMPass.h"
#include "cache/LogModel.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "erpsim/LocalServer.h"
#include "widgets/Clock.h"
#include "widgets/ScreenPointer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>
#include <zip.h>

namespace {

// The nine texts of each registration since nr, in the demo database.
QList<QStringList> registrationsSince(int nr)
{
    QList<QStringList> rows;
    for (const Registration& r : registrationsAfter(demoDatabasePath(), nr))
        rows << r.args;
    return rows;
}

int lastRegistration()
{
    return lastRegistration(demoDatabasePath());
}

// Lets a test act while the run is in progress, at the start of the n-th packing. Packing runs
// in a worker thread; the hook runs in the window's thread, which keeps handling events.
class HookedPacker : public ZipPacker
{
public:
    std::function<void(int)> hook;
    std::atomic<int> calls = 0;
    Result pack(const QString& source, const QString& archivePath, const QString& extension) override
    {
        const int call = ++calls;
        if (hook)
            QMetaObject::invokeMethod(
                qApp, [this, call] { hook(call); }, Qt::BlockingQueuedConnection);
        return m_real.pack(source, archivePath, extension);
    }

private:
    LibZipPacker m_real;
};

} // namespace

class TestHandover : public QObject
{
    Q_OBJECT

    MockClock m_clock;
    HookedPacker m_packer;
    std::unique_ptr<FMStart> m_window;
    QString m_transfer;

    FMStart& window()
    {
        m_window = std::make_unique<FMStart>();
        [&] { QVERIFY(loginAsDemoUser()); }();
        m_window->show();
        return *m_window;
    }

    void addFiles(FMStart& w, const QStringList& paths)
    {
        for (const QString& p : paths) {
            auto* item = new QListWidgetItem(p, w.FileListe);
            item->setData(Qt::UserRole, p);
        }
    }

private slots:
    void initTestCase()
    {
        Clock::setInstance(&m_clock);
        ZipPacker::setInstance(&m_packer);
        resetProgramState();
        QVERIFY(loginAsDemoUser());
        m_transfer = GetAppParameter("FXR", "DirPdfFile", false, QVariant(), true).toString();
        QVERIFY(m_transfer.endsWith('/'));
    }

    void init()
    {
        resetProgramState();
        m_packer.hook = nullptr;
        m_packer.calls = 0;
    }

    void cleanup() { m_window.reset(); }

    void nurZahlZeichen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("date") << "24.12.2003"
                              << "24122003";
        QTest::newRow("commas and percent") << "-1,5,0%"
                                            << "-1,50%";
        QTest::newRow("inner minus") << "a-b"
                                     << "";
        QTest::newRow("empty") << ""
                               << "0";
        QTest::newRow("empty mask") << "  .  ."
                                    << "";
        QTest::newRow("percent not last") << "5%1"
                                          << "51";
    }

    void nurZahlZeichen()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(NurZahlZeichen(text), expected);
    }

    void setDokumentArguments_data()
    {
        QTest::addColumn<int>("argument");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1") << 1 << "F|v4|v5|v15|v18";
        QTest::newRow("2") << 2 << "v1|v2|v6";
        QTest::newRow("3") << 3 << "v8|v13";
        QTest::newRow("4") << 4 << "v9|v10|v16|v17";
        QTest::newRow("5") << 5 << "v11|v12|v14|v22";
        QTest::newRow("6") << 6 << "v19|v20|v21";
        QTest::newRow("7") << 7 << "v3";
        QTest::newRow("8") << 8 << "v7";
        QTest::newRow("9") << 9 << "v23";
    }

    void setDokumentArguments()
    {
        QFETCH(int, argument);
        QFETCH(QString, expected);
        QString p[23];
        for (int i = 0; i < 23; ++i)
            p[i] = QStringLiteral("v%1").arg(i + 1);
        const QStringList args = SetDokumentArguments(p, "F");
        QCOMPARE(args.size(), 9);
        QCOMPARE(args.at(argument - 1), expected);
        // An empty date value becomes "0".
        p[13].clear();
        QCOMPARE(SetDokumentArguments(p, "F").at(4), QStringLiteral("v11|v12|0|v22"));
    }

    void names_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("expected"); // E N B
        QTest::newRow("windows path")
            << "C:\\Scan\\Rechnung.2024.tif" << QStringList{"tif", "Rechnung.2024.tif", "Rechnung.2024"};
        QTest::newRow("linux path") << "/home/a/scans/Lieferschein 1.pdf"
                                    << QStringList{"pdf", "Lieferschein 1.pdf", "Lieferschein 1"};
        QTest::newRow("no extension") << "/scans/Scan" << QStringList{"", "Scan", "Scan"};
        QTest::newRow("dot in folder") << "C:\\a.b\\Scan" << QStringList{"", "Scan", "Scan"};
        QTest::newRow("umlauts") << "/s/Aufmaß §3.tif" << QStringList{"tif", "Aufmaß §3.tif", "Aufmaß §3"};
    }

    void names()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, expected);
        const Handover::Names n = Handover::splitPath(path);
        QCOMPARE((QStringList{n.extension, n.fileName, n.baseName}), expected);
    }

    void keysDatesAndFields()
    {
        QCOMPARE(Handover::documentKey("17", QDateTime(QDate(2026, 12, 7), QTime(17, 25, 3))),
                 QStringLiteral("1720261207172503"));
        QCOMPARE(Handover::documentDateText("  .  ."), QStringLiteral("0"));
        QCOMPARE(Handover::documentDateText(""), QStringLiteral("0"));
        QCOMPARE(Handover::documentDateText("24.12.2003"), QStringLiteral("24122003"));
        HandoverInput input;
        QCOMPARE(Handover::fieldWithSeparator(input), QString());
        input.password = "a|b";
        QCOMPARE(Handover::fieldWithSeparator(input), QString());
        input.site = "1|2";
        QCOMPARE(Handover::fieldWithSeparator(input), QStringLiteral("Baustellenummer"));
        input.keyword = "|";
        QCOMPARE(Handover::fieldWithSeparator(input), QStringLiteral("Suchbegriff"));
    }

    void handOverTwoFiles()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src;
        FMStart& w = window();
        const QString a = writeFile(src.filePath("zwei-a.tif"), "TIFF-a");
        const QString b = writeFile(src.filePath("zwei-b.pdf"), QByteArray(100000, 'x'));
        addFiles(w, {a, b});
        w.cmb_Match->setCurrentText("Rechnung");
        w.cmb_LinkBelArt->setCurrentText("RE Rechnung");
        w.txt_LinkBelNr->setText("200001");
        w.txt_KKRNr->setText("4711");
        w.txt_BAU->setText("");
        w.txt_Passwort->setText("geheim");
        const int before = lastRegistration();
        const int rows = LogModel::instance().rowCount();
        boxes.answer(QMessageBox::Yes);
        w.OKButton->click();

        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Files löschen?"));
        QCOMPARE(boxes.shown().first().text, QStringLiteral("Sollen Die Ursprungsfiles gelöscht werden?"));
        const auto regs = registrationsSince(before);
        QCOMPARE(regs.size(), 2);
        QCOMPARE(regs[0][0], QStringLiteral("1||4711|17|"));
        QVERIFY(regs[0][1].startsWith("SO|17") && regs[0][1].endsWith("|1"));
        QCOMPARE(regs[0][2], QStringLiteral("Rechnung|Sonstiges : Rechnung"));
        QCOMPARE(regs[0][3], QStringLiteral("N||tif|N"));
        QCOMPARE(regs[1][3], QStringLiteral("N||tif|N"));
        QCOMPARE(regs[0][4], QStringLiteral("RE|200001|0|"));
        QCOMPARE(regs[0][5], QStringLiteral("zwei-a.zip|tif|N"));
        QCOMPARE(regs[1][5], QStringLiteral("zwei-b.zip|pdf|N"));
        QCOMPARE(regs[0][8], QStringLiteral("geheim"));
        // Date and time in the forms the archive side reads, the time that of the key.
        QCOMPARE(regs[0][6], QStringLiteral("07.12.2026"));
        const QString key0 = regs[0][1].section('|', 1, 1);
        QCOMPARE(regs[0][7], key0.mid(10, 2) + ':' + key0.mid(12, 2) + ':' + key0.mid(14, 2));
        // Keys a second apart at least.
        const qint64 k1 = regs[0][1].section('|', 1, 1).mid(2).toLongLong();
        const qint64 k2 = regs[1][1].section('|', 1, 1).mid(2).toLongLong();
        QVERIFY(k2 - k1 >= 1);
        QCOMPARE(zipEntries(m_transfer + "zwei-a.zip"), QStringList{"zwei-a.tif"});
        QCOMPARE(zipEntries(m_transfer + "zwei-b.zip"), QStringList{"zwei-b.pdf"});
        QVERIFY(!QFile::exists(a) && !QFile::exists(b));

        const QStringList log = [&] {
            QStringList l;
            for (int i = rows; i < LogModel::instance().rowCount(); ++i)
                l << LogModel::instance().row(i).join(';');
            return l;
        }();
        QCOMPARE(log, (QStringList{
                          "OKButton_Click;File ins Archiv;" + a, "OKButton_Click;Übergabe zum Archivsystem;",
                          "ÜbergabeFile;Übergabe zum Archivsystem;Zippen",
                          "ÜbergabeFile;Übergabe zum Archivsystem;Übergabe abgeschlossen",
                          "OKButton_Click;File ins Archiv;" + b, "OKButton_Click;Übergabe zum Archivsystem;",
                          "ÜbergabeFile;Übergabe zum Archivsystem;Zippen",
                          "ÜbergabeFile;Übergabe zum Archivsystem;Übergabe abgeschlossen",
                          "OKButton_Click;Ursprungs-File löschen;" + a,
                          "OKButton_Click;Ursprungs-File löschen;" + b}));
        // The link entry stays; the list and the password are emptied.
        QCOMPARE(w.FileListe->count(), 0);
        QVERIFY(w.txt_Passwort->text().isEmpty());
        QCOMPARE(w.cmb_LinkBelArt->currentText(), QStringLiteral("RE Rechnung"));
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("200001"));
        QCOMPARE(w.txt_KKRNr->text(), QStringLiteral("4711"));
        QCOMPARE(w.cmb_Match->currentText(), QStringLiteral("Rechnung"));
        QCOMPARE(ScreenPointer::current(), ScreenPointer::Default);
        QCOMPARE(ScreenPointer::history().first(), ScreenPointer::Hourglass);
    }

    void numberCheck_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("asked");
        QTest::newRow("type without number") << "AU Auftrag"
                                             << "" << true;
        QTest::newRow("one blank") << "AU Auftrag"
                                   << " " << true;
        QTest::newRow("two blanks") << "AU Auftrag"
                                    << "  " << false;
        QTest::newRow("no type, no number") << ""
                                            << "" << false;
    }

    void numberCheck()
    {
        QFETCH(QString, type);
        QFETCH(QString, number);
        QFETCH(bool, asked);
        QTemporaryDir src;
        const QString file = writeFile(src.filePath("nummer.tif"), "x");
        {
            // "No" leaves everything as it was.
            ScriptedBoxes boxes;
            FMStart& w = window();
            addFiles(w, {file});
            w.cmb_LinkBelArt->setCurrentText(type);
            w.txt_LinkBelNr->setText(number);
            if (asked)
                boxes.answer(QMessageBox::No);
            else
                boxes.answer(QMessageBox::No);
            const int before = lastRegistration();
            w.OKButton->click();
            if (asked) {
                QCOMPARE(boxes.shown().first().title, QStringLiteral("Belegnummer fehlt."));
                QCOMPARE(
                    boxes.shown().first().text,
                    QStringLiteral("Sie haben keine Belegnummer eingegeben!\r\nOhne Belegnummer weiter?"));
                QCOMPARE(boxes.shown().size(), 1);
                QCOMPARE(w.FileListe->count(), 1);
                QCOMPARE(w.cmb_LinkBelArt->currentText(), type);
                QCOMPARE(registrationsSince(before).size(), 0);
            } else {
                QCOMPARE(boxes.shown().first().title, QStringLiteral("Files löschen?"));
                QCOMPARE(registrationsSince(before).size(), 1);
            }
        }
        if (asked) {
            // "Yes" hands over without a document type.
            ScriptedBoxes boxes;
            boxes.answer(QMessageBox::Yes).answer(QMessageBox::No);
            const int before = lastRegistration();
            m_window->OKButton->click();
            QCOMPARE(m_window->cmb_LinkBelArt->currentIndex(), 0);
            QCOMPARE(m_window->cmb_LinkBelArt->currentText(), QString());
            const auto regs = registrationsSince(before);
            QCOMPARE(regs.size(), 1);
            QVERIFY(regs[0][4].startsWith("|" + number + "|"));
            QVERIFY(QFile::exists(file));
        }
    }

    void sameBaseNameGetsAnArchiveOfItsOwn()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src, other;
        FMStart& w = window();
        const QString tif = writeFile(src.filePath("gemeinsam.tif"), "TIFF");
        const QString pdf = writeFile(src.filePath("gemeinsam.pdf"), "PDF");
        addFiles(w, {tif, pdf});
        const int before = lastRegistration();
        boxes.answer(QMessageBox::No);
        w.OKButton->click();
        QCOMPARE(zipEntries(m_transfer + "gemeinsam.zip"), QStringList{"gemeinsam.tif"});
        QCOMPARE(zipEntries(m_transfer + "gemeinsam (2).zip"), QStringList{"gemeinsam (2).pdf"});
        auto regs = registrationsSince(before);
        QCOMPARE(regs.size(), 2);
        QCOMPARE(regs[0][5], QStringLiteral("gemeinsam.zip|tif|N"));
        QCOMPARE(regs[1][5], QStringLiteral("gemeinsam (2).zip|pdf|N"));

        // A published archive is never rewritten: another file of the same name gets the next.
        const QByteArray published = [&] {
            QFile f(m_transfer + "gemeinsam.zip");
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        addFiles(w, {writeFile(other.filePath("gemeinsam.tif"), "ANDERES TIFF")});
        boxes.answer(QMessageBox::No);
        w.OKButton->click();
        QCOMPARE(registrationsSince(before).last()[5], QStringLiteral("gemeinsam (3).zip|tif|N"));
        QCOMPARE(zipEntries(m_transfer + "gemeinsam (3).zip"), QStringList{"gemeinsam (3).tif"});
        QFile f(m_transfer + "gemeinsam.zip");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), published);
        QCOMPARE(QDir(m_transfer + ZipPacker::stagingFolderName()).entryList(QDir::Files | QDir::Hidden),
                 QStringList());
        QCOMPARE(QDir(m_transfer + ZipPacker::namesFolderName()).entryList(QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void namesThatCannotBreakTheRegistration_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("entry");
        QTest::newRow("bar") << "a|b.pdf" << QString("Der Dateiname enthält das Zeichen \u201e|\u201c") << "";
        QTest::newRow("newline") << "a\nb.pdf"
                                 << "Der Dateiname enthält ein Steuerzeichen"
                                 << "";
        QTest::newRow("tab") << "a\tb.pdf"
                             << "Der Dateiname enthält ein Steuerzeichen"
                             << "";
        QTest::newRow("only dots") << "...pdf"
                                   << "Der Dateiname hat keinen Namen vor der Endung"
                                   << "";
        QTest::newRow("windows path in the name") << "..\\..\\Windows\\evil.pdf"
                                                  << ""
                                                  << "evil.pdf";
        QTest::newRow("dots inside") << "Rechnung.2024.tif"
                                     << ""
                                     << "Rechnung.2024.tif";
        QTest::newRow("leading dot") << ".versteckt.tif"
                                     << ""
                                     << ".versteckt.tif";
    }

    void namesThatCannotBreakTheRegistration()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QFETCH(QString, entry);
        ScriptedBoxes boxes;
        QTemporaryDir src;
        window();
        const QString path = writeFile(src.filePath(name), "x");
        QCOMPARE(Handover::nameProblem(path), reason);
        const int before = lastRegistration();
        Handover handover;
        HandoverInput input;
        input.dateText = EmptyDateMask;
        const HandoverOutcome outcome = handover.transferFile(path, input);
        QCOMPARE(outcome.reason, reason);
        QCOMPARE(outcome.archived, reason.isEmpty());
        if (reason.isEmpty()) {
            QCOMPARE(zipEntries(outcome.archive), QStringList{entry});
            QCOMPARE(registrationsSince(before).first()[5],
                     QFileInfo(outcome.archive).fileName() + '|' + QFileInfo(entry).suffix() + "|N");
        } else {
            QCOMPARE(m_packer.calls.load(), 0);
            QCOMPARE(registrationsSince(before).size(), 0);
        }
        QVERIFY(QFile::exists(path));
    }

    void transferFolder()
    {
        QCOMPARE(Handover::withSeparator("/srv/transfer"), QStringLiteral("/srv/transfer/"));
        QCOMPARE(Handover::withSeparator("/srv/transfer/"), QStringLiteral("/srv/transfer/"));
        QCOMPARE(Handover::withSeparator("C:\\transfer\\"), QStringLiteral("C:\\transfer\\"));
        QTemporaryDir dir;
        QCOMPARE(Handover::directoryProblem(dir.filePath("fehlt/")),
                 "Übergabeverzeichnis " + dir.filePath("fehlt/") + " gibt es nicht");
        QVERIFY(QDir().mkpath(dir.filePath("gesperrt")));
        QFile::setPermissions(dir.filePath("gesperrt"), QFile::ReadOwner | QFile::ExeOwner);
        if (::geteuid() != 0)
            QCOMPARE(Handover::directoryProblem(dir.filePath("gesperrt/")),
                     "keine Schreibberechtigung für " + dir.filePath("gesperrt/"));
        QCOMPARE(Handover::directoryProblem(dir.path() + '/'), QString());

        // A source in the transfer folder, such as an archive already there, is refused.
        ScriptedBoxes boxes;
        window();
        const QString inside = writeFile(m_transfer + "liegt-schon-da.zip", "PK");
        Handover handover;
        HandoverInput input;
        input.dateText = EmptyDateMask;
        const int before = lastRegistration();
        const HandoverOutcome outcome = handover.transferFile(inside, input);
        QCOMPARE(outcome.reason, QStringLiteral("liegt im Übergabeverzeichnis"));
        QCOMPARE(registrationsSince(before).size(), 0);
        QVERIFY(QFile::exists(inside));
        QVERIFY(!QFile::exists(m_transfer + "liegt-schon-da (2).zip"));
    }

    void sourceChangedAfterPackingIsKept_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("unchanged") << "" << true;
        QTest::newRow("appended") << "append" << false;
        QTest::newRow("replaced, same bytes") << "replace" << false;
        QTest::newRow("touched") << "touch" << false;
        QTest::newRow("gone") << "remove" << true;
    }

    void sourceChangedAfterPackingIsKept()
    {
        QFETCH(QString, change);
        QFETCH(bool, deleted);
        ScriptedBoxes boxes;
        QTemporaryDir src;
        window();
        const QString path = writeFile(src.filePath("geaendert.tif"), "ALT");
        Handover handover;
        HandoverInput input;
        input.dateText = EmptyDateMask;
        HandoverOutcome outcome = handover.transferFile(path, input);
        QVERIFY(outcome.archived);
        if (change == "append") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append));
            f.write("NEU");
        } else if (change == "replace") {
            writeFile(src.filePath("neu.tif"), "ALT");
            QVERIFY(::rename(QFile::encodeName(src.filePath("neu.tif")).constData(),
                             QFile::encodeName(path).constData()) == 0);
        } else if (change == "touch") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(
                f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
        } else if (change == "remove") {
            QFile::remove(path);
        }
        const int rows = LogModel::instance().rowCount();
        QCOMPARE(Handover::deleteSource(outcome), deleted);
        QCOMPARE(QFile::exists(path), !deleted && change != "remove");
        QCOMPARE(outcome.reason,
                 deleted ? QString() : QStringLiteral("geändert seit dem Packen, nicht gelöscht"));
        QCOMPARE(LogModel::instance().row(LogModel::instance().rowCount() - 1).join(';'),
                 deleted ? "OKButton_Click;Ursprungs-File löschen;" + path
                         : "OKButton_Click;Ursprungs-File löschen;" + path +
                               ": geändert seit dem Packen, nicht gelöscht");
        QVERIFY(LogModel::instance().rowCount() > rows);
    }

    void failuresStayListedAndUndeleted()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src;
        FMStart& w = window();
        const QString first = writeFile(src.filePath("fehler-1.tif"), "1");
        const QString vanished = writeFile(src.filePath("fehler-2.tif"), "2");
        const QString unregistered = writeFile(src.filePath("fehler-3.tif"), "3");
        const QString last = writeFile(src.filePath("fehler-4.tif"), "4");
        addFiles(w, {first, vanished, unregistered, last});
        QFile::remove(vanished);
        bool lockedDuringRun = false;
        int runningShown = 0;
        m_packer.hook = [&](int call) {
            lockedDuringRun = !w.FileListe->isEnabled() && !w.Dokument[1]->isEnabled();
            // The list shows the files done with their outcome, one on its way, the rest waiting.
            QStringList states;
            for (int i = 0; i < w.FileListe->count(); ++i)
                states << w.stateText(i);
            runningShown +=
                states.at(call - 1) == QStringLiteral("wird übergeben …") &&
                states.count(QStringLiteral("wartet")) == states.size() - call &&
                (call < 3 || states.at(1) == QStringLiteral("nicht übergeben: Datei nicht lesbar")) &&
                (call < 2 || states.at(0) == QStringLiteral("übergeben"));
            // A second click during the run does nothing.
            w.OKButton_Click();
            if (call == 3)
                demoServer().dropConnections();
        };
        const int before = lastRegistration();
        w.txt_Passwort->setText("geheim");
        boxes.answer(QMessageBox::Ok)
            .answer(QMessageBox::Ok)
            .answer(QMessageBox::Yes)
            .answer(QMessageBox::Ok);
        w.OKButton->click();
        QVERIFY(lockedDuringRun);
        // The failed files are listed once more, each with its reason, and keep their password.
        QCOMPARE(boxes.shown().size(), 4);
        QCOMPARE(boxes.shown().at(2).buttons, MessageBox::Buttons(QMessageBox::Yes | QMessageBox::No));
        QCOMPARE(boxes.shown().at(3).title, QStringLiteral("Nicht alle Dateien übergeben"));
        QCOMPARE(boxes.shown().at(3).text, "Diese Dateien bleiben in der Liste:\r\n" + vanished +
                                               ": Datei nicht lesbar\r\n" + unregistered +
                                               ": Registrierung fehlgeschlagen");
        QCOMPARE(w.txt_Passwort->text(), QStringLiteral("geheim"));
        QCOMPARE(m_packer.calls.load(), 4);
        QCOMPARE(boxes.shown().at(0).title, QStringLiteral("Zippfehler"));
        QCOMPARE(boxes.shown().at(0).text, QStringLiteral("Fehler beim Zipfile erstellen"));
        QCOMPARE(boxes.shown().at(1).title, QStringLiteral("Caché Zugriffsfehler"));
        QVERIFY(boxes.shown().at(1).text.startsWith("Vorgang: SetDokument."));
        QVERIFY(LogModel::instance()
                    .row(LogModel::instance().rowCount() - 1)
                    .join(';')
                    .contains("Ursprungs-File löschen"));
        bool zipLogged = false;
        for (int i = 0; i < LogModel::instance().rowCount(); ++i)
            zipLogged |= LogModel::instance().row(i).join(';') ==
                         "ÜbergabeFile;Übergabe zum Archivsystem;Zippfehler:2";
        QVERIFY(zipLogged);

        const auto regs = registrationsSince(before);
        QCOMPARE(regs.size(), 2);
        QCOMPARE(regs[0][5], QStringLiteral("fehler-1.zip|tif|N"));
        QCOMPARE(regs[1][5], QStringLiteral("fehler-4.zip|tif|N"));
        // The packing failure produced no archive; only what was archived is deleted.
        QVERIFY(!QFile::exists(m_transfer + "fehler-2.zip"));
        QVERIFY(!QFile::exists(first) && !QFile::exists(last));
        QVERIFY(QFile::exists(unregistered));
        QCOMPARE(w.files(), (QStringList{vanished, unregistered}));
        QCOMPARE(w.failureReason(0), QStringLiteral("Datei nicht lesbar"));
        QCOMPARE(w.failureReason(1), QStringLiteral("Registrierung fehlgeschlagen"));
        QVERIFY(w.FileListe->item(1)->text().contains("nicht übergeben"));
        QCOMPARE(runningShown, 4);
        QCOMPARE(w.stateText(1), QStringLiteral("nicht übergeben: Registrierung fehlgeschlagen"));
        QCOMPARE(w.FileListe->item(1)->toolTip(),
                 unregistered + QStringLiteral("\nnicht übergeben: Registrierung fehlgeschlagen"));
        QVERIFY(w.FileListe->isEnabled());

        // A retry hands over what failed before, with the password.
        QVERIFY(writeFile(vanished, "2").size());
        boxes.answer(QMessageBox::No);
        w.OKButton->click();
        QCOMPARE(w.FileListe->count(), 0);
        QCOMPARE(registrationsSince(before).size(), 4);
        QCOMPARE(registrationsSince(before).last()[8], QStringLiteral("geheim"));
        QVERIFY(w.txt_Passwort->text().isEmpty());
    }

    void refusesSeparatorsBeforeTouchingFiles()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src;
        FMStart& w = window();
        addFiles(w, {writeFile(src.filePath("strich.tif"), "x")});
        w.txt_KKRNr->setText("47|11");
        const int before = lastRegistration();
        const int rows = LogModel::instance().rowCount();
        boxes.answer(QMessageBox::Ok);
        w.OKButton->click();
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Übergabe nicht möglich"));
        QVERIFY(boxes.shown().first().text.contains("Kontonummer"));
        QCOMPARE(registrationsSince(before).size(), 0);
        QCOMPARE(LogModel::instance().rowCount(), rows);
        QCOMPARE(m_packer.calls.load(), 0);
        QCOMPARE(w.FileListe->count(), 1);
    }

    void unwritableTransferDirectory()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src;
        FMStart& w = window();
        // A file where the staging folder belongs: nothing can be written there.
        const QString staging = m_transfer + ZipPacker::stagingFolderName();
        QDir(staging).removeRecursively();
        writeFile(staging, "blockiert");
        const QString file = writeFile(src.filePath("gesperrt.tif"), "x");
        addFiles(w, {file});
        const int before = lastRegistration();
        boxes.answer(QMessageBox::Ok).answer(QMessageBox::Ok);
        w.OKButton->click();
        QFile::remove(staging);
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Zippfehler"));
        // Nothing archived: no deletion question, but the reason with its cause.
        QCOMPARE(boxes.shown().size(), 2);
        QCOMPARE(w.failureReason(0), "Zippfehler 3: " + staging + " ist kein Ordner");
        QCOMPARE(registrationsSince(before).size(), 0);
        QVERIFY(QFile::exists(file));
        QCOMPARE(w.files(), QStringList{file});
    }

    // After a command-line start, "&Login" takes the code typed; when that login fails nobody is
    // logged in, and the hand-over and the searches refuse until a login succeeds.
    void failedReloginRegistersNothing()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src;
        FMStart& w = window();
        FMPass::instance().setMainWindow(&w, [&w] { w.setStartCaption(); });
        w.setStartCaption();
        QVERIFY(w.windowTitle().contains("Benutzer: 17|"));
        const QString file = writeFile(src.filePath("relogin.tif"), "TIFF");
        addFiles(w, {file});
        w.txt_KKRNr->setText("4711");
        w.cmb_LinkBelArt->setCurrentText("RE Rechnung");

        w.mLogin->trigger();
        FMPass& login = FMPass::instance();
        QVERIFY(login.isVisible());
        login.BUSER->setText("18");
        login.BPASSWORT->setText("demo");
        boxes.answer(QMessageBox::Ok);
        QTest::mouseClick(login.BUSpeich, Qt::LeftButton);
        QCOMPARE(boxes.lastText(), QStringLiteral("Passwort Falsch oder Benutzer nicht Aktiv."));
        QCOMPARE(session().Personalcode, QStringLiteral("18"));
        QVERIFY(session().UserName.isEmpty());
        QVERIFY(w.windowTitle().contains("Benutzer:   Firma"));

        const int before = lastRegistration();
        const qsizetype shown = boxes.shown().size();
        for (QPushButton* entry : {w.OKButton, w.SucheBelegnummer, w.b_KKRSuche, w.b_BAU}) {
            boxes.answer(QMessageBox::Ok);
            entry->click();
            QCOMPARE(boxes.lastText(), QStringLiteral("Bitte melden Sie sich zuerst an."));
        }
        QCOMPARE(boxes.shown().size(), shown + 4);
        QVERIFY(registrationsSince(before).isEmpty());
        QCOMPARE(w.files(), QStringList{file});
        QVERIFY(QFile::exists(file));
        QCOMPARE(m_packer.calls.load(), 0);
    }

    void emptyListAsksNothingAndClearsThePassword()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.txt_Passwort->setText("pw");
        w.OKButton->click();
        QCOMPARE(boxes.shown().size(), 0);
        QVERIFY(w.txt_Passwort->text().isEmpty());
    }

    void safeDefaultsAndNoWayOutDuringTheRun()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src;
        FMStart& w = window();
        addFiles(w, {writeFile(src.filePath("ende-1.tif"), "1"), writeFile(src.filePath("ende-2.tif"), "2")});
        w.cmb_LinkBelArt->setCurrentText("AU Auftrag");
        w.Command1->setFocus();
        bool stillOpen = true, focusAway = true;
        m_packer.hook = [&](int call) {
            if (call != 2)
                return;
            w.Command1->click();
            w.close();
            w.Beenden->trigger();
            w.mLogin->trigger();
            stillOpen = w.isVisible() && !session().ProgramEnded;
            focusAway = w.focusWidget() != w.Command1 && w.Command1->focusPolicy() == Qt::NoFocus;
        };
        boxes.answer(QMessageBox::Yes);
        for (int i = 0; i < 4; ++i)
            boxes.answer(QMessageBox::Ok);
        boxes.answer(QMessageBox::No);
        w.OKButton->click();
        QVERIFY(stillOpen);
        QVERIFY(focusAway);
        QStringList seen;
        for (const auto& box : boxes.shown())
            seen << box.title + ": " + box.text.section('\r', 0, 0);
        QCOMPARE(seen, (QStringList{"Belegnummer fehlt.: Sie haben keine Belegnummer eingegeben!",
                                    "Archiv-Übergabe: Die Übergabe läuft noch.",
                                    "Archiv-Übergabe: Die Übergabe läuft noch.",
                                    "Archiv-Übergabe: Die Übergabe läuft noch.",
                                    "Archiv-Übergabe: Die Übergabe läuft noch.",
                                    "Files löschen?: Sollen Die Ursprungsfiles gelöscht werden?"}));
        // Enter on either question is the safe answer.
        QCOMPARE(boxes.shown().first().defaultButton, QMessageBox::No);
        QCOMPARE(boxes.shown().last().defaultButton, QMessageBox::No);
        QCOMPARE(w.Command1->focusPolicy(), Qt::StrongFocus);

        // Ending with files listed asks first; No keeps the program and the list.
        addFiles(w, {src.filePath("ende-1.tif")});
        boxes.answer(QMessageBox::No);
        QVERIFY(!w.close());
        QCOMPARE(boxes.shown().last().title, QStringLiteral("Beenden"));
        QCOMPARE(boxes.shown().last().defaultButton, QMessageBox::No);
        QVERIFY(!session().ProgramEnded);
        QCOMPARE(w.FileListe->count(), 1);
    }

    void keysNeverRepeat()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src;
        window();
        Handover handover;
        HandoverInput input;
        input.dateText = EmptyDateMask;
        // Past the seconds whose keys earlier cases claimed.
        m_clock.advance(1000);
        const qint64 waited = m_clock.waitedMs();
        const HandoverOutcome one = handover.transferFile(writeFile(src.filePath("k1.tif"), "1"), input);
        const HandoverOutcome two = handover.transferFile(writeFile(src.filePath("k2.tif"), "2"), input);
        QVERIFY(one.archived && two.archived);
        QVERIFY(one.key != two.key);
        QVERIFY(m_clock.waitedMs() - waited <= 1000);

        // A key another process holds is not used: the next second is.
        const QString held = Handover::documentKey("17", m_clock.now().addSecs(1));
        QVERIFY(TransferClaims::claim(m_transfer + Handover::keysFolderName(), held));
        m_clock.advance(1000);
        const HandoverOutcome three = handover.transferFile(writeFile(src.filePath("k3.tif"), "3"), input);
        QVERIFY(three.archived);
        QCOMPARE(three.key, Handover::documentKey("17", m_clock.now()));
        QVERIFY(three.key > held);
    }

    void umlautNamesInsideTheArchive()
    {
        ScriptedBoxes boxes;
        QTemporaryDir src;
        FMStart& w = window();
        addFiles(w, {writeFile(src.filePath("Aufmaß §3 Übersicht.tif"), "x")});
        boxes.answer(QMessageBox::No);
        w.OKButton->click();
        QCOMPARE(zipEntries(m_transfer + "Aufmaß §3 Übersicht.zip"), QStringList{"Aufmaß §3 Übersicht.tif"});
    }
};

QTEST_MAIN(TestHandover)
#include "TestHandover.moc"
