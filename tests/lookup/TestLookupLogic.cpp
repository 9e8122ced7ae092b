// The lookup dialog's plain parts: slots and arguments, paging figures and count texts, the
// choice lists and the column conversions (against the in-process demo server).
#include "FakeErp.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "lookup/LookupLogic.h"
#include "widgets/Clock.h"

#include <QLocale>
#include <QTest>
#include <cmath>
#include <cstring>

using namespace lookup;

class TestLookupLogic : public QObject
{
    Q_OBJECT

    MockClock m_clock;

private slots:
    void initTestCase() { Clock::setInstance(&m_clock); }
    // The session's connection goes before the demo server it belongs to.
    void cleanupTestCase() { resetProgramState(); }

    void init()
    {
        resetProgramState();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void omittedFieldsAreUnused()
    {
        const Slots s = slotsOf(LookupRequest{});
        for (int n = 0; n < SlotCount; ++n) {
            QCOMPARE(s.datumFeld[n], -1);
            QCOMPARE(s.datumParameter[n], -1);
            QCOMPARE(s.cmbParam[n], -1);
            QCOMPARE(s.feldUmwandl[n], -1);
            QCOMPARE(s.feldUmwandlType[n], -1);
        }
        QCOMPARE(s.knrParameter, -1);
        QVERIFY(!s.isDateColumn(0));
        QCOMPARE(s.conversionType(1), -1);
        QCOMPARE(s.dateSlotAt(0), -1);
    }

    void slotsKeepTheirConventions()
    {
        LookupRequest r;
        r.DatumFeld2 = 6;      // display column
        r.DatumParameter3 = 8; // position
        r.CmbParam1 = 0;
        r.FeldUmwandl2 = 3;
        r.FeldUmwandl2Type = 12;
        r.KNRParameter = 9; // no such position
        r.LNRParameter = 4;
        const Slots s = slotsOf(r);
        QVERIFY(s.isDateColumn(6));
        QVERIFY(!s.isDateColumn(8));
        QCOMPARE(s.dateSlotAt(8), 2);
        QCOMPARE(s.dateSlotAt(6), -1);
        QCOMPARE(s.choiceSlotAt(0), 0);
        QCOMPARE(s.conversionType(3), 12);
        QCOMPARE(s.knrParameter, -1);
        QCOMPARE(s.lnrParameter, 4);
    }

    void initialArguments_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("passed");
        QTest::newRow("date") << "15.03.2004"
                              << "1040315";
        QTest::newRow("two-digit year") << "07.05.24"
                                        << "1240507";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("minus one") << "-1"
                                   << "";
        QTest::newRow("empty mask") << "  .  ."
                                    << "";
    }

    void initialArguments()
    {
        QFETCH(QString, given);
        QFETCH(QString, passed);
        LookupRequest r;
        r.P1 = "1";
        r.P5 = given;
        r.P9 = "15.03.2004";
        r.DatumParameter1 = 4;
        const QStringList args = lookup::initialArguments(r);
        QCOMPARE(args.size(), 9);
        QCOMPARE(args[4], passed);
        QCOMPARE(args[0], QStringLiteral("1"));
        // Only a date slot's position is converted; the caller's texts stay for display.
        QCOMPARE(args[8], QStringLiteral("15.03.2004"));
        QCOMPARE(displayValues(r)[4], given);
    }

    void pageSize_data()
    {
        QTest::addColumn<int>("maxitems");
        QTest::addColumn<int>("rows");
        QTest::newRow("0 means 100") << 0 << 100;
        QTest::newRow("negative") << -5 << 100;
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("25") << 25 << 25;
        QTest::newRow("16-bit top") << 32767 << 32767;
        QTest::newRow("beyond 16 bits") << 70000 << 32767;
    }

    void pageSize()
    {
        QFETCH(int, maxitems);
        QFETCH(int, rows);
        QCOMPARE(lookup::pageSize(maxitems), rows);
    }

    void paramRows_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("rows");
        for (const auto& [count, rows] : std::initializer_list<std::pair<int, int>>{
                 {0, 0}, {1, 1}, {3, 1}, {4, 2}, {6, 2}, {7, 3}, {9, 3}, {12, 3}})
            QTest::addRow("%d parameters", count) << count << rows;
    }

    void paramRows()
    {
        QFETCH(int, count);
        QFETCH(int, rows);
        QCOMPARE(lookup::paramRows(count), rows);
    }

    void countText_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("more");
        QTest::addColumn<QString>("text");
        QTest::newRow("more rows") << 100 << true << "Mehr als 100 Einträge gefunden";
        QTest::newRow("none") << 0 << false << "No records found";
        QTest::newRow("one") << 1 << false << "1 record found";
        QTest::newRow("one and more") << 1 << true << "Mehr als 1 Einträge gefunden";
        QTest::newRow("37") << 37 << false << "37 Einträge gefunden";
    }

    void countText()
    {
        QFETCH(int, rows);
        QFETCH(bool, more);
        QFETCH(QString, text);
        QCOMPARE(lookup::countText(rows, more), text);
    }

    void choiceCode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("code");
        QTest::newRow("state") << "1 offen"
                               << "1";
        QTest::newRow("two of code 3") << "3 übergeleitet"
                                       << "3";
        QTest::newRow("letters") << "AU Auftrag"
                                 << "AU";
        QTest::newRow("typed code") << "1"
                                    << "1";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("leading blank") << " 2 erledigt"
                                       << "";
    }

    void choiceCode()
    {
        QFETCH(QString, text);
        QFETCH(QString, code);
        QCOMPARE(lookup::choiceCode(text), code);
    }

    void fixedChoiceLists_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("0") << 0
                           << QStringList{"0 generiert", "1 erfasst", "2 gedruckt", "3 geändert",
                                          "3 übergeleitet"};
        QTest::newRow("1") << 1 << QStringList{"1 offen", "2 erledigt"};
        QTest::newRow("2") << 2
                           << QStringList{"1 erfasst", "2 kontrolliert", "3 gedruckt", "4 bezahlt",
                                          "5 belastet"};
        QTest::newRow("3") << 3
                           << QStringList{"1 erfasst", "2 gedruckt", "3 freigegeben", "4 fakturiert",
                                          "5 gedruckt"};
        QTest::newRow("4") << 4 << QStringList{"AU Auftrag", "RE Rechnung"};
        QTest::newRow("6") << 6 << QStringList{"1 OP", "8 Bankeinzug", "9 Sperre"};
        QTest::newRow("7") << 7 << QStringList{"1 Verrechnungsscheck", "2 Überweisung", "3 Wechsel",
                                               "4 Bankeinzug",         "5 Zession",     "7 DGD-Bank Baumarkt",
                                               "8 DGD-Bank Baustoff",  "9 Sperre"};
        QTest::newRow("9") << 9 << QStringList{"1 erfasst", "2 bestellt",  "3 überfällig",
                                               "4 urgiert", "5 teiloffen", "6 erledigt"};
        QTest::newRow("10 has none") << 10 << QStringList{};
        QTest::newRow("-1 has none") << -1 << QStringList{};
    }

    void fixedChoiceLists()
    {
        QFETCH(int, type);
        QFETCH(QStringList, items);
        QCOMPARE(fixedChoiceItems(type), items);
        QVERIFY(!isReadChoiceList(type));
    }

    void readChoiceLists()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        const QStringList departments = readChoiceItems(5);
        QVERIFY(departments.size() >= 10);
        QCOMPARE(departments.first(), QStringLiteral("1 Baustoffe"));
        // The ERP's 7-bit text arrives converted.
        QCOMPARE(departments[3], QStringLiteral("4 Sanitär"));
        QCOMPARE(readChoiceItems(8),
                 (QStringList{"CHF SFR", "CZK CZK", "EUR EUR", "GBP GBP", "PLN PLN", "USD USD"}));
        QVERIFY(idleTimerActive());
        QVERIFY(boxes.shown().isEmpty());
    }

    void failedReadListClosesAndEndsItsAccess()
    {
        auto fake = std::make_shared<FakeFactory>();
        fake->add("XR.ParABTNR", "ABTNR",
                  FakeQueryDef{{"Firma", "Abteilung"}, {"ABTNR", "Name"}, 0, {{"1", "x"}}});
        fake->onExecute = [](const QStringList&) { throw cacheclient::CacheError(5001, "Abbruch"); };
        session().Factory = fake;
        session().Firma = "1";
        QVERIFY_THROWS_EXCEPTION(cacheclient::CacheError, readChoiceItems(5));
        QCOMPARE(fake->log.created, 1);
        QCOMPARE(fake->log.closed, 1);
        QVERIFY(idleTimerActive());
    }

    void shortDatesShowTheFullYear()
    {
        QCOMPARE(shortDateText(QDate(2026, 11, 10)), QStringLiteral("10.11.2026"));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(shortDateText(QDate(2026, 11, 10)), QStringLiteral("11/10/2026"));
    }

    void plainNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value"); // NaN: no number
        const double none = qQNaN();
        QTest::newRow("whole") << "10022" << 10022.0;
        QTest::newRow("decimals") << " 1361.13 " << 1361.13;
        QTest::newRow("negative") << "-5" << -5.0;
        QTest::newRow("negative zero") << "-0" << 0.0;
        QTest::newRow("no leading zero") << "-.5" << -0.5;
        QTest::newRow("leading zeros") << "004711" << 4711.0;
        QTest::newRow("empty") << "" << none;
        QTest::newRow("document number") << "2004/000123" << none;
        QTest::newRow("exponent") << "1e5" << none;
        QTest::newRow("point only") << "." << none;
        QTest::newRow("15 digits") << "999999999999999" << 999999999999999.0;
        QTest::newRow("16 digits") << "9007199254740993" << 9007199254740992.0;
        QTest::newRow("plus sign") << "+7" << 7.0;
        QTest::newRow("sign only") << "-" << none;
        QTest::newRow("trailing point") << "+12." << 12.0;
        QTest::newRow("two points") << "1.2.3" << none;
        QTest::newRow("blank inside") << "12 3" << none;
        QTest::newRow("date") << "24.12.2023" << none;
        QTest::newRow("account with name") << "4711 / M\u00fcller" << none;
        QTest::newRow("digits of another script") << QString::fromUtf8("\u0661\u0662") << none;
        QTest::newRow("tenth") << "0.1" << 0.1;
        QTest::newRow("amount of a cent") << "-0.01" << -0.01;
        QTest::newRow("negative zero amount") << "-0.00" << 0.0;
        QTest::newRow("15 digits with decimals") << "1234567890.12345" << 1234567890.12345;
        QTest::newRow("16 digits with decimals") << "12345678901.23457" << 12345678901.23457;
        QTest::newRow("decimals beyond 15 digits") << "0.1000000000000000055511151231257827" << 0.1;
    }

    void plainNumbersAsTheGeneralConversion()
    {
        // Amounts as lists show them: every result is the general conversion's, bit for bit.
        quint64 seed = 12345;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            const int decimals = int(seed >> 60) % 6;
            const qint64 digits = qint64((seed >> 8) % 1000000000000000ULL) >> (seed >> 58 & 31);
            QString text = QString::number(digits).rightJustified(decimals + 1, u'0');
            if (decimals > 0)
                text.insert(text.size() - decimals, u'.');
            if (seed & 1)
                text.prepend(u'-');
            const std::optional<double> number = plainNumber(text);
            const double expected = text.toDouble();
            QVERIFY2(number && std::memcmp(&*number, &expected, sizeof(double)) == 0, qPrintable(text));
        }
    }

    void plainNumbers()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        const std::optional<double> number = plainNumber(text);
        QCOMPARE(number.has_value(), !qIsNaN(value));
        if (number) {
            QCOMPARE(*number, value);
            // The sign of a zero is kept, as the general conversion keeps it.
            QCOMPARE(std::signbit(*number), std::signbit(text.trimmed().toDouble()));
        }
    }

    void cellsWithoutValueSortFirst()
    {
        const QVariant none;
        QVERIFY(sortsBefore(SortKind::Number, none, "", 1.0, "1"));
        QVERIFY(!sortsBefore(SortKind::Number, 1.0, "1", none, ""));
        QVERIFY(sortsBefore(SortKind::Number, 9.0, "9", 10.0, "10"));
        QVERIFY(
            sortsBefore(SortKind::Date, QDate(2022, 8, 3), "03.08.2022", QDate(2023, 1, 1), "01.01.2023"));
        QVERIFY(sortsBefore(SortKind::Date, none, "", none, "x"));
        QVERIFY(sortsBefore(SortKind::Text, 10.0, "10", 9.0, "9"));
    }

    void conversions_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("lastAccount");
        QTest::newRow("none") << -1 << "004711"
                              << "004711" << 0;
        QTest::newRow("customer") << 11 << "004711"
                                  << "4711 / Bauunternehmung Müller & Söhne GmbH" << 4711;
        QTest::newRow("supplier") << 12 << "70001"
                                  << "70001 / Baustoffwerke Schwäbisch Hall GmbH" << 70001;
        QTest::newRow("currency") << 8 << "CHF"
                                  << "SFR" << 0;
        QTest::newRow("last four") << 13 << "2004/000123"
                                   << "0123" << 0;
        QTest::newRow("last four of short") << 13 << "12"
                                            << "12" << 0;
        QTest::newRow("amount") << 14 << "1234.5"
                                << "1.234,50" << 0;
        QTest::newRow("large amount") << 14 << "12345678.9"
                                      << "12.345.678,90" << 0;
        QTest::newRow("negative amount") << 14 << "-0.5"
                                         << "-0,50" << 0;
        QTest::newRow("amount that is no number") << 14 << "n/a"
                                                  << "n/a" << 0;
        QTest::newRow("unknown type") << 9 << "abc"
                                      << "" << 0;
        QTest::newRow("customer without number") << 11 << ""
                                                 << "" << 0;
    }

    void conversions()
    {
        QFETCH(int, type);
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QFETCH(int, lastAccount);
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        qint32 account = 0;
        QCOMPARE(convertField(type, value, account), shown);
        QCOMPARE(account, lastAccount);

        // Started with the next row's account behind it and finished later, it gives the same.
        qint32 started = 0;
        const auto pending = startConversion(type, value, started, QStringLiteral("70001"));
        QCOMPARE(started, lastAccount);
        QCOMPARE(pending->finish(), shown);
        QCOMPARE(pending->finish(), shown);
        QCOMPARE(convertField(12, "70001", started),
                 QStringLiteral("70001 / Baustoffwerke Schwäbisch Hall GmbH"));
        QCOMPARE(boxes.shown().size(), 0);
    }

    void conversionDroppedUnfinishedEndsItsAccess()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        qint32 account = 0;
        startConversion(11, "004711", account, QStringLiteral("004712")).reset();
        dropConversionAhead();
        QCOMPARE(convertField(8, "CHF", account), QStringLiteral("SFR"));
        QCOMPARE(convertField(11, "004712", account).section(" / ", 0, 0), QStringLiteral("4712"));
        QCOMPARE(boxes.shown().size(), 0);
    }

    void buildingSiteUsesTheLastAccount()
    {
        ScriptedBoxes boxes;
        QVERIFY(loginAsDemoUser());
        qint32 account = 4711;
        QCOMPARE(convertField(10, "2", account), QStringLiteral("Sanierung Rathaus"));
        account = 4712;
        QCOMPARE(convertField(10, "1", account), QStringLiteral("Dachsanierung Schloß Weißenstein"));
        QCOMPARE(account, 4712);
    }

    void failedConversionReportsAndLeavesTheCellEmpty_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("currency") << 8 << "XXX"
                                  << "";
        QTest::newRow("building site") << 10 << "9"
                                       << "";
        QTest::newRow("customer") << 11 << "99"
                                  << "99 / ";
        QTest::newRow("supplier") << 12 << "4711"
                                  << "4711 / ";
    }

    void failedConversionReportsAndLeavesTheCellEmpty()
    {
        QFETCH(int, type);
        QFETCH(QString, value);
        QFETCH(QString, shown);
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        QVERIFY(loginAsDemoUser());
        qint32 account = 4711;
        QCOMPARE(convertField(type, value, account), shown);
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY(boxes.lastText().startsWith(
            QStringLiteral("Vorgang: Lookup Fehler bei Feldumwandlung Type #%1.").arg(type)));
        // The next access works.
        QCOMPARE(convertField(8, "EUR", account), QStringLiteral("EUR"));
        // Started and finished later: one box, the same text.
        boxes.answer(QMessageBox::Ok);
        QCOMPARE(startConversion(type, value, account)->finish(), shown);
        QCOMPARE(boxes.shown().size(), 2);
        QCOMPARE(convertField(8, "EUR", account), QStringLiteral("EUR"));
    }
};

QTEST_MAIN(TestLookupLogic)
#include "TestLookupLogic.moc"
