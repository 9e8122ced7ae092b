// The Debian packages as an administrator gets them: what they install, their dependencies,
// lintian, the desktop entry, and every installed executable's --version, --help and manual page.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& args, const QString& workDir = {})
{
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    if (!p.waitForFinished(240000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QMap<QString, QString> m_debs; // package name -> file

    QString root() const { return m_dir.filePath("root"); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const Run cpack = run("cpack", {"-G", "DEB", "-B", m_dir.filePath("out")}, VELMOR_BUILD_DIR);
        QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.out + cpack.err));
        const QDir out(m_dir.filePath("out"));
        for (const QString& name : out.entryList({"*.deb"}, QDir::Files))
            m_debs.insert(name.section(u'_', 0, 0), out.filePath(name));
        QCOMPARE(m_debs.keys(), (QStringList{"velmor-archiv", "velmor-erpd"}));
        for (const QString& deb : m_debs) {
            const Run x = run("dpkg-deb", {"-x", deb, root()});
            QVERIFY2(x.exitCode == 0, qPrintable(x.err));
        }
    }

    void contentsAndDependencies_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("depends");
        QTest::newRow("velmor-archiv")
            << "velmor-archiv"
            << QStringList{"usr/bin/velmor-archiv",
                           "usr/bin/velmor-handover",
                           "usr/bin/velmor-erp-cli",
                           "usr/share/applications/velmor-archiv.desktop",
                           "usr/share/icons/hicolor/scalable/apps/velmor-archiv.svg",
                           "usr/share/man/man1/velmor-archiv.1.gz",
                           "usr/share/man/man1/velmor-erp-cli.1.gz",
                           "usr/share/doc/velmor-archiv/copyright",
                           "usr/share/doc/velmor-archiv/changelog.gz"}
            << QStringList{"libqt6widgets6", "libzip4", "qt6-translations-l10n", "qt6-qpa-plugins"};
        QTest::newRow("velmor-erpd") << "velmor-erpd"
                                     << QStringList{"usr/bin/velmor-erpd",
                                                    "usr/share/man/man1/velmor-erpd.1.gz",
                                                    "usr/share/doc/velmor-erpd/copyright",
                                                    "usr/share/doc/velmor-erpd/changelog.gz"}
                                     << QStringList{"libqt6sql6", "libqt6network6", "libqt6sql6-sqlite"};
    }

    void contentsAndDependencies()
    {
        QFETCH(QString, package);
        QFETCH(QStringList, files);
        QFETCH(QStringList, depends);
        const Run contents = run("dpkg-deb", {"-c", m_debs.value(package)});
        for (const QString& file : files)
            QVERIFY2(contents.out.contains(" ./" + file + "\n"), qPrintable(file));
        // Everything root's, nothing writable by others.
        for (const QString& line : contents.out.split(u'\n', Qt::SkipEmptyParts)) {
            QVERIFY2(line.contains(" root/root "), qPrintable(line));
            QVERIFY2(line.at(8) != u'w', qPrintable(line));
        }
        // The demo server is not part of the program's package, nor the program of the server's.
        QCOMPARE(contents.out.contains("usr/bin/velmor-erpd"), package == "velmor-erpd");
        const Run field = run("dpkg-deb", {"-f", m_debs.value(package), "Depends"});
        for (const QString& dependency : depends)
            QVERIFY2(QRegularExpression("(^|, )" + QRegularExpression::escape(dependency) + "( |,|$)")
                         .match(field.out.trimmed())
                         .hasMatch(),
                     qPrintable(dependency + " not in " + field.out));
    }

    void lintianFindsNoError()
    {
        const Run lintian = run(
            "lintian", {"--fail-on", "error", m_debs.value("velmor-archiv"), m_debs.value("velmor-erpd")});
        QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.out + lintian.err));
        QVERIFY2(!lintian.out.contains(QRegularExpression("^E: ", QRegularExpression::MultilineOption)),
                 qPrintable(lintian.out));
    }

    void desktopEntryIsValid()
    {
        const QString entry = root() + "/usr/share/applications/velmor-archiv.desktop";
        const Run validate = run("desktop-file-validate", {entry});
        QVERIFY2(validate.exitCode == 0 && validate.out.isEmpty(), qPrintable(validate.out + validate.err));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains("\nName=VELMOR Archiv-Übergabe\n"));
        QVERIFY(text.contains("\nCategories=Office;\n"));
        QVERIFY(text.contains("\nExec=velmor-archiv\n"));
    }

    void executablesSpeakGerman_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<bool>("hasManPage");
        QTest::newRow("velmor-archiv") << "velmor-archiv" << true;
        QTest::newRow("velmor-handover") << "velmor-handover" << true;
        QTest::newRow("velmor-erp-cli") << "velmor-erp-cli" << true;
        QTest::newRow("velmor-erpd") << "velmor-erpd" << true;
    }

    void executablesSpeakGerman()
    {
        QFETCH(QString, tool);
        QFETCH(bool, hasManPage);
        const QString binary = root() + "/usr/bin/" + tool;

        const Run version = run(binary, {"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, tool + " " VELMOR_VERSION "\n");
        QCOMPARE(run(binary, {"-V"}).out, version.out);

        const Run help = run(binary, {"--help"});
        QCOMPARE(help.exitCode, 0);
        QCOMPARE(help.err, QString());
        QVERIFY2(help.out.startsWith("Aufruf: " + tool + " "), qPrintable(help.out));
        QVERIFY(help.out.contains("\nOptionen:\n"));
        QVERIFY(help.out.contains("  -h, --help "));
        // Every documented exit code, the usage error's 2 among them.
        QVERIFY(help.out.contains(
            QRegularExpression("\nRückgabewerte:\n  0  .+\n(  \\d  .+\n|     .+\n)*  2  ")));
        QCOMPARE(run(binary, {"-h"}).out, help.out);

        const Run wrong = run(binary, {"--gibt-es-nicht"});
        QCOMPARE(wrong.exitCode, 2);
        QVERIFY2(wrong.err.contains(tool +
                                    ": unbekannte Option \u201e--gibt-es-nicht\u201c (--help zeigt alle)\n"),
                 qPrintable(wrong.err));
        QVERIFY(wrong.out.isEmpty());

        if (!hasManPage)
            return;
        const Run page = run("gzip", {"-dc", root() + "/usr/share/man/man1/" + tool + ".1.gz"});
        QCOMPARE(page.exitCode, 0);
        QVERIFY(page.out.startsWith(".TH " + tool.toUpper() + " 1 "));
        for (const char* section :
             {".SH NAME\n", ".SH ÜBERSICHT\n", ".SH BESCHREIBUNG\n", ".SH OPTIONEN\n", ".SH RÜCKGABEWERTE\n"})
            QVERIFY2(page.out.contains(QString::fromUtf8(section)), section);
        // Every option of the help is in the manual.
        const QRegularExpression option("^  (?:-\\w, )?--([\\w-]+)", QRegularExpression::MultilineOption);
        for (const auto& match : option.globalMatch(help.out))
            QVERIFY2(page.out.contains("\\-\\-" + QString(match.captured(1)).replace("-", "\\-")),
                     qPrintable(match.captured(1)));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "TestPackage.moc"
