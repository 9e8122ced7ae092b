#pragma once

#include "app/Handover.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>

class QFileSystemWatcher;
class QSocketNotifier;

// Which files of a folder have kept their size and modification time for the settle time.
class SettleTracker
{
public:
    struct State
    {
        qint64 size = -1;
        QDateTime modified;
        bool operator==(const State&) const = default;
    };

    explicit SettleTracker(qint64 settleMs) : m_settleMs(settleMs) {}

    // What one scan saw at nowMs (a monotonic clock); files it did not see are forgotten.
    void observe(const QMap<QString, State>& seen, qint64 nowMs);
    // Files unchanged for the settle time, in the order they were first seen (then by name).
    QStringList settled(qint64 nowMs) const;
    // Milliseconds until the next file settles; -1 when none is waiting.
    qint64 nextDue(qint64 nowMs) const;
    State state(const QString& name) const { return m_files.value(name).state; }
    void forget(const QString& name) { m_files.remove(name); }

private:
    struct Entry
    {
        State state;
        qint64 since = 0;     // when this state was first seen
        qint64 firstSeen = 0; // when the file was first seen
    };
    qint64 m_settleMs;
    QMap<QString, Entry> m_files;
};

// velmor-handover --watch: hands over every file that settles in a folder, one at a time, and
// moves it to "übergeben/" (or deletes it) or to "fehler/" with "<name>.grund.txt" beside it.
class HotFolder : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString folder;
        qint64 settleMs = 5000;
        bool deleteSources = false;
        HandoverInput input;
        int rescanMs = 10000;     // safety net for changes the watcher does not report
        int serverRetryMs = 5000; // while the server is away
    };

    static QString doneFolderName();
    static QString failedFolderName();

    explicit HotFolder(Options options, QObject* parent = nullptr);
    ~HotFolder() override;

    // Creates the two subfolders; the German reason when the folder cannot be used.
    QString prepare();
    void start();
    // Stops after the file in hand; finished() follows.
    void stop();
    // SIGTERM and SIGINT call stop(), through a pipe the handler writes to.
    bool stopOnSignals();

    // One hand-over and whether the server saw it through.
    struct Attempt
    {
        enum Kind {
            Finished,   // archived, or failed for a reason that another try would not change
            ServerAway, // nothing was sent: the same file may be tried again later
            Unknown,    // the registration was sent and its answer lost: never try again
        };
        HandoverOutcome outcome;
        Kind kind = Finished;
    };

    // Seams for tests; by default the session's server and the shared hand-over.
    std::function<bool()> serverReachable;
    std::function<Attempt(const QString& path, const HandoverInput& input)> handOver;

    // Before the login: true once the server answers, false when stopped while waiting.
    bool waitForServerAtStart();

signals:
    // "OK …" or "FEHLER …", one per file.
    void result(const QString& text);
    // Waiting for the server, going on, trouble with the folder.
    void status(const QString& text);
    void finished(int exitCode);
    void stopRequested();

private:
    enum class Result { Done, Failed, Retry };

    void scheduleScan(int ms);
    void scan();
    void processNext();
    Result processFile(const QString& name);
    bool waitForServer();
    void reportServer(bool reachable);
    QString moveInto(const QString& path, const QString& folder);
    void fail(const QString& path, const QString& reason);
    void finishIfStopping();

    Attempt defaultHandOver(const QString& path);

    Options m_options;
    Handover m_handover;
    SettleTracker m_tracker;
    QElapsedTimer m_clock;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer m_scanTimer;
    QTimer m_rescanTimer;
    QTimer m_serverTimer;
    QSocketNotifier* m_signalNotifier = nullptr;
    // Handed over or failed in this run but still in the folder (a move failed): never again.
    QSet<QString> m_decided;
    bool m_busy = false;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_serverAway = false;
};
