// The searches' rules without their windows: argument texts, command lines, widths, batches.
#include "cache/cacheapi.h"
#include "cacheclient/CacheError.h"
#include "search/SearchLogic.h"
#include "widgets/Twips.h"

#include <QTest>

using cacheclient::CacheError;

namespace {
const QChar Item(0xFF);

QString batch(int first, int count)
{
    QStringList pieces;
    for (int i = first; i < first + count; ++i)
        pieces << QStringLiteral("%1`Artikel %1`%2").arg(i).arg(i % 10);
    return pieces.join(Item);
}
} // namespace

class TestSearchLogic : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Twips::setLogicalDpi(96);
        ArticleRowCount = 0;
    }
    void cleanupTestCase() { Twips::setLogicalDpi(0); }

    void searchTerm_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("used");
        QTest::newRow("upper-cased") << "mueller bau"
                                     << "MUELLER BAU";
        QTest::newRow("umlauts in search-key form") << "Müller"
                                                    << "MUELLER";
        QTest::newRow("sharp s") << "Weiß"
                                 << "WEISS";
        QTest::newRow("lengthened past 18 is cut") << "ÄÖÜÄÖÜÄÖÜÄÖÜ"
                                                   << "AEOEUEAEOEUEAEOEUE";
        QTest::newRow("exactly 18 stays") << "ABCDEFGHIJKLMNOPQR"
                                          << "ABCDEFGHIJKLMNOPQR";
        QTest::newRow("empty") << ""
                               << "";
    }
    void searchTerm()
    {
        QFETCH(QString, typed);
        QFETCH(QString, used);
        QCOMPARE(NormaliseSearchTerm(typed), used);
        QCOMPARE(NormaliseSearchTerm(used), used);
    }

    void customerGroup_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("argument");
        QTest::newRow("all groups") << ""
                                    << "";
        QTest::newRow("one digit keeps its blank") << "7 | Bauunternehmen"
                                                   << "7 ";
        QTest::newRow("two digits") << "12 | Großkunden"
                                    << "12";
    }
    void customerGroup()
    {
        QFETCH(QString, entry);
        QFETCH(QString, argument);
        QCOMPARE(CustomerGroupArgument(entry), argument);
    }

    void supplierAccount_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("error");
        QTest::newRow("leading zeros and blank") << "033 | Lieferanten Inland"
                                                 << "33" << 0;
        QTest::newRow("no entry") << ""
                                  << "1" << 0;
        QTest::newRow("blanks around") << "  35  | Großhandel"
                                       << "35" << 0;
        QTest::newRow("no separator") << "34"
                                      << "34" << 0;
        QTest::newRow("16-bit top") << "32767 | x"
                                    << "32767" << 0;
        QTest::newRow("not a number") << "A1 | Sonder"
                                      << "" << 13;
        QTest::newRow("blank part") << "   | leer"
                                    << "" << 13;
        QTest::newRow("beyond 16 bits") << "40000 | x"
                                        << "" << 6;
    }
    void supplierAccount()
    {
        QFETCH(QString, entry);
        QFETCH(QString, argument);
        QFETCH(int, error);
        try {
            QCOMPARE(SupplierAccountArgument(entry), argument);
            QCOMPARE(error, 0);
        } catch (const CacheError& e) {
            QCOMPARE(e.number(), error);
        }
    }

    void fittingColumns_data()
    {
        using Widths = QList<int>;
        QTest::addColumn<Widths>("content");
        QTest::addColumn<Widths>("minimum");
        QTest::addColumn<int>("available");
        QTest::addColumn<Widths>("widths");
        const Widths headings{70, 100, 40, 30, 50};
        QTest::newRow("exact fit") << Widths{50, 150, 200, 40, 160} << headings << 620
                                   << Widths{70, 150, 200, 40, 160};
        QTest::newRow("room to spare widens name and street")
            << Widths{50, 150, 100, 40, 100} << headings << 534 << Widths{70, 150, 130, 40, 144};
        QTest::newRow("too wide: name and street give way in proportion")
            << Widths{70, 150, 340, 40, 250} << headings << 600 << Widths{70, 150, 190, 40, 150};
        QTest::newRow("never below their headings")
            << Widths{70, 150, 340, 40, 250} << headings << 300 << Widths{70, 150, 40, 40, 50};
    }
    void fittingColumns()
    {
        using Widths = QList<int>;
        QFETCH(Widths, content);
        QFETCH(Widths, minimum);
        QFETCH(int, available);
        QFETCH(Widths, widths);
        std::array<int, 5> c{}, m{};
        std::copy(content.begin(), content.end(), c.begin());
        std::copy(minimum.begin(), minimum.end(), m.begin());
        const std::array<int, 5> fitted = FitAccountColumns(c, m, available);
        QCOMPARE(Widths(fitted.begin(), fitted.end()), widths);
    }

    void mStringLiteral_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("literal");
        QTest::newRow("empty") << ""
                               << "\"\"";
        QTest::newRow("plain") << "ZEMENT"
                               << "\"ZEMENT\"";
        QTest::newRow("inch mark") << "MUFFE 1/2\""
                                   << "\"MUFFE 1/2\"\"\"";
        QTest::newRow("injection stays inside") << "X\"),D ^KILL(\"Y"
                                                << "\"X\"\"),D ^KILL(\"\"Y\"";
    }
    void mStringLiteral()
    {
        QFETCH(QString, text);
        QFETCH(QString, literal);
        QCOMPARE(MStringLiteral(text), literal);
    }

    void articleSearchCommand_data()
    {
        QTest::addColumn<QStringList>("fields"); // short name, groups, supplier, department, codes
        QTest::addColumn<QString>("command");
        QTest::newRow("defaults") << QStringList{"", "", "", "", "", "J", ""}
                                  << "D GETARF^XRCLSU(\"\",\"\",\"\",\"\",\"\",\"J\",\"\")";
        QTest::newRow("codes of the entries")
            << QStringList{"ZEMENT", "1 Zement und Mörtel",    "3 Mörtel",
                           "70001",  "10 Verkauf Innendienst", "N",
                           "A"}
            << "D GETARF^XRCLSU(\"ZEMENT\",\"1\",\"3\",\"70001\",\"10\",\"N\",\"A\")";
        QTest::newRow("supplier before its first blank")
            << QStringList{"", "", "", "70001 x", "", "", ""}
            << "D GETARF^XRCLSU(\"\",\"\",\"\",\"70001\",\"\",\"\",\"\")";
        QTest::newRow("supplier that is no number is left out")
            << QStringList{"", "", "", "1\",1", "", "", ""}
            << "D GETARF^XRCLSU(\"\",\"\",\"\",\"\",\"\",\"\",\"\")";
        QTest::newRow("quote in short name")
            << QStringList{"MUFFE 1/2\"", "", "", "", "", "J", ""}
            << "D GETARF^XRCLSU(\"MUFFE 1/2\"\"\",\"\",\"\",\"\",\"\",\"J\",\"\")";
    }
    void articleSearchCommand()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, command);
        QCOMPARE(ArticleSearchCommand(
                     {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6]}),
                 command);
    }

    void splitArticleRow_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("three parts") << "100007`Fassadenfarbe weiß`4"
                                     << QStringList{"100007", "Fassadenfarbe weiß", "4"};
        QTest::newRow("missing department")
            << "100014`Tiefengrund" << QStringList{"100014", "Tiefengrund", ""};
        QTest::newRow("empty description") << "100021``9" << QStringList{"100021", "", "9"};
    }
    void splitArticleRow()
    {
        QFETCH(QString, piece);
        QFETCH(QStringList, fields);
        const ArticleRow row = SplitArticleRow(piece);
        QCOMPARE((QStringList{row.ArticleNo, row.Description, row.DepartmentNo}), fields);
    }

    void batches_data()
    {
        QTest::addColumn<int>("pieces");
        QTest::addColumn<bool>("ended");
        QTest::newRow("none") << 0 << true;
        QTest::newRow("three") << 3 << true;
        QTest::newRow("four goes on") << 4 << false;
    }
    void batches()
    {
        QFETCH(int, pieces);
        QFETCH(bool, ended);
        QCOMPARE(AppendArticleBatch(batch(1, pieces)), ended);
        QCOMPARE(int(ArticleRowCount), pieces);
        if (pieces > 0)
            QCOMPARE(ArticleRows[pieces].ArticleNo, QString::number(pieces));
    }

    void batchesAppendAfterTheLoadedRows()
    {
        QVERIFY(!AppendArticleBatch(batch(1, 4)));
        QVERIFY(AppendArticleBatch(batch(5, 2)));
        QCOMPARE(int(ArticleRowCount), 6);
        QCOMPARE(ArticleRows[5].Description, QStringLiteral("Artikel 5"));
        QCOMPARE(ArticleRows[6].DepartmentNo, QStringLiteral("6"));
    }

    void fullStoreEndsTheSearch()
    {
        ArticleRowCount = MaxArticleRows - 2;
        ArticleRows[0] = ArticleRow{"unberührt", "", ""};
        QVERIFY(AppendArticleBatch(batch(20000, 4)));
        QCOMPARE(int(ArticleRowCount), MaxArticleRows);
        QCOMPARE(ArticleRows[MaxArticleRows].ArticleNo, QStringLiteral("20001"));
        QVERIFY(AppendArticleBatch(batch(30000, 4)));
        QCOMPARE(int(ArticleRowCount), MaxArticleRows);
        QCOMPARE(ArticleRows[0].ArticleNo, QStringLiteral("unberührt"));
    }

    void supplierNameCommand()
    {
        QCOMPARE(
            SupplierNameCommand("70001"),
            QStringLiteral("S P0=$$ASCIANSI^%UML($P($G(^B(FIRMA,\"L\",70001,1)),%,2)) W:$F($ZV,\"MSM\") P0"));
        QVERIFY(IsDigits("70001"));
        QVERIFY(!IsDigits(""));
        QVERIFY(!IsDigits("7000 "));
        QVERIFY(!IsDigits("1)"));
    }
};

QTEST_GUILESS_MAIN(TestSearchLogic)
#include "TestSearchLogic.moc"
