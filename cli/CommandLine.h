#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace cli {

struct ExitCode
{
    int code;
    QString meaning;
};

struct Section
{
    QString title; // e.g. "Umgebung"
    QString text;  // paragraphs separated by empty lines; lines starting with "  " stay as written
};

// What an executable tells about itself; --help, --version and its manual page come from this one
// description, so they cannot drift apart.
struct ToolInfo
{
    QString name;
    QString summary;      // one line: the manual's NAME
    QStringList synopsis; // call forms without the name
    QString description;
    QList<ExitCode> exitCodes;
    QList<Section> sections; // after the options
};

// German command-line handling. QCommandLineParser's own -h/-v and its messages are English, so
// help, version and every usage error are worded here.
class CommandLine
{
public:
    explicit CommandLine(ToolInfo info);

    void addOption(const QCommandLineOption& option);
    void addOptions(const QList<QCommandLineOption>& options);
    QCommandLineParser& parser() { return m_parser; }
    bool isSet(const QCommandLineOption& option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption& option) const { return m_parser.value(option); }
    QStringList positionalArguments() const { return m_parser.positionalArguments(); }

    // Empty when the tool should go on; otherwise the exit code after --help or --version (0) or
    // after a usage error (2, message already on stderr).
    std::optional<int> parse(const QStringList& arguments);

    QString helpText() const;
    QString versionText() const;
    QString manPage() const;

    // "name: message" on stderr; returns the usage exit code 2.
    int usageError(const QString& message) const;
    int fail(int exitCode, const QString& message) const;

    static constexpr int UsageExitCode = 2;

private:
    ToolInfo m_info;
    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    QCommandLineOption m_manPage;
};

// Help or version asked for as the first argument, for a program whose other arguments are not
// options (velmor-archiv takes its login fields as free text).
std::optional<int> handleInfoOnly(const CommandLine& line, const QStringList& arguments);

void printOut(const QString& text);
void printErr(const QString& text);

} // namespace cli
