// velmor-handover --watch against velmor-erpd: how soon after its last change a file is handed
// over (goal: within --settle + 1 s), beside the same file handed over by a direct run started at
// that moment; then the watcher's CPU while the folder is idle (goal: under 1 % of one core),
// beside the idle demo server's in the same window.
#include "BenchSupport.h"

#include "erpsim/DemoData.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <unistd.h>

namespace {

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    // utime and stime are fields 14 and 15; after the command's ")" they are the 12th and 13th.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / sysconf(_SC_CLK_TCK);
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    erpsim::createDemoDatabase(dir.filePath("erp.db"));
    Daemon daemon;
    if (!daemon.start(dir.filePath("erp.db"))) {
        std::fprintf(stderr, "bench_hotfolder: velmor-erpd did not start\n");
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELMOR_LOGIN", QStringLiteral("1 0 17 demo 127.0.0.1 %1").arg(daemon.port));
    env.insert("XDG_RUNTIME_DIR", dir.path());
    const QString handover = QCoreApplication::applicationDirPath() + "/velmor-handover";
    const double settle = 1.0;
    const QString hot = dir.filePath("hot");
    QDir().mkpath(hot);

    QProcess watch;
    watch.setProcessEnvironment(env);
    watch.start(handover, {"--watch", hot, "--settle", QString::number(settle), "--keyword", "Bench"});
    watch.waitForStarted();
    QThread::msleep(1500);
    watch.readAllStandardOutput();

    const QByteArray scan = erpsim::samplePdf("Lieferschein");
    std::vector<double> pickup, direct;
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("scan-%1.pdf").arg(i);
        QElapsedTimer t;
        write(QDir(hot).filePath(name), scan);
        t.start();
        QByteArray out;
        while (!out.contains(name.toUtf8()) && t.elapsed() < 30000) {
            watch.waitForReadyRead(20);
            out += watch.readAllStandardOutput();
        }
        pickup.push_back(t.elapsed() / 1000.0);

        // The peer: the same hand-over as a direct run, started at once.
        const QString single = dir.filePath(QStringLiteral("direkt-%1.pdf").arg(i));
        write(single, scan);
        QProcess run;
        run.setProcessEnvironment(env);
        t.restart();
        run.start(handover, {"--keyword", "Bench", single});
        run.waitForFinished(30000);
        direct.push_back(t.elapsed() / 1000.0);
    }
    const double p = median(pickup), d = median(direct);
    std::printf(
        "bench_hotfolder: --settle %.0f s; from the last change to the OK line (median of 5): %.2f s, "
        "a direct run of the same hand-over %.2f s; after the settle time %.2f s, ratio %.2fx the direct "
        "run; goal settle + 1 s: %s\n",
        settle, p, d, p - settle, (p - settle) / d, verdict(p <= settle + 1.0));

    const double watchStart = cpuSeconds(watch.processId());
    const double serverStart = cpuSeconds(daemon.process.processId());
    QElapsedTimer idle;
    idle.start();
    QThread::sleep(20);
    const double seconds = idle.elapsed() / 1000.0;
    const double watchShare = (cpuSeconds(watch.processId()) - watchStart) / seconds;
    const double serverShare = (cpuSeconds(daemon.process.processId()) - serverStart) / seconds;
    std::printf(
        "bench_hotfolder: idle for %.0f s: watcher %.3f %% of one core, idle demo server %.3f %%; goal under "
        "1 %%: %s\n",
        seconds, watchShare * 100, serverShare * 100, verdict(watchShare < 0.01));
    watch.terminate();
    watch.waitForFinished(10000);
    return 0;
}
