#include "MInterpreter.h"

#include "ServerErrors.h"

#include <cmath>

namespace erpsim {

namespace {

constexpr qsizetype MaxLineLength = 32767;
constexpr int MaxDepth = MInterpreter::MaxDepth;
constexpr qsizetype MaxString = MInterpreter::MaxString;

double numericValue(const QString& text)
{
    // M takes the longest leading numeric part: "12abc" is 12, "abc" is 0.
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const qsizetype signs = i;
    while (i < text.size() && text[i].isDigit())
        ++i;
    if (i < text.size() && text[i] == u'.') {
        ++i;
        while (i < text.size() && text[i].isDigit())
            ++i;
    }
    double value = text.mid(signs, i - signs).toDouble();
    for (qsizetype s = 0; s < signs; ++s)
        if (text[s] == u'-')
            value = -value;
    return value;
}

QString canonic(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    QString text = QString::number(value, 'f', 10);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    if (text.startsWith(QLatin1String("0.")))
        text.remove(0, 1);
    else if (text.startsWith(QLatin1String("-0.")))
        text.remove(1, 1);
    return text;
}

bool truth(const QString& value)
{
    return numericValue(value) != 0;
}

class Parser
{
public:
    Parser(const QString& line, MEnvironment& env, MInterpreter& interpreter)
        : m_line(line), m_env(env), m_interpreter(interpreter), m_vars(interpreter.variables())
    {
    }

    QString run()
    {
        if (m_line.size() > MaxLineLength)
            error("<MAXSTRING>", QStringLiteral("Zeile zu lang"));
        while (m_pos < m_line.size()) {
            if (peek() == u' ') {
                ++m_pos;
                continue;
            }
            if (!command())
                break;
        }
        return m_out;
    }

private:
    // Every recursive construct enters through one of these, so no line nests deeper than
    // MaxDepth whatever it is made of.
    class Nesting
    {
    public:
        explicit Nesting(Parser& parser) : m_parser(parser)
        {
            if (++m_parser.m_depth > MaxDepth) {
                --m_parser.m_depth;
                m_parser.error("<STACK>", QStringLiteral("Ausdruck zu tief verschachtelt"));
            }
        }
        ~Nesting() { --m_parser.m_depth; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Parser& m_parser;
    };

    void checkLength(qsizetype size) const
    {
        if (size > MaxString)
            error("<MAXSTRING>", QStringLiteral("Zeichenkette länger als %1 Zeichen").arg(MaxString));
    }

    [[noreturn]] void error(const char* code, const QString& detail = QString()) const
    {
        QString text = QStringLiteral("M-Fehler %1").arg(QLatin1String(code));
        if (!detail.isEmpty())
            text += QStringLiteral(" %1").arg(detail);
        text += QStringLiteral(" bei Position %1 in: %2").arg(m_pos + 1).arg(m_line.left(200));
        throw serverError(ServerError::MError, text);
    }

    QChar peek(qsizetype ahead = 0) const
    {
        return m_pos + ahead < m_line.size() ? m_line[m_pos + ahead] : QChar();
    }

    bool accept(QChar c)
    {
        if (peek() == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    void expect(QChar c)
    {
        if (!accept(c))
            error("<SYNTAX>", QStringLiteral("'%1' erwartet").arg(c));
    }

    QString word()
    {
        const qsizetype start = m_pos;
        while (peek().isLetter())
            ++m_pos;
        return m_line.mid(start, m_pos - start).toUpper();
    }

    QString name()
    {
        const qsizetype start = m_pos;
        if (peek() == u'%')
            ++m_pos;
        if (peek().isLetter())
            while (peek().isLetterOrNumber())
                ++m_pos;
        if (m_pos == start)
            error("<SYNTAX>", QStringLiteral("Name erwartet"));
        return m_line.mid(start, m_pos - start);
    }

    // Whether the command has arguments: one blank, then something other than a blank.
    bool hasArguments()
    {
        if (peek() == u' ' && m_pos + 1 < m_line.size() && peek(1) != u' ') {
            ++m_pos;
            return true;
        }
        return false;
    }

    bool command()
    {
        const QString cmd = word();
        if (cmd.isEmpty())
            error("<SYNTAX>", QStringLiteral("Befehl erwartet"));
        bool enabled = true;
        if (accept(u':'))
            enabled = truth(expression());
        const bool args = hasArguments();

        auto is = [&](const char* full, const char* abbrev) {
            return cmd == QLatin1String(full) || cmd == QLatin1String(abbrev);
        };
        if (is("SET", "S")) {
            if (!args)
                error("<SYNTAX>", QStringLiteral("SET ohne Argument"));
            do {
                const QString var = name();
                if (peek() == u'(')
                    error("<SYNTAX>", QStringLiteral("indizierte Variablen werden nicht unterstützt"));
                expect(u'=');
                const QString value = expression();
                if (enabled)
                    m_interpreter.setVariable(var, value);
            } while (accept(u','));
        } else if (is("WRITE", "W")) {
            if (!args)
                error("<SYNTAX>", QStringLiteral("WRITE ohne Argument"));
            do {
                if (accept(u'!')) {
                    if (enabled)
                        m_out += QStringLiteral("\r\n");
                } else if (accept(u'#')) {
                } else {
                    const QString value = expression();
                    if (enabled) {
                        if (m_written + value.size() > MInterpreter::MaxOutput)
                            error(
                                "<MAXSTRING>",
                                QStringLiteral("Ausgabe länger als %1 Zeichen").arg(MInterpreter::MaxOutput));
                        m_written += value.size();
                        m_out += value;
                    }
                }
            } while (accept(u','));
        } else if (is("DO", "D")) {
            if (!args)
                error("<SYNTAX>", QStringLiteral("DO ohne Argument"));
            do {
                QString label, routine;
                QStringList actuals;
                entryRef(label, routine, actuals);
                if (enabled)
                    m_out += m_env.doRoutine(label, routine, actuals);
            } while (accept(u','));
        } else if (is("KILL", "K")) {
            if (!args) {
                if (enabled)
                    m_interpreter.killAll();
            } else {
                do {
                    const QString var = name();
                    if (enabled)
                        m_interpreter.killVariable(var);
                } while (accept(u','));
            }
        } else if (is("QUIT", "Q")) {
            if (args)
                error("<SYNTAX>", QStringLiteral("QUIT mit Argument"));
            if (enabled)
                return false;
        } else {
            error("<SYNTAX>", QStringLiteral("unbekannter Befehl %1").arg(cmd));
        }
        if (m_pos < m_line.size() && peek() != u' ')
            error("<SYNTAX>", QStringLiteral("unerwartetes Zeichen '%1'").arg(peek()));
        return true;
    }

    // [label][^routine][(args)]
    void entryRef(QString& label, QString& routine, QStringList& actuals)
    {
        if (peek() != u'^')
            label = name();
        if (accept(u'^'))
            routine = name();
        if (routine.isEmpty())
            error("<NOLINE>", label);
        if (accept(u'(')) {
            if (!accept(u')')) {
                do
                    actuals << expression();
                while (accept(u','));
                expect(u')');
            }
        }
    }

    QString expression()
    {
        const Nesting nesting(*this);
        QString left = atom();
        for (;;) {
            const QChar c = peek();
            if (c == u'_') {
                ++m_pos;
                const QString right = atom();
                checkLength(left.size() + right.size());
                left += right;
            } else if (c == u'+') {
                ++m_pos;
                left = canonic(numericValue(left) + numericValue(atom()));
            } else if (c == u'-') {
                ++m_pos;
                left = canonic(numericValue(left) - numericValue(atom()));
            } else if (c == u'=') {
                ++m_pos;
                left = left == atom() ? QStringLiteral("1") : QStringLiteral("0");
            } else if (c == u'\'' && peek(1) == u'=') {
                m_pos += 2;
                left = left != atom() ? QStringLiteral("1") : QStringLiteral("0");
            } else if (c == u'>') {
                ++m_pos;
                left = numericValue(left) > numericValue(atom()) ? QStringLiteral("1") : QStringLiteral("0");
            } else if (c == u'<') {
                ++m_pos;
                left = numericValue(left) < numericValue(atom()) ? QStringLiteral("1") : QStringLiteral("0");
            } else {
                break;
            }
        }
        return left;
    }

    QString stringLiteral()
    {
        expect(u'"');
        QString value;
        for (;;) {
            if (m_pos >= m_line.size())
                error("<SYNTAX>", QStringLiteral("Zeichenkette nicht abgeschlossen"));
            const QChar c = m_line[m_pos++];
            if (c == u'"') {
                if (accept(u'"'))
                    value += u'"';
                else
                    return value;
            } else {
                value += c;
            }
        }
    }

    QString numberLiteral()
    {
        const qsizetype start = m_pos;
        while (peek().isDigit())
            ++m_pos;
        if (accept(u'.'))
            while (peek().isDigit())
                ++m_pos;
        return canonic(numericValue(m_line.mid(start, m_pos - start)));
    }

    QStringList arguments()
    {
        QStringList values;
        expect(u'(');
        do
            values << expression();
        while (accept(u','));
        expect(u')');
        return values;
    }

    QString atom()
    {
        const Nesting nesting(*this);
        const QChar c = peek();
        if (c == u'"')
            return stringLiteral();
        if (c.isDigit() || (c == u'.' && peek(1).isDigit()))
            return numberLiteral();
        if (c == u'(') {
            ++m_pos;
            const QString value = expression();
            expect(u')');
            return value;
        }
        if (c == u'\'') {
            ++m_pos;
            return truth(atom()) ? QStringLiteral("0") : QStringLiteral("1");
        }
        if (c == u'-') {
            ++m_pos;
            return canonic(-numericValue(atom()));
        }
        if (c == u'+') {
            ++m_pos;
            return canonic(numericValue(atom()));
        }
        if (c == u'^') {
            std::optional<QString> value = globalRef();
            if (!value)
                error("<UNDEFINED>", m_lastGlobal);
            return *value;
        }
        if (c == u'$')
            return function();
        if (c == u'%' || c.isLetter()) {
            const QString var = name();
            if (peek() == u'(')
                error("<SYNTAX>", QStringLiteral("indizierte Variablen werden nicht unterstützt"));
            const auto it = m_vars.constFind(var);
            if (it == m_vars.constEnd())
                error("<UNDEFINED>", var);
            return *it;
        }
        error("<SYNTAX>", c.isNull() ? QStringLiteral("Ausdruck erwartet") : QStringLiteral("unerwartetes Zeichen '%1'").arg(c));
    }

    std::optional<QString> globalRef()
    {
        expect(u'^');
        const QString global = name();
        QStringList subscripts;
        if (peek() == u'(')
            subscripts = arguments();
        m_lastGlobal = QStringLiteral("^%1(%2)").arg(global, subscripts.join(u','));
        return m_env.global(global, subscripts);
    }

    QString function()
    {
        expect(u'$');
        if (accept(u'$')) {
            QString label, routine;
            if (peek() != u'^')
                label = name();
            if (accept(u'^'))
                routine = name();
            QStringList actuals;
            if (peek() == u'(')
                actuals = arguments();
            return m_env.extrinsic(label, routine, actuals);
        }
        const QString fn = word();
        if (fn == QLatin1String("ZV") || fn == QLatin1String("ZVERSION"))
            return MInterpreter::zversion();
        if (fn == QLatin1String("G") || fn == QLatin1String("GET")) {
            expect(u'(');
            std::optional<QString> value;
            if (peek() == u'^') {
                value = globalRef();
            } else {
                const QString var = name();
                const auto it = m_vars.constFind(var);
                if (it != m_vars.constEnd())
                    value = *it;
            }
            QString fallback;
            if (accept(u','))
                fallback = expression();
            expect(u')');
            return value.value_or(fallback);
        }
        const QStringList a = arguments();
        auto need = [&](qsizetype min, qsizetype max) {
            if (a.size() < min || a.size() > max)
                error("<FUNCTION>", QStringLiteral("$%1 mit %2 Argumenten").arg(fn).arg(a.size()));
        };
        if (fn == QLatin1String("P") || fn == QLatin1String("PIECE")) {
            need(2, 4);
            const qint64 from = a.size() > 2 ? static_cast<qint64>(numericValue(a[2])) : 1;
            const qint64 to = a.size() > 3 ? static_cast<qint64>(numericValue(a[3])) : from;
            if (a[1].isEmpty() || to < from || to < 1)
                return QString();
            const QStringList pieces = a[0].split(a[1]);
            QStringList taken;
            for (qint64 i = qMax<qint64>(from, 1); i <= to && i <= pieces.size(); ++i)
                taken << pieces[i - 1];
            return taken.join(a[1]);
        }
        if (fn == QLatin1String("F") || fn == QLatin1String("FIND")) {
            need(2, 3);
            const qint64 start = a.size() > 2 ? qMax<qint64>(static_cast<qint64>(numericValue(a[2])), 1) : 1;
            if (a[1].isEmpty())
                return canonic(static_cast<double>(start));
            const qsizetype at = a[0].indexOf(a[1], start - 1);
            return at < 0 ? QStringLiteral("0") : canonic(static_cast<double>(at + a[1].size() + 1));
        }
        if (fn == QLatin1String("L") || fn == QLatin1String("LENGTH")) {
            need(1, 2);
            if (a.size() == 2)
                return a[1].isEmpty() ? QStringLiteral("0") : canonic(static_cast<double>(a[0].count(a[1]) + 1));
            return canonic(static_cast<double>(a[0].size()));
        }
        if (fn == QLatin1String("E") || fn == QLatin1String("EXTRACT")) {
            need(1, 3);
            const qint64 from = a.size() > 1 ? static_cast<qint64>(numericValue(a[1])) : 1;
            const qint64 to = a.size() > 2 ? static_cast<qint64>(numericValue(a[2])) : from;
            const qint64 first = qMax<qint64>(from, 1);
            if (to < first || first > a[0].size())
                return QString();
            return a[0].mid(first - 1, qMin<qint64>(to, a[0].size()) - first + 1);
        }
        if (fn == QLatin1String("C") || fn == QLatin1String("CHAR")) {
            QString value;
            for (const QString& code : a) {
                const double n = numericValue(code);
                if (n >= 0 && n <= 0xFFFF)
                    value += QChar(static_cast<char16_t>(n));
            }
            return value;
        }
        error("<FUNCTION>", QStringLiteral("$%1").arg(fn));
    }

    const QString& m_line;
    MEnvironment& m_env;
    MInterpreter& m_interpreter;
    const QHash<QString, QString>& m_vars;
    qsizetype m_pos = 0;
    int m_depth = 0;
    QString m_out;
    qsizetype m_written = 0;
    QString m_lastGlobal;
};

} // namespace

QString mCanonicNumber(const QString& text)
{
    return canonic(numericValue(text));
}

QString MInterpreter::zversion()
{
    return QStringLiteral("VELMOR ERP demo server 1.0 (MSM compatible)");
}

QString MInterpreter::execute(const QString& line)
{
    // As in M, variables set before an error in the same line stay set.
    Parser parser(line, m_env, *this);
    return parser.run();
}

namespace {
[[noreturn]] void storeError(const QString& detail)
{
    throw serverError(ServerError::MError, QStringLiteral("M-Fehler <STORE> %1").arg(detail));
}
} // namespace

void MInterpreter::setVariable(const QString& name, const QString& value)
{
    if (value.size() > MaxString)
        throw serverError(ServerError::MError,
                          QStringLiteral("M-Fehler <MAXSTRING> Wert von %1 länger als %2 Zeichen")
                              .arg(name)
                              .arg(MaxString));
    const auto it = m_vars.find(name);
    const qsizetype old = it == m_vars.end() ? 0 : name.size() + it->size();
    const qsizetype chars = m_localChars - old + name.size() + value.size();
    if (it == m_vars.end() && m_vars.size() >= MaxLocals)
        storeError(QStringLiteral("mehr als %1 lokale Variablen").arg(MaxLocals));
    if (chars > MaxLocalChars)
        storeError(QStringLiteral("lokale Variablen größer als %1 Zeichen").arg(MaxLocalChars));
    if (it == m_vars.end())
        m_vars.insert(name, value);
    else
        *it = value;
    m_localChars = chars;
}

void MInterpreter::killVariable(const QString& name)
{
    const auto it = m_vars.find(name);
    if (it == m_vars.end())
        return;
    m_localChars -= name.size() + it->size();
    m_vars.erase(it);
}

void MInterpreter::killAll()
{
    m_vars.clear();
    m_localChars = 0;
}

} // namespace erpsim
