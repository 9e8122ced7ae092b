// The main window against the in-process demo server: start-up, keyword list, file list with
// its messages and log lines, the link entry's layout, the log window and shut-down.
#include "app/FMStart.h"
#include "app/frmProgrammverlauf.h"
#include "cache/FMPass.h"
#include "cache/LogModel.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "preview/PreviewPane.h"
#include "widgets/FileDialog.h"
#include "widgets/MaskedDateEdit.h"
#include "widgets/SystemServices.h"
#include "widgets/Translations.h"
#include "widgets/Twips.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QWindow>

namespace {

QStringList logRows(int from = 0)
{
    QStringList rows;
    for (int i = from; i < LogModel::instance().rowCount(); ++i)
        rows << LogModel::instance().row(i).join(u';');
    return rows;
}

int widthInTwips(QWidget* w)
{
    return static_cast<int>(Twips::fromPixels(w->width()));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<FMStart> m_window;

    FMStart& startedWindow()
    {
        m_window = std::make_unique<FMStart>();
        session().CommandLine.clear();
        [&] { QVERIFY(loginAsDemoUser()); }();
        m_window->MatchListeLaden();
        m_window->show();
        return *m_window;
    }

private slots:
    void initTestCase() { Twips::setLogicalDpi(96); }

    void init() { resetProgramState(); }

    void cleanup() { m_window.reset(); }

    void loginFailsTwiceThenSucceeds()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok).answer(QMessageBox::Ok);
        int attempts = 0;
        std::function<void(QWidget*)> type = [&](QWidget* w) {
            auto* login = static_cast<FMPass*>(w);
            ++attempts;
            login->BUSER->setText(QStringLiteral("17"));
            login->BPASSWORT->setText(attempts < 3 ? QStringLiteral("falsch") : QStringLiteral("demo"));
            login->BUSpeich->click();
            // Armed once the dialog is hidden, so it waits for the next showing.
            if (attempts < 3)
                whenShown("FMPass", type);
        };
        whenShown("FMPass", type);
        m_window = std::make_unique<FMStart>();
        QVERIFY(m_window->start());
        QCOMPARE(attempts, 3);
        QCOMPARE(boxes.shown().size(), 2);
        m_window->show();
        int mainWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            mainWindows += w->objectName() == "FMStart" && w->isVisible();
        QCOMPARE(mainWindows, 1);
        QCOMPARE(m_window->windowTitle(),
                 QStringLiteral("File ins Archivladen   Benutzer: 17|Sabine Müller  Firma: 1 Filiale: 0"));
        QCOMPARE(m_window->cmb_Match->count(), 6);
    }

    void keywordList()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        QStringList keywords;
        for (int i = 0; i < w.cmb_Match->count(); ++i)
            keywords << w.cmb_Match->itemText(i);
        QCOMPARE(keywords, (QStringList{"Lieferschein", "Rechnung", "Auftragsbestätigung", "Reklamation",
                                        "Schriftverkehr", "Aufmaß"}));

        // A background click loads anew (no duplicates) and returns to the customer circle,
        // even while "Lieferant" stays selected.
        w.o_KontoKreis[1]->click();
        QCOMPARE(w.KontoKreisCode(), QStringLiteral("L"));
        QVERIFY(!w.txt_BAU->isVisible());
        // The keyword typed stays.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.cmb_Match->setFocus();
        typeText(QStringLiteral("Maß"));
        QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {},
                          w.centralWidget()->mapTo(&w, QPoint(5, w.centralWidget()->height() - 5)));
        QCOMPARE(w.cmb_Match->count(), 6);
        QCOMPARE(w.cmb_Match->currentText(), QStringLiteral("Maß"));
        QCOMPARE(w.KontoKreisCode(), QStringLiteral("K"));
        QVERIFY(w.txt_BAU->isVisible());
        QVERIFY(w.o_KontoKreis[1]->isChecked());

        // Company 2 has no keywords.
        session().Firma = QStringLiteral("2");
        w.MatchListeLaden();
        QCOMPARE(w.cmb_Match->count(), 0);
    }

    void addingFiles()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        const int before = LogModel::instance().rowCount();
        boxes.chooseFiles({"/scans/a.tif"});
        w.Dokument[0]->click();
        QCOMPARE(logRows(before).mid(0, 3), (QStringList{"Dokument_Click;Index;0", "BilderLaden;;",
                                                         "BilderLaden;FileName;/scans/a.tif"}));
        const FileDialog::Request request = FileDialog::requests().last();
        QCOMPARE(request.title, QStringLiteral("Öffnen"));
        QCOMPARE(request.directory, GetAppParameter("FXR", "DirScan", false, QVariant(), true).toString());
        QCOMPARE(request.filter, FMStart::toQtFilter(FMStart::fileFilter()));

        // Three chosen, the second listed already: one message, order kept.
        boxes.chooseFiles({"/scans/b.pdf", "/scans/a.tif", "/scans/c.doc"}).answer(QMessageBox::Ok);
        w.mDatei[0]->trigger();
        QCOMPARE(w.files(), (QStringList{"/scans/a.tif", "/scans/b.pdf", "/scans/c.doc"}));
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().last().title, QStringLiteral("Doppeltes File"));
        QCOMPARE(boxes.shown().last().text,
                 QStringLiteral("Das ausgewählte File wurde bereits zur Liste hinzugefügt"));
        QCOMPARE(boxes.shown().last().icon, QMessageBox::NoIcon);

        // The comparison is exact: another spelling of the same path is another entry.
        boxes.chooseFiles({"/SCANS/A.TIF"});
        w.Dokument[0]->click();
        QCOMPARE(w.files().size(), 4);

        // Cancelled.
        const int rows = LogModel::instance().rowCount();
        boxes.chooseFiles({}).answer(QMessageBox::Ok);
        w.Dokument[0]->click();
        QCOMPARE(boxes.shown().last().title, QStringLiteral("Abbruch"));
        QCOMPARE(boxes.shown().last().text, QStringLiteral("Abbruch: Kein File ausgewählt!"));
        QCOMPARE(boxes.shown().last().icon, QMessageBox::Critical);
        QCOMPARE(logRows(rows).last(), QStringLiteral("BilderLaden;Kein File ausgewählt;"));
        QCOMPARE(w.files().size(), 4);
    }

    void removingFiles()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        // "Entfernen" right after start removes nothing.
        w.m_RechtsImage_Click(0);
        boxes.chooseFiles({"/s/1.tif", "/s/2.tif", "/s/3.tif"});
        w.Dokument[0]->click();
        w.m_RechtsImage[0]->trigger();
        QCOMPARE(w.files().size(), 3);

        QTest::mouseClick(w.FileListe->viewport(), Qt::LeftButton, {},
                          w.FileListe->visualItemRect(w.FileListe->item(2)).center());
        QCOMPARE(w.AuswahlIndex(), 2);
        w.m_RechtsImage[0]->trigger();
        QCOMPARE(w.files(), (QStringList{"/s/1.tif", "/s/2.tif"}));
        QCOMPARE(w.AuswahlIndex(), -1);
        w.m_RechtsImage[0]->trigger();
        QCOMPARE(w.files().size(), 2);

        // A removed file can be chosen again.
        boxes.chooseFiles({"/s/3.tif"});
        w.Dokument[0]->click();
        QCOMPARE(w.files().size(), 3);

        // "Eingaben löschen" empties the list only.
        w.txt_LinkBelNr->setText("4711");
        w.txt_Passwort->setText("pw");
        w.Dokument[1]->click();
        QVERIFY(w.files().isEmpty());
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("4711"));
        QCOMPARE(w.txt_Passwort->text(), QStringLiteral("pw"));
        QCOMPARE(logRows().mid(logRows().size() - 2),
                 (QStringList{"Dokument_Click;Index;1", "Dokument_Click;Bilder Löschen;"}));
        w.m_RechtsImage_Click(0);
        QVERIFY(w.files().isEmpty());
    }

    void fileListPopupAsUsersMeetIt()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        boxes.chooseFiles({"/s/1.tif", "/s/2.tif", "/s/3.tif", "/s/4.tif"});
        w.Dokument[0]->click();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QWindow* window = w.windowHandle();
        auto rowCentre = [&](int row) {
            return w.FileListe->viewport()->mapTo(
                &w, w.FileListe->visualItemRect(w.FileListe->item(row)).center());
        };
        auto chooseEntfernen = [&] {
            QCOMPARE(QApplication::activePopupWidget(), static_cast<QWidget*>(w.mRechtsImage));
            typeKey(Qt::Key_Down);
            typeKey(Qt::Key_Return);
            QVERIFY(!QApplication::activePopupWidget());
        };

        // A right click selects the row under the pointer and opens the pop-up on release.
        QTest::mousePress(window, Qt::RightButton, {}, rowCentre(1));
        QCOMPARE(w.AuswahlIndex(), 1);
        QVERIFY(!QApplication::activePopupWidget());
        QTest::mouseRelease(window, Qt::RightButton, {}, rowCentre(1));
        chooseEntfernen();
        QCOMPARE(w.files(), (QStringList{"/s/1.tif", "/s/3.tif", "/s/4.tif"}));
        // Nothing shows as selected, and a second "Entfernen" without a new click removes nothing.
        QVERIFY(w.FileListe->selectedItems().isEmpty());
        QCOMPARE(w.AuswahlIndex(), -1);
        w.FileListe->setFocus();
        typeKey(Qt::Key_Menu);
        chooseEntfernen();
        QCOMPARE(w.files().size(), 3);

        // The keyboard alone: an arrow key selects, Delete removes, Shift+F10 opens the pop-up.
        typeKey(Qt::Key_Down);
        QCOMPARE(w.AuswahlIndex(), 2);
        typeKey(Qt::Key_Delete);
        QCOMPARE(w.files(), (QStringList{"/s/1.tif", "/s/3.tif"}));
        typeKey(Qt::Key_Delete);
        QCOMPARE(w.files().size(), 2);
        typeKey(Qt::Key_Up);
        typeKey(Qt::Key_F10, Qt::ShiftModifier);
        chooseEntfernen();
        QCOMPARE(w.files(), (QStringList{"/s/3.tif"}));
        typeKey(Qt::Key_Menu);
        typeKey(Qt::Key_Escape);
        QVERIFY(!QApplication::activePopupWidget());
        QCOMPARE(w.files().size(), 1);
    }

    void droppedFiles()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile("/s/x.pdf"), QUrl::fromLocalFile("/s/y.pdf")});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.FileListe->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        w.addDroppedFiles({"/s/x.pdf", "/s/y.pdf"});
        QCOMPARE(w.files(), (QStringList{"/s/x.pdf", "/s/y.pdf"}));
        QVERIFY(logRows().contains("FileListe_Drop;Abgelegt;/s/x.pdf"));
        // The same duplicate rule and message as for chosen files.
        boxes.answer(QMessageBox::Ok);
        w.addDroppedFiles({"/s/y.pdf", "/s/z.pdf"});
        QCOMPARE(w.files(), (QStringList{"/s/x.pdf", "/s/y.pdf", "/s/z.pdf"}));
        QCOMPARE(boxes.shown().last().title, QStringLiteral("Doppeltes File"));
    }

    void documentTypeLayout_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("dateVisible");
        QTest::newRow("AU") << "AU Auftrag" << 1455 << true;
        QTest::newRow("BE") << "BE Bestellung" << 3015 << false;
        QTest::newRow("RE typed") << "RE" << 1455 << true;
        QTest::newRow("REX typed") << "REX" << 3015 << false;
        QTest::newRow("AG") << "AG Angebot" << 3015 << false;
        QTest::newRow("empty") << "" << 3015 << false;
        QTest::newRow("ER") << "ER Eingangsrechnung" << 3015 << false;
    }

    void documentTypeLayout()
    {
        QFETCH(QString, type);
        QFETCH(int, width);
        QFETCH(bool, dateVisible);
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        // The initial layout: narrow number field, button beside it, date field shown.
        QCOMPARE(widthInTwips(w.txt_LinkBelNr), 1455);
        QCOMPARE(w.SucheBelegnummer->x(), w.txt_LinkBelNr->x() + w.txt_LinkBelNr->width());
        QVERIFY(w.cmb_Datum->isVisible());

        w.cmb_LinkBelArt->setCurrentText(type == "" ? "AU Auftrag" : "");
        w.cmb_LinkBelArt->setCurrentText(type);
        QCOMPARE(widthInTwips(w.txt_LinkBelNr), width);
        QCOMPARE(w.cmb_Datum->isVisible(), dateVisible);
        QCOMPARE(w.SucheBelegnummer->x(), w.txt_LinkBelNr->x() + w.txt_LinkBelNr->width());
    }

    void dateField()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        QCOMPARE(w.datumText(), QStringLiteral("  .  ."));
        w.cmb_Datum->setDate(QDate(2024, 5, 7));
        QCOMPARE(w.datumText(), QStringLiteral("07.05.2024"));
        w.cmb_Datum->showCalendar();
        auto* calendar = static_cast<CalendarPopup*>(w.cmb_Datum->calendarPopup());
        QCOMPARE(calendar->title(), QStringLiteral("Mai, 24"));
        QCOMPARE(calendar->weekdayHeaders(), (QStringList{"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"}));
        calendar->hide();
        // Hidden for other document types, its value kept.
        w.cmb_LinkBelArt->setCurrentText("BE Bestellung");
        QVERIFY(!w.cmb_Datum->isVisible());
        QCOMPARE(w.datumText(), QStringLiteral("07.05.2024"));
    }

    void accountCircle()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        QCOMPARE(w.txt_KKRNr->text(), QStringLiteral("0"));
        QVERIFY(w.o_KontoKreis[0]->isChecked());
        w.txt_BAU->setText("2");
        w.o_KontoKreis[1]->click();
        QVERIFY(!w.lbl_BAU->isVisible() && !w.txt_BAU->isVisible() && !w.b_BAU->isVisible());
        QCOMPARE(w.KontoKreisCode(), QStringLiteral("L"));
        w.o_KontoKreis[0]->click();
        QVERIFY(w.txt_BAU->isVisible());
        QCOMPARE(w.txt_BAU->text(), QStringLiteral("2"));
        QCOMPARE(w.KontoKreisCode(), QStringLiteral("K"));
    }

    void logWindowKeepsCollecting()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        w.mProgrammverlauf->trigger();
        frmProgrammverlauf& log = frmProgrammverlauf::instance();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        QCOMPARE(log.windowTitle(), QStringLiteral("Programmverlauf"));
        // The user's close box only hides it.
        log.windowHandle()->close();
        QVERIFY(!log.isVisible());
        QVERIFY(frmProgrammverlauf::exists());
        const int rows = log.Verlauf->model()->rowCount();
        boxes.chooseFiles({"/s/q.tif"});
        w.Dokument[0]->click();
        w.mProgrammverlauf->trigger();
        QCOMPARE(log.Verlauf->model()->rowCount(), rows + 3);
        QCOMPARE(log.Verlauf->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Parameter"));

        // Closing the main window ends the program, log window open or not (the listed file
        // makes it ask first).
        QVERIFY(log.isVisible());
        boxes.answer(QMessageBox::Yes);
        w.close();
        QCOMPARE(programExitCount(), 1);
        QTRY_VERIFY(!frmProgrammverlauf::exists());
        QVERIFY(session().Factory == nullptr || !session().Factory->isConnected());
    }

    // The login dialog and the log window belong to the main window; About opens once; password
    // boxes show stars; the program's end closes the windows last opened first.
    void ownedWindowsAndTheirEnd()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        FMPass& login = FMPass::instance();
        QCOMPARE(login.parentWidget(), &w);
        w.mProgrammverlauf->trigger();
        QCOMPARE(frmProgrammverlauf::instance().parentWidget(), &w);
        w.HilfeUeber->trigger();
        w.HilfeUeber->trigger();
        int abouts = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            abouts += top->objectName() == "frmAbout" && top->isVisible();
        QCOMPARE(abouts, 1);
        w.mLogin->trigger();
        QVERIFY(login.isVisible());
        for (QLineEdit* password : {w.txt_Passwort, login.BPASSWORT}) {
            password->setText("geheim");
            QCOMPARE(password->displayText(), QStringLiteral("******"));
        }

        struct CloseOrder : QObject
        {
            QStringList names;
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() == QEvent::Close && watched->isWidgetType() &&
                    static_cast<QWidget*>(watched)->isWindow())
                    names << watched->objectName();
                return false;
            }
        } order;
        qApp->installEventFilter(&order);
        login.BUAusst->click();
        qApp->removeEventFilter(&order);
        QCOMPARE(programExitCount(), 1);
        order.names.removeAll("FMServer");
        QCOMPARE(order.names.mid(0, 4), (QStringList{"FMPass", "frmAbout", "frmProgrammverlauf", "FMStart"}));
        // Closed without "Anmelden", the login dialog keeps no password.
        QVERIFY(login.BPASSWORT->text().isEmpty());
    }

    void shutDownWays_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("menu") << "Beenden";
        QTest::newRow("button") << "Command1";
        QTest::newRow("close box") << "close";
    }

    void shutDownWays()
    {
        QFETCH(QString, way);
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        auto factory = session().Factory;
        QVERIFY(factory->isConnected());
        if (way == "Beenden")
            w.Beenden->trigger();
        else if (way == "Command1")
            w.Command1->click();
        else
            w.close();
        QCOMPARE(programExitCount(), 1);
        QVERIFY(!factory->isConnected());
    }

    void namesAndKeyboard()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        for (const char* name :
             {"FileListe",     "Dokument(0)",     "Dokument(1)",     "OKButton",      "Command1",
              "fr_KontoKreis", "cmb_Match",       "cmb_LinkBelArt",  "txt_LinkBelNr", "SucheBelegnummer",
              "cmb_Datum",     "o_KontoKreis(0)", "o_KontoKreis(1)", "txt_KKRNr",     "b_KKRSuche",
              "lbl_BAU",       "txt_BAU",         "b_BAU",           "fr_Passwort",   "txt_Passwort"})
            QVERIFY2(w.findChild<QWidget*>(name), name);
        QCOMPARE(w.cmb_LinkBelArt->count(), 6);
        QCOMPARE(w.cmb_LinkBelArt->itemText(5), QStringLiteral("RE Rechnung"));
        QCOMPARE(w.txt_Passwort->echoMode(), QLineEdit::Password);
        QCOMPARE(w.txt_Passwort->toolTip(), QStringLiteral("Passwort für Archivzugriff auf das Dokument"));
        QCOMPARE(w.OKButton->text(), QStringLiteral("Übernehmen ins &Archiv"));
        QCOMPARE(w.mLogin->text(), QStringLiteral("&Login"));
        QCOMPARE(w.HilfeUeber->text(), QStringLiteral("Hilfe &über ..."));
        // Tab walks the link entry from top to bottom.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.cmb_LinkBelArt->setCurrentText("RE Rechnung");
        w.cmb_Match->setFocus();
        QVERIFY(QApplication::focusWidget());
        QStringList order;
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            // The date field's focus sits in its own line edit.
            QWidget* focused = QApplication::focusWidget();
            while (focused && focused->objectName() != "cmb_Datum" &&
                   focused->parentWidget() != static_cast<QWidget*>(w.fr_KontoKreis))
                focused = focused->parentWidget();
            order << (focused ? focused->objectName() : QString());
        }
        QCOMPARE(order, (QStringList{"cmb_LinkBelArt", "txt_LinkBelNr", "SucheBelegnummer", "cmb_Datum"}));
    }

    void resizableWithPreview()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        // The documented size is the first and the smallest; there the list keeps its width and
        // the preview has no room.
        QCOMPARE(w.minimumSize(), w.documentedSize());
        QCOMPARE(w.size(), w.documentedSize());
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(widthInTwips(w.FileListe), 4200);
        QVERIFY(w.Vorschau->isHidden());
        const QPoint okAtStart = w.OKButton->pos();

        const QDir scans(GetAppParameter("FXR", "DirScan", false, QVariant(), true).toString());
        const QString invoice = scans.filePath("Rechnung 200001.pdf");
        const QString note = scans.filePath("Lieferschein 4711-001.tif");
        boxes.chooseFiles({invoice, note});
        w.Dokument[0]->click();
        w.FileListe->setCurrentRow(1);
        QVERIFY(w.Vorschau->file().isEmpty());

        // Larger: the list and the preview take the extra room, the link entry keeps its twips
        // at the right edge, the buttons stay on the bottom row.
        QSignalSpy shown(w.Vorschau, &preview::PreviewPane::pageShown);
        w.resize(1300, 820);
        QTRY_VERIFY(w.Vorschau->isVisible());
        QCOMPARE(widthInTwips(w.fr_KontoKreis), 5160);
        QCOMPARE(static_cast<int>(Twips::fromPixels(w.centralWidget()->width() - w.fr_KontoKreis->x())),
                 5280);
        QCOMPARE(w.fr_KontoKreis->y(), Twips::toPixels(120));
        QVERIFY(w.FileListe->width() > Twips::toPixels(4200));
        QVERIFY(w.Vorschau->width() > w.FileListe->width());
        QCOMPARE(w.OKButton->y(), w.Dokument[0]->y());
        QVERIFY(w.OKButton->y() > okAtStart.y());
        QCOMPARE(w.FileListe->accessibleName(), QStringLiteral("Dateiliste"));

        // The entry the user is on shows in the preview.
        QVERIFY(shown.wait(10000));
        QCOMPARE(w.Vorschau->file(), note);
        QCOMPARE(w.Vorschau->lbl_Seite->text(), QStringLiteral("Seite 1 von 2"));
        w.FileListe->setCurrentRow(0);
        QVERIFY(shown.wait(10000));
        QCOMPARE(w.Vorschau->file(), invoice);

        // Each entry: name, grey folder, state; the full path in the tool tip.
        QCOMPARE(w.stateText(0), QStringLiteral("wartet"));
        QCOMPARE(w.FileListe->item(0)->toolTip(), invoice);
        QCOMPARE(w.FileListe->item(0)->data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Rechnung 200001.pdf, wartet, Ordner ") + scans.path());
        QVERIFY(w.FileListe->visualItemRect(w.FileListe->item(0)).height() >
                w.fontMetrics().height() * 3 / 2);

        // A double click opens the file in the system's viewer.
        QStringList opened;
        SystemServices::setDocumentOpener([&](const QString& path) {
            opened << path;
            return true;
        });
        const QPoint second = w.FileListe->visualItemRect(w.FileListe->item(1)).center();
        QTest::mouseClick(w.FileListe->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseDClick(w.FileListe->viewport(), Qt::LeftButton, {}, second);
        SystemServices::setDocumentOpener(nullptr);
        QCOMPARE(opened, QStringList{note});

        // Emptying the list empties the preview; back at the smallest size it goes.
        w.Dokument[1]->click();
        QVERIFY(w.Vorschau->file().isEmpty());
        w.resize(w.documentedSize());
        QTRY_VERIFY(w.Vorschau->isHidden());
        QTRY_COMPARE(widthInTwips(w.FileListe), 4200);
        QCOMPARE(w.OKButton->pos(), okAtStart);
    }

    void sizeAndSplitterRemembered()
    {
        int listWidth = 0;
        {
            ScriptedBoxes boxes;
            FMStart& w = startedWindow();
            w.resize(1200, 800);
            QTRY_VERIFY(w.Vorschau->isVisible());
            QTest::qWait(50);
            w.Teiler->setSizes({420, w.Teiler->width() - w.Teiler->handleWidth() - 420});
            QTest::qWait(50);
            listWidth = w.FileListe->width();
            QVERIFY2(qAbs(listWidth - 420) <= 2, qPrintable(QString::number(listWidth)));
            w.close();
            QCOMPARE(programExitCount(), 1);
        }
        m_window.reset();
        QSettings store(QSettings::UserScope, "VELMOR", "Cache Login");
        const QSize size = store.value("Hauptfenster/Groesse").toSize();
        const int list = store.value("Hauptfenster/Teiler").toInt();
        QCOMPARE(size, QSize(1200, 800));
        QCOMPARE(list, static_cast<int>(Twips::fromPixels(listWidth)));
        // Its own section, beside the login's.
        QVERIFY(store.childGroups().contains("Hauptfenster"));

        // The next start, after the program state was reset (which empties the store).
        resetProgramState();
        store.sync();
        store.setValue("Hauptfenster/Groesse", size);
        store.setValue("Hauptfenster/Teiler", list);
        store.sync();
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        QCOMPARE(w.size(), QSize(1200, 800));
        QTRY_VERIFY(w.Vorschau->isVisible());
        QVERIFY(qAbs(w.FileListe->width() - listWidth) <= 1);

        // A stored size below the documented one does not shrink the window under it.
        store.setValue("Hauptfenster/Groesse", QSize(100, 100));
        store.sync();
        FMStart small;
        QCOMPARE(small.size(), small.documentedSize());
    }

    void germanStandardButtons()
    {
        QVERIFY(installGermanTranslations(*qApp));
        QMessageBox box(QMessageBox::Question, "t", "x", QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
        QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("&Nein"));
    }

    void screenshots()
    {
        ScriptedBoxes boxes;
        FMStart& w = startedWindow();
        boxes.chooseFiles(QDir(GetAppParameter("FXR", "DirScan", false, QVariant(), true).toString())
                              .entryList(QDir::Files));
        w.Dokument[0]->click();
        w.cmb_LinkBelArt->setCurrentText("RE Rechnung");
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString dir = QCoreApplication::applicationDirPath() + "/../screenshots";
        QDir().mkpath(dir);
        QVERIFY(w.grab().save(dir + "/FMStart.png"));
        FMPass::instance().show();
        QVERIFY(FMPass::instance().grab().save(dir + "/FMPass.png"));
        FMPass::instance().hide();
        w.mProgrammverlauf->trigger();
        QVERIFY(frmProgrammverlauf::instance().grab().save(dir + "/frmProgrammverlauf.png"));
        QVERIFY(QImage(dir + "/FMStart.png").width() > 300);
    }
};

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
