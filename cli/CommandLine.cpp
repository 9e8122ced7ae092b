#include "CommandLine.h"

#include <QRegularExpression>
#include <cstdio>

namespace cli {

namespace {

constexpr int Width = 79;

QString optionLabel(const QCommandLineOption& option)
{
    QStringList names;
    for (const QString& name : option.names())
        names << (name.size() == 1 ? u'-' + name : QStringLiteral("--") + name);
    QString label = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        label += u' ' + option.valueName();
    return label;
}

// Word wrap to the console width; continuation lines get the indent.
QString wrap(const QString& text, int indent, int firstColumn)
{
    QString out;
    int column = firstColumn;
    const QStringList lines = text.split(u'\n');
    for (int l = 0; l < lines.size(); ++l) {
        if (l > 0) {
            out += u'\n' + QString(indent, u' ');
            column = indent;
        }
        bool first = true;
        for (const QString& word : lines[l].split(u' ', Qt::SkipEmptyParts)) {
            if (!first && column + 1 + word.size() > Width) {
                out += u'\n' + QString(indent, u' ');
                column = indent;
                first = true;
            }
            if (!first) {
                out += u' ';
                ++column;
            }
            out += word;
            column += word.size();
            first = false;
        }
    }
    return out;
}

QString paragraphs(const QString& text, int indent = 0)
{
    QStringList out;
    for (const QString& block : text.split(QStringLiteral("\n\n"))) {
        if (block.startsWith(QLatin1String("  ")))
            out << block; // laid out by hand: examples, tables
        else
            out << QString(indent, u' ') + wrap(block, indent, indent);
    }
    return out.join(QStringLiteral("\n\n"));
}

QString roff(QString text)
{
    text.replace(u'\\', QStringLiteral("\\e"));
    text.replace(u'-', QStringLiteral("\\-"));
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        if (line.startsWith(u'.') || line.startsWith(u'\''))
            line.prepend(QStringLiteral("\\&"));
    return lines.join(u'\n');
}

QString roffParagraphs(const QString& text)
{
    QStringList out;
    for (const QString& block : text.split(QStringLiteral("\n\n"))) {
        if (block.startsWith(QLatin1String("  ")))
            out << QStringLiteral(".PP\n.nf\n") + roff(block) + QStringLiteral("\n.fi");
        else
            out << QStringLiteral(".PP\n") + roff(block);
    }
    return out.join(u'\n');
}

} // namespace

CommandLine::CommandLine(ToolInfo info)
    : m_info(std::move(info)), m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Diese Hilfe zeigen und beenden.")),
      m_version(QStringList{QStringLiteral("V"), QStringLiteral("version")},
                QStringLiteral("Programmname und Version zeigen und beenden.")),
      m_manPage(QStringLiteral("manpage"), QStringLiteral("Handbuchseite (roff) ausgeben."))
{
    m_manPage.setFlags(QCommandLineOption::HiddenFromHelp);
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addOption(m_manPage);
    m_parser.addOption(m_help);
    m_parser.addOption(m_version);
}

void CommandLine::addOption(const QCommandLineOption& option)
{
    m_options << option;
    m_parser.addOption(option);
}

void CommandLine::addOptions(const QList<QCommandLineOption>& options)
{
    for (const QCommandLineOption& option : options)
        addOption(option);
}

std::optional<int> CommandLine::parse(const QStringList& arguments)
{
    if (!m_parser.parse(arguments)) {
        const QStringList unknown = m_parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString& name = unknown.first();
            return usageError(QStringLiteral("unbekannte Option \u201e%1%2\u201c (--help zeigt alle)")
                                  .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
        }
        // The only other failure is an option without its value; the parser names it in quotes.
        const auto match = QRegularExpression(QStringLiteral("'([^']*)'")).match(m_parser.errorText());
        return usageError(QStringLiteral("Option \u201e%1\u201c erwartet einen Wert").arg(match.captured(1)));
    }
    if (m_parser.isSet(m_help)) {
        printOut(helpText());
        return 0;
    }
    if (m_parser.isSet(m_version)) {
        printOut(versionText());
        return 0;
    }
    if (m_parser.isSet(m_manPage)) {
        printOut(manPage());
        return 0;
    }
    return std::nullopt;
}

QString CommandLine::helpText() const
{
    QString out;
    for (int i = 0; i < m_info.synopsis.size(); ++i)
        out += (i == 0 ? QStringLiteral("Aufruf: ") : QStringLiteral("        ")) + m_info.name + u' ' +
               m_info.synopsis[i] + u'\n';
    out += u'\n' + paragraphs(m_info.description) + QStringLiteral("\n\nOptionen:\n");

    QList<QCommandLineOption> all = m_options;
    all << m_help << m_version;
    qsizetype labelWidth = 0;
    for (const QCommandLineOption& option : all)
        labelWidth = qMax(labelWidth, optionLabel(option).size());
    const int column = static_cast<int>(qMin<qsizetype>(labelWidth, 26)) + 4;
    for (const QCommandLineOption& option : all) {
        QString line = QStringLiteral("  ") + optionLabel(option);
        if (line.size() + 2 > column)
            line += u'\n' + QString(column, u' ');
        else
            line += QString(column - line.size(), u' ');
        out += line + wrap(option.description(), column, column) + u'\n';
    }

    out += QStringLiteral("\nR\u00fcckgabewerte:\n");
    for (const ExitCode& exit : m_info.exitCodes)
        out += QStringLiteral("  %1  ").arg(exit.code) + wrap(exit.meaning, 5, 5) + u'\n';
    for (const Section& section : m_info.sections)
        out += u'\n' + section.title + QStringLiteral(":\n") + paragraphs(section.text, 2) + u'\n';
    return out;
}

QString CommandLine::versionText() const
{
    return m_info.name + QStringLiteral(" " VELMOR_VERSION "\n");
}

QString CommandLine::manPage() const
{
    QString out = QStringLiteral(".TH %1 1 \"\" \"%2 %3\" \"VELMOR Archiv-\u00dcbergabe\"\n")
                      .arg(m_info.name.toUpper(), m_info.name, QStringLiteral(VELMOR_VERSION));
    out += QStringLiteral(".SH NAME\n") + roff(m_info.name) + QStringLiteral(" \\- ") + roff(m_info.summary) +
           u'\n';
    out += QStringLiteral(".SH \u00dcBERSICHT\n");
    for (int i = 0; i < m_info.synopsis.size(); ++i)
        out += (i ? QStringLiteral(".br\n") : QString()) + QStringLiteral(".B ") + roff(m_info.name) + u'\n' +
               roff(m_info.synopsis[i]) + u'\n';
    out += QStringLiteral(".SH BESCHREIBUNG\n") + roffParagraphs(m_info.description) + u'\n';
    out += QStringLiteral(".SH OPTIONEN\n");
    QList<QCommandLineOption> all = m_options;
    all << m_help << m_version;
    for (const QCommandLineOption& option : all)
        out += QStringLiteral(".TP\n.B ") + roff(optionLabel(option)) + u'\n' + roff(option.description()) +
               u'\n';
    out += QStringLiteral(".SH R\u00dcCKGABEWERTE\n");
    for (const ExitCode& exit : m_info.exitCodes)
        out += QStringLiteral(".TP\n.B %1\n").arg(exit.code) + roff(exit.meaning) + u'\n';
    for (const Section& section : m_info.sections)
        out += QStringLiteral(".SH ") + roff(section.title.toUpper()) + u'\n' + roffParagraphs(section.text) +
               u'\n';
    return out;
}

int CommandLine::usageError(const QString& message) const
{
    return fail(UsageExitCode, message);
}

int CommandLine::fail(int exitCode, const QString& message) const
{
    printErr(m_info.name + QStringLiteral(": ") + message + u'\n');
    return exitCode;
}

std::optional<int> handleInfoOnly(const CommandLine& line, const QStringList& arguments)
{
    if (arguments.size() < 2)
        return std::nullopt;
    const QString& first = arguments.at(1);
    if (first == QLatin1String("-h") || first == QLatin1String("--help")) {
        printOut(line.helpText());
        return 0;
    }
    if (first == QLatin1String("-V") || first == QLatin1String("--version")) {
        printOut(line.versionText());
        return 0;
    }
    if (first == QLatin1String("--manpage")) {
        printOut(line.manPage());
        return 0;
    }
    // Login fields never start with a dash and a letter; a negative number is no option.
    const bool option = first.startsWith(QLatin1String("--")) ||
                        (first.size() > 1 && first.at(0) == u'-' && first.at(1).isLetter());
    if (option)
        return line.usageError(
            QStringLiteral("unbekannte Option \u201e%1\u201c (--help zeigt alle)").arg(first));
    return std::nullopt;
}

void printOut(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void printErr(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stderr);
}

} // namespace cli
