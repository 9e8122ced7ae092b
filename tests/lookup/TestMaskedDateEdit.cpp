// The masked date input: what it reads and shows, typing, and its calendar sheet.
#include "widgets/Clock.h"
#include "widgets/MaskedDateEdit.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

class TestMaskedDateEdit : public QObject
{
    Q_OBJECT

    MockClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(9, 0))};

private slots:
    void initTestCase() { Clock::setInstance(&m_clock); }
    void cleanupTestCase() { Clock::setInstance(nullptr); }

    void newControlIsEmpty()
    {
        MaskedDateEdit edit;
        QCOMPARE(edit.text(), QStringLiteral("  .  ."));
        QVERIFY(edit.isEmpty());
        QVERIFY(edit.date().isNull());
    }

    void setText_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::newRow("full date") << "15.03.2004"
                                   << "15.03.2004" << QDate(2004, 3, 15);
        QTest::newRow("short day and month") << "5.3.2004"
                                             << "05.03.2004" << QDate(2004, 3, 5);
        QTest::newRow("two-digit year 04") << "15.03.04"
                                           << "15.03.2004" << QDate(2004, 3, 15);
        QTest::newRow("two-digit year 85") << "01.01.85"
                                           << "01.01.1985" << QDate(1985, 1, 1);
        QTest::newRow("blanks around") << " 07.05.2024 "
                                       << "07.05.2024" << QDate(2024, 5, 7);
        QTest::newRow("empty text") << ""
                                    << "  .  ." << QDate();
        QTest::newRow("empty mask") << "  .  ."
                                    << "  .  ." << QDate();
        QTest::newRow("no such day") << "31.02.2004"
                                     << "  .  ." << QDate();
        QTest::newRow("not a date") << "-1"
                                    << "  .  ." << QDate();
        QTest::newRow("ERP date number") << "1040315"
                                         << "  .  ." << QDate();
    }

    void setText()
    {
        QFETCH(QString, given);
        QFETCH(QString, text);
        QFETCH(QDate, date);
        MaskedDateEdit edit;
        edit.setDate(QDate(2000, 1, 1));
        edit.setText(given);
        QCOMPARE(edit.text(), text);
        QCOMPARE(edit.date(), date);
        QCOMPARE(edit.isEmpty(), date.isNull());
    }

    void setDateAndClear()
    {
        MaskedDateEdit edit;
        QSignalSpy changed(&edit, &MaskedDateEdit::dateChanged);
        edit.setDate(QDate(2024, 5, 7));
        QCOMPARE(edit.text(), QStringLiteral("07.05.2024"));
        QCOMPARE(edit.date(), QDate(2024, 5, 7));
        edit.setDate(QDate());
        QCOMPARE(edit.text(), QStringLiteral("  .  ."));
        edit.setDate(QDate(2024, 5, 7));
        edit.clear();
        QVERIFY(edit.isEmpty());
        QCOMPARE(changed.count(), 4);
        QCOMPARE(changed.last().first().toDate(), QDate());
    }

    void typing_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::newRow("all digits") << "15032004"
                                    << "15.03.2004" << QDate(2004, 3, 15);
        QTest::newRow("day and month only") << "1503"
                                            << "15.03." << QDate();
        QTest::newRow("letters refused") << "ab15xy032004"
                                         << "15.03.2004" << QDate(2004, 3, 15);
        QTest::newRow("impossible date") << "39132004"
                                         << "39.13.2004" << QDate();
    }

    void typing()
    {
        QFETCH(QString, keys);
        QFETCH(QString, text);
        QFETCH(QDate, date);
        MaskedDateEdit edit;
        edit.lineEdit()->setFocus();
        edit.lineEdit()->home(false);
        QTest::keyClicks(edit.lineEdit(), keys);
        QCOMPARE(edit.text(), text);
        QCOMPARE(edit.date(), date);
    }

    void enterIsReported()
    {
        MaskedDateEdit edit;
        QSignalSpy enter(&edit, &MaskedDateEdit::returnPressed);
        // Also while the date is empty or incomplete.
        QTest::keyClick(edit.lineEdit(), Qt::Key_Return);
        QTest::keyClicks(edit.lineEdit(), "15");
        QTest::keyClick(edit.lineEdit(), Qt::Key_Enter);
        edit.setDate(QDate(2004, 3, 15));
        QTest::keyClick(edit.lineEdit(), Qt::Key_Return);
        QCOMPARE(enter.count(), 3);
    }

    void calendarHeaderReadsSundayFirst()
    {
        MaskedDateEdit edit;
        edit.setDate(QDate(2004, 3, 15));
        edit.show();
        QTest::mouseClick(edit.calendarButton(), Qt::LeftButton);
        auto* popup = qobject_cast<CalendarPopup*>(edit.calendarPopup());
        QVERIFY(popup && popup->isVisible());
        QCOMPARE(popup->weekdayHeaders(), (QStringList{"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"}));
        QCOMPARE(popup->title(), QStringLiteral("März, 2004"));
        // 1 March 2004 was a Monday: the sheet opens with Sunday 29 February.
        QCOMPARE(popup->dateAt(0, 0), QDate(2004, 2, 29));
        QCOMPARE(popup->dateAt(0, 1), QDate(2004, 3, 1));
        QCOMPARE(popup->dateAt(2, 1), QDate(2004, 3, 15));
        QCOMPARE(popup->grid()->currentRow(), 2);
        QCOMPARE(popup->grid()->currentColumn(), 1);
    }

    void calendarFromTheKeyboard()
    {
        MaskedDateEdit edit;
        edit.setDate(QDate(2004, 3, 15));
        edit.show();
        QTest::keyClick(edit.lineEdit(), Qt::Key_Down, Qt::AltModifier);
        auto* popup = qobject_cast<CalendarPopup*>(edit.calendarPopup());
        QVERIFY(popup && popup->isVisible());
        QTest::keyClick(popup->grid(), Qt::Key_Right);
        QTest::keyClick(popup->grid(), Qt::Key_Return);
        QCOMPARE(edit.date(), QDate(2004, 3, 16));
        QVERIFY(!popup->isVisible());
        QTest::keyClick(edit.lineEdit(), Qt::Key_F4);
        QVERIFY(popup->isVisible());
    }

    void calendarPicksADay()
    {
        MaskedDateEdit edit;
        edit.show();
        edit.showCalendar();
        auto* popup = qobject_cast<CalendarPopup*>(edit.calendarPopup());
        // An empty control opens at today's month on the program's clock, on today.
        QCOMPARE(popup->title(), QStringLiteral("Dezember, 2026"));
        QCOMPARE(popup->dateAt(popup->grid()->currentRow(), popup->grid()->currentColumn()),
                 QDate(2026, 12, 7));
        QTest::mouseClick(popup->findChild<QToolButton*>("calendarNext"), Qt::LeftButton);
        QCOMPARE(popup->title(), QStringLiteral("Januar, 2027"));
        QTest::mouseClick(popup->findChild<QToolButton*>("calendarPrevious"), Qt::LeftButton);
        QTest::mouseClick(popup->findChild<QToolButton*>("calendarPrevious"), Qt::LeftButton);
        QCOMPARE(popup->title(), QStringLiteral("November, 2026"));
        QTableWidget* grid = popup->grid();
        // 1 November 2026 is a Sunday: it opens the sheet, and Wednesday the 4th is in column 3.
        QCOMPARE(popup->dateAt(0, 0), QDate(2026, 11, 1));
        QCOMPARE(popup->dateAt(0, 3), QDate(2026, 11, 4));
        // The sheet is as large as its cells, and today is marked.
        QCOMPARE(grid->width(), grid->horizontalHeader()->length() + 2 * grid->frameWidth());
        QCOMPARE(grid->height(), grid->horizontalHeader()->height() + grid->verticalHeader()->length() +
                                     2 * grid->frameWidth());
        QCOMPARE(popup->dateAt(5, 1), QDate(2026, 12, 7));
        QVERIFY(grid->item(5, 1)->font().bold());
        QCOMPARE(grid->item(5, 1)->toolTip(), QStringLiteral("Heute"));
        QVERIFY(!grid->item(5, 2)->font().bold());
        const QRect cell = grid->visualRect(grid->model()->index(0, 3));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(edit.date(), QDate(2026, 11, 4));
        QCOMPARE(edit.text(), QStringLiteral("04.11.2026"));
        QVERIFY(!popup->isVisible());
    }
};

QTEST_MAIN(TestMaskedDateEdit)
#include "TestMaskedDateEdit.moc"
