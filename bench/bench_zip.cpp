// Packing throughput of the hand-over's ZIP step (with fsync and the check) against `zip -9 -j`
// and a plain `cp` + `sync` of the same bytes, measured in the same run; then a hand-over of
// ten files against the nine one-second pauses it must contain; then two velmor-handover runs
// of ten files each at once on one transfer folder against velmor-erpd, each against its pauses.
#include "app/Handover.h"
#include "app/ZipPacker.h"
#include "cache/cacheapi.h"
#include "erpsim/DemoData.h"
#include "erpsim/LocalServer.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList makeFiles(const QString& dir, const QString& prefix, int count, qint64 size, bool compressible,
                      const QString& suffix)
{
    QDir().mkpath(dir);
    QStringList paths;
    QRandomGenerator random(42);
    static const char* words[] = {"Lieferschein ",     "Baustelle ",
                                  "Zement ",           "4711 ",
                                  "Rechnung ",         "Menge ",
                                  "Palette ",          "\n",
                                  "Datum 07.12.2026 ", "Betrag 1.234,56 EUR "};
    for (int i = 0; i < count; ++i) {
        QByteArray data;
        data.reserve(size);
        if (compressible) {
            while (data.size() < size)
                data += words[random.bounded(10)];
            data.truncate(size);
        } else {
            data.resize(size);
            random.fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
        }
        const QString path = QDir(dir).filePath(QStringLiteral("%1-%2.%3").arg(prefix).arg(i).arg(suffix));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        paths << path;
    }
    return paths;
}

double seconds(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e9;
}

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(600000) && p.exitCode() == 0;
}

void copyAndSync(const QString& from, const QString& to)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    struct stat st;
    if (in >= 0 && out >= 0 && ::fstat(in, &st) == 0)
        for (off_t left = st.st_size; left > 0;) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
            if (n <= 0)
                break;
            left -= n;
        }
    if (out >= 0) {
        ::fsync(out);
        ::close(out);
    }
    if (in >= 0)
        ::close(in);
}

qint64 folderBytes(const QString& dir)
{
    qint64 total = 0;
    for (const QFileInfo& info : QDir(dir).entryInfoList(QDir::Files))
        total += info.size();
    return total;
}

struct Case
{
    const char* name;
    int count;
    qint64 size;
    bool compressible;
    const char* suffix;
    double goalZip;
    double goalCopy;
};

QString binary(const QString& name)
{
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

// Two workstations (two users) hand over ten files of the same names at once.
bool concurrentRuns(const QString& base, double largest)
{
    const QString folder = QDir(base).filePath("zwei");
    QDir().mkpath(folder);
    erpsim::createDemoDatabase(QDir(folder).filePath("erp.db"));
    {
        // A colleague at the second workstation: keys are per user, so two users' runs need not
        // wait for each other's seconds.
        auto db = QSqlDatabase::addDatabase("QSQLITE", "kollege");
        db.setDatabaseName(QDir(folder).filePath("erp.db"));
        if (db.open())
            QSqlQuery(db).exec(
                "INSERT INTO pers_edv VALUES (1, '21', 'demo', 'J', 'Kollege', 117, 10, '221', '1')");
        db.close();
    }
    QSqlDatabase::removeDatabase("kollege");
    QProcess daemon;
    daemon.start(binary("velmor-erpd"), {"--db", QDir(folder).filePath("erp.db"), "--port", "0"});
    QByteArray out;
    for (int i = 0; i < 100 && !out.contains('\n'); ++i) {
        daemon.waitForReadyRead(100);
        out += daemon.readAllStandardOutput();
    }
    const auto port = QRegularExpression("listening on [^:]+:(\\d+)").match(QString::fromUtf8(out));
    if (!port.hasMatch()) {
        std::fprintf(stderr, "velmor-erpd did not start\n");
        return false;
    }
    const char* const users[2] = {"17", "21"};
    auto environment = [&](const char* user) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMOR_LOGIN", QStringLiteral("1 0 %1 demo 127.0.0.1 %2").arg(user, port.captured(1)));
        env.insert("XDG_RUNTIME_DIR", folder);
        return env;
    };
    // What a process costs beyond the run itself (start, login, one small file, end): each run's
    // limit is the in-process one plus this, measured here.
    QProcess single;
    single.setProcessEnvironment(environment(users[0]));
    const QStringList tiny = makeFiles(QDir(folder).filePath("klein"), "klein", 1, 1000, false, "pdf");
    QElapsedTimer startup;
    startup.start();
    single.start(binary("velmor-handover"), tiny);
    single.waitForFinished(60000);
    const double overhead = seconds(startup);
    QProcess runs[2];
    QElapsedTimer clocks[2];
    double took[2] = {};
    for (int r = 0; r < 2; ++r) {
        const QStringList files = makeFiles(QDir(folder).filePath(QStringLiteral("platz%1").arg(r)), "scan",
                                            10, 20LL << 20, false, "pdf");
        runs[r].setProcessEnvironment(environment(users[r]));
        runs[r].setProgram(binary("velmor-handover"));
        runs[r].setArguments(files);
    }
    for (int r = 0; r < 2; ++r) {
        clocks[r].start();
        runs[r].start();
    }
    // Each run's end is taken as it comes, not after the other's.
    for (int done = 0; done < 2;) {
        for (int r = 0; r < 2; ++r)
            if (took[r] == 0 && runs[r].waitForFinished(10)) {
                took[r] = seconds(clocks[r]);
                ++done;
            }
    }
    QSet<QString> keys, archives;
    int registered = 0;
    const QRegularExpression ok("^OK .+ -> (.+) (\\d+)$");
    for (QProcess& run : runs) {
        int lines = 0;
        for (const QString& line :
             QString::fromUtf8(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            if (const auto m = ok.match(line); m.hasMatch()) {
                ++registered;
                ++lines;
                keys << m.captured(2);
                archives << m.captured(1);
            }
        if (lines < 10)
            std::fprintf(stderr, "velmor-handover (exit %d): %s\n", run.exitCode(),
                         run.readAllStandardError().left(400).constData());
    }
    daemon.kill();
    daemon.waitForFinished(5000);
    const double limit = 9 * 1.1 + largest + overhead;
    const bool met = took[0] <= limit && took[1] <= limit && registered == 20 && keys.size() == 20 &&
                     archives.size() == 20;
    std::printf("two hand-overs of 10 files of 20 MB at once on one transfer folder (processes): %.2f s and "
                "%.2f s, each against its limit 9 pauses + 10%% + largest packing + one process's start, "
                "login and end (%.2f s) = %.2f s (%.2fx, %.2fx); %d registered, %lld distinct keys, %lld "
                "distinct archives: %s\n",
                took[0], took[1], overhead, limit, took[0] / limit, took[1] / limit, registered,
                qlonglong(keys.size()), qlonglong(archives.size()), met ? "met" : "NOT met");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QTemporaryDir dir(QDir(base).filePath("bench-zip-XXXXXX"));
    LibZipPacker packer;

    const Case cases[] = {
        {"(a) 20 incompressible files of 20 MB", 20, 20LL << 20, false, "pdf", 10.0, 0.8},
        {"(b) 20 compressible files of 20 MB", 20, 20LL << 20, true, "txt", 2.5, 0},
        {"(c) 200 files of 200 KB", 200, 200LL << 10, false, "tif", 3.0, 0},
    };
    // "handover" as second argument: only the hand-over parts; letters ("ac"): only those cases.
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    const bool handoverOnly = only == "handover";
    for (const Case& c : handoverOnly ? std::span<const Case>() : std::span<const Case>(cases)) {
        if (!only.isEmpty() && !only.contains(c.name[1]))
            continue;
        const QString src = dir.filePath(QStringLiteral("src-%1").arg(c.suffix));
        const QStringList files =
            makeFiles(src, QStringLiteral("f"), c.count, c.size, c.compressible, c.suffix);
        const double mb = c.count * double(c.size) / (1 << 20);

        const QString ours = dir.filePath(QStringLiteral("ours-%1/").arg(c.suffix));
        QDir().mkpath(ours);
        QElapsedTimer t;
        t.start();
        for (const QString& f : files)
            if (packer.pack(f, ours + QFileInfo(f).completeBaseName() + ".zip", c.suffix).error !=
                ZipPacker::Ok)
                std::fprintf(stderr, "packing failed: %s\n", qPrintable(f));
        const double oursS = seconds(t);

        const QString zips = dir.filePath(QStringLiteral("zip-%1/").arg(c.suffix));
        QDir().mkpath(zips);
        t.start();
        for (const QString& f : files)
            run("zip", {"-q", "-9", "-j", zips + QFileInfo(f).completeBaseName() + ".zip", f});
        const double zipS = seconds(t);

        const QString copies = dir.filePath(QStringLiteral("cp-%1/").arg(c.suffix));
        QDir().mkpath(copies);
        t.start();
        for (const QString& f : files) {
            run("cp", {f, copies});
            run("sync", {copies + QFileInfo(f).fileName()});
        }
        const double copyS = seconds(t);

        const double sizeRatio = double(folderBytes(ours)) / double(folderBytes(zips));
        std::printf("%s: ours %.0f MB/s (%.2f s), zip -9 %.0f MB/s (%.2f s), cp+sync %.0f MB/s (%.2f s); "
                    "%.1fx zip -9 (goal >= %.1fx: %s), %.2fx cp+sync%s, archive size %.3fx zip -9\n",
                    c.name, mb / oursS, oursS, mb / zipS, zipS, mb / copyS, copyS, zipS / oursS, c.goalZip,
                    zipS / oursS >= c.goalZip ? "met" : "NOT met", copyS / oursS,
                    c.goalCopy > 0
                        ? (copyS / oursS >= c.goalCopy ? " (goal >= 0.8x: met)" : " (goal >= 0.8x: NOT met)")
                        : "",
                    sizeRatio);
        // Information: the same copy and fsync without starting two processes per file.
        const QString inProcess = dir.filePath(QStringLiteral("kopie-%1/").arg(c.suffix));
        QDir().mkpath(inProcess);
        t.start();
        for (const QString& f : files)
            copyAndSync(f, inProcess + QFileInfo(f).fileName());
        const double inProcessS = seconds(t);
        std::printf("    information: copy_file_range + fsync in process %.0f MB/s (%.2f s), %.2fx of it\n",
                    mb / inProcessS, inProcessS, inProcessS / oursS);
        // Information: stored entries the way they were written before (through libzip).
        if (!c.compressible) {
            const QString before = dir.filePath(QStringLiteral("libzip-%1/").arg(c.suffix));
            QDir().mkpath(before);
            LibZipPacker throughLibzip(LibZipPacker::Store::ThroughLibzip);
            t.start();
            for (const QString& f : files)
                throughLibzip.pack(f, before + QFileInfo(f).completeBaseName() + ".zip", c.suffix);
            const double beforeS = seconds(t);
            std::printf("    information: stored through libzip %.0f MB/s (%.2f s), %.2fx cp+sync\n",
                        mb / beforeS, beforeS, copyS / beforeS);
            QDir(before).removeRecursively();
        }
        QDir(ours).removeRecursively();
        QDir(zips).removeRecursively();
        QDir(copies).removeRecursively();
        QDir(inProcess).removeRecursively();
    }
    if (only.size() && !handoverOnly)
        return 0;

    // A hand-over of ten 20 MB files: nine pauses of one second, packing overlapping them.
    erpsim::LocalServer server(dir.filePath("erp.db"));
    erpsim::createDemoDatabase(dir.filePath("erp.db"));
    cacheclient::setFactoryCreator(server.creator());
    MessageBox::setConsole(true);
    session().CommandLine = QStringLiteral("1 0 17 demo");
    if (!CacheLogin())
        return 1;
    const QStringList ten =
        makeFiles(dir.filePath("ten"), QStringLiteral("scan"), 10, 20LL << 20, false, "pdf");
    QElapsedTimer single;
    single.start();
    packer.pack(ten.first(), dir.filePath("einzeln.zip"), "pdf");
    const double largest = seconds(single);
    HandoverInput input;
    input.dateText = EmptyDateMask;
    Handover handover;
    QElapsedTimer whole;
    whole.start();
    const auto outcomes = handover.run(ten, input);
    const double total = seconds(whole);
    int archived = 0;
    for (const auto& o : outcomes)
        archived += o.archived;
    const double limit = 9 * 1.1 + largest;
    std::printf(
        "hand-over of 10 files of 20 MB: %.2f s (%d archived); limit 9 pauses + 10%% + largest packing "
        "(%.2f s) = %.2f s: %s\n",
        total, archived, largest, limit, total <= limit ? "met" : "NOT met");
    session().Factory.reset();
    cacheclient::setFactoryCreator(nullptr);
    return concurrentRuns(dir.path(), largest) ? 0 : 1;
}
