// Article search with its batch loading, the supplier field, and the three launchers.
#include "ServerHooks.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "search/FMArtsu.h"
#include "search/FMKnrsu.h"
#include "search/FMLnrsu.h"
#include "search/SearchLogic.h"
#include "search/SearchTermField.h"
#include "search/VelmorSu.h"
#include "widgets/Clock.h"
#include "widgets/Twips.h"
#include "widgets/VirtualList.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace {

const QString Start = QStringLiteral("D GETARF^XRCLSU(");
const QString Continue = QStringLiteral("D GETARN^XRCLSU");

// count made-up articles, numbered from first.
QString batch(int first, int count)
{
    QStringList pieces;
    for (int i = first; i < first + count; ++i)
        pieces << QStringLiteral("%1`Artikel %1`%2").arg(i).arg(i % 7);
    return pieces.join(QChar(0xFF));
}

// The server answers the first call with first pieces, every further one with the next of more.
void answerArticles(int first, QList<int> more = {})
{
    auto next = std::make_shared<int>(1);
    auto counts = std::make_shared<QList<int>>(more);
    hooks().answer = [=](const QString& command) -> std::optional<QString> {
        if (command.startsWith(Start)) {
            *next = first + 1;
            return batch(1, first);
        }
        if (command == Continue) {
            const int n = counts->isEmpty() ? 0 : counts->takeFirst();
            const QString answer = batch(*next, n);
            *next += n;
            return answer;
        }
        return std::nullopt;
    };
}

QString cell(VirtualList* list, int row, int column, int role = Qt::DisplayRole)
{
    const QVariant value = list->model()->data(list->model()->index(row - 1, column - 1), role);
    return role == Qt::BackgroundRole ? value.value<QBrush>().color().name() : value.toString();
}

QStringList items(QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

QString labelOf(QDialog& form, QWidget* input)
{
    for (QLabel* label : form.findChildren<QLabel*>())
        if (label->buddy() == input)
            return label->text();
    return QString();
}

// Picks the first supplier found for term in a supplier search that has just been shown.
void pickSupplier(QWidget* window, const QString& term)
{
    auto* form = static_cast<FMLnrsu*>(window);
    form->SKBEZ->setText(term);
    QTest::mouseClick(form->BUSuch, Qt::LeftButton);
    form->LNRSULI->setCurrentRow(1);
    QTest::keyClick(form->LNRSULI, Qt::Key_Return);
}

const QString SupplierName = QStringLiteral("Baustoffwerke Schwäbisch Hall GmbH");

} // namespace

class TestArticleSearch : public QObject
{
    Q_OBJECT

    MockClock m_clock;

private slots:
    void initTestCase()
    {
        Clock::setInstance(&m_clock);
        Twips::setLogicalDpi(96);
        // An article whose short name carries an inch mark.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture"));
        db.setDatabaseName(demoDatabasePath());
        QVERIFY(db.open());
        QSqlQuery insert(db);
        QVERIFY(
            insert.exec("INSERT INTO artikel VALUES (1, '999001', 'GEWINDEMUFFE 1/2\"', 'Gewindemuffe 1/2\"',"
                        " 6, 1, 4, 70001, 'J', 'J')"));
    }

    void cleanupTestCase()
    {
        resetProgramState();
        QSqlDatabase::removeDatabase(QStringLiteral("fixture"));
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
        ArticleRowCount = 0;
    }

    // ---- the form -----------------------------------------------------------------------

    void formOnLoad()
    {
        ScriptedBoxes boxes;
        ArticleRowCount = 17; // left by an earlier search
        FMArtsu form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Suche nach Artikel"));
        QCOMPARE(hooks().commands, (QStringList{"d HGRP^XRCLSU", "d ABTNR^XRCLSU"}));
        QCOMPARE(form.SHGRP->itemText(0), QString());
        QCOMPARE(form.SHGRP->itemText(1), QStringLiteral("1 Zement und Mörtel"));
        QVERIFY(form.SABTNR->count() > 2);
        QCOMPARE(form.SABTNR->itemText(0), QString());
        QVERIFY(form.SABTNR->itemText(1).contains(u' '));
        QCOMPARE(items(form.SAKTIV), (QStringList{"", "J", "N", "Z"}));
        QCOMPARE(form.SAKTIV->currentText(), QStringLiteral("J"));
        QCOMPARE(items(form.SGEL), (QStringList{"", "J", "N", "A", "B", "C"}));
        QCOMPARE(form.SGEL->currentText(), QString());
        QCOMPARE(form.SUGRP->count(), 0);
        QCOMPARE(int(ArticleRowCount), 0);
        QCOMPARE(form.ARTSULI->rowCountValue(), 0);
        const QAbstractItemModel* model = form.ARTSULI->model();
        QCOMPARE(model->columnCount(), 4);
        QStringList headings;
        for (int c = 0; c < 4; ++c)
            headings << model->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headings, (QStringList{"Art.-Nr.", "Bezeichnung", "Abt.-Nr.", ""}));
        QCOMPARE((QList<int>{form.ARTSULI->columnWidthPixels(1), form.ARTSULI->columnWidthPixels(2),
                             form.ARTSULI->columnWidthPixels(3)}),
                 (QList<int>{45, 350, 45}));
        const QList<QPair<QWidget*, QString>> labels = {
            {form.SKBEZ, "Kurzbezeichnung::"}, {form.SHGRP, "Hauptgruppe:"}, {form.SUGRP, "Untergruppe:"},
            {form.SLNR, "Lieferant:"},         {form.SABTNR, "Abteilung:"},  {form.SAKTIV, "Aktiv:"},
            {form.SGEL, "Gelistet:"}};
        for (const auto& [input, text] : labels)
            QCOMPARE(labelOf(form, input), text);
        QCOMPARE(form.ARTSULI->accessibleName(), QStringLiteral("Suchergebnis"));
        QVERIFY(!form.LBEZ->accessibleName().isEmpty());
        QVERIFY(!form.Suchen->icon().isNull());
    }

    void subGroupsFollowTheMainGroup()
    {
        ScriptedBoxes boxes;
        FMArtsu form;
        form.SHGRP->setCurrentIndex(1);
        QCOMPARE(hooks().commands.last(), QStringLiteral("d UGRP^XRCLSU(1)"));
        QCOMPARE(items(form.SUGRP), (QStringList{"", "1 Zement", "2 Putz", "3 Mörtel", "4 Estrich"}));
        const int calls = hooks().commands.size();
        form.SHGRP->setCurrentIndex(0);
        QCOMPARE(form.SUGRP->count(), 0);
        QCOMPARE(hooks().commands.size(), calls);
    }

    void defaultsSendSevenArguments()
    {
        ScriptedBoxes boxes;
        FMArtsu form;
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(hooks().commands.last(),
                 QStringLiteral("D GETARF^XRCLSU(\"\",\"\",\"\",\"\",\"\",\"J\",\"\")"));
        QVERIFY(ArticleRowCount > 0);
    }

    void filtersSendTheirCodes()
    {
        ScriptedBoxes boxes;
        FMArtsu form;
        form.SKBEZ->setText("zement");
        form.SHGRP->setCurrentIndex(1);
        form.SUGRP->setCurrentIndex(1);
        form.SLNR->setText("70001");
        form.SAKTIV->setCurrentIndex(0);
        form.SGEL->setCurrentIndex(1);
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(hooks().commands.last(),
                 QStringLiteral("D GETARF^XRCLSU(\"ZEMENT\",\"1\",\"1\",\"70001\",\"\",\"\",\"J\")"));
    }

    // ---- batches ------------------------------------------------------------------------

    void firstBatch_data()
    {
        QTest::addColumn<int>("hits");
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<int>("currentRow");
        QTest::newRow("none") << 0 << 0 << 0;
        QTest::newRow("three") << 3 << 3 << 3;
        QTest::newRow("exactly four") << 4 << 6 << 0;
    }
    void firstBatch()
    {
        QFETCH(int, hits);
        QFETCH(int, rowCount);
        QFETCH(int, currentRow);
        ScriptedBoxes boxes;
        answerArticles(hits);
        FMArtsu form;
        hooks().commands.clear();
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(hooks().commands.size(), 1);
        QCOMPARE(int(ArticleRowCount), hits);
        QCOMPARE(form.ARTSULI->rowCountValue(), rowCount);
        QCOMPARE(form.ARTSULI->currentRow(), currentRow);
        if (hits > 0)
            QCOMPARE(cell(form.ARTSULI, hits, 2), QStringLiteral("Artikel %1").arg(hits));
    }

    void drawingBeyondTheLoadedRowsContinues()
    {
        ScriptedBoxes boxes;
        answerArticles(4, {0});
        FMArtsu form;
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(form.ARTSULI->rowCountValue(), 6);
        QCOMPARE(hooks().countCommands(Continue), 0);
        // Rows 5 and 6 come into view: the search goes on and finds its end.
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTRY_COMPARE(form.ARTSULI->model()->rowCount(), 4);
        QCOMPARE(hooks().countCommands(Continue), 1);
        QCOMPARE(form.ARTSULI->rowCountValue(), 4);
        QCOMPARE(form.ARTSULI->currentRow(), 4);
        QCOMPARE(int(ArticleRowCount), 4);
    }

    void rowColours()
    {
        ScriptedBoxes boxes;
        answerArticles(3);
        FMArtsu form;
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        const QString yellow = QColor(255, 255, 180).name();
        const QString white = QColor(255, 255, 255).name();
        for (int c = 1; c <= 4; ++c) {
            QCOMPARE(cell(form.ARTSULI, 1, c, Qt::BackgroundRole), yellow);
            QCOMPARE(cell(form.ARTSULI, 2, c, Qt::BackgroundRole), white);
            QCOMPARE(cell(form.ARTSULI, 3, c, Qt::BackgroundRole), yellow);
        }
        QCOMPARE(cell(form.ARTSULI, 2, 4), QString());
    }

    void stopsAt10000Rows()
    {
        ScriptedBoxes boxes;
        answerArticles(4, QList<int>(3000, 4));
        FMArtsu form;
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        // Every row just beyond the loaded ones is asked for, as scrolling down would.
        for (int guard = 0; guard < 3000 && form.ARTSULI->rowCountValue() > ArticleRowCount; ++guard) {
            cell(form.ARTSULI, ArticleRowCount + 1, 1);
            QCoreApplication::processEvents();
        }
        QCOMPARE(int(ArticleRowCount), 10000);
        QCOMPARE(form.ARTSULI->rowCountValue(), 10000);
        QCOMPARE(form.ARTSULI->currentRow(), 10000);
        QCOMPARE(hooks().countCommands(Continue), 2499);
        QCOMPARE(ArticleRows[10000].ArticleNo, QStringLiteral("10000"));
        QCOMPARE(cell(form.ARTSULI, 10000, 2), QStringLiteral("Artikel 10000"));
    }

    void requestsDuringALoadStartNoSecondOne()
    {
        ScriptedBoxes boxes;
        answerArticles(4, {4});
        FMArtsu form;
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(form.ARTSULI->rowCountValue(), 6);
        hooks().commands.clear();
        // While the next search waits for the server, the list draws rows beyond the loaded
        // ones and the user clicks "Suchen" again.
        int calls = 0;
        Qt::CursorShape cursorWhileLoading = Qt::ArrowCursor;
        hooks().duringCommand = [&](const QString&) {
            if (calls++ > 0)
                return;
            cursorWhileLoading = form.cursor().shape();
            for (int r = 1; r <= 6; ++r)
                cell(form.ARTSULI, r, 1);
            QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        };
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QCOMPARE(hooks().commands.size(), 1);
        QVERIFY(hooks().commands.first().startsWith(Start));
        QCOMPARE(int(ArticleRowCount), 4);
        QCOMPARE(form.ARTSULI->rowCountValue(), 6);
        QCOMPARE(ArticleRows[1].ArticleNo, QStringLiteral("1"));
        QCOMPARE(ArticleRows[4].ArticleNo, QStringLiteral("4"));
        QCOMPARE(cursorWhileLoading, Qt::WaitCursor);
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    }

    void quoteInTheShortNameFindsTheArticle()
    {
        ScriptedBoxes boxes; // the line is valid M: no error box
        FMArtsu form;
        form.SKBEZ->setText("GEWINDEMUFFE 1/2\"");
        form.SAKTIV->setCurrentIndex(0);
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        QVERIFY(hooks().commands.last().startsWith("D GETARF^XRCLSU(\"GEWINDEMUFFE 1/2\"\"\","));
        QCOMPARE(int(ArticleRowCount), 1);
        QCOMPARE(ArticleRows[1].ArticleNo, QStringLiteral("999001"));
        QCOMPARE(ArticleRows[1].Description, QStringLiteral("Gewindemuffe 1/2\""));
    }

    void scrollingLoadsEveryBatch()
    {
        ScriptedBoxes boxes;
        FMArtsu form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.SKBEZ->setText("ZEMENT");
        form.SAKTIV->setCurrentIndex(0);
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        for (int guard = 0; guard < 50 && form.ARTSULI->rowCountValue() > ArticleRowCount; ++guard) {
            form.ARTSULI->scrollToBottom();
            QCoreApplication::processEvents();
        }
        QVERIFY(ArticleRowCount > 8);
        QCOMPARE(form.ARTSULI->rowCountValue(), int(ArticleRowCount));
        QCOMPARE(hooks().countCommands(Start), 1);
        QSet<QString> numbers;
        for (int r = 1; r <= ArticleRowCount; ++r) {
            QVERIFY2(ArticleRows[r].Description.startsWith(QLatin1String("Zement")),
                     qPrintable(ArticleRows[r].Description));
            numbers.insert(ArticleRows[r].ArticleNo);
        }
        QCOMPARE(numbers.size(), int(ArticleRowCount));
        // The list asks the server for each batch once, in turn, and stops after the short
        // one: one start, then one continuation per further batch, nothing in between.
        QStringList articleCalls;
        for (const QString& command : hooks().commands)
            if (command.startsWith(Start) || command == Continue)
                articleCalls << (command == Continue ? Continue : Start);
        QStringList expected{Start};
        for (int n = 1; n < ArticleRowCount / 4 + 1; ++n)
            expected << Continue;
        QCOMPARE(articleCalls, expected);
    }

    void pickClosesWithTheArticle()
    {
        ScriptedBoxes boxes;
        answerArticles(3);
        ChosenArticleNo.clear();
        FMArtsu form;
        form.show();
        QTest::mouseClick(form.BUSuch, Qt::LeftButton);
        const QRect second = form.ARTSULI->visualRect(form.ARTSULI->model()->index(1, 0));
        QTest::mouseClick(form.ARTSULI->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
        QTest::mouseDClick(form.ARTSULI->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
        QCOMPARE(ChosenArticleNo, QStringLiteral("2"));
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    // ---- supplier field -----------------------------------------------------------------

    void enterFetchesTheSupplierName_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("name");
        QTest::newRow("known") << "70001" << SupplierName;
        QTest::newRow("unknown") << "1"
                                 << "";
    }
    void enterFetchesTheSupplierName()
    {
        QFETCH(QString, number);
        QFETCH(QString, name);
        ScriptedBoxes boxes;
        FMArtsu form;
        QTest::keyClicks(form.SLNR, number + "x");
        QCOMPARE(form.SLNR->text(), number);
        QTest::keyClick(form.SLNR, Qt::Key_Return);
        QCOMPARE(hooks().commands.last(), SupplierNameCommand(number));
        QCOMPARE(form.LBEZ->text(), name);
    }

    void emptySupplierFieldFetchesNothing()
    {
        ScriptedBoxes boxes;
        FMArtsu form;
        const int calls = hooks().commands.size();
        QTest::keyClick(form.SLNR, Qt::Key_Return);
        QCOMPARE(hooks().commands.size(), calls);
    }

    void homePicksASupplier_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("Home key") << false;
        QTest::newRow("picture button") << true;
    }
    void homePicksASupplier()
    {
        QFETCH(bool, byButton);
        ScriptedBoxes boxes;
        FMArtsu form;
        form.show();
        ChosenArticleNo = QStringLiteral("unberührt");
        whenShown("FMLnrsu", [](QWidget* w) { pickSupplier(w, "BAUSTOFFWERKE SCHW"); });
        if (byButton)
            QTest::mouseClick(form.Suchen, Qt::LeftButton);
        else
            QTest::keyClick(form.SLNR, Qt::Key_Home);
        QCOMPARE(form.SLNR->text(), QStringLiteral("70001"));
        QCOMPARE(form.LBEZ->text(), SupplierName);
        QCOMPARE(ChosenArticleNo, QStringLiteral("unberührt"));
        QVERIFY(form.isVisible());
    }

    void supplierSearchClosedEmptiesTheField()
    {
        ScriptedBoxes boxes;
        FMArtsu form;
        form.show();
        form.SLNR->setText("70001");
        whenShown("FMLnrsu", [](QWidget* w) { w->close(); });
        QTest::keyClick(form.SLNR, Qt::Key_Home);
        QCOMPARE(form.SLNR->text(), QString());
        QCOMPARE(hooks().countCommands("S P0="), 0);
    }

    // ---- launchers ----------------------------------------------------------------------

    void customerLauncher()
    {
        ScriptedBoxes boxes;
        whenShown("FMKnrsu", [](QWidget* w) {
            auto* form = static_cast<FMKnrsu*>(w);
            form->SKBEZ->setText("MUELLER BAU");
            QTest::keyClick(form->SKBEZ, Qt::Key_Return);
            form->KNRSULI->setCurrentRow(1);
            QTest::keyClick(form->KNRSULI, Qt::Key_Return);
        });
        QCOMPARE(SearchCustomer(), QStringLiteral("4711"));
        whenShown("FMKnrsu", [](QWidget* w) { w->close(); });
        QCOMPARE(SearchCustomer(), QString());
        QCOMPARE(ChosenCustomerNo, QString());
    }

    void supplierLauncher()
    {
        ScriptedBoxes boxes;
        whenShown("FMLnrsu", [](QWidget* w) { pickSupplier(w, "BAUSTOFFWERKE SCHW"); });
        QCOMPARE(SearchSupplier(), QStringLiteral("70001"));
        whenShown("FMLnrsu", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QCOMPARE(SearchSupplier(), QString());
    }

    // Open, type, pick a supplier in the stacked search, search, pick, leave: keys only.
    void keyboardOnlyPass()
    {
        ScriptedBoxes boxes;
        auto focused = [] {
            return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
        };
        whenShown("FMArtsu", [&](QWidget* w) {
            QVERIFY(waitForKeyboard(w));
            QCOMPARE(focused(), QStringLiteral("SKBEZ"));
            for (int i = 0; i < 3; ++i)
                typeKey(Qt::Key_Tab);
            QCOMPARE(focused(), QStringLiteral("SLNR"));
            whenShown("FMLnrsu", [&](QWidget* s) {
                QVERIFY(waitForKeyboard(s));
                typeText("BAUSTOFFWERKE SCHW");
                typeKey(Qt::Key_Return);
                for (int i = 0; i < 3; ++i)
                    typeKey(Qt::Key_Tab);
                QCOMPARE(focused(), QStringLiteral("LNRSULI"));
                typeKey(Qt::Key_Down);
                typeKey(Qt::Key_Return);
            });
            typeKey(Qt::Key_Home);
            auto* form = static_cast<FMArtsu*>(w);
            QCOMPARE(form->SLNR->text(), QStringLiteral("70001"));
            QCOMPARE(form->LBEZ->text(), SupplierName);
            for (int i = 0; i < 5; ++i)
                typeKey(Qt::Key_Tab);
            QCOMPARE(focused(), QStringLiteral("BUSuch"));
            typeKey(Qt::Key_Space);
            QVERIFY(form->ARTSULI->rowCountValue() > 0);
            typeKey(Qt::Key_Tab);
            typeKey(Qt::Key_Home, Qt::ControlModifier);
            typeKey(Qt::Key_Return);
        });
        QCOMPARE(SearchArticle(), ArticleRows[1].ArticleNo);
        QVERIFY(!ArticleRows[1].ArticleNo.isEmpty());
        whenShown("FMArtsu", [](QWidget* w) {
            QVERIFY(waitForKeyboard(w));
            typeKey(Qt::Key_Escape);
        });
        QCOMPARE(SearchArticle(), QString());
    }

    void articleLauncherWithStackedSupplierSearch()
    {
        ScriptedBoxes boxes;
        QString supplierInField;
        whenShown("FMArtsu", [&](QWidget* w) {
            auto* form = static_cast<FMArtsu*>(w);
            whenShown("FMLnrsu", [](QWidget* s) {
                // Stacked on the article search.
                QCOMPARE(s->parentWidget() ? s->parentWidget()->objectName() : QString(),
                         QStringLiteral("FMArtsu"));
                pickSupplier(s, "BAUSTOFFWERKE SCHW");
            });
            QTest::mouseClick(form->Suchen, Qt::LeftButton);
            supplierInField = form->SLNR->text();
            form->SAKTIV->setCurrentIndex(0);
            QTest::mouseClick(form->BUSuch, Qt::LeftButton);
            form->ARTSULI->setCurrentRow(1);
            QTest::keyClick(form->ARTSULI, Qt::Key_Return);
        });
        const QString article = SearchArticle();
        QCOMPARE(supplierInField, QStringLiteral("70001"));
        QVERIFY(!article.isEmpty());
        QCOMPARE(article, ArticleRows[1].ArticleNo);
        QVERIFY(hooks().commands.contains(
            QStringLiteral("D GETARF^XRCLSU(\"\",\"\",\"\",\"70001\",\"\",\"\",\"\")")));
        QCOMPARE(ChosenSupplierNo, QStringLiteral("70001"));

        whenShown("FMArtsu", [](QWidget* w) { w->close(); });
        QCOMPARE(SearchArticle(), QString());
    }
};

QTEST_MAIN(TestArticleSearch)
#include "TestArticleSearch.moc"
