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
#include <QTemporaryDir>
#include <cstdio>

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
    const char* const users[2] = {"17", "20"};
    QProcess runs[2];
    QElapsedTimer clocks[2];
    double took[2] = {};
    for (int r = 0; r < 2; ++r) {
        const QStringList files = makeFiles(QDir(folder).filePath(QStringLiteral("platz%1").arg(r)), "scan",
                                            10, 20LL << 20, false, "pdf");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMOR_LOGIN",
                   QStringLiteral("1 0 %1 demo 127.0.0.1 %2").arg(users[r], port.captured(1)));
        env.insert("XDG_RUNTIME_DIR", folder);
        runs[r].setProcessEnvironment(env);
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
    for (QProcess& run : runs)
        for (const QString& line :
             QString::fromUtf8(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            if (const auto m = ok.match(line); m.hasMatch()) {
                ++registered;
                keys << m.captured(2);
                archives << m.captured(1);
            }
    daemon.kill();
    daemon.waitForFinished(5000);
    const double limit = 9 * 1.1 + largest;
    const bool met = took[0] <= limit && took[1] <= limit && registered == 20 && keys.size() == 20 &&
                     archives.size() == 20;
    std::printf("two hand-overs of 10 files of 20 MB at once on one transfer folder (processes): %.2f s and "
                "%.2f s, each against its limit %.2f s (%.2fx, %.2fx); %d registered, %lld distinct keys, "
                "%lld distinct archives: %s\n",
                took[0], took[1], limit, took[0] / limit, took[1] / limit, registered, qlonglong(keys.size()),
                qlonglong(archives.size()), met ? "met" : "NOT met");
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
        {"(a) 20 incompressible files of 20 MB", 20, 20LL << 20, false, "pdf", 10.0, 0.3},
        {"(b) 20 compressible files of 20 MB", 20, 20LL << 20, true, "txt", 2.5, 0},
        {"(c) 200 files of 200 KB", 200, 200LL << 10, false, "tif", 3.0, 0},
    };
    for (const Case& c : cases) {
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
                        ? (copyS / oursS >= c.goalCopy ? " (goal >= 0.3x: met)" : " (goal >= 0.3x: NOT met)")
                        : "",
                    sizeRatio);
        QDir(ours).removeRecursively();
        QDir(zips).removeRecursively();
        QDir(copies).removeRecursively();
    }

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
