// The lookup dialog as users meet it: the call and its results, paging, arguments from the
// inputs, layout, activation, the list with its widths, sorting and choosing, the number
// searches, and failures after the dialog is open. Scripted queries pin the edge cases; the
// demo server serves the document and building-site searches of the main window.
#include "FakeErp.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "erpsim/LocalServer.h"
#include "lookup/frmLookup.h"
#include "widgets/Beep.h"
#include "widgets/Clock.h"
#include "widgets/MaskedDateEdit.h"
#include "widgets/Twips.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using cacheclient::CacheError;

namespace {

// Runs an action on every lookup dialog once it shows; without one the dialog is closed, so
// a dialog that should not have appeared cannot hang the test.
class ShowWatch : public QObject
{
public:
    explicit ShowWatch(std::function<void(frmLookup*)> action = {}) : m_action(std::move(action))
    {
        qApp->installEventFilter(this);
    }
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<frmLookup*>(watched)) {
                ++shows;
                QTimer::singleShot(0, dialog, [this, dialog] {
                    if (m_action)
                        m_action(dialog);
                    if (dialog->isVisible())
                        dialog->close();
                });
            }
        }
        return false;
    }

private:
    std::function<void(frmLookup*)> m_action;
};

LookupRequest fakeRequest(const std::shared_ptr<FakeFactory>& fake, const FakeQueryDef& def,
                          qint32 maxitems = 100)
{
    fake->add("XR.Test", "Liste", def);
    LookupRequest r;
    r.Factory = fake;
    r.Class = "XR.Test";
    r.Query = "Liste";
    r.Maxitems = maxitems;
    r.MoreButton = true;
    r.MsgBoxIfNone = 2;
    r.P1 = "1";
    return r;
}

LookupRequest siteRequest(const QString& account)
{
    LookupRequest r;
    r.Factory = session().Factory;
    r.Class = "XR.KundBau";
    r.Query = "BaustellenAuswahl";
    r.Title = "Suche nach Baustellen";
    r.Maxitems = 100;
    r.MoreButton = true;
    r.AutoSelect = true;
    r.MsgBoxIfNone = 0;
    r.P1 = session().Firma;
    r.P2 = account;
    r.KNRParameter = 1;
    return r;
}

// The document searches of the main window, one per document type.
LookupRequest documentRequest(const QString& code, const QString& account)
{
    LookupRequest r;
    r.Factory = session().Factory;
    r.MoreButton = true;
    r.MsgBoxIfNone = 2;
    r.P1 = session().Firma;
    r.P2 = session().Filiale;
    if (code == "AU" || code == "RE") {
        r.Class = "XR.AuftrMaKundeBeleg";
        r.Query = "Beleg";
        r.Title = code == "AU" ? "Suche nach Aufträge" : "Suche nach Rechnungen";
        r.Maxitems = 100;
        r.P3 = account;
        r.P4 = "1";
        r.P6 = code;
        r.DatumFeld1 = 4;
        r.DatumParameter1 = 4;
        r.KNRParameter = 2;
        r.CmbParam1 = 3;
        r.CmbType1 = code == "AU" ? 1 : 3;
        r.CmbParam2 = 5;
        r.CmbType2 = 4;
        r.FeldUmwandl1 = 3;
        r.FeldUmwandl1Type = 11;
    } else if (code == "BE") {
        r.Class = "XR.BestHaupt";
        r.Query = "Bestellung";
        r.Title = "Suche nach Bestellungen";
        r.Maxitems = 50;
        r.P3 = account;
        r.DatumFeld1 = 4;
        r.DatumFeld2 = 6;
        r.LNRParameter = 2;
        r.CmbParam1 = 3;
        r.CmbType1 = 5;
        r.CmbParam2 = 4;
        r.CmbType2 = 9;
        r.FeldUmwandl1 = 2;
        r.FeldUmwandl1Type = 12;
        r.FeldUmwandl2 = 5;
        r.FeldUmwandl2Type = 13;
    } else if (code == "ER") {
        r.Class = "XR.EinReHaupt";
        r.Query = "Rechnung";
        r.Title = "Suche nach Eingangsrechungen";
        r.Maxitems = 25;
        r.P5 = account;
        r.DatumFeld1 = 2;
        r.DatumParameter1 = 6;
        r.DatumFeld2 = 7;
        r.DatumParameter2 = 7;
        r.DatumParameter3 = 8;
        r.LNRParameter = 4;
        r.CmbParam1 = 2;
        r.CmbType1 = 2;
        r.CmbParam2 = 3;
        r.CmbType2 = 7;
        r.FeldUmwandl1 = 6;
        r.FeldUmwandl1Type = 8;
        r.FeldUmwandl2 = 3;
        r.FeldUmwandl2Type = 12;
        r.FeldUmwandl3 = 5;
        r.FeldUmwandl3Type = 14;
    } else if (code == "AG") {
        r.Class = "XR.OffertHaupt";
        r.Query = "Angebote";
        r.Title = "Suche nach Offerten";
        r.Maxitems = 50;
        r.P3 = account;
        r.DatumFeld1 = 2;
        r.KNRParameter = 2;
        r.CmbParam1 = 4;
        r.CmbType1 = 0;
        r.FeldUmwandl1 = 3;
        r.FeldUmwandl1Type = 11;
        r.FeldUmwandl2 = 4;
        r.FeldUmwandl2Type = 10;
    }
    return r;
}

QStringList columnTexts(const QTreeWidget* list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

void pressEnter(QWidget* w)
{
    QTest::keyClick(w, Qt::Key_Return);
}

void clickHeader(QTreeWidget* list, int section)
{
    QHeaderView* header = list->header();
    const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

double twips(int pixels)
{
    return Twips::fromPixels(pixels);
}

int measure(const QWidget* w, const QString& text)
{
    return qRound(Twips::fromPixels(w->fontMetrics().horizontalAdvance(text)));
}

// The named control that holds the dialog's focus.
QString focusedControl(const QWidget* dialog)
{
    for (QWidget* w = dialog->focusWidget(); w && w != dialog; w = w->parentWidget()) {
        const QString name = w->objectName();
        if (name.startsWith("txtParam") || name.startsWith("cmbParam") || name.startsWith("cmbDatum") ||
            name.startsWith("cmd"))
            return name;
    }
    return QString();
}

} // namespace

class TestLookupDialog : public QObject
{
    Q_OBJECT

    MockClock m_clock;

private slots:
    void initTestCase()
    {
        Clock::setInstance(&m_clock);
        Twips::setLogicalDpi(96);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void init()
    {
        resetProgramState();
        setLookupSearches({});
    }

    void cleanupTestCase() { resetProgramState(); }

    // ---- The call and its result ------------------------------------------------------

    void oneHitWithAutoSelectNeedsNoWindow()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        ShowWatch watch;
        QCOMPARE(Lookup(siteRequest("4712")), QStringLiteral("1||4712||1"));
        QCOMPARE(watch.shows, 0);
    }

    void oneHitWithoutAutoSelectShowsTheRow()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        int rows = -1;
        QString label, title;
        ShowWatch watch([&](frmLookup* d) {
            rows = d->ListView1->topLevelItemCount();
            label = d->lblRecords->text();
            title = d->windowTitle();
        });
        LookupRequest r = siteRequest("4712");
        r.AutoSelect = false;
        QCOMPARE(Lookup(r), QString());
        QCOMPARE(watch.shows, 1);
        QCOMPARE(rows, 1);
        QCOMPARE(label, QStringLiteral("1 record found"));
        QCOMPARE(title, QStringLiteral("Suche nach Baustellen"));
    }

    void autoSelectWithPagesOfOneTakesTheFirstRow()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        ShowWatch watch;
        LookupRequest r = siteRequest("4711");
        r.Maxitems = 1;
        QCOMPARE(Lookup(r), QStringLiteral("1||4711||1"));
        QCOMPARE(watch.shows, 0);
    }

    void noHit_data()
    {
        QTest::addColumn<int>("msgBoxIfNone");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<int>("shows");
        QTest::newRow("0 silent") << 0 << 0 << 0;
        QTest::newRow("1 message") << 1 << 1 << 0;
        QTest::newRow("2 empty dialog") << 2 << 0 << 1;
        QTest::newRow("other values as 0") << 3 << 0 << 0;
    }

    void noHit()
    {
        QFETCH(int, msgBoxIfNone);
        QFETCH(int, boxes);
        QFETCH(int, shows);
        ScriptedBoxes scripted;
        if (boxes)
            scripted.answer(QMessageBox::Ok);
        QVERIFY(loginAsDemoUser());
        QString label;
        ShowWatch watch([&](frmLookup* d) { label = d->lblRecords->text(); });
        LookupRequest r = siteRequest("4713");
        r.MsgBoxIfNone = static_cast<qint16>(msgBoxIfNone);
        QCOMPARE(Lookup(r), QString());
        QCOMPARE(watch.shows, shows);
        QCOMPARE(scripted.shown().size(), boxes);
        if (boxes) {
            const MessageBox::Record& box = scripted.shown().first();
            QCOMPARE(box.text, QStringLiteral("Es wurde kein Eingrag gefunden!"));
            QCOMPARE(box.icon, QMessageBox::NoIcon);
            QCOMPARE(box.buttons, MessageBox::Buttons(QMessageBox::Ok));
        }
        if (shows)
            QCOMPARE(label, QStringLiteral("No records found"));
    }

    void emptyDialogSearchesAgainAndPicks()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        int rows = -1;
        ShowWatch watch([&](frmLookup* d) {
            d->txtParam[1]->setText("4711");
            pressEnter(d->txtParam[1]);
            rows = d->ListView1->topLevelItemCount();
            d->ListView1->setCurrentItem(d->ListView1->topLevelItem(1));
            QTest::mouseClick(d->cmdSelect, Qt::LeftButton);
        });
        LookupRequest r = siteRequest("4713");
        r.MsgBoxIfNone = 2;
        QCOMPARE(Lookup(r), QStringLiteral("1||4711||2"));
        QCOMPARE(rows, 3);
    }

    void aCallWithoutChoiceReturnsEmpty_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("window closed") << "close";
        QTest::newRow("Escape") << "escape";
    }

    void aCallWithoutChoiceReturnsEmpty()
    {
        QFETCH(QString, how);
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        QCOMPARE(Lookup(siteRequest("4712")), QStringLiteral("1||4712||1"));
        ShowWatch watch([&](frmLookup* d) {
            d->ListView1->setCurrentItem(d->ListView1->topLevelItem(0));
            if (how == "cancel")
                QTest::mouseClick(d->cmdCancel, Qt::LeftButton);
            else if (how == "close")
                d->close();
            else
                QTest::keyClick(d, Qt::Key_Escape);
        });
        QCOMPARE(Lookup(siteRequest("4711")), QString());
        QCOMPARE(watch.shows, 1);
    }

    void queryWithoutKeyColumn()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        bool selectShown = true;
        QString cancelText;
        bool closedByDoubleClick = false;
        ShowWatch watch([&](frmLookup* d) {
            selectShown = d->cmdSelect->isVisible();
            cancelText = d->cmdCancel->text();
            QTreeWidget* list = d->ListView1;
            const QRect row = list->visualItemRect(list->topLevelItem(1));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
            closedByDoubleClick = !d->isVisible();
        });
        LookupRequest r;
        r.Factory = session().Factory;
        r.Class = "XR.ParABTNR";
        r.Query = "ABTNR";
        r.P1 = "1";
        QCOMPARE(Lookup(r), QString());
        QVERIFY(!selectShown);
        QCOMPARE(cancelText, QStringLiteral("OK"));
        QVERIFY(closedByDoubleClick);
    }

    void selectWithoutRowBeepsAndStaysOpen()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        int beeps = -1;
        bool stillOpen = false;
        ShowWatch watch([&](frmLookup* d) {
            const int before = Beep::count();
            QTest::mouseClick(d->cmdSelect, Qt::LeftButton);
            beeps = Beep::count() - before;
            stillOpen = d->isVisible();
        });
        LookupRequest r = siteRequest("4711");
        QCOMPARE(Lookup(r), QString());
        QCOMPARE(beeps, 1);
        QVERIFY(stillOpen);
    }

    void failureOfTheFirstSearchReachesTheCaller_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("account");
        QTest::newRow("unknown query") << "Gibtsnicht"
                                       << "4711";
        QTest::newRow("argument the query cannot take") << "BaustellenAuswahl"
                                                        << "abc";
    }

    void failureOfTheFirstSearchReachesTheCaller()
    {
        QFETCH(QString, query);
        QFETCH(QString, account);
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        ShowWatch watch;
        LookupRequest r = siteRequest(account);
        r.Query = query;
        QVERIFY_THROWS_EXCEPTION(CacheError, Lookup(r));
        QCOMPARE(watch.shows, 0);
    }

    // ---- Paging -----------------------------------------------------------------------

    void paging_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("maxitems");
        QTest::addColumn<bool>("moreButton");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("more");
        QTest::addColumn<int>("shownAfterMore");
        QTest::addColumn<QString>("labelAfterMore");
        QTest::newRow("exactly a page") << 5 << 5 << true << 5 << "5 Einträge gefunden" << false << 5 << "";
        QTest::newRow("one more than a page")
            << 6 << 5 << true << 5 << "Mehr als 5 Einträge gefunden" << true << 6 << "6 Einträge gefunden";
        QTest::newRow("no more button")
            << 6 << 5 << false << 5 << "Mehr als 5 Einträge gefunden" << false << 5 << "";
        QTest::newRow("0 means pages of 100") << 250 << 0 << true << 100 << "Mehr als 100 Einträge gefunden"
                                              << true << 200 << "Mehr als 200 Einträge gefunden";
        QTest::newRow("one row") << 1 << 5 << true << 1 << "1 record found" << false << 1 << "";
        QTest::newRow("none") << 0 << 5 << true << 0 << "No records found" << false << 0 << "";
    }

    void paging()
    {
        QFETCH(int, rows);
        QFETCH(int, maxitems);
        QFETCH(bool, moreButton);
        QFETCH(int, shown);
        QFETCH(QString, label);
        QFETCH(bool, more);
        QFETCH(int, shownAfterMore);
        QFETCH(QString, labelAfterMore);
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r = fakeRequest(fake, numberedRows(rows), maxitems);
        r.MoreButton = moreButton;
        frmLookup d(r);
        d.start();
        d.show();
        QCOMPARE(d.ListView1->topLevelItemCount(), shown);
        QCOMPARE(d.lblRecords->text(), label);
        QCOMPARE(d.cmdMore->isVisible(), more);
        QCOMPARE(d.state().RowsAllotted, lookup::pageSize(maxitems));
        QCOMPARE(d.state().RowKeys.size() - 1, shown);
        QVERIFY(d.ListView1->selectedItems().isEmpty());
        if (!more)
            return;
        QTest::mouseClick(d.cmdMore, Qt::LeftButton);
        QCOMPARE(d.ListView1->topLevelItemCount(), shownAfterMore);
        QCOMPARE(d.lblRecords->text(), labelAfterMore);
        QCOMPARE(d.state().RowsAllotted, 2 * lookup::pageSize(maxitems));
        // The first page's rows and keys stay; the look-ahead row opens the second page.
        QCOMPARE(d.ListView1->topLevelItem(0)->text(0), QStringLiteral("1"));
        QCOMPARE(d.keyOf(d.ListView1->topLevelItem(shown)), QStringLiteral("K%1").arg(shown + 1));
        QCOMPARE(d.state().RowKeys.value(1), QStringLiteral("K1"));
        QCOMPARE(d.state().RowKeys.size() - 1, shownAfterMore);
        QVERIFY(d.ListView1->selectedItems().isEmpty());
    }

    void searchingAgainStartsFromAnEmptyList()
    {
        auto fake = std::make_shared<FakeFactory>();
        frmLookup d(fakeRequest(fake, numberedRows(6), 5));
        d.start();
        d.show();
        QTest::mouseClick(d.cmdMore, Qt::LeftButton);
        QCOMPARE(d.ListView1->topLevelItemCount(), 6);
        pressEnter(d.txtParam[0]);
        QCOMPARE(fake->log.executed.size(), 2);
        QCOMPARE(d.ListView1->topLevelItemCount(), 5);
        QCOMPARE(d.state().RowKeys.size() - 1, 5);
        QCOMPARE(d.state().RowsAllotted, 5);
        QCOMPARE(d.lblRecords->text(), QStringLiteral("Mehr als 5 Einträge gefunden"));
        QVERIFY(d.cmdMore->isVisible());
        // The same query object searched again.
        QCOMPARE(fake->log.created, 1);
    }

    void shownListFillsRowByRow()
    {
        // On the screen, "Weitere" lists each row, at the width it needs, before the next row is
        // read: a slow page fills in front of the user.
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def = numberedRows(9);
        def.rows[4][2] = "Ein Name, der die Spalte breiter macht als alle anderen";
        frmLookup d(fakeRequest(fake, def, 4));
        d.start();
        d.show();
        const int widthBefore = d.ListView1->columnWidth(1);
        QList<int> listed;
        QList<int> widths;
        fake->onNext = [&] {
            listed << d.ListView1->topLevelItemCount();
            widths << d.ListView1->columnWidth(1);
        };
        QTest::mouseClick(d.cmdMore, Qt::LeftButton);
        QCOMPARE(listed, (QList<int>{5, 6, 7, 8}));
        QVERIFY(widths.first() > widthBefore);
        QCOMPARE(widths, QList<int>(4, d.ListView1->columnWidth(1)));
    }

    void pageFailingMidwayKeepsTheRowsReadBefore()
    {
        // "Weitere" reads rows 4 and 5, then the connection fails: both rows stay listed with
        // their keys after the first page, and the list column shows the width row 5 needed.
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        const QString wide = "Ein Name, der breiter ist als alle anderen der Liste";
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def = numberedRows(8);
        def.rows[4][2] = wide;
        frmLookup d(fakeRequest(fake, def, 3));
        d.start();
        d.show();
        const qint32 nameWidthBefore = d.state().ColumnWidths[2];
        int reads = 0;
        fake->onNext = [&] {
            if (++reads == 2)
                throw CacheError(cacheclient::ClientError::ConnectionLost, "Verbindung verloren");
        };
        QTest::mouseClick(d.cmdMore, Qt::LeftButton);
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(columnTexts(d.ListView1, 0), (QStringList{"1", "2", "3", "4", "5"}));
        QCOMPARE(columnTexts(d.ListView1, 1).last(), wide);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(d.keyOf(d.ListView1->topLevelItem(i)), QStringLiteral("K%1").arg(i + 1));
        QVERIFY(d.state().ColumnWidths[2] > nameWidthBefore);
        QCOMPARE(d.state().ColumnWidths[2], qBound(250, measure(&d, wide + "xX"), 1500));
        const int least = d.ListView1->header()->minimumSectionSize();
        for (int c = 0; c < 2; ++c)
            QCOMPARE(d.ListView1->columnWidth(c),
                     qMax(least, Twips::toPixels(d.state().ColumnWidths[c + 1])));
        QVERIFY(!d.cmdMore->isVisible());
        QVERIFY(!d.state().Busy);
        // The dialog goes on: searching again lists the first page anew.
        fake->onNext = nullptr;
        pressEnter(d.txtParam[0]);
        QCOMPARE(columnTexts(d.ListView1, 0), (QStringList{"1", "2", "3"}));
    }

    void enterStillQueuedWhenTheDialogGoesDoesNotSearch()
    {
        // The query's closing in the destructor lets queued events in: an Enter released there
        // must not search again with a dialog that is going, nor a click sort its list.
        auto fake = std::make_shared<FakeFactory>();
        auto* d = new frmLookup(fakeRequest(fake, numberedRows(3)));
        d->start();
        d->show();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(d->txtParam[0], &press);
        QCoreApplication::postEvent(d->txtParam[0],
                                    new QKeyEvent(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier));
        QTimer::singleShot(0, d, [d] { d->sortByColumn(0); });
        const int closedBefore = fake->log.closed;
        delete d;
        QCOMPARE(fake->log.executed.size(), 1);
        QCOMPARE(fake->log.closed, closedBefore + 1);
    }

    void enterWhileBusyDoesNothing()
    {
        auto fake = std::make_shared<FakeFactory>();
        frmLookup* dialog = nullptr;
        int enters = 0;
        fake->onNext = [&] {
            if (dialog && enters < 3) {
                ++enters;
                pressEnter(dialog->txtParam[0]);
                QTest::mouseClick(dialog->cmdMore, Qt::LeftButton);
            }
        };
        frmLookup d(fakeRequest(fake, numberedRows(8), 5));
        dialog = &d;
        d.start();
        QCOMPARE(enters, 3);
        QCOMPARE(fake->log.executed.size(), 1);
        QCOMPARE(d.ListView1->topLevelItemCount(), 5);
        QVERIFY(!d.state().Busy);
        fake->onNext = nullptr;
        pressEnter(d.txtParam[0]);
        QCOMPARE(fake->log.executed.size(), 2);
    }

    // ---- Arguments from the inputs ----------------------------------------------------

    void dateArguments()
    {
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r = fakeRequest(fake, numberedRows(2, {"A", "B", "C", "D", "Datum", "F"}));
        r.P5 = "15.03.2004";
        r.DatumParameter1 = 4;
        frmLookup d(r);
        d.start();
        QCOMPARE(fake->log.executed.first().value(4), QStringLiteral("1040315"));
        d.show();
        QCOMPARE(d.cmbDatum[0]->text(), QStringLiteral("15.03.2004"));
        QVERIFY(!d.cmbDatum[0]->isHidden());
        QVERIFY(d.txtParam[4]->isHidden());
        QCOMPARE(d.cmbDatum[0]->pos(), d.txtParam[4]->pos());
        QCOMPARE(d.Label[4]->buddy(), d.cmbDatum[0]);

        d.cmbDatum[0]->setDate(QDate(2024, 5, 7));
        pressEnter(d.txtParam[0]);
        QCOMPARE(fake->log.executed.last().value(4), QStringLiteral("1240507"));
        d.cmbDatum[0]->clear();
        // Enter in the date control searches as Enter in a box does.
        pressEnter(d.cmbDatum[0]->lineEdit());
        QCOMPARE(fake->log.executed.size(), 3);
        QCOMPARE(fake->log.executed.last().value(4), QString());
    }

    void choiceArguments_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("initial");
        QTest::addColumn<QString>("pick");
        QTest::addColumn<QString>("passed");
        QTest::newRow("2 erledigt") << 1 << ""
                                    << "2 erledigt"
                                    << "2";
        QTest::newRow("3 übergeleitet") << 0 << ""
                                        << "3 übergeleitet"
                                        << "3";
        QTest::newRow("3 geändert") << 0 << ""
                                    << "3 geändert"
                                    << "3";
        QTest::newRow("AU Auftrag") << 4 << "RE"
                                    << "AU Auftrag"
                                    << "AU";
        QTest::newRow("empty combo") << 1 << ""
                                     << ""
                                     << "";
        QTest::newRow("caller's 1 kept") << 1 << "1"
                                         << ""
                                         << "1";
    }

    void choiceArguments()
    {
        QFETCH(int, type);
        QFETCH(QString, initial);
        QFETCH(QString, pick);
        QFETCH(QString, passed);
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r = fakeRequest(fake, numberedRows(2, {"A", "B", "C", "Status"}));
        r.P4 = initial;
        r.CmbParam1 = 3;
        r.CmbType1 = static_cast<qint16>(type);
        frmLookup d(r);
        d.start();
        QCOMPARE(fake->log.executed.first().value(3), initial);
        d.show();
        QComboBox* combo = d.cmbParam[0];
        QCOMPARE(combo->count(), lookup::fixedChoiceItems(type).size());
        QCOMPARE(combo->currentText(), initial);
        if (!pick.isEmpty())
            combo->setCurrentIndex(combo->findText(pick));
        pressEnter(d.txtParam[0]);
        QCOMPARE(fake->log.executed.last().value(3), passed);
        // Enter in the combo box does not search.
        const int searches = static_cast<int>(fake->log.executed.size());
        pressEnter(combo->lineEdit());
        QCOMPARE(fake->log.executed.size(), searches);
    }

    void failedChoiceListIsReportedAndStopsFilling()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        auto fake = std::make_shared<FakeFactory>();
        fake->add("XR.WC", "WC", FakeQueryDef{{"Firma", "Code"}, {"ID", "Code", "K", "N"}, 1, {}});
        LookupRequest r = fakeRequest(fake, numberedRows(2, {"A", "B", "C", "D"}));
        r.CmbParam1 = 1;
        r.CmbType1 = 8;
        r.CmbParam2 = 2;
        r.CmbType2 = 1;
        session().Factory = fake;
        session().Firma = "1";
        frmLookup d(r);
        d.start();
        fake->onExecute = [](const QStringList&) { throw CacheError(5001, "Abbruch"); };
        d.show();
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY(boxes.lastText().startsWith(
            QStringLiteral("Vorgang: Lookup Lookup Währungscode ermitteln Parameterauswahlliste Type #8.")));
        QCOMPARE(d.cmbParam[0]->count(), 0);
        QCOMPARE(d.cmbParam[1]->count(), 0);
        QVERIFY(d.isVisible());
        // Its query was closed before the box.
        QCOMPARE(fake->log.closed, 1);
    }

    // ---- Layout -----------------------------------------------------------------------

    void parameterLayout_data()
    {
        QTest::addColumn<int>("params");
        QTest::addColumn<int>("rows");
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("four") << 4 << 2;
        QTest::newRow("nine") << 9 << 3;
    }

    void parameterLayout()
    {
        QFETCH(int, params);
        QFETCH(int, rows);
        QStringList names;
        for (int i = 1; i <= params; ++i)
            names << QStringLiteral("Parameter %1").arg(i);
        auto fake = std::make_shared<FakeFactory>();
        frmLookup d(fakeRequest(fake, numberedRows(3, names)));
        d.start();
        d.show();
        QCOMPARE(d.state().ParamCount, params);
        QCOMPARE(d.state().ParamRows, rows);
        for (int a = 0; a < lookup::Positions; ++a) {
            QCOMPARE(d.Label[a]->isVisible(), a < params);
            QCOMPARE(d.txtParam[a]->isVisible(), a < params);
            if (a < params) {
                QCOMPARE(d.Label[a]->text(), names[a]);
                QCOMPARE(d.Label[a]->buddy(), d.txtParam[a]);
            }
            QCOMPARE(twips(d.txtParam[a]->x()), (QList<double>{120, 2520, 4920}[a % 3]));
            QCOMPARE(twips(d.txtParam[a]->y()), (QList<double>{480, 1080, 1680}[a / 3]));
            QCOMPARE(twips(d.Label[a]->y()), twips(d.txtParam[a]->y()) - 240);
            QCOMPARE(twips(d.txtParam[a]->height()), 285.0);
        }
        // The list starts below the parameter rows.
        const double paramHeight = rows ? (twips(d.Label[0]->height()) + 285) * rows + 100 : 0;
        QCOMPARE(d.ListView1->y(), Twips::toPixels(twips(d.Label[0]->y()) + paramHeight));
        if (rows)
            QVERIFY(d.ListView1->y() >= d.txtParam[3 * (rows - 1)]->geometry().bottom());
    }

    void everyControlIsFoundByItsName()
    {
        auto fake = std::make_shared<FakeFactory>();
        frmLookup d(fakeRequest(fake, numberedRows(1)));
        QList<std::pair<QString, QWidget*>> controls;
        for (int a = 0; a < lookup::Positions; ++a)
            controls << std::pair<QString, QWidget*>{"Label" + QString::number(a), d.Label[a]}
                     << std::pair<QString, QWidget*>{"txtParam" + QString::number(a), d.txtParam[a]};
        for (int n = 0; n < lookup::SlotCount; ++n)
            controls << std::pair<QString, QWidget*>{"cmbParam" + QString::number(n), d.cmbParam[n]}
                     << std::pair<QString, QWidget*>{"cmbDatum" + QString::number(n), d.cmbDatum[n]};
        for (const auto& [name, control] : controls) {
            const QList<QWidget*> found = d.findChildren<QWidget*>(name);
            QCOMPARE(found.size(), 1);
            QCOMPARE(found.first(), control);
        }
    }

    void designedSizeAndBottomBar()
    {
        auto fake = std::make_shared<FakeFactory>();
        frmLookup d(fakeRequest(fake, numberedRows(3, {"A", "B"})));
        d.start();
        d.show();
        QCOMPARE(twips(d.width()), 8055.0);
        QCOMPARE(twips(d.height()), 8505.0);
        QCOMPARE(d.windowTitle(), QStringLiteral("Lookup"));
        // Three buttons, or two, spread with equal gaps.
        const double gap = twips(d.cmdSelect->x());
        QCOMPARE(twips(d.cmdCancel->x()), gap + twips(d.cmdSelect->width()) + gap);
        QVERIFY(!d.cmdMore->isVisible());
        QVERIFY(d.Picture1->geometry().bottom() == d.height() - 1);
        // The count label is centred under the list.
        QVERIFY(qAbs(d.lblRecords->geometry().center().x() - d.ListView1->geometry().center().x()) <= 1);
        QVERIFY(d.lblRecords->y() > d.ListView1->geometry().bottom());
        // A very small window lays out what it can.
        d.resize(40, 30);
        QCOMPARE(d.ListView1->height(), 0);
    }

    void searchButtonStandsRightOfItsBox()
    {
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r = fakeRequest(fake, numberedRows(3, {"Firma", "Kunde", "Bezeichnung"}));
        r.KNRParameter = 1;
        r.LNRParameter = 5; // beyond the query's parameters: placed all the same
        frmLookup d(r);
        d.start();
        d.show();
        QCOMPARE(twips(d.txtParam[1]->width()), 2295.0 - 360);
        QCOMPARE(twips(d.b_KNRSuche->x()), 2520.0 + 2295 - 360);
        QCOMPARE(d.b_KNRSuche->y(), d.txtParam[1]->y());
        QVERIFY(d.b_KNRSuche->isVisible());
        // Too narrow for the caption: a magnifier that fits, named "Suche".
        QCOMPARE(twips(d.b_KNRSuche->width()), 360.0);
        QVERIFY(d.b_KNRSuche->text().isEmpty());
        QCOMPARE(d.b_KNRSuche->toolTip(), QStringLiteral("Suche"));
        QCOMPARE(d.b_KNRSuche->accessibleName(), QStringLiteral("Suche"));
        const QSize iconSize = d.b_KNRSuche->iconSize();
        QVERIFY(iconSize.width() < d.b_KNRSuche->width() && iconSize.height() < d.b_KNRSuche->height());
        const QImage icon = d.b_KNRSuche->icon().pixmap(iconSize).toImage();
        int inked = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                inked += qAlpha(icon.pixel(x, y)) > 128 ? 1 : 0;
        QVERIFY2(inked > icon.width() && inked < icon.width() * icon.height() / 2,
                 qPrintable(QString::number(inked)));
        QVERIFY(d.b_LNRSuche->isVisible());
        QCOMPARE(d.b_LNRSuche->y(), d.txtParam[5]->y());
        QVERIFY(!d.b_ANRSuche->isVisible());
        QCOMPARE(twips(d.txtParam[0]->width()), 2295.0);
    }

    void singleParameterBoxIsAsWideAsTheList()
    {
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r = fakeRequest(fake, numberedRows(3, {"Suchbegriff"}));
        r.P1 = "Mül";
        frmLookup d(r);
        d.start();
        d.show();
        QCOMPARE(d.txtParam[0]->width(), d.ListView1->width());
        d.txtParam[0]->setText("Schmidt");
        d.resize(d.width() + 150, d.height() + 30);
        QCOMPARE(d.txtParam[0]->width(), d.ListView1->width());
        QCOMPARE(d.txtParam[0]->text(), QStringLiteral("Mül"));
        QCOMPARE(fake->log.executed.size(), 1);
        QVERIFY(!d.state().Busy);
    }

    // ---- Activation -------------------------------------------------------------------

    void activationFocus_data()
    {
        QTest::addColumn<int>("params");
        QTest::addColumn<QList<int>>("datePositions");
        QTest::addColumn<QList<int>>("choicePositions");
        QTest::addColumn<QString>("focused");
        QTest::newRow("no parameters") << 0 << QList<int>{} << QList<int>{} << "cmdCancel";
        QTest::newRow("boxes only") << 9 << QList<int>{} << QList<int>{} << "txtParam0";
        QTest::newRow("date at a row's start") << 2 << QList<int>{0} << QList<int>{} << "cmbDatum0";
        QTest::newRow("date elsewhere") << 6 << QList<int>{4} << QList<int>{} << "txtParam0";
        QTest::newRow("order search") << 6 << QList<int>{4} << QList<int>{3, 5} << "cmbParam0";
        QTest::newRow("incoming invoice search")
            << 9 << QList<int>{6, 7, 8} << QList<int>{2, 3} << "cmbParam1";
        QTest::newRow("date at 3 but only two parameters")
            << 2 << QList<int>{3} << QList<int>{} << "txtParam0";
        QTest::newRow("choice at 0, date at 3") << 4 << QList<int>{3} << QList<int>{0} << "cmbParam0";
        QTest::newRow("date at 0 after choice at 6")
            << 9 << QList<int>{-1, 0} << QList<int>{6} << "cmbDatum1";
    }

    void activationFocus()
    {
        QFETCH(int, params);
        QFETCH(QList<int>, datePositions);
        QFETCH(QList<int>, choicePositions);
        QFETCH(QString, focused);
        QStringList names;
        for (int i = 1; i <= params; ++i)
            names << QStringLiteral("P%1").arg(i);
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r = fakeRequest(fake, numberedRows(1, names));
        qint16* dates[] = {&r.DatumParameter1, &r.DatumParameter2, &r.DatumParameter3};
        qint16* choices[] = {&r.CmbParam1, &r.CmbParam2, &r.CmbParam3};
        for (int n = 0; n < datePositions.size(); ++n)
            *dates[n] = static_cast<qint16>(datePositions[n]);
        for (int n = 0; n < choicePositions.size(); ++n)
            *choices[n] = static_cast<qint16>(choicePositions[n]);
        frmLookup d(r);
        d.start();
        d.show();
        QCOMPARE(focusedControl(&d), focused);
    }

    void activationEmptiesTheSecondDateAndRunsOnce()
    {
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r =
            fakeRequest(fake, numberedRows(2, {"A", "B", "C", "D", "Lieferant", "F", "G", "H", "I"}));
        r.P7 = "01.12.2026";
        r.P8 = "31.12.2026";
        r.DatumParameter1 = 6;
        r.DatumParameter2 = 7;
        r.CmbParam1 = 2;
        r.CmbType1 = 2;
        r.LNRParameter = 4;
        int searches = 0;
        setLookupSearches({{},
                           [&] {
                               // A search dialog stacked on the lookup takes and hands back the activation.
                               ++searches;
                               QDialog search;
                               search.setObjectName("FMLnrsu");
                               QTimer::singleShot(0, &search, &QDialog::accept);
                               search.exec();
                               return QStringLiteral("70001");
                           },
                           {}});
        frmLookup d(r);
        d.start();
        QCOMPARE(d.cmbDatum[1]->text(), QStringLiteral("31.12.2026"));
        d.show();
        QCOMPARE(d.cmbDatum[1]->text(), QStringLiteral("  .  ."));
        QCOMPARE(d.cmbDatum[0]->text(), QStringLiteral("01.12.2026"));
        QCOMPARE(d.cmbParam[0]->count(), 5);
        d.cmbDatum[1]->setDate(QDate(2026, 12, 24));
        QTest::mouseClick(d.b_LNRSuche, Qt::LeftButton);
        QCOMPARE(searches, 1);
        QCOMPARE(d.txtParam[4]->text(), QStringLiteral("70001"));
        d.hide();
        d.show();
        QCOMPARE(d.cmbParam[0]->count(), 5);
        QCOMPARE(d.cmbDatum[1]->date(), QDate(2026, 12, 24));
    }

    // ---- Number searches --------------------------------------------------------------

    void searchButtonsFillTheirBox_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("found");
        QTest::newRow("customer") << 0 << "4711";
        QTest::newRow("supplier") << 1 << "70001";
        QTest::newRow("article") << 2 << "100007";
        QTest::newRow("customer search closed without a pick") << 0 << "";
    }

    void searchButtonsFillTheirBox()
    {
        QFETCH(int, which);
        QFETCH(QString, found);
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r = fakeRequest(fake, numberedRows(2, {"A", "B", "C", "D", "E", "F"}));
        r.P2 = "1234";
        r.P4 = "1234";
        r.P6 = "1234";
        r.KNRParameter = 1;
        r.LNRParameter = 3;
        r.ANRParameter = 5;
        QStringList called;
        setLookupSearches({[&] { return called << "customer", found; },
                           [&] { return called << "supplier", found; },
                           [&] { return called << "article", found; }});
        frmLookup d(r);
        d.start();
        d.show();
        QPushButton* buttons[] = {d.b_KNRSuche, d.b_LNRSuche, d.b_ANRSuche};
        const int positions[] = {1, 3, 5};
        QTest::mouseClick(buttons[which], Qt::LeftButton);
        QCOMPARE(called, QStringList{(QStringList{"customer", "supplier", "article"}[which])});
        QCOMPARE(d.txtParam[positions[which]]->text(), found);
        // No search follows; the user presses Enter.
        QCOMPARE(fake->log.executed.size(), 1);
    }

    void searchButtonWithoutLauncherLeavesTheBox()
    {
        auto fake = std::make_shared<FakeFactory>();
        LookupRequest r = fakeRequest(fake, numberedRows(2, {"A", "B"}));
        r.P2 = "4711";
        r.KNRParameter = 1;
        frmLookup d(r);
        d.start();
        d.show();
        QTest::mouseClick(d.b_KNRSuche, Qt::LeftButton);
        QCOMPARE(d.txtParam[1]->text(), QStringLiteral("4711"));
    }

    // ---- The list ---------------------------------------------------------------------

    void keyColumnIsHiddenAndChosenRowReturnsItsKey()
    {
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"Nr", "Id", "Name"}, 2, {{"1", "a||1", "Eins"}, {"2", "a||2", "Zwei"}}};
        frmLookup d(fakeRequest(fake, def));
        d.start();
        d.show();
        QCOMPARE(d.ListView1->columnCount(), 2);
        QCOMPARE(d.ListView1->headerItem()->text(0), QStringLiteral("Nr"));
        QCOMPARE(d.ListView1->headerItem()->text(1), QStringLiteral("Name"));
        QCOMPARE(d.state().IdColumn, 2);
        QCOMPARE(d.ListView1->accessibleName(), QStringLiteral("Suchergebnis"));
        QTreeWidget* list = d.ListView1;
        const QPoint row = list->visualItemRect(list->topLevelItem(1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.state().Result, QStringLiteral("a||2"));
    }

    void sortingKeepsEachKeyWithItsRow()
    {
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"ID", "Name", "Ort"}, 1, {}};
        const QStringList names = {"Fuchs", "Bauer", "Dietz", "Albers", "Ernst", "Cramer"};
        for (const QString& n : names)
            def.rows << QStringList{"key-" + n, n, "Ort " + QString::number(names.indexOf(n))};
        frmLookup d(fakeRequest(fake, def, 3));
        d.start();
        d.show();
        clickHeader(d.ListView1, 0);
        QCOMPARE(columnTexts(d.ListView1, 0), (QStringList{"Bauer", "Dietz", "Fuchs"}));
        // A second click sorts the same way again.
        clickHeader(d.ListView1, 0);
        QCOMPARE(columnTexts(d.ListView1, 0), (QStringList{"Bauer", "Dietz", "Fuchs"}));
        // Rows of the next page are sorted in.
        QTest::mouseClick(d.cmdMore, Qt::LeftButton);
        QCOMPARE(columnTexts(d.ListView1, 0),
                 (QStringList{"Albers", "Bauer", "Cramer", "Dietz", "Ernst", "Fuchs"}));
        d.ListView1->setCurrentItem(d.ListView1->topLevelItem(2));
        QTest::mouseClick(d.cmdSelect, Qt::LeftButton);
        QCOMPARE(d.state().Result, QStringLiteral("key-Cramer"));
    }

    void sortingByKind()
    {
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"ID", "Nr", "Datum", "Betrag", "Beleg"}, 1, {}};
        def.rows << QStringList{"k1", "10", "1230101", "10022.37", "2004/10"}
                 << QStringList{"k2", "9", "1220803", "1361.13", "2004/9"}
                 << QStringList{"k3", "100", "1250707", "-5", "2004/100"}
                 << QStringList{"k4", "", "", "", ""};
        LookupRequest r = fakeRequest(fake, def);
        r.DatumFeld1 = 2;
        r.FeldUmwandl1 = 3;
        r.FeldUmwandl1Type = 14;
        frmLookup d(r);
        d.start();
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        auto keys = [&] {
            QStringList k;
            for (int i = 0; i < d.ListView1->topLevelItemCount(); ++i)
                k << d.keyOf(d.ListView1->topLevelItem(i));
            return k;
        };
        // Shift+F10 on the list offers every column; cells without a value come first.
        d.ListView1->setFocus();
        typeKey(Qt::Key_F10, Qt::ShiftModifier);
        typeKey(Qt::Key_Down);
        typeKey(Qt::Key_Return);
        QCOMPARE(columnTexts(d.ListView1, 0), (QStringList{"", "9", "10", "100"}));
        QCOMPARE(keys(), (QStringList{"k4", "k2", "k1", "k3"}));
        d.sortByColumn(1);
        QCOMPARE(columnTexts(d.ListView1, 1), (QStringList{"", "03.08.2022", "01.01.2023", "07.07.2025"}));
        d.sortByColumn(2);
        QCOMPARE(columnTexts(d.ListView1, 2), (QStringList{"", "-5,00", "1.361,13", "10.022,37"}));
        QCOMPARE(keys(), (QStringList{"k4", "k3", "k2", "k1"}));
        // Texts that are no numbers sort as shown.
        d.sortByColumn(3);
        QCOMPARE(columnTexts(d.ListView1, 3), (QStringList{"", "2004/10", "2004/100", "2004/9"}));
    }

    void columnWidths()
    {
        const QString longHeader = "Ausführliche Bezeichnung der Baustelle mit Anschrift";
        const QString longValue = "Neubau Kindergarten Sonnenstraße, zweiter Bauabschnitt mit Außenanlagen";
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"ID", "Nr", longHeader, "Datum", "Ort"}, 1, {}};
        def.rows << QStringList{"k1", longValue, "x", "1040315", "Ulm"}
                 << QStringList{"k2", "1", "y", "", "Au"};
        LookupRequest r = fakeRequest(fake, def);
        r.DatumFeld1 = 3;
        frmLookup d(r);
        d.start();
        d.show();
        const QList<qint32>& widths = d.state().ColumnWidths;
        QVERIFY(measure(&d, longHeader) > 1500);
        QCOMPARE(widths[1], 1500);
        QCOMPARE(widths[2], measure(&d, longHeader));
        QCOMPARE(widths[3], qMax(measure(&d, "Datum"), qBound(250, measure(&d, "15.03.200499xX"), 1500)));
        QCOMPARE(widths[4], qMax(measure(&d, "Ort"), qBound(250, measure(&d, "UlmxX"), 1500)));
        for (int c = 0; c < 4; ++c)
            QCOMPARE(twips(d.ListView1->columnWidth(c)), double(widths[c + 1]));
        // Date numbers show in the short date form; a value that is none stays as it came.
        QCOMPARE(columnTexts(d.ListView1, 2), (QStringList{"15.03.2004", ""}));
        // Widths never shrink while the dialog is open.
        const QList<qint32> before = widths;
        pressEnter(d.txtParam[0]);
        QCOMPARE(d.state().ColumnWidths, before);
        // In a larger font the texts are measured anew, not taken from the earlier font.
        QFont larger = d.font();
        larger.setPointSizeF(larger.pointSizeF() * 2);
        d.setFont(larger);
        pressEnter(d.txtParam[0]);
        QVERIFY(measure(&d, "UlmxX") > before[4]);
        QCOMPARE(d.state().ColumnWidths[4], measure(&d, "UlmxX"));
    }

    void headerWidthsWithoutRows()
    {
        auto fake = std::make_shared<FakeFactory>();
        const QStringList headers{"Nummer des Belegs", "Name", "Ort"};
        frmLookup d(fakeRequest(fake, {{"Firma"}, QStringList{"ID"} + headers, 1, {}}));
        d.start();
        QCOMPARE(d.ListView1->topLevelItemCount(), 0);
        const int least = d.ListView1->header()->minimumSectionSize();
        for (int c = 0; c < headers.size(); ++c) {
            QCOMPARE(d.state().ColumnWidths[c + 1], measure(&d, headers[c]));
            QCOMPARE(d.ListView1->columnWidth(c), qMax(least, Twips::toPixels(measure(&d, headers[c]))));
        }
    }

    void cellAsItsHeaderIsMeasuredWithTheMargin()
    {
        // The header is measured alone, the same text as a cell with "xX" behind it.
        auto fake = std::make_shared<FakeFactory>();
        frmLookup d(fakeRequest(fake, {{"Firma"}, {"ID", "Ort"}, 1, {{"k1", "Ort"}}}));
        d.start();
        QVERIFY(measure(&d, "OrtxX") > qMax(250, measure(&d, "Ort")));
        QCOMPARE(d.state().ColumnWidths[1], qMin(1500, measure(&d, "OrtxX")));
    }

    void widthsAcrossDialogs()
    {
        // Widths measured for one dialog serve the next only in the same font: two dialogs open
        // side by side in different fonts each keep widths of their own font.
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"ID", "Ort"}, 1, {{"k1", "Ulm"}, {"k2", "Au"}}};
        const LookupRequest r = fakeRequest(fake, def);
        frmLookup small(r);
        small.start();
        frmLookup large(r);
        QFont font = large.font();
        font.setPointSizeF(font.pointSizeF() * 2);
        large.setFont(font);
        large.start();
        QVERIFY(measure(&large, "UlmxX") > measure(&small, "UlmxX"));
        QCOMPARE(large.state().ColumnWidths[1], qMax(measure(&large, "Ort"), measure(&large, "UlmxX")));
        pressEnter(small.txtParam[0]);
        QCOMPARE(small.state().ColumnWidths[1],
                 qMax(measure(&small, "Ort"), qBound(250, measure(&small, "UlmxX"), 1500)));
        frmLookup again(r);
        again.start();
        QCOMPARE(again.state().ColumnWidths, small.state().ColumnWidths);
    }

    void dateInTheFirstDisplayColumn()
    {
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"ID", "Datum"}, 1, {{"k1", "1261224"}}};
        LookupRequest r = fakeRequest(fake, def);
        r.DatumFeld1 = 1;
        frmLookup d(r);
        d.start();
        QCOMPARE(d.ListView1->topLevelItem(0)->text(0), QStringLiteral("24.12.2026"));
    }

    void conversionsInTheList()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok).answer(QMessageBox::Ok).answer(QMessageBox::Ok);
        QVERIFY(loginAsDemoUser());
        auto fake = std::make_shared<FakeFactory>();
        // The building-site column stands left of its account column.
        FakeQueryDef def{{"Firma"}, {"ID", "Baustelle", "Kunde", "Währung", "Betrag"}, 1, {}};
        def.rows << QStringList{"k1", "1", "004711", "XXX", "1234.5"}
                 << QStringList{"k2", "1", "4712", "EUR", "7"}
                 << QStringList{"k3", "1", "4711", "XXX", "12345678.9"};
        LookupRequest r = fakeRequest(fake, def);
        r.FeldUmwandl1 = 1;
        r.FeldUmwandl1Type = 10;
        r.FeldUmwandl2 = 2;
        r.FeldUmwandl2Type = 11;
        r.FeldUmwandl3 = 3;
        r.FeldUmwandl3Type = 8;
        frmLookup d(r);
        d.start();
        QTreeWidget* list = d.ListView1;
        QCOMPARE(columnTexts(list, 0),
                 (QStringList{"", "Neubau Kindergarten Sonnenstraße", "Dachsanierung Schloß Weißenstein"}));
        QCOMPARE(columnTexts(list, 1),
                 (QStringList{"4711 / Bauunternehmung Müller & Söhne GmbH", "4712 / Dachdeckerei Weiß e.K.",
                              "4711 / Bauunternehmung Müller & Söhne GmbH"}));
        QCOMPARE(columnTexts(list, 2), (QStringList{"", "EUR", ""}));
        QCOMPARE(columnTexts(list, 3), (QStringList{"1234.5", "7", "12345678.9"}));
        QStringList operations;
        for (const MessageBox::Record& box : boxes.shown())
            operations << box.text.section('.', 0, 0);
        QCOMPARE(operations, (QStringList{"Vorgang: Lookup Fehler bei Feldumwandlung Type #10",
                                          "Vorgang: Lookup Fehler bei Feldumwandlung Type #8",
                                          "Vorgang: Lookup Fehler bei Feldumwandlung Type #8"}));
        QCOMPARE(d.state().LastAccount, 4711);
        // The row keys are the unconverted key column.
        QCOMPARE(d.state().RowKeys, (QStringList{"", "k1", "k2", "k3"}));
    }

    // The account cell is filled after the row's other cells, while its call is answered: a
    // failing account gives its one box and the prefix, and every cell of every row is filled.
    void accountColumnFilledLast()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        QVERIFY(loginAsDemoUser());
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"ID", "Nr", "Kunde", "Datum", "Ort"}, 1, {}};
        def.rows << QStringList{"k1", "1", "004711", "1040315", "Ulm"}
                 << QStringList{"k2", "2", "99", "1040316", "Au"}
                 << QStringList{"k3", "3", "4712", "", "Bonn"}
                 << QStringList{"k4", "4", "", "1040317", "Kiel"};
        LookupRequest r = fakeRequest(fake, def);
        r.FeldUmwandl1 = 2;
        r.FeldUmwandl1Type = 11;
        r.DatumFeld1 = 3;
        frmLookup d(r);
        d.start();
        QTreeWidget* list = d.ListView1;
        QCOMPARE(columnTexts(list, 1), (QStringList{"4711 / Bauunternehmung Müller & Söhne GmbH", "99 / ",
                                                    "4712 / Dachdeckerei Weiß e.K.", ""}));
        QCOMPARE(columnTexts(list, 0), (QStringList{"1", "2", "3", "4"}));
        QCOMPARE(columnTexts(list, 2), (QStringList{"15.03.2004", "16.03.2004", "", "17.03.2004"}));
        QCOMPARE(columnTexts(list, 3), (QStringList{"Ulm", "Au", "Bonn", "Kiel"}));
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY(boxes.lastText().startsWith("Vorgang: Lookup Fehler bei Feldumwandlung Type #11."));
        QCOMPARE(d.state().LastAccount, 0);
        const QList<qint32>& widths = d.state().ColumnWidths;
        QCOMPARE(widths[2], qBound(250, measure(&d, "4711 / Bauunternehmung Müller & Söhne GmbHxX"), 1500));
    }

    void nextRowsAccountIsOpenedAhead()
    {
        // While a row's name call travels, the next row's account open goes with it; a next
        // value that is no account number is not opened.
        struct Watching : ForwardingFactory
        {
            using ForwardingFactory::ForwardingFactory;
            QStringList ahead;
            std::unique_ptr<cacheclient::PendingObject> openIdAhead(const QString& className,
                                                                    const QString& id) override
            {
                ahead << id;
                return m_inner->openIdAhead(className, id);
            }
        };
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        QVERIFY(loginAsDemoUser());
        auto watching = std::make_shared<Watching>(session().Factory);
        session().Factory = watching;
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"ID", "Nr", "Kunde"}, 1, {}};
        def.rows << QStringList{"k1", "1", "004711"} << QStringList{"k2", "2", "4712"}
                 << QStringList{"k3", "3", "99"} << QStringList{"k4", "4", ""};
        def.holdsNextRow = true;
        LookupRequest r = fakeRequest(fake, def);
        r.FeldUmwandl1 = 2;
        r.FeldUmwandl1Type = 11;
        frmLookup d(r);
        d.start();
        QCOMPARE(watching->ahead, (QStringList{"1||K||4712", "1||K||99"}));
        QCOMPARE(columnTexts(d.ListView1, 1), (QStringList{"4711 / Bauunternehmung Müller & Söhne GmbH",
                                                           "4712 / Dachdeckerei Weiß e.K.", "99 / ", ""}));
        // The account that is not found is reported once, when its row takes it.
        QCOMPARE(boxes.shown().size(), 1);
    }

    void amountColumnIsRightAligned()
    {
        auto fake = std::make_shared<FakeFactory>();
        FakeQueryDef def{{"Firma"}, {"ID", "Nr", "Betrag"}, 1, {{"k1", "1", "1234.5"}, {"k2", "2", "-3"}}};
        LookupRequest r = fakeRequest(fake, def);
        r.FeldUmwandl2 = 2;
        r.FeldUmwandl2Type = 14;
        frmLookup d(r);
        d.start();
        QCOMPARE(columnTexts(d.ListView1, 1), (QStringList{"1.234,50", "-3,00"}));
        QVERIFY(d.ListView1->topLevelItem(0)->textAlignment(1) & Qt::AlignRight);
        QVERIFY(d.ListView1->headerItem()->textAlignment(1) & Qt::AlignRight);
        QVERIFY(!(d.ListView1->topLevelItem(0)->textAlignment(0) & Qt::AlignRight));
    }

    // ---- Failures after the dialog is open --------------------------------------------

    void failedSearchAgainIsReportedAndTheDialogStaysUsable()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        QVERIFY(loginAsDemoUser());
        LookupRequest r = siteRequest("4711");
        frmLookup d(r);
        d.start();
        d.show();
        QCOMPARE(d.ListView1->topLevelItemCount(), 3);
        d.txtParam[1]->setText("abc");
        pressEnter(d.txtParam[1]);
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY(boxes.lastText().startsWith("Vorgang: Lookup Abfrage XR.KundBau BaustellenAuswahl."));
        QVERIFY(d.isVisible());
        QCOMPARE(d.ListView1->topLevelItemCount(), 0);
        QCOMPARE(d.lblRecords->text(), QStringLiteral("No records found"));
        QVERIFY(!d.state().Busy);
        d.txtParam[1]->setText("4712");
        pressEnter(d.txtParam[1]);
        QCOMPARE(d.ListView1->topLevelItemCount(), 1);
        QCOMPARE(d.keyOf(d.ListView1->topLevelItem(0)), QStringLiteral("1||4712||1"));
    }

    void lostConnectionIsReportedAndTheDialogStaysUsable()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        auto fake = std::make_shared<FakeFactory>();
        frmLookup d(fakeRequest(fake, numberedRows(3)));
        d.start();
        d.show();
        fake->onExecute = [](const QStringList&) {
            throw CacheError(cacheclient::ClientError::ConnectionLost, "Verbindung verloren");
        };
        pressEnter(d.txtParam[0]);
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY(boxes.lastText().startsWith("Vorgang: Lookup Abfrage XR.Test Liste."));
        QCOMPARE(d.ListView1->topLevelItemCount(), 0);
        QVERIFY(!d.cmdMore->isVisible());
        QVERIFY(d.isVisible());
        fake->onExecute = nullptr;
        pressEnter(d.txtParam[0]);
        QCOMPARE(d.ListView1->topLevelItemCount(), 3);
    }

    void searchAfterTheIdleDisconnectReconnects()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        const int connects = demoServer().connectCount();
        frmLookup d(siteRequest("4711"));
        d.start();
        d.show();
        CacheDisconnect();
        d.txtParam[1]->setText("4712");
        pressEnter(d.txtParam[1]);
        QCOMPARE(d.ListView1->topLevelItemCount(), 1);
        QCOMPARE(d.keyOf(d.ListView1->topLevelItem(0)), QStringLiteral("1||4712||1"));
        QCOMPARE(demoServer().connectCount(), connects + 1);
        QVERIFY(boxes.shown().isEmpty());
    }

    void everyDemoSearch_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("account");
        QTest::addColumn<int>("params");
        QTest::newRow("AU orders") << "AU"
                                   << "4711" << 6;
        QTest::newRow("RE invoices") << "RE"
                                     << "4711" << 6;
        QTest::newRow("BE purchase orders") << "BE"
                                            << "70001" << 5;
        QTest::newRow("ER incoming invoices") << "ER"
                                              << "" << 9;
        QTest::newRow("AG offers") << "AG"
                                   << "4711" << 5;
        QTest::newRow("building sites") << "BAU"
                                        << "4711" << 3;
    }

    void everyDemoSearch()
    {
        QFETCH(QString, code);
        QFETCH(QString, account);
        QFETCH(int, params);
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        LookupRequest r = code == "BAU" ? siteRequest(account) : documentRequest(code, account);
        frmLookup d(r);
        d.start();
        d.show();
        QCOMPARE(d.state().ParamCount, params);
        QVERIFY(d.ListView1->topLevelItemCount() > 0);
        QCOMPARE(d.windowTitle(), r.Title);
        if (d.cmdMore->isVisible()) {
            QTest::mouseClick(d.cmdMore, Qt::LeftButton);
            QVERIFY(d.ListView1->topLevelItemCount() > lookup::pageSize(r.Maxitems));
        }
        pressEnter(d.txtParam[0]);
        const int rows = d.ListView1->topLevelItemCount();
        QVERIFY(rows > 0);
        QVERIFY(rows <= lookup::pageSize(r.Maxitems));
        clickHeader(d.ListView1, 0);
        const QStringList sorted = columnTexts(d.ListView1, 0);
        QStringList expected = sorted;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(sorted, expected);
        QTreeWidgetItem* last = d.ListView1->topLevelItem(rows - 1);
        d.ListView1->setCurrentItem(last);
        const QString key = d.keyOf(last);
        QVERIFY(key.startsWith(session().Firma + "||"));
        QTest::mouseClick(d.cmdSelect, Qt::LeftButton);
        QCOMPARE(d.state().Result, key);
        QVERIFY(boxes.shown().isEmpty());
    }

    void invoiceKeyCarriesNumberAndDate()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        LookupRequest r = documentRequest("RE", "4711");
        r.P4 = "";
        r.P5 = "07.05.2024";
        r.CmbType1 = 3;
        QString key;
        ShowWatch watch([&](frmLookup* d) {
            QTreeWidget* list = d->ListView1;
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                if (list->topLevelItem(i)->text(0) == "200001")
                    list->setCurrentItem(list->topLevelItem(i));
            QTest::mouseClick(d->cmdSelect, Qt::LeftButton);
        });
        key = Lookup(r);
        QCOMPARE(key, QStringLiteral("1||0||RE||4711||1240507||3||200001"));
    }
};

QTEST_MAIN(TestLookupDialog)
#include "TestLookupDialog.moc"
