// Start-up with a command-line login against velmor-erpd on loopback: from process start to the
// main window's caption, beside the same login's server calls made by the client alone (first
// recorded from the program's own start-up steps, then replayed bare, in a process of their own
// and in this one).
#include "BenchSupport.h"
#include "LoginReplay.h"
#include "app/FMStart.h"
#include "cache/cacheapi.h"

#include <QApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <map>

using namespace cacheclient;

namespace {

// Passes every call through and writes it down: kind, object handle, names and arguments.
class RecordingObject : public CacheObject
{
public:
    RecordingObject(std::unique_ptr<CacheObject> inner, Calls& calls, int handle)
        : m_inner(std::move(inner)), m_calls(calls), m_handle(QString::number(handle))
    {
    }
    QString className() const override { return m_inner->className(); }
    QString id() const override { return m_inner->id(); }
    QString property(const QString& name) const override
    {
        m_calls << QStringList{"property", m_handle, name};
        return m_inner->property(name);
    }
    QStringList propertyNames() const override { return m_inner->propertyNames(); }
    QString call(const QString& method, QStringList& args) override
    {
        m_calls << (QStringList{"call", m_handle, method} + args);
        return m_inner->call(method, args);
    }
    void close() override
    {
        m_calls << QStringList{"close", m_handle};
        m_inner->close();
    }

private:
    std::unique_ptr<CacheObject> m_inner;
    Calls& m_calls;
    QString m_handle;
};

class RecordingFactory : public Factory
{
public:
    explicit RecordingFactory(Calls& calls) : m_inner(networkFactory()), m_calls(calls) {}
    bool connect(QString& connectString) override
    {
        m_calls << QStringList{"connect", connectString};
        return m_inner->connect(connectString);
    }
    bool isConnected() const override { return m_inner->isConnected(); }
    void disconnect() override { m_inner->disconnect(); }
    std::unique_ptr<CacheObject> openId(const QString& className, const QString& id) override
    {
        m_calls << QStringList{"open", QString::number(++m_handles), className, id};
        return std::make_unique<RecordingObject>(m_inner->openId(className, id), m_calls, m_handles);
    }
    std::unique_ptr<CacheObject> classObject(const QString& className) override
    {
        m_calls << QStringList{"class", QString::number(++m_handles), className};
        return std::make_unique<RecordingObject>(m_inner->classObject(className), m_calls, m_handles);
    }
    std::unique_ptr<ResultSet> resultSet(const QString& className, const QString& queryName) override
    {
        m_calls << QStringList{"query", className, queryName};
        return m_inner->resultSet(className, queryName);
    }

private:
    std::shared_ptr<Factory> m_inner;
    Calls& m_calls;
    int m_handles = 0;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("Aufruf: bench_login DB\n", stderr);
        return 2;
    }
    Daemon daemon;
    if (!daemon.start(app.arguments().at(1))) {
        std::fputs("velmor-erpd did not start\n", stderr);
        return 1;
    }
    const QString port = QString::number(daemon.port);
    const QString commandLine = QStringLiteral("1 0 17 demo 127.0.0.1 ") + port;

    // The start-up's server calls, recorded from the same steps the main window takes.
    Calls calls;
    {
        cacheclient::setFactoryCreator([&calls] { return std::make_shared<RecordingFactory>(calls); });
        session().Interactive = false;
        FMStart window;
        session().CommandLine = commandLine;
        session().LoginDialogForced = true;
        if (!CacheLogin()) {
            std::fputs("login failed\n", stderr);
            return 1;
        }
        window.setStartCaption();
        window.MatchListeLaden();
        CacheDisconnect();
        cacheclient::setFactoryCreator({});
    }
    QTemporaryDir dir;
    const QString recorded = dir.filePath("calls.bin");
    {
        QFile file(recorded);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QDataStream out(&file);
        out << calls;
    }

    std::vector<double> program;
    QString caption;
    for (int run = 0; run < 7; ++run) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VELMOR_QUIT_AFTER_START", "1");
        process.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        process.start(QCoreApplication::applicationDirPath() + "/velmor-archiv", commandLine.split(u' '));
        QByteArray out;
        while (!out.contains('\n') && process.waitForReadyRead(10000))
            out += process.readAllStandardOutput();
        program.push_back(t.nsecsElapsed() / 1e6);
        caption = QString::fromUtf8(out).trimmed();
        process.waitForFinished(10000);
    }
    if (!caption.contains(QLatin1String("Benutzer: 17|"))) {
        std::fprintf(stderr, "no caption from velmor-archiv: %s\n", qPrintable(caption));
        return 1;
    }

    std::vector<double> bareProcess;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer t;
        t.start();
        const int rc =
            QProcess::execute(QCoreApplication::applicationDirPath() + "/bench_login_replay", {recorded});
        bareProcess.push_back(t.nsecsElapsed() / 1e6);
        if (rc != 0) {
            std::fputs("replay process failed\n", stderr);
            return 1;
        }
    }
    std::vector<double> bare;
    for (int run = 0; run < 21; ++run) {
        QElapsedTimer t;
        t.start();
        if (!replay(calls))
            return 1;
        bare.push_back(t.nsecsElapsed() / 1e6);
    }

    const double startMs = median(program);
    const double processMs = median(bareProcess);
    std::printf(
        "start-up with command-line login to the caption (median of 7): %.1f ms (goal <= 300 ms: %s); "
        "the same %lld server calls replayed by a bare client process (process start included, "
        "median of 7): %.1f ms, ratio %.2fx (goal <= 3x: %s); the calls alone in this process "
        "(median of 21): %.2f ms, ratio %.1fx\n",
        startMs, verdict(startMs <= 300), static_cast<long long>(calls.size()), processMs,
        startMs / processMs, verdict(startMs <= 3 * processMs), median(bare), startMs / median(bare));
    return 0;
}
