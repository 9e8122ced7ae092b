// Customer and supplier searches against the in-process demo server.
#include "ServerHooks.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "search/FMKnrsu.h"
#include "search/FMLnrsu.h"
#include "search/SearchTermField.h"
#include "widgets/Clock.h"
#include "widgets/ScreenPointer.h"
#include "widgets/Twips.h"
#include "widgets/VirtualList.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

namespace {

QString cell(VirtualList* list, int row, int column, int role = Qt::DisplayRole)
{
    const QVariant value = list->model()->data(list->model()->index(row - 1, column - 1), role);
    return role == Qt::BackgroundRole ? value.value<QBrush>().color().name() : value.toString();
}

QStringList headings(VirtualList* list)
{
    QStringList texts;
    for (int c = 0; c < list->model()->columnCount(); ++c)
        texts << list->model()->headerData(c, Qt::Horizontal).toString();
    return texts;
}

// Headings whole, number, short name and postcode of every row whole, and the columns within
// the list's width at the dialog's own size.
void checkColumnsFit(VirtualList* list, const AccountRowStore& rows, int count)
{
    QVERIFY(QTest::qWaitForWindowExposed(list->window()));
    QCoreApplication::processEvents();
    const QFontMetrics metrics(list->font());
    int total = 0;
    for (int c = 1; c <= 6; ++c)
        total += list->columnWidthPixels(c);
    QVERIFY2(total <= list->viewport()->width(),
             qPrintable(QStringLiteral("%1 > %2").arg(total).arg(list->viewport()->width())));
    QVERIFY(!list->horizontalScrollBar()->isVisible());
    for (int c = 1; c <= 5; ++c)
        QVERIFY(list->columnWidthPixels(c) >= list->horizontalHeader()->sectionSizeHint(c - 1));
    for (int r = 1; r <= count; ++r) {
        const AccountRow& row = rows[r];
        const QString whole[] = {row.Number, row.ShortName, QString(), row.PostCode};
        for (int c : {1, 2, 4})
            QVERIFY2(list->columnWidthPixels(c) > metrics.horizontalAdvance(whole[c - 1]) + 4,
                     qPrintable(whole[c - 1]));
    }
}

QString labelOf(QDialog& form, QWidget* input)
{
    for (QLabel* label : form.findChildren<QLabel*>())
        if (label->buddy() == input)
            return label->text();
    return QString();
}

void search(AccountSearchForm& form, const QString& term)
{
    form.SKBEZ->setText(term);
    QTest::mouseClick(form.BUSuch, Qt::LeftButton);
}

QStringList lastSearchArgs()
{
    for (auto it = hooks().queries.crbegin(); it != hooks().queries.crend(); ++it)
        if (it->name == QLatin1String("KkrSuche"))
            return it->args;
    return {};
}

} // namespace

class TestAccountSearch : public QObject
{
    Q_OBJECT

    MockClock m_clock;

private slots:
    void initTestCase()
    {
        Clock::setInstance(&m_clock);
        Twips::setLogicalDpi(96);
    }

    void cleanupTestCase()
    {
        resetProgramState();
        Twips::setLogicalDpi(0);
        Clock::setInstance(nullptr);
    }

    void init()
    {
        resetProgramState();
        hooks().reset();
        installHookedServer();
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        hooks().reset();
        ScreenPointer::clearHistory();
    }

    // ---- customer search ---------------------------------------------------------------

    void customerFormOnLoad()
    {
        ScriptedBoxes boxes;
        FMKnrsu form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Suche nach Kunden"));
        QCOMPARE(headings(form.KNRSULI),
                 (QStringList{"KundenNr.", "K Bezeichnung", "Name", "PLZ", "Straße", ""}));
        QCOMPARE(hooks().queries.size(), 1);
        QCOMPARE(hooks().queries.first().name, QStringLiteral("Gruppen"));
        QCOMPARE(hooks().queries.first().args, (QStringList{"1", "", "J"}));
        QCOMPARE(form.SKGRP->count(), 12); // the empty entry and the eleven active groups
        QCOMPARE(form.SKGRP->itemText(0), QString());
        QCOMPARE(form.SKGRP->itemText(7), QStringLiteral("7 | Bauunternehmen"));
        QCOMPARE(form.SKGRP->itemText(11), QStringLiteral("11 | Wiederverkäufer"));
        QCOMPARE(form.SKGRP->currentText(), QString());
        QCOMPARE(form.KNRSULI->rowCountValue(), 0);
        QCOMPARE(labelOf(form, form.SKBEZ), QStringLiteral("Kurzbezeichnung::"));
        QCOMPARE(labelOf(form, form.SKGRP), QStringLiteral("K Gruppe:"));
        QCOMPARE(form.KNRSULI->accessibleName(), QStringLiteral("Suchergebnis"));
        QCOMPARE(form.SKBEZ->maxLength(), 18);
    }

    void typedTermIsUpperCase()
    {
        ScriptedBoxes boxes;
        FMKnrsu form;
        QTest::keyClicks(form.SKBEZ, "mueller bau");
        QCOMPARE(form.SKBEZ->text(), QStringLiteral("MUELLER BAU"));
    }

    void emptyTermIsRefused_data()
    {
        QTest::addColumn<bool>("byEnter");
        QTest::newRow("button") << false;
        QTest::newRow("Enter in the field") << true;
    }
    void emptyTermIsRefused()
    {
        QFETCH(bool, byEnter);
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        FMKnrsu form;
        hooks().reset();
        if (byEnter)
            QTest::keyClick(form.SKBEZ, Qt::Key_Return);
        else
            QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Fehler: Suchbegriffseingabe"));
        QCOMPARE(boxes.shown().first().text,
                 QStringLiteral("Der Suchbegriff muss mindestens 1 Zeichen Lang sein"));
        QCOMPARE(boxes.shown().first().icon, QMessageBox::NoIcon);
        QCOMPARE(boxes.shown().first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(hooks().queries.isEmpty());
        QVERIFY(!ScreenPointer::history().contains(ScreenPointer::Hourglass));
    }

    void searchArguments_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("group");
        QTest::addColumn<bool>("byEnter");
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("groupArgument");
        QTest::newRow("all groups") << "MUELLER BAU" << 0 << false << "MUELLER BAU"
                                    << "";
        QTest::newRow("one-digit group, Enter") << "Müller" << 7 << true << "MUELLER"
                                                << "7 ";
        QTest::newRow("two-digit group") << "Weiß" << 10 << false << "WEISS"
                                         << "10";
        QTest::newRow("lengthened term is cut to 18") << "ÄÖÜÄÖÜÄÖÜÄÖÜ" << 0 << true << "AEOEUEAEOEUEAEOEUE"
                                                      << "";
    }
    void searchArguments()
    {
        QFETCH(QString, typed);
        QFETCH(int, group);
        QFETCH(bool, byEnter);
        QFETCH(QString, term);
        QFETCH(QString, groupArgument);
        ScriptedBoxes boxes;
        FMKnrsu form;
        form.SKGRP->setCurrentIndex(group);
        form.SKBEZ->setText(typed);
        if (byEnter)
            QTest::keyClick(form.SKBEZ, Qt::Key_Return);
        else
            QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(form.SKBEZ->text(), term);
        QCOMPARE(lastSearchArgs(), (QStringList{"1", "K", term, groupArgument}));
        QCOMPARE(ScreenPointer::history(),
                 (QList<ScreenPointer::Shape>{ScreenPointer::Hourglass, ScreenPointer::Arrow}));
    }

    void hitsFillTheRowsAndTheList()
    {
        ScriptedBoxes boxes;
        FMKnrsu form;
        QAbstractItemModelTester tester(form.KNRSULI->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        search(form, "MUELLER BAU");
        QCOMPARE(form.KNRSULI->rowCountValue(), 1);
        const AccountRow& row = CustomerRows[1];
        QCOMPARE(
            (QStringList{row.Number, row.ShortName, row.Name, row.Street}),
            (QStringList{"4711", "MUELLER BAU", "Bauunternehmung Müller & Söhne GmbH", "Hauptstraße 12"}));
        QCOMPARE(cell(form.KNRSULI, 1, 1), QStringLiteral("4711"));
        QCOMPARE(cell(form.KNRSULI, 1, 5), QStringLiteral("Hauptstraße 12"));
        QCOMPARE(cell(form.KNRSULI, 1, 6), QString());

        search(form, "W");
        QVERIFY(form.KNRSULI->rowCountValue() > 100);
        search(form, "XQ");
        QCOMPARE(form.KNRSULI->rowCountValue(), 0);
    }

    void columnsFitTheirContents_data()
    {
        QTest::addColumn<bool>("customers");
        QTest::addColumn<QString>("term");
        QTest::newRow("customers") << true << "M";
        QTest::newRow("suppliers") << false << "B";
    }

    void columnsFitTheirContents()
    {
        QFETCH(bool, customers);
        QFETCH(QString, term);
        ScriptedBoxes boxes;
        std::unique_ptr<AccountSearchForm> form;
        if (customers)
            form = std::make_unique<FMKnrsu>();
        else
            form = std::make_unique<FMLnrsu>();
        VirtualList* list = form->findChild<VirtualList*>(customers ? "KNRSULI" : "LNRSULI");
        form->show();
        checkColumnsFit(list, CustomerRows, 0);
        search(*form, term);
        const int n = list->rowCountValue();
        QVERIFY(n > 10);
        checkColumnsFit(list, customers ? CustomerRows : SupplierRows, n);
        // A wider dialog gives names and streets the room.
        const int cut = list->columnWidthPixels(3) + list->columnWidthPixels(5);
        const int others =
            list->columnWidthPixels(1) + list->columnWidthPixels(2) + list->columnWidthPixels(4);
        form->resize(form->width() + 200, form->height());
        QVERIFY(QTest::qWaitFor(
            [&] { return list->columnWidthPixels(3) + list->columnWidthPixels(5) >= cut + 190; }));
        QCOMPARE(list->columnWidthPixels(1) + list->columnWidthPixels(2) + list->columnWidthPixels(4),
                 others);
        checkColumnsFit(list, customers ? CustomerRows : SupplierRows, n);
    }

    void atMost500Rows()
    {
        ScriptedBoxes boxes; // no box for a cut list
        hooks().madeUpQuery = QStringLiteral("KkrSuche");
        hooks().madeUpRows = 750;
        FMKnrsu form;
        hooks().rowsFetched = 0;
        search(form, "A");
        QCOMPARE(form.KNRSULI->rowCountValue(), 500);
        QCOMPARE(hooks().rowsFetched, 500);
        QCOMPARE(CustomerRows[500].Number, QStringLiteral("500"));
        QCOMPARE(cell(form.KNRSULI, 500, 1), QStringLiteral("500"));
    }

    void rowColours()
    {
        ScriptedBoxes boxes;
        hooks().madeUpQuery = QStringLiteral("KkrSuche");
        hooks().madeUpRows = 4;
        FMKnrsu form;
        search(form, "A");
        const QString yellow = QColor(255, 255, 180).name();
        const QString white = QColor(255, 255, 255).name();
        for (int c = 1; c <= 6; ++c) {
            QCOMPARE(cell(form.KNRSULI, 1, c, Qt::BackgroundRole), yellow);
            QCOMPARE(cell(form.KNRSULI, 2, c, Qt::BackgroundRole), white);
            QCOMPARE(cell(form.KNRSULI, 3, c, Qt::BackgroundRole), yellow);
        }
    }

    void failedSearchKeepsTheRowCount()
    {
        ScriptedBoxes boxes;
        FMKnrsu form;
        search(form, "W");
        const int before = form.KNRSULI->rowCountValue();
        QVERIFY(before > 1);
        QVERIFY(CustomerRows[1].Number != QLatin1String("4711"));
        hooks().failingQuery = QStringLiteral("KkrSuche");
        hooks().failAfterRows = 1;
        boxes.answer(QMessageBox::Ok);
        search(form, "MUELLER");
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Caché Zugriffsfehler"));
        QVERIFY2(boxes.lastText().startsWith("Vorgang: Kundennummer Suche."), qPrintable(boxes.lastText()));
        QCOMPARE(form.KNRSULI->rowCountValue(), before);
        // The row read before the failure has replaced the former first row, on screen too.
        QVERIFY(CustomerRows[1].ShortName.startsWith(QLatin1String("MUELLER")));
        QCOMPARE(cell(form.KNRSULI, 1, 2), CustomerRows[1].ShortName);
        QCOMPARE(ScreenPointer::current(), ScreenPointer::Arrow);
    }

    void failedGroupListStillOpens()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        hooks().failingQuery = QStringLiteral("Gruppen");
        hooks().failAfterRows = 3;
        FMKnrsu form;
        QVERIFY2(boxes.lastText().startsWith("Vorgang: Kundengruppen für Kundensuche."),
                 qPrintable(boxes.lastText()));
        QCOMPARE(form.SKGRP->count(), 4);
        QCOMPARE(form.SKGRP->currentText(), QString());
        hooks().failingQuery.clear();
        search(form, "MUELLER BAU");
        QCOMPARE(form.KNRSULI->rowCountValue(), 1);
    }

    void clicksDuringASearchStartNoSecondOne()
    {
        ScriptedBoxes boxes;
        FMKnrsu form;
        form.SKBEZ->setText("MUELLER");
        int nested = 0;
        hooks().duringQuery = [&](const QString& name) {
            if (name != QLatin1String("KkrSuche") || nested++ > 0)
                return;
            QTest::mouseClick(form.BUSuch, Qt::LeftButton);
            QTest::keyClick(form.SKBEZ, Qt::Key_Return);
        };
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(hooks().queryNames().count("KkrSuche"), 1);
        QVERIFY(form.KNRSULI->rowCountValue() > 0);
        // Once it is over, the button works again.
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(hooks().queryNames().count("KkrSuche"), 2);
    }

    void pickClosesWithTheNumber()
    {
        ScriptedBoxes boxes;
        FMKnrsu form;
        form.show();
        search(form, "MUELLER BAU");
        form.KNRSULI->setCurrentRow(1);
        QTest::keyClick(form.KNRSULI, Qt::Key_Return);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
    }

    // ---- supplier search ---------------------------------------------------------------

    void supplierFormOnLoad()
    {
        ScriptedBoxes boxes;
        FMLnrsu form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Suche nach Lieferant"));
        QCOMPARE(headings(form.LNRSULI).first(), QStringLiteral("Lieferant.Nr."));
        QCOMPARE(hooks().queries.first().name, QStringLiteral("SaKontoBez"));
        QCOMPARE(hooks().queries.first().args, (QStringList{"1", "L", "", ""}));
        QCOMPARE(form.SSKTOK->count(), 3);
        QCOMPARE(form.SSKTOK->currentText(), QStringLiteral("033 | Lieferanten Inland"));
        QCOMPARE(form.SSKTOK->itemText(2), QStringLiteral("035 | Lieferanten Großhandel"));
        QCOMPARE(labelOf(form, form.SKBEZ), QStringLiteral("Kurzbezeichnung:"));
        QCOMPARE(labelOf(form, form.SSKTOK), QStringLiteral("SAKonto:"));
        QCOMPARE(form.LNRSULI->accessibleName(), QStringLiteral("Suchergebnis"));
    }

    void supplierSearchPassesTheBareAccountNumber()
    {
        ScriptedBoxes boxes;
        FMLnrsu form;
        search(form, "BAUSTOFFWERKE SCHW");
        QCOMPARE(lastSearchArgs(), (QStringList{"1", "L", "BAUSTOFFWERKE SCHW", "33"}));
        QVERIFY(form.LNRSULI->rowCountValue() >= 1);
        QCOMPARE(SupplierRows[1].Number, QStringLiteral("70001"));
        QCOMPARE(cell(form.LNRSULI, 1, 3), QStringLiteral("Baustoffwerke Schwäbisch Hall GmbH"));
    }

    void noAccountDeliveredSearchesAccountOne()
    {
        ScriptedBoxes boxes;
        hooks().emptyQuery = QStringLiteral("SaKontoBez");
        FMLnrsu form;
        QCOMPARE(form.SSKTOK->count(), 0);
        QCOMPARE(form.SSKTOK->currentText(), QString());
        search(form, "B");
        QCOMPARE(lastSearchArgs().value(3), QStringLiteral("1"));
    }

    void nonNumericAccountIsReported()
    {
        ScriptedBoxes boxes;
        FMLnrsu form;
        search(form, "BAUSTOFF");
        const int before = form.LNRSULI->rowCountValue();
        const QString first = SupplierRows[1].Number;
        QVERIFY(before > 0);
        form.SSKTOK->addItem(QStringLiteral("L1 | Sonderkonto"));
        form.SSKTOK->setCurrentIndex(form.SSKTOK->count() - 1);
        boxes.answer(QMessageBox::Ok);
        search(form, "MUELLER");
        QVERIFY2(boxes.lastText().startsWith("Vorgang: Suche Lieferantennummer."),
                 qPrintable(boxes.lastText()));
        QCOMPARE(hooks().queryNames().count("KkrSuche"), 1);
        QCOMPARE(form.LNRSULI->rowCountValue(), before);
        QCOMPARE(SupplierRows[1].Number, first);
    }

    void failedAccountListPreselectsNothing()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        hooks().failingQuery = QStringLiteral("SaKontoBez");
        hooks().failAfterRows = 1;
        FMLnrsu form;
        QVERIFY2(boxes.lastText().startsWith("Vorgang: Lieferantensuche: Lieferantenarten."),
                 qPrintable(boxes.lastText()));
        QCOMPARE(form.SSKTOK->count(), 1);
        QCOMPARE(form.SSKTOK->currentIndex(), -1);
    }

    void customerAndSupplierRowsAreSeparate()
    {
        ScriptedBoxes boxes;
        FMKnrsu customers;
        search(customers, "MUELLER BAU");
        FMLnrsu suppliers;
        search(suppliers, "BAUSTOFFWERKE SCHW");
        QCOMPARE(CustomerRows[1].Number, QStringLiteral("4711"));
        QCOMPARE(SupplierRows[1].Number, QStringLiteral("70001"));
        QCOMPARE(cell(customers.KNRSULI, 1, 1), QStringLiteral("4711"));
    }
};

QTEST_MAIN(TestAccountSearch)
#include "TestAccountSearch.moc"
