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
