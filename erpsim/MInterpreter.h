#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace erpsim {

// What the interpreter asks of the server around it.
class MEnvironment
{
public:
    virtual ~MEnvironment() = default;
    // A global node's value, or nothing when the node is not defined.
    virtual std::optional<QString> global(const QString& name, const QStringList& subscripts) = 0;
    // DO label^routine(args): returns what the routine writes; throws for an unknown routine.
    virtual QString doRoutine(const QString& label, const QString& routine, const QStringList& args) = 0;
    // $$label^routine(args): the value; throws for an unknown function.
    virtual QString extrinsic(const QString& label, const QString& routine, const QStringList& args) = 0;
};

// A small interpreter for the M command lines the client sends through "Xecute": the
// commands SET, WRITE, DO, KILL and QUIT with postconditions, string literals with doubled
// quotes, numbers, local variables, global references, the functions $PIECE, $GET, $FIND,
// $LENGTH, $EXTRACT, $CHAR, $SELECT-free arithmetic (_ + - = '= < >) and $ZVERSION.
// Anything else raises an M error (<SYNTAX>, <UNDEFINED>, <NOROUTINE> ...), never a crash.
// Every line is bounded: nesting, string length, output, and the variables it leaves behind.
class MInterpreter
{
public:
    // Nesting of every recursive construct (operators, parentheses, functions, arguments).
    static constexpr int MaxDepth = 128;
    static constexpr qsizetype MaxString = 32767;
    // What one line may write; the routines' own output is not counted.
    static constexpr qsizetype MaxOutput = 1 << 20;
    static constexpr qsizetype MaxLocals = 4096;
    // Characters of all local variables' names and values together.
    static constexpr qsizetype MaxLocalChars = 1 << 20;

    explicit MInterpreter(MEnvironment& environment) : m_env(environment) {}

    // Runs one line; returns the text it wrote. Throws CacheError on an M error.
    QString execute(const QString& line);

    const QHash<QString, QString>& variables() const { return m_vars; }
    // Throws CacheError <STORE> when the variable would exceed the limits.
    void setVariable(const QString& name, const QString& value);
    void killVariable(const QString& name);
    void killAll();
    qsizetype localChars() const { return m_localChars; }
    static QString zversion();

private:
    MEnvironment& m_env;
    QHash<QString, QString> m_vars;
    qsizetype m_localChars = 0;
};

// Canonical M form of a number text's numeric value ("007" -> "7", "1.50" -> "1.5").
QString mCanonicNumber(const QString& text);

} // namespace erpsim
