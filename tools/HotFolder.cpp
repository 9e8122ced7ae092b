#include "HotFolder.h"

#include "cache/cacheapi.h"
#include "cacheclient/CacheError.h"
#include "cacheclient/Factory.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

void SettleTracker::observe(const QMap<QString, State>& seen, qint64 nowMs)
{
    for (auto it = m_files.begin(); it != m_files.end();)
        it = seen.contains(it.key()) ? std::next(it) : m_files.erase(it);
    for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
        auto known = m_files.find(it.key());
        if (known == m_files.end())
            m_files.insert(it.key(), {it.value(), nowMs, nowMs});
        else if (!(known->state == it.value()))
            *known = {it.value(), nowMs, known->firstSeen};
    }
}

QStringList SettleTracker::settled(qint64 nowMs) const
{
    QList<QPair<qint64, QString>> ready;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
        if (nowMs - it->since >= m_settleMs)
            ready.append({it->firstSeen, it.key()});
    std::sort(ready.begin(), ready.end());
    QStringList names;
    for (const auto& entry : ready)
        names << entry.second;
    return names;
}

qint64 SettleTracker::nextDue(qint64 nowMs) const
{
    qint64 due = -1;
    for (const Entry& entry : m_files) {
        const qint64 left = std::max<qint64>(0, entry.since + m_settleMs - nowMs);
        due = due < 0 ? left : std::min(due, left);
    }
    return due;
}

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// Scanners and copy tools write under these names first and rename when done.
bool isTemporary(const QString& name)
{
    return name.endsWith(QLatin1String(".tmp"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".part"), Qt::CaseInsensitive) || name.startsWith(u'~');
}

SettleTracker::State stateOf(const QFileInfo& info)
{
    return {info.size(), info.lastModified()};
}

// "name", "name (2)", … before the extension: the first that is free in folder.
QString freeName(const QDir& folder, const QString& name)
{
    if (!QFileInfo::exists(folder.filePath(name)) &&
        !QFileInfo::exists(folder.filePath(name + QStringLiteral(".grund.txt"))))
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(extension);
        if (!QFileInfo::exists(folder.filePath(candidate)) &&
            !QFileInfo::exists(folder.filePath(candidate + QStringLiteral(".grund.txt"))))
            return candidate;
    }
}

} // namespace

QString HotFolder::doneFolderName()
{
    return QStringLiteral("übergeben");
}

QString HotFolder::failedFolderName()
{
    return QStringLiteral("fehler");
}

HotFolder::HotFolder(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_tracker(m_options.settleMs)
{
    m_clock.start();
    m_scanTimer.setSingleShot(true);
    connect(&m_scanTimer, &QTimer::timeout, this, &HotFolder::scan);
    connect(&m_rescanTimer, &QTimer::timeout, this, &HotFolder::scan);
    m_serverTimer.setSingleShot(true);
    connect(&m_serverTimer, &QTimer::timeout, this, &HotFolder::processNext);
    serverReachable = [] {
        // A connection of its own: the session's reconnect would end the program after a few tries.
        try {
            auto factory = cacheclient::createFactory();
            const bool reachable = factory->connect(session().ConnectString) && factory->isConnected();
            if (reachable)
                factory->disconnect();
            return reachable;
        } catch (const cacheclient::CacheError&) {
            return false;
        }
    };
    handOver = [this](const QString& path, const HandoverInput&) { return defaultHandOver(path); };
}

HotFolder::~HotFolder()
{
    if (m_signalNotifier) {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
    }
}

QString HotFolder::prepare()
{
    const QFileInfo folder(m_options.folder);
    if (!folder.isDir())
        return QStringLiteral("Der Ordner \u201e%1\u201c existiert nicht").arg(m_options.folder);
    if (!folder.isWritable())
        return QStringLiteral("In den Ordner \u201e%1\u201c darf nicht geschrieben werden")
            .arg(m_options.folder);
    m_options.folder = folder.absoluteFilePath();
    const QDir dir(m_options.folder);
    for (const QString& sub : {doneFolderName(), failedFolderName()})
        if (!dir.mkpath(sub))
            return QStringLiteral("Der Ordner \u201e%1\u201c lässt sich nicht anlegen")
                .arg(dir.filePath(sub));
    return QString();
}

bool HotFolder::stopOnSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    m_signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        stop();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

void HotFolder::start()
{
    m_watcher = new QFileSystemWatcher(this);
    m_watcher->addPath(m_options.folder);
    // Bursts of events (a file written in many chunks) become one scan.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { scheduleScan(100); });
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { scheduleScan(100); });
    m_rescanTimer.start(m_options.rescanMs);
    scheduleScan(0);
}

void HotFolder::stop()
{
    m_stopping = true;
    emit stopRequested();
    if (!m_busy)
        QTimer::singleShot(0, this, &HotFolder::finishIfStopping);
}

void HotFolder::finishIfStopping()
{
    if (!m_stopping || m_busy || m_finished)
        return;
    m_finished = true;
    m_scanTimer.stop();
    m_rescanTimer.stop();
    m_serverTimer.stop();
    emit finished(0);
}

void HotFolder::scheduleScan(int ms)
{
    if (!m_scanTimer.isActive() || m_scanTimer.remainingTime() > ms)
        m_scanTimer.start(ms);
}

void HotFolder::scan()
{
    if (m_finished)
        return;
    const QDir dir(m_options.folder);
    if (!dir.exists()) {
        m_finished = true;
        emit status(QStringLiteral("velmor-handover: Der Ordner \u201e%1\u201c ist nicht mehr da")
                        .arg(m_options.folder));
        emit finished(1);
        return;
    }
    QMap<QString, SettleTracker::State> seen;
    QStringList paths;
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString name = info.fileName();
        if (isTemporary(name) || m_decided.contains(name))
            continue;
        seen.insert(name, stateOf(info));
        paths << info.absoluteFilePath();
    }
    m_tracker.observe(seen, m_clock.elapsed());
    const bool waitingForServer = m_serverTimer.isActive();
    // Watch the waiting files themselves too: writing to a file does not change the folder.
    const QStringList watched = m_watcher ? m_watcher->files() : QStringList();
    for (const QString& path : watched)
        if (!paths.contains(path))
            m_watcher->removePath(path);
    for (const QString& path : paths)
        if (m_watcher && !watched.contains(path))
            m_watcher->addPath(path);
    // While the server is away only its own timer tries again.
    if (!waitingForServer)
        processNext();
}

void HotFolder::processNext()
{
    if (m_busy || m_finished)
        return;
    if (m_stopping) {
        finishIfStopping();
        return;
    }
    const QStringList ready = m_tracker.settled(m_clock.elapsed());
    if (ready.isEmpty()) {
        const qint64 due = m_tracker.nextDue(m_clock.elapsed());
        if (due >= 0)
            scheduleScan(static_cast<int>(std::min<qint64>(due + 10, m_options.rescanMs)));
        return;
    }
    m_busy = true;
    const Result result = processFile(ready.first());
    m_busy = false;
    if (result == Result::Retry) {
        m_serverTimer.start(m_options.serverRetryMs);
        return;
    }
    if (m_stopping)
        finishIfStopping();
    else
        scheduleScan(0);
}

void HotFolder::reportServer(bool reachable)
{
    if (reachable && m_serverAway)
        emit status(QStringLiteral("WEITER Server wieder erreichbar"));
    else if (!reachable && !m_serverAway)
        emit status(QStringLiteral("WARTEN Server nicht erreichbar, neuer Versuch alle %1 s")
                        .arg(m_options.serverRetryMs / 1000.0));
    m_serverAway = !reachable;
}

bool HotFolder::waitForServer()
{
    const bool reachable = serverReachable();
    reportServer(reachable);
    return reachable;
}

bool HotFolder::waitForServerAtStart()
{
    while (!waitForServer()) {
        QEventLoop loop;
        QTimer::singleShot(m_options.serverRetryMs, &loop, &QEventLoop::quit);
        connect(this, &HotFolder::stopRequested, &loop, &QEventLoop::quit);
        loop.exec();
        if (m_stopping)
            return false;
    }
    return true;
}

HotFolder::Result HotFolder::processFile(const QString& name)
{
    const QString path = QDir(m_options.folder).filePath(name);
    const QFileInfo info(path);
    const SettleTracker::State settledState = m_tracker.state(name);
    // Gone or changed since the last scan: the next scan decides.
    if (!info.exists() || !(stateOf(info) == settledState))
        return Result::Failed;
    if (!waitForServer())
        return Result::Retry;

    const Attempt attempt = handOver(path, m_options.input);
    const HandoverOutcome& outcome = attempt.outcome;
    if (attempt.kind == Attempt::ServerAway) {
        reportServer(false);
        return Result::Retry;
    }
    m_tracker.forget(name);
    if (attempt.kind == Attempt::Unknown) {
        fail(path, QStringLiteral(
                       "Ausgang der Registrierung unbekannt: die Verbindung zum Server brach ab, nachdem "
                       "sie gesendet war (%1). Nicht wiederholt, damit das Dokument nicht doppelt "
                       "registriert wird; bitte im Archiv prüfen.")
                       .arg(outcome.reason));
        return Result::Failed;
    }
    if (!outcome.archived) {
        fail(path, outcome.reason);
        return Result::Failed;
    }

    const QString okLine = QStringLiteral("OK %1 -> %2 %3").arg(path, outcome.archive, outcome.key);
    // What was packed is what the archive holds; a source that changed since is kept for a person.
    HandoverOutcome done = outcome;
    const bool unchanged =
        done.stamp.valid ? SourceStamp::of(path) == done.stamp : stateOf(QFileInfo(path)) == settledState;
    if (!unchanged || (m_options.deleteSources && !Handover::deleteSource(done))) {
        emit result(okLine);
        fail(path,
             QStringLiteral("übergeben als %1 (Schlüssel %2), danach geändert: nicht entfernt, bitte prüfen")
                 .arg(outcome.archive, outcome.key));
        return Result::Done;
    }
    emit result(okLine);
    if (m_options.deleteSources)
        return Result::Done;
    if (moveInto(path, doneFolderName()).isEmpty()) {
        m_decided.insert(name);
        emit status(QStringLiteral(
                        "velmor-handover: %1 lässt sich nicht nach %2/ verschieben; bleibt liegen und wird "
                        "nicht noch einmal übergeben")
                        .arg(path, doneFolderName()));
    }
    return Result::Done;
}

QString HotFolder::moveInto(const QString& path, const QString& folder)
{
    const QDir target(QDir(m_options.folder).filePath(folder));
    const QString name = freeName(target, QFileInfo(path).fileName());
    // QFile::rename never replaces an existing file.
    return QFile::rename(path, target.filePath(name)) ? target.filePath(name) : QString();
}

void HotFolder::fail(const QString& path, const QString& reason)
{
    emit result(QStringLiteral("FEHLER %1: %2").arg(path, reason));
    const QString moved = moveInto(path, failedFolderName());
    if (moved.isEmpty()) {
        m_decided.insert(QFileInfo(path).fileName());
        return;
    }
    QSaveFile file(moved + QStringLiteral(".grund.txt"));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(
            (QStringLiteral("%1\n%2\n%3\n")
                 .arg(path, QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                      reason))
                .toUtf8());
        file.commit();
    }
}

HotFolder::Attempt HotFolder::defaultHandOver(const QString& path)
{
    SessionContext& s = session();
    s.LastErrorNumber = 0;
    Attempt attempt;
    attempt.outcome = m_handover.transferFile(path, m_options.input);
    if (attempt.outcome.archived)
        return attempt;
    const int number = s.LastErrorNumber;
    const bool linkTrouble = number == cacheclient::ClientError::NotConnected ||
                             number == cacheclient::ClientError::ConnectionLost ||
                             number == cacheclient::ClientError::Timeout ||
                             number == cacheclient::ClientError::BadReply;
    const bool registrationSent =
        attempt.outcome.reason.startsWith(QLatin1String("Registrierung fehlgeschlagen")) &&
        number != cacheclient::ClientError::NotConnected;
    if (registrationSent && linkTrouble) {
        attempt.kind = Attempt::Unknown;
        attempt.outcome.reason = QStringLiteral("Fehler %1").arg(number);
    } else if (s.ProgramEnded || linkTrouble) {
        // Nothing was registered: the reconnect gave up, or the server went before the registration.
        attempt.kind = Attempt::ServerAway;
    }
    s.ProgramEnded = false;
    return attempt;
}
