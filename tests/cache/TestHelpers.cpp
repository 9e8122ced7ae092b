// The access layer's pure helpers, table-driven: pieces, dates, text conversion.
#include "cache/cacheapi.h"

#include <QLineEdit>
#include <QTest>

class TestHelpers : public QObject
{
    Q_OBJECT

private slots:
    void strPiece_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("delimiter");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("defaultValue");
        QTest::addColumn<QString>("expected");
        QTest::newRow("middle") << "a|b|c"
                                << "|" << 2 << ""
                                << "b";
        QTest::newRow("first") << "a|b|c"
                               << "|" << 1 << ""
                               << "a";
        QTest::newRow("last") << "a|b|c"
                              << "|" << 3 << ""
                              << "c";
        QTest::newRow("missing gives default") << "a|b|c"
                                               << "|" << 5 << "x"
                                               << "x";
        QTest::newRow("empty gives default") << "a||c"
                                             << "|" << 2 << "x"
                                             << "x";
        QTest::newRow("no default is empty") << "a||c"
                                             << "|" << 2 << ""
                                             << "";
        QTest::newRow("user code") << "17|Sabine Müller"
                                   << "|" << 1 << ""
                                   << "17";
        QTest::newRow("user name") << "17|Sabine Müller"
                                   << "|" << 2 << ""
                                   << "Sabine Müller";
        QTest::newRow("blank fields") << "1  17 pw"
                                      << " " << 2 << "d"
                                      << "d";
        QTest::newRow("code before blank") << "RE Rechnung"
                                           << " " << 1 << ""
                                           << "RE";
        QTest::newRow("empty text") << ""
                                    << "|" << 1 << "d"
                                    << "d";
    }

    void strPiece()
    {
        QFETCH(QString, text);
        QFETCH(QString, delimiter);
        QFETCH(int, n);
        QFETCH(QString, defaultValue);
        QFETCH(QString, expected);
        QCOMPARE(StrPiece(text, delimiter.at(0), n, defaultValue), expected);
    }

    // Company and branch are whole numbers in digits; the code may hold anything printable but "|".
    void loginDataProblem_data()
    {
        QTest::addColumn<QString>("firma");
        QTest::addColumn<QString>("filiale");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("named"); // empty: accepted
        QTest::newRow("ordinary") << "1"
                                  << "0"
                                  << "17"
                                  << "";
        QTest::newRow("leading zeros, letters") << "012"
                                                << "003"
                                                << "AB-1"
                                                << "";
        QTest::newRow("non-ASCII and quote") << "1"
                                             << "0"
                                             << "MÜLLER\""
                                             << "";
        QTest::newRow("empty company") << ""
                                       << "0"
                                       << "17"
                                       << "Firma";
        QTest::newRow("blank in company") << " 1"
                                          << "0"
                                          << "17"
                                          << "Firma";
        QTest::newRow("negative company") << "-1"
                                          << "0"
                                          << "17"
                                          << "Firma";
        QTest::newRow("decimal company") << "1.0"
                                         << "0"
                                         << "17"
                                         << "Firma";
        QTest::newRow("statement in branch") << "1"
                                             << "0,X=1"
                                             << "17"
                                             << "Filiale";
        QTest::newRow("Arabic-Indic digit branch") << "1"
                                                   << "\u0661"
                                                   << "17"
                                                   << "Filiale";
        QTest::newRow("tab in code") << "1"
                                     << "0"
                                     << "1\t7"
                                     << "Steuerzeichen";
        QTest::newRow("line break in code") << "1"
                                            << "0"
                                            << "17\n"
                                            << "Steuerzeichen";
        QTest::newRow("delete in code") << "1"
                                        << "0"
                                        << "17\x7f"
                                        << "Steuerzeichen";
        QTest::newRow("separator in code") << "1"
                                           << "0"
                                           << "17||2"
                                           << "\u201e|\u201c";
        QTest::newRow("no code") << "1"
                                 << "0"
                                 << ""
                                 << "Personalcode";
    }

    void loginDataProblem()
    {
        QFETCH(QString, firma);
        QFETCH(QString, filiale);
        QFETCH(QString, code);
        QFETCH(QString, named);
        const QString problem = LoginDataProblem(firma, filiale, code);
        if (named.isEmpty())
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        else
            QVERIFY2(problem.contains(named), qPrintable(problem));
    }

    void strAfterLast_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("delimiter");
        QTest::addColumn<QString>("expected");
        QTest::newRow("file from path") << "C:\\scans\\a.b.pdf"
                                        << "\\"
                                        << "a.b.pdf";
        QTest::newRow("extension") << "C:\\scans\\a.b.pdf"
                                   << "."
                                   << "pdf";
        QTest::newRow("no delimiter") << "scan"
                                      << "."
                                      << "scan";
        QTest::newRow("ends with delimiter") << "dir\\"
                                             << "\\"
                                             << "";
    }

    void strAfterLast()
    {
        QFETCH(QString, text);
        QFETCH(QString, delimiter);
        QFETCH(QString, expected);
        QCOMPARE(StrAfterLast(text, delimiter.at(0)), expected);
    }

    void erpDateToDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("expected");
        QTest::newRow("2024") << "1240507" << QDate(2024, 5, 7);
        QTest::newRow("1999") << "991231" << QDate(1999, 12, 31);
        QTest::newRow("leading number") << "1000101abc" << QDate(2000, 1, 1);
        QTest::newRow("blanks") << " 1261110" << QDate(2026, 11, 10);
    }

    void erpDateToDate()
    {
        QFETCH(QString, text);
        QFETCH(QDate, expected);
        QCOMPARE(ErpDateToDate(text), expected);
    }

    void erpDateToDateRejects()
    {
        for (const char* bad : {"", "abc", "1241332", "1240230", "0"}) {
            try {
                ErpDateToDate(QString::fromLatin1(bad));
                QFAIL(bad);
            } catch (const cacheclient::CacheError& e) {
                QCOMPARE(e.number(), DateConversionError);
            }
        }
    }

    void dateToErpDate_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("2000") << QVariant(QDate(2000, 1, 1)) << "1000101";
        QTest::newRow("1999") << QVariant(QDate(1999, 3, 5)) << "990305";
        QTest::newRow("text") << QVariant(QStringLiteral("15.03.2004")) << "1040315";
        QTest::newRow("short text") << QVariant(QStringLiteral("7.5.2024")) << "1240507";
        QTest::newRow("true") << QVariant(true) << "";
        QTest::newRow("-1") << QVariant(-1) << "";
        QTest::newRow("-1 as text") << QVariant(QStringLiteral("-1")) << "";
        QTest::newRow("date value 1") << QVariant(1) << "";
        QTest::newRow("31 Dec 1899") << QVariant(QDate(1899, 12, 31)) << "";
        QTest::newRow("empty mask") << QVariant(QStringLiteral("  .  .")) << "";
        QTest::newRow("empty") << QVariant(QString()) << "";
        QTest::newRow("null date") << QVariant(QDate()) << "";
    }

    void dateToErpDate()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, expected);
        QCOMPARE(DateToErpDate(value), expected);
    }

    void datesRoundTrip()
    {
        for (QDate d(1999, 12, 25); d < QDate(2001, 1, 10); d = d.addDays(1))
            QCOMPARE(ErpDateToDate(DateToErpDate(d)), d);
    }

    void convertText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("upper");
        QTest::addColumn<QString>("expected");
        QTest::newRow("umlauts") << "T}r Stra~e"
                                 << "VELMOR" << false << "Tür Straße";
        QTest::newRow("paragraph") << "õ 3"
                                   << "VELMOR" << false << "§ 3";
        QTest::newRow("capitals") << "[rger \\l ]bel"
                                  << "VELMOR" << false << "Ärger Öl Übel";
        QTest::newRow("o umlaut") << "Sch|n"
                                  << "VELMOR" << false << "Schön";
        QTest::newRow("every code") << "{|}~[\\]õ{"
                                    << "VELMOR" << false << "äöüßÄÖÜ§ä";
        QTest::newRow("beside the codes") << QString::fromUtf8("Z^_`z\x7f\u00f4\u00f6\u00f5") << "VELMOR"
                                          << false << QString::fromUtf8("Z^_`z\x7f\u00f4\u00f6\u00a7");
        QTest::newRow("no code") << "Meier & Co. 12/3"
                                 << "VELMOR" << false << "Meier & Co. 12/3";
        QTest::newRow("empty") << ""
                               << "VELMOR" << false << "";
        QTest::newRow("codes upper") << "m}ller"
                                     << "VELMOR" << true << "MüLLER";
        QTest::newRow("search key") << "Tür Straße"
                                    << "VELMORSUCHE" << true << "TUER STRASSE";
        QTest::newRow("search lower umlauts") << "müller größe"
                                              << "VELMORSUCHE" << true << "MUELLER GROESSE";
        QTest::newRow("other mode") << "T}r"
                                    << "X" << false << "T}r";
        QTest::newRow("other mode upper") << "t}r"
                                          << "X" << true << "T}R";
    }

    void convertText()
    {
        QFETCH(QString, text);
        QFETCH(QString, mode);
        QFETCH(bool, upper);
        QFETCH(QString, expected);
        QCOMPARE(ConvertText(text, mode, upper), expected);
    }

    void replaceText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("replace");
        QTest::addColumn<bool>("multi");
        QTest::addColumn<QString>("expected");
        QTest::newRow("multi") << "aXXa"
                               << "XX"
                               << "y" << true << "aya";
        QTest::newRow("single") << "aXXa"
                                << "XX"
                                << "y" << false << "ayya";
        QTest::newRow("single cuts replace") << "aXa"
                                             << "X"
                                             << "yz" << false << "aya";
        QTest::newRow("case-sensitive") << "axXa"
                                        << "X"
                                        << "y" << true << "axya";
        QTest::newRow("no overlap") << "XXX"
                                    << "XX"
                                    << "y" << true << "yX";
        QTest::newRow("longer than 255") << QString(300, u'~') << "~"
                                         << "ß" << false << QString(300, u'ß');
        QTest::newRow("empty find") << "abc"
                                    << ""
                                    << "y" << true << "abc";
    }

    void replaceText()
    {
        QFETCH(QString, text);
        QFETCH(QString, find);
        QFETCH(QString, replace);
        QFETCH(bool, multi);
        QFETCH(QString, expected);
        QCOMPARE(ReplaceText(text, find, replace, multi), expected);
    }

    void selectAllTextKeepsFocus()
    {
        QWidget window;
        QLineEdit a(&window), b(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        a.setFocus();
        b.setText(QStringLiteral("geheim"));
        SelectAllText(&b);
        QCOMPARE(b.selectedText(), QStringLiteral("geheim"));
        QVERIFY(a.hasFocus());
    }
};

QTEST_MAIN(TestHelpers)
#include "TestHelpers.moc"
