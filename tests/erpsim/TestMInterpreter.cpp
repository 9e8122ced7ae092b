#include "cacheclient/CacheError.h"
#include "erpsim/MInterpreter.h"

#include <QTest>

using namespace erpsim;

namespace {

class FakeEnvironment : public MEnvironment
{
public:
    QHash<QString, QString> globals{{"^FA(0)", "VELMOR Demo`2026`01.01.2026"},
                                    {"^B(1,L,70001,1)", "BAUSTOFF^Baustoffwerke Schw{bisch Hall^97070"}};
    QStringList calls;

    std::optional<QString> global(const QString& name, const QStringList& subscripts) override
    {
        const auto it = globals.constFind(QStringLiteral("^%1(%2)").arg(name, subscripts.join(u',')));
        if (it == globals.constEnd())
            return std::nullopt;
        return *it;
    }
    QString doRoutine(const QString& label, const QString& routine, const QStringList& args) override
    {
        if (routine != QLatin1String("XRCLSU") && routine != QLatin1String("%XTT"))
            throw cacheclient::CacheError(5002, QStringLiteral("M-Fehler <NOROUTINE>"));
        calls << QStringLiteral("%1^%2(%3)").arg(label, routine, args.join(u'|'));
        return QStringLiteral("[%1]").arg(label);
    }
    QString extrinsic(const QString& label, const QString& routine, const QStringList& args) override
    {
        if (label != QLatin1String("ASCIANSI") || routine != QLatin1String("%UML"))
            throw cacheclient::CacheError(5002, QStringLiteral("M-Fehler <NOROUTINE>"));
        return QStringLiteral("ansi(%1)").arg(args.value(0));
    }
};

} // namespace

class TestMInterpreter : public QObject
{
    Q_OBJECT

private slots:
    void lines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("output");
        // The lines the program itself sends.
        QTest::newRow("fiscal year") << "S P0=$P(^FA(0),\"`\",2) W P0" << "2026";
        QTest::newRow("session line") << "S FIRMA=1,FIL=0,PERSONAL=\"17\" W FIRMA,\"/\",FIL,\"/\",PERSONAL" << "1/0/17";
        QTest::newRow("environment") << "D ^%XTT" << "[]";
        QTest::newRow("lower-case do") << "d HGRP^XRCLSU" << "[HGRP]";
        QTest::newRow("do with number") << "d UGRP^XRCLSU(12)" << "[UGRP]";
        QTest::newRow("supplier name") << "S FIRMA=1,%=\"^\" S P0=$$ASCIANSI^%UML($P($G(^B(FIRMA,\"L\",70001,1)),%,2)) "
                                          "W:$F($ZV,\"MSM\") P0"
                                       << "ansi(Baustoffwerke Schw{bisch Hall)";
        QTest::newRow("unknown supplier") << "S FIRMA=1,%=\"^\" S P0=$$ASCIANSI^%UML($P($G(^B(FIRMA,\"L\",9,1)),%,2)) "
                                             "W:$F($ZV,\"MSM\") P0"
                                          << "ansi()";
        // Language pieces.
        QTest::newRow("doubled quotes") << "W \"say \"\"hi\"\"\"" << "say \"hi\"";
        QTest::newRow("empty literal") << "S A=\"\" W A,\"|\"" << "|";
        QTest::newRow("canonic number") << "W 007,\"/\",1.50,\"/\",0.5" << "7/1.5/.5";
        QTest::newRow("arithmetic") << "W 2+3_\"x\"" << "5x";
        QTest::newRow("postcondition false") << "W:0 \"no\" W:1 \"yes\"" << "yes";
        QTest::newRow("piece range") << "W $P(\"a^b^c^d\",\"^\",2,3)" << "b^c";
        QTest::newRow("piece missing") << "W $P(\"a^b\",\"^\",5)" << "";
        QTest::newRow("find") << "W $F(\"abcabc\",\"c\"),\",\",$F(\"abc\",\"x\")" << "4,0";
        QTest::newRow("length pieces") << "W $L(\"a;b;;c\",\";\")" << "4";
        QTest::newRow("extract") << "W $E(\"VELMOR\",2,4)" << "ELM";
        QTest::newRow("char 255") << "W $C(255)" << QString(QChar(0xFF));
        QTest::newRow("get default") << "W $G(NOPE,\"d\"),$G(^NO(1))" << "d";
        QTest::newRow("zversion says MSM") << "W $F($ZV,\"MSM\")>0" << "1";
        QTest::newRow("kill") << "S A=1 K A W $G(A,\"gone\")" << "gone";
        QTest::newRow("quit stops") << "W 1 Q  W 2" << "1";
        QTest::newRow("write newline") << "W \"a\",!,\"b\"" << "a\r\nb";
        QTest::newRow("GETARF quoted args") << "D GETARF^XRCLSU(\"A\"\"B\",\"\",\"\",\"\",\"\",\"J\",\"\")" << "[GETARF]";
    }

    void lines()
    {
        QFETCH(QString, line);
        QFETCH(QString, output);
        FakeEnvironment env;
        MInterpreter m(env);
        QCOMPARE(m.execute(line), output);
    }

    void routineArguments()
    {
        FakeEnvironment env;
        MInterpreter m(env);
        m.execute("D GETARF^XRCLSU(\"A\"\"B\",\"1\",\"\",\"70001\",\"\",\"J\",\"\")");
        QCOMPARE(env.calls, QStringList{"GETARF^XRCLSU(A\"B|1||70001||J|)"});
    }

    void variablesPersistAcrossLines()
    {
        FakeEnvironment env;
        MInterpreter m(env);
        m.execute("S FIRMA=1,FIL=0,PERSONAL=\"17\"");
        QCOMPARE(m.execute("W FIRMA_FIL_PERSONAL"), QStringLiteral("1017"));
    }

    void errors_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("code");
        QTest::newRow("unknown command") << "FOO 1" << "<SYNTAX>";
        QTest::newRow("open string") << "W \"abc" << "<SYNTAX>";
        QTest::newRow("injected code after string") << "W \"a\"\"b\" X" << "<SYNTAX>";
        QTest::newRow("undefined variable") << "W NOPE" << "<UNDEFINED>";
        QTest::newRow("undefined global") << "W ^FA(9)" << "<UNDEFINED>";
        QTest::newRow("unknown routine") << "D X^NOPE" << "<NOROUTINE>";
        QTest::newRow("unknown extrinsic") << "W $$X^Y(1)" << "<NOROUTINE>";
        QTest::newRow("unknown function") << "W $ZZ(1)" << "<FUNCTION>";
        QTest::newRow("set without argument") << "S" << "<SYNTAX>";
        QTest::newRow("subscripted local") << "S A(1)=2" << "<SYNTAX>";
        QTest::newRow("missing paren") << "W $P(\"a\",\"b\"" << "<SYNTAX>";
        QTest::newRow("deep nesting") << "W " + QString(200, u'(') + "1" + QString(200, u')') << "<STACK>";
        QTest::newRow("indirection") << "S A=\"W 1\" X @A"
                                     << "<SYNTAX>";
    }

    // Each row: lines run first, then the line under test, which writes output or fails with code.
    void limits_data()
    {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("code");
        const auto nest = [](const QString& open, const QString& inner, const QString& close, int n) {
            return open.repeated(n) + inner + close.repeated(n);
        };
        const QString fill = "S A=\"" + QString(16000, u'x') + "\" S A=A_A";
        // Every recursive construct counts against the one depth limit: none may take the stack.
        QTest::newRow("unary minus") << QStringList() << "W " + QString(32000, u'-') + "1"
                                     << ""
                                     << "<STACK>";
        QTest::newRow("unary not") << QStringList() << "W " + QString(32000, u'\'') + "1"
                                   << ""
                                   << "<STACK>";
        QTest::newRow("unary plus") << QStringList() << "W " + QString(32000, u'+') + "1"
                                    << ""
                                    << "<STACK>";
        QTest::newRow("parentheses") << QStringList() << "W " + nest("(", "1", ")", 16000) << ""
                                     << "<STACK>";
        QTest::newRow("function nesting") << QStringList() << "W " + nest("$L(", "1", ")", 8000) << ""
                                          << "<STACK>";
        QTest::newRow("get fallback nesting") << QStringList() << "W " + nest("$G(N,", "1", ")", 5000) << ""
                                              << "<STACK>";
        QTest::newRow("global subscripts") << QStringList() << "W " + nest("^FA(", "0", ")", 6000) << ""
                                           << "<STACK>";
        QTest::newRow("routine arguments")
            << QStringList() << "D HGRP^XRCLSU(" + nest("(", "1", ")", 16000) + ")"
            << ""
            << "<STACK>";
        QTest::newRow("extrinsic arguments")
            << QStringList() << "W " + nest("$$ASCIANSI^%UML(", "1", ")", 1500) << ""
            << "<STACK>";
        QTest::newRow("nesting within limit")
            << QStringList() << "W " + nest("(", "-$L(\"ab\")", ")", 40) << "-2"
            << "";
        QTest::newRow("unary within limit") << QStringList() << "W " + QString(100, u'\'') + "1"
                                            << "1"
                                            << "";
        // Strings: 32,767 characters at most, however they are built.
        QTest::newRow("doubling") << QStringList{"S A=\"" + QString(1000, u'x') + "\""}
                                  << "S A=A_A" + QString(" S A=A_A").repeated(40) << ""
                                  << "<MAXSTRING>";
        QTest::newRow("string at limit") << QStringList{fill} << "S A=A_$E(A,1,767) W $L(A)"
                                         << "32767"
                                         << "";
        QTest::newRow("one beyond") << QStringList{fill} << "S A=A_$E(A,1,768) W $L(A)"
                                    << ""
                                    << "<MAXSTRING>";
        QTest::newRow("concatenated write") << QStringList{fill} << "W A_A"
                                            << ""
                                            << "<MAXSTRING>";
        QTest::newRow("written output") << QStringList{fill} << "W " + QString("A,").repeated(40) + "1"
                                        << ""
                                        << "<MAXSTRING>";
    }

    void limits()
    {
        QFETCH(QStringList, setup);
        QFETCH(QString, line);
        QFETCH(QString, output);
        QFETCH(QString, code);
        FakeEnvironment env;
        env.globals.insert("^FA(0)", "0");
        MInterpreter m(env);
        for (const QString& s : setup)
            m.execute(s);
        try {
            const QString written = m.execute(line);
            QVERIFY2(code.isEmpty(), qPrintable("no error, wrote " + written.left(40)));
            QCOMPARE(written, output);
        } catch (const cacheclient::CacheError& error) {
            QVERIFY2(!code.isEmpty() && error.description().contains(code),
                     qPrintable(error.description().left(200)));
            QCOMPARE(error.number(), 5002);
        }
        // The interpreter is still usable after a failed line.
        QCOMPARE(m.execute("W 1+1"), QStringLiteral("2"));
    }

    void localsAreBoundedInNumberAndSize()
    {
        FakeEnvironment env;
        MInterpreter m(env);
        const auto storeError = [&](const QString& line) {
            try {
                m.execute(line);
            } catch (const cacheclient::CacheError& error) {
                return error.description().contains("<STORE>");
            }
            return false;
        };
        // Many small variables: refused at the count limit; those set before stay.
        QStringList sets[2];
        for (int i = 1; i <= MInterpreter::MaxLocals + 1; ++i)
            sets[i > 2000] << QStringLiteral("V%1=1").arg(i);
        m.execute("S " + sets[0].join(u','));
        QVERIFY(storeError("S " + sets[1].join(u',')));
        QCOMPARE(m.variables().size(), MInterpreter::MaxLocals);
        QCOMPARE(m.execute("W V1+V4096"), QStringLiteral("2"));
        // Setting a variable again takes no new room.
        QCOMPARE(m.execute("S V1=2,V1=3 W V1"), QStringLiteral("3"));
        m.execute("K");
        QCOMPARE(m.localChars(), 0);

        // Few large variables: refused at the size limit; KILL gives the room back.
        m.execute("S A=\"" + QString(16000, u'x') + "\" S A=A_A");
        int n = 1;
        while (!storeError(QStringLiteral("S B%1=A").arg(n)))
            QVERIFY(++n < 100);
        QVERIFY(m.localChars() <= MInterpreter::MaxLocalChars);
        QVERIFY(m.localChars() > MInterpreter::MaxLocalChars - 33000);
        m.execute("K B1,B2");
        m.execute(QStringLiteral("S B%1=A,B%2=A").arg(n).arg(n + 1));
        QVERIFY(storeError(QStringLiteral("S B%1=A").arg(n + 2)));
    }

    void errors()
    {
        QFETCH(QString, line);
        QFETCH(QString, code);
        FakeEnvironment env;
        MInterpreter m(env);
        try {
            m.execute(line);
            QFAIL("no error raised");
        } catch (const cacheclient::CacheError& error) {
            QCOMPARE(error.number(), 5002);
            QVERIFY2(error.description().contains(code), qPrintable(error.description()));
        }
    }
};

QTEST_GUILESS_MAIN(TestMInterpreter)
#include "TestMInterpreter.moc"
