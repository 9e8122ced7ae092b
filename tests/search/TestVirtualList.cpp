// The virtual result list: rows are asked for only when drawn, the row count may change from
// inside a fill-row request, and double click or Enter on the current row is the choice.
#include "widgets/VirtualList.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <optional>

class TestVirtualList : public QObject
{
    Q_OBJECT

    QList<int> m_asked;

    void fillWithRowNumbers(VirtualList& list)
    {
        list.setFillRow([this](int r, VirtualListRow& cells) {
            m_asked << r;
            cells.setText(1, QStringLiteral("Zeile %1").arg(r));
            cells.setBackground(2, QColor(1, 2, 3));
        });
    }

private slots:
    void init() { m_asked.clear(); }

    void asksOnlyForDrawnRows()
    {
        VirtualList list(3);
        fillWithRowNumbers(list);
        list.resize(300, 200);
        list.setRowCount(5000);
        QVERIFY(m_asked.isEmpty()); // nothing is drawn while hidden
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QTRY_VERIFY(!m_asked.isEmpty());
        QCOMPARE(m_asked.first(), 1);
        QVERIFY2(m_asked.size() < 30, qPrintable(QString::number(m_asked.size())));
        QCOMPARE(m_asked.count(1), 1); // a drawn row is kept, not asked for again on each paint

        m_asked.clear();
        list.scrollToBottom();
        QTRY_VERIFY(m_asked.contains(5000));
        QVERIFY(!m_asked.contains(2500));
    }

    void cellsComeFromTheRequest()
    {
        VirtualList list(3);
        fillWithRowNumbers(list);
        list.setRowCount(3);
        list.setHeading(1, QStringLiteral("Nr."));
        const QAbstractItemModel* model = list.model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Nr."));
        QCOMPARE(model->data(model->index(2, 0)).toString(), QStringLiteral("Zeile 3"));
        QCOMPARE(model->data(model->index(2, 1), Qt::BackgroundRole).value<QBrush>().color(),
                 QColor(1, 2, 3));
        QVERIFY(!model->data(model->index(2, 2), Qt::BackgroundRole).isValid());
        QCOMPARE(model->data(model->index(2, 2)).toString(), QString());
        QCOMPARE(m_asked, QList<int>{3});
    }

    void refreshAsksAgain()
    {
        VirtualList list(1);
        int generation = 1;
        list.setFillRow([&](int r, VirtualListRow& cells) {
            cells.setText(1, QStringLiteral("%1/%2").arg(r).arg(generation));
        });
        list.setRowCount(2);
        const QModelIndex first = list.model()->index(0, 0);
        QCOMPARE(first.data().toString(), QStringLiteral("1/1"));
        generation = 2;
        QCOMPARE(first.data().toString(), QStringLiteral("1/1"));
        list.refresh();
        QCOMPARE(first.data().toString(), QStringLiteral("1/2"));
    }

    void rowCountChangedInsideARequest()
    {
        // An owner that learns the real row count only while filling a row (the article search).
        VirtualList list(1);
        QAbstractItemModelTester tester(list.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.setFillRow([&](int r, VirtualListRow& cells) {
            if (r == 5)
                list.setRowCount(4);
            cells.setText(1, QString::number(r));
        });
        list.setRowCount(6);
        QCOMPARE(list.model()->data(list.model()->index(4, 0)).toString(), QString());
        QCOMPARE(list.rowCountValue(), 4);
        // The views learn it once the running read is over.
        QTRY_COMPARE(list.model()->rowCount(), 4);
        QCOMPARE(list.model()->data(list.model()->index(3, 0)).toString(), QStringLiteral("4"));
    }

    void modelStaysConsistent()
    {
        VirtualList list(6);
        QAbstractItemModelTester tester(list.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        fillWithRowNumbers(list);
        list.resize(400, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        for (int count : {500, 0, 3, 3, 12, 6}) {
            list.setRowCount(count);
            list.refresh();
            QCOMPARE(list.model()->rowCount(), count);
        }
        list.setHeading(6, QString());
        list.scrollToBottom();
        QTRY_VERIFY(m_asked.contains(6));
    }

    void batchesLoadedInOnePassReachTheViewsOnce()
    {
        // An owner that loads four rows whenever a row beyond them is drawn and lets window
        // events run meanwhile (the article search): every batch must not cost a layout and a
        // repaint, yet the rows drawn afterwards are the loaded ones.
        VirtualList list(1);
        // The tester reads rows while they are announced, which loads more: a handler changing the
        // count during a publication must not break the announced one.
        std::optional<QAbstractItemModelTester> tester;
        tester.emplace(list.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        int loaded = 0;
        int batches = 0;
        list.setFillRow([&](int r, VirtualListRow& cells) {
            if (r > loaded) {
                loaded += 4;
                ++batches;
                QCoreApplication::processEvents();
                list.setRowCount(loaded * 3 / 2);
                list.refresh();
            }
            cells.setText(1, r <= loaded ? QString::number(r) : QString());
        });
        list.resize(300, 400);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(list.model(), &QAbstractItemModel::dataChanged);
        list.setRowCount(6);
        QTRY_VERIFY(batches >= 4);
        QTest::qWait(50);
        const int visible = list.rowAt(list.viewport()->height() - 1);
        QVERIFY2(visible < 0 || visible + 1 <= loaded, qPrintable(QString::number(visible)));
        QVERIFY2(
            inserted.size() <= 3,
            qPrintable(QStringLiteral("%1 insertions for %2 batches").arg(inserted.size()).arg(batches)));
        QVERIFY2(changed.size() <= 3,
                 qPrintable(QStringLiteral("%1 changes for %2 batches").arg(changed.size()).arg(batches)));
        QCOMPARE(list.model()->rowCount(), loaded * 3 / 2);
        QCOMPARE(list.model()->data(list.model()->index(4, 0)).toString(), QStringLiteral("5"));

        // Scrolling on loads the next rows in one pass as well (read by the view alone now).
        tester.reset();
        QTest::qWait(20);
        const int before = batches;
        inserted.clear();
        list.scrollToBottom();
        QTRY_VERIFY(batches > before + 2);
        QTest::qWait(50);
        QVERIFY2(
            inserted.size() <= 2,
            qPrintable(
                QStringLiteral("%1 insertions for %2 batches").arg(inserted.size()).arg(batches - before)));
        const int last = list.rowAt(list.viewport()->height() - 1);
        QVERIFY(last + 1 <= loaded);
        QCOMPARE(list.model()->data(list.model()->index(last, 0)).toString(), QString::number(last + 1));
    }

    void rowCountIsSixteenBit_data()
    {
        QTest::addColumn<int>("set");
        QTest::addColumn<int>("count");
        QTest::newRow("zero") << 0 << 0;
        QTest::newRow("top") << 32767 << 32767;
        QTest::newRow("beyond") << 40000 << 32767;
        QTest::newRow("negative") << -1 << 0;
    }
    void rowCountIsSixteenBit()
    {
        QFETCH(int, set);
        QFETCH(int, count);
        VirtualList list(1);
        list.setRowCount(set);
        QCOMPARE(list.rowCountValue(), count);
        QCOMPARE(list.model()->rowCount(), count);
    }

    void currentRow()
    {
        VirtualList list(2);
        list.setFillRow([](int, VirtualListRow&) {});
        QCOMPARE(list.currentRow(), 0);
        list.setRowCount(10);
        list.setCurrentRow(10);
        QCOMPARE(list.currentRow(), 10);
        QCOMPARE(list.selectionModel()->selectedRows().size(), 1);
        list.setCurrentRow(0);
        QCOMPARE(list.currentRow(), 0);
        list.setCurrentRow(3);
        list.setRowCount(2);
        QVERIFY(list.currentRow() <= 2);
    }

    void choiceGestures()
    {
        QDialog dialog;
        auto* list = new VirtualList(2, &dialog);
        auto* defaultButton = new QPushButton(QStringLiteral("OK"), &dialog);
        defaultButton->setDefault(true);
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(list);
        layout->addWidget(defaultButton);
        QSignalSpy defaultClicks(defaultButton, &QPushButton::clicked);
        list->setFillRow([](int r, VirtualListRow& cells) { cells.setText(1, QString::number(r)); });
        QSignalSpy chosen(list, &VirtualList::chosen);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        list->setFocus();

        // Nothing current: no choice, and Enter stays with the list.
        list->setRowCount(3);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(chosen.size(), 0);

        list->setCurrentRow(2);
        QTest::keyClick(list, Qt::Key_Return);
        QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(chosen.size(), 2);

        const QRect third = list->visualRect(list->model()->index(2, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, third.center());
        QCOMPARE(chosen.size(), 2); // a single click only makes the row current
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, third.center());
        QCOMPARE(chosen.size(), 3);
        QCOMPARE(list->currentRow(), 3);
        QCOMPARE(defaultClicks.size(), 0);
    }
};

QTEST_MAIN(TestVirtualList)
#include "TestVirtualList.moc"
