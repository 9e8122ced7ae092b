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
class MInterpreter
{
public:
    explicit MInterpreter(MEnvironment& environment) : m_env(environment) {}

    // Runs one line; returns the text it wrote. Throws CacheError on an M error.
    QString execute(const QString& line);

    QHash<QString, QString>& variables() { return m_vars; }
    static QString zversion();

private:
    MEnvironment& m_env;
    QHash<QString, QString> m_vars;
};

// Canonical M form of a number text's numeric value ("007" -> "7", "1.50" -> "1.5").
QString mCanonicNumber(const QString& text);

} // namespace erpsim
