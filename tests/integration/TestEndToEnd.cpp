// The whole program against velmor-erpd, driven the way a user does it: through the login
// dialog, the main window's controls, the lookup and search dialogs, the file dialog's seam
// and the message boxes; then what the archive got: ZIP files, registrations, log rows. And
// the server stopping in the middle of a hand-over.
#include "Daemon.h"

#include "app/FMStart.h"
#include "app/ZipPacker.h"
#include "cache/FMPass.h"
#include "cache/LogModel.h"
#include "cache/LoginSettings.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "erpsim/DemoData.h"
#include "lookup/frmLookup.h"
#include "search/FMKnrsu.h"
#include "search/SearchTermField.h"
#include "widgets/Clock.h"
#include "widgets/MaskedDateEdit.h"
#include "widgets/VirtualList.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <zip.h>

namespace {

QStringList logRows(int from)
{
    QStringList rows;
    for (int i = from; i < LogModel::instance().rowCount(); ++i)
        rows << LogModel::instance().row(i).join(u';');
    return rows;
}

void pickRow(QWidget* window, const QString& key)
{
    auto* dialog = static_cast<frmLookup*>(window);
    QTreeWidget* list = dialog->ListView1;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (dialog->keyOf(list->topLevelItem(i)) == key) {
            list->setCurrentItem(list->topLevelItem(i));
            dialog->cmdSelect->click();
            return;
        }
    }
    dialog->cmdCancel->click();
}

// Acts on the next lookup dialog once its own event loop runs: its activation lets events run
// before that, and a dialog closed then would wait forever.
class OnLookup : public QObject
{
public:
    explicit OnLookup(std::function<void(QWidget*)> action) : m_action(std::move(action))
    {
        qApp->installEventFilter(this);
    }
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<frmLookup*>(watched)) {
            ++shows;
            act(static_cast<QWidget*>(watched), QThread::currentThread()->loopLevel());
        }
        return false;
    }

private:
    void act(QWidget* dialog, int outerLevel)
    {
        QTimer::singleShot(0, dialog, [this, dialog, outerLevel] {
            if (QThread::currentThread()->loopLevel() <= outerLevel)
                return act(dialog, outerLevel);
            m_action(dialog);
            if (dialog->isVisible())
                dialog->close();
        });
    }
    std::function<void(QWidget*)> m_action;
};

// Kills the server when the n-th file starts packing; packing runs beside the window thread.
class KillingPacker : public ZipPacker
{
public:
    std::function<void()> atSecondFile;
    std::atomic<int> calls = 0;
    Result pack(const QString& source, const QString& archivePath, const QString& extension) override
    {
        if (++calls == 2 && atSecondFile)
            QMetaObject::invokeMethod(qApp, atSecondFile, Qt::BlockingQueuedConnection);
        return m_real.pack(source, archivePath, extension);
    }

private:
    LibZipPacker m_real;
};

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Daemon m_daemon;
    MockClock m_clock;
    KillingPacker m_packer;
    std::unique_ptr<FMStart> m_window;
    QString m_database;

    // Starts the program's main window and logs in through the dialog with the stored settings.
    FMStart& startProgram()
    {
        {
            auto settings = openLoginSettings();
            settings->setValue("Firma", "1");
            settings->setValue("Filiale", "0");
            settings->setValue("Name", "17");
            settings->setValue("Server", "127.0.0.1");
            settings->setValue("Port", QString::number(m_daemon.port()));
            settings->setValue("Namespace", "VELMOR");
        }
        whenShown("FMPass", [](QWidget* w) {
            auto* login = static_cast<FMPass*>(w);
            login->BUSER->setText("17");
            login->BPASSWORT->setText("demo");
            login->BUSpeich->click();
        });
        m_window = std::make_unique<FMStart>();
        [&] { QVERIFY(m_window->start()); }();
        m_window->show();
        return *m_window;
    }

private slots:
    void initTestCase()
    {
        m_database = m_dir.filePath("erp.db");
        erpsim::createDemoDatabase(m_database);
        QVERIFY(m_daemon.start(m_database));
        Clock::setInstance(&m_clock);
        ZipPacker::setInstance(&m_packer);
    }

    void cleanupTestCase()
    {
        m_window.reset();
        ZipPacker::setInstance(nullptr);
        Clock::setInstance(nullptr);
    }

    void init()
    {
        resetProgramState();
        cacheclient::setFactoryCreator(nullptr);
        m_packer.calls = 0;
        m_packer.atSecondFile = nullptr;
    }

    void cleanup() { m_window.reset(); }

    void invoiceHandedOver_data()
    {
        QTest::addColumn<bool>("deleteSources");
        QTest::newRow("sources deleted") << true;
        QTest::newRow("sources kept") << false;
    }

    void invoiceHandedOver()
    {
        QFETCH(bool, deleteSources);
        const QString tag = deleteSources ? "weg" : "bleibt";
        QTemporaryDir sources;
        const QString a = writeFile(sources.filePath("scan-" + tag + ".tif"), "II*\0 Rechnung Seite 1");
        const QString b = writeFile(sources.filePath("brief-" + tag + ".pdf"), QByteArray(50000, 'p'));

        ScriptedBoxes boxes;
        FMStart& w = startProgram();
        QCOMPARE(session().UserName, QStringLiteral("17|Sabine Müller"));
        QVERIFY(w.windowTitle().contains("Benutzer: 17|Sabine Müller"));
        const int firstLog = LogModel::instance().rowCount();
        const int before = lastRegistration(m_database);

        boxes.chooseFiles({a, b});
        w.Dokument[0]->click();
        QCOMPARE(w.files(), (QStringList{a, b}));

        w.cmb_LinkBelArt->setCurrentIndex(w.cmb_LinkBelArt->findText("RE Rechnung"));
        QVERIFY(w.cmb_Datum->isVisible());

        whenShown("FMKnrsu", [](QWidget* s) {
            auto* form = static_cast<FMKnrsu*>(s);
            form->SKBEZ->setText("MUELLER BAU");
            QTest::mouseClick(form->BUSuch, Qt::LeftButton);
            form->KNRSULI->setCurrentRow(1);
            QTest::keyClick(form->KNRSULI, Qt::Key_Return);
        });
        w.b_KKRSuche->click();
        QCOMPARE(w.txt_KKRNr->text(), QStringLiteral("4711"));

        // The search lists open invoices (status 1).
        {
            OnLookup invoice([](QWidget* d) { pickRow(d, "1||0||RE||4711||1261110||1||200002"); });
            w.SucheBelegnummer->click();
            QCOMPARE(invoice.shows, 1);
        }
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("200002"));
        QCOMPARE(w.cmb_Datum->date(), QDate(2026, 11, 10));

        {
            OnLookup site([](QWidget* d) { pickRow(d, "1||4711||2"); });
            w.b_BAU->click();
            QCOMPARE(site.shows, 1);
        }
        QCOMPARE(w.txt_BAU->text(), QStringLiteral("2"));

        w.cmb_Match->setCurrentIndex(w.cmb_Match->findText("Rechnung"));
        w.txt_Passwort->setText("geheim");
        const QString transfer = GetAppParameter("FXR", "DirPdfFile", false, QVariant(), true).toString();

        boxes.answer(deleteSources ? QMessageBox::Yes : QMessageBox::No);
        w.OKButton->click();

        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().first().text, QStringLiteral("Sollen Die Ursprungsfiles gelöscht werden?"));
        QCOMPARE(zipEntries(transfer + "scan-" + tag + ".zip"), QStringList{"scan-" + tag + ".tif"});
        QCOMPARE(zipEntries(transfer + "brief-" + tag + ".zip"), QStringList{"brief-" + tag + ".pdf"});

        const QList<Registration> regs = registrationsAfter(m_database, before);
        QCOMPARE(regs.size(), 2);
        const QRegularExpression key("^SO\\|17(\\d{14})\\|1$");
        QStringList keys;
        for (int i = 0; i < 2; ++i) {
            const QStringList& r = regs[i].args;
            QVERIFY(!regs[i].received.isEmpty());
            QCOMPARE(r[0], QStringLiteral("1||4711|17|2"));
            const auto match = key.match(r[1]);
            QVERIFY2(match.hasMatch(), qPrintable(r[1]));
            keys << match.captured(1);
            QCOMPARE(r[2], QStringLiteral("Rechnung|Sonstiges : Rechnung"));
            QCOMPARE(r[3], QStringLiteral("N||tif|N"));
            QCOMPARE(r[4], QStringLiteral("RE|200002|10112026|"));
            QVERIFY(!r[6].isEmpty() && !r[7].isEmpty());
            QCOMPARE(r[8], QStringLiteral("geheim"));
        }
        QCOMPARE(regs[0].args[5], "scan-" + tag + ".zip|tif|N");
        QCOMPARE(regs[1].args[5], "brief-" + tag + ".zip|pdf|N");
        QVERIFY(keys[0] < keys[1]);

        QStringList expectedLog = {"Dokument_Click;Index;0", "BilderLaden;;", "BilderLaden;FileName;" + a};
        for (const QString& f : {a, b})
            expectedLog << "OKButton_Click;File ins Archiv;" + f
                        << "OKButton_Click;Übergabe zum Archivsystem;"
                        << "ÜbergabeFile;Übergabe zum Archivsystem;Zippen"
                        << "ÜbergabeFile;Übergabe zum Archivsystem;Übergabe abgeschlossen";
        if (deleteSources)
            expectedLog << "OKButton_Click;Ursprungs-File löschen;" + a
                        << "OKButton_Click;Ursprungs-File löschen;" + b;
        QCOMPARE(logRows(firstLog), expectedLog);

        QCOMPARE(w.FileListe->count(), 0);
        QVERIFY(w.txt_Passwort->text().isEmpty());
        QCOMPARE(QFile::exists(a), !deleteSources);
        QCOMPARE(QFile::exists(b), !deleteSources);
        QCOMPARE(programExitCount(), 0);
    }

    // Must run last: the server does not come back.
    void serverStopsDuringTheHandover()
    {
        QTemporaryDir sources;
        const QStringList files = {writeFile(sources.filePath("eins.tif"), "eins"),
                                   writeFile(sources.filePath("zwei.tif"), "zwei"),
                                   writeFile(sources.filePath("drei.tif"), "drei")};
        ScriptedBoxes boxes;
        FMStart& w = startProgram();
        boxes.chooseFiles(files);
        w.Dokument[0]->click();
        w.cmb_LinkBelArt->setCurrentIndex(w.cmb_LinkBelArt->findText("AG Angebot"));
        w.txt_LinkBelNr->setText("500001");
        w.txt_KKRNr->setText("4711");
        const QString transfer = GetAppParameter("FXR", "DirPdfFile", false, QVariant(), true).toString();
        const int before = lastRegistration(m_database);

        // The client must have seen the link drop before the registration starts; otherwise the
        // call itself fails and the reconnect under test never runs.
        m_packer.atSecondFile = [this] {
            m_daemon.kill();
            QTRY_VERIFY_WITH_TIMEOUT(!session().Factory || !session().Factory->isConnected(), 5000);
        };
        bool serverDialog = false;
        whenShown("FMServer", [&](QWidget* s) {
            serverDialog = true;
            s->hide();
        });
        for (int i = 0; i < 3; ++i)
            boxes.answer(QMessageBox::Ok);
        const qint64 waitedBefore = m_clock.waitedMs();
        QElapsedTimer real;
        real.start();
        w.OKButton->click();

        QStringList texts;
        for (const MessageBox::Record& r : boxes.shown())
            texts << r.title + u':' + r.text.section(u'\r', 0, 0);
        // The registration's access finds the link gone and tries again: three tries, the server
        // dialog, three more, then the end. The boxes after that come only because the tests count
        // the end instead of ending the process.
        QCOMPARE(texts.mid(0, 2), (QStringList{"Anmeldung an Caché:Server nach 3 Versuchen nicht erreichbar!",
                                               "Anmeldung an Caché:Der Server ist nicht erreichbar!"}));
        QVERIFY(serverDialog);
        QCOMPARE(programExitCount(), 1);
        QVERIFY(!m_daemon.running());

        // Only the first file reached the archive; nothing is deleted and every file stays listed.
        const QList<Registration> regs = registrationsAfter(m_database, before);
        QCOMPARE(regs.size(), 1);
        QCOMPARE(regs[0].args[5], QStringLiteral("eins.zip|tif|N"));
        QCOMPARE(zipEntries(transfer + "eins.zip"), QStringList{"eins.tif"});
        for (const QString& f : files)
            QVERIFY2(QFile::exists(f), qPrintable(f));
        QCOMPARE(w.files(), files);
        // Two pauses of ten seconds between the tries of each round, on the mock clock.
        QVERIFY(m_clock.waitedMs() - waitedBefore >= 4 * 10000);
        QVERIFY(real.elapsed() < 10000);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "TestEndToEnd.moc"
