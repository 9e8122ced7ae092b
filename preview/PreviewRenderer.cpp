#include "PreviewRenderer.h"

#include <QFileInfo>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <optional>

namespace preview {

namespace {

struct CacheEntry
{
    QString path;
    qint64 size;
    QDateTime modified;
    int page;
    QSize pixels;
    QImage image;
};

// The open document and the last pages drawn; owned by one thread.
class Pages
{
public:
    // Draws the request unless isStale() turns true on the way; nothing then.
    template <typename Stale> std::optional<Result> process(const Request& request, Stale isStale)
    {
        Result result;
        result.path = request.path;
        const QFileInfo info(request.path);
        const qint64 size = info.size();
        const QDateTime modified = info.lastModified();
        for (const Refused& refused : std::as_const(m_refused)) {
            if (refused.path == request.path && refused.size == size && refused.modified == modified) {
                result.kind = refused.kind;
                result.reason = refused.reason;
                result.facts = factsOf(request.path);
                return result;
            }
        }
        if (!m_source || m_source->path() != request.path || !m_source->isSameFile(size, modified)) {
            m_source.reset();
            if (isStale())
                return std::nullopt;
            m_source = std::make_unique<PageSource>(request.path);
        }
        result.kind = m_source->kind();
        result.pageCount = m_source->pageCount();
        if (!m_source->isOpen()) {
            result.reason = m_source->reason();
            result.facts = factsOf(request.path);
            // Qt PDF 6.4 keeps a little of every PDF it failed to open: each one is tried once.
            m_refused.prepend({request.path, size, modified, result.kind, result.reason});
            m_refused.resize(std::min<qsizetype>(m_refused.size(), 64));
            m_source.reset();
            return result;
        }
        result.page = std::clamp(request.page, 0, result.pageCount - 1);
        const QSizeF points = m_source->pageSize(result.page);
        if (!(points.width() > 0 && points.height() > 0) || request.box.isEmpty()) {
            result.reason = Reason::pageFailed(result.page);
            return result;
        }
        double scale = request.box.width() / points.width();
        if (request.fit == Fit::Page)
            scale = std::min(scale, request.box.height() / points.height());
        const QSize pixels = PageSource::boundedPixels(points, scale * request.zoom);

        for (qsizetype i = 0; i < m_cache.size(); ++i) {
            const CacheEntry& e = m_cache.at(i);
            if (e.path == request.path && e.size == size && e.modified == modified && e.page == result.page &&
                e.pixels == pixels) {
                result.image = e.image;
                result.fromCache = true;
                m_cache.move(i, 0);
                return result;
            }
        }
        if (isStale())
            return std::nullopt;
        result.image = m_source->render(result.page, pixels, &result.reason);
        ++m_renders;
        if (!result.image.isNull())
            remember({request.path, size, modified, result.page, pixels, result.image});
        return result;
    }

    int renders() const { return m_renders; }

    void clear()
    {
        m_source.reset();
        m_cache.clear();
    }

private:
    void remember(CacheEntry entry)
    {
        m_cache.prepend(std::move(entry));
        qint64 bytes = 0;
        for (qsizetype i = 0; i < m_cache.size(); ++i) {
            bytes += m_cache.at(i).image.sizeInBytes();
            if (i >= Renderer::CachedPages || (i > 0 && bytes > Renderer::CachedBytes)) {
                m_cache.resize(i);
                break;
            }
        }
    }

    struct Refused
    {
        QString path;
        qint64 size;
        QDateTime modified;
        Kind kind;
        QString reason;
    };

    std::unique_ptr<PageSource> m_source;
    QList<CacheEntry> m_cache;
    QList<Refused> m_refused;
    int m_renders = 0;
};

} // namespace

class Renderer::Worker : public QThread
{
public:
    explicit Worker(Renderer* owner) : m_owner(owner) { setObjectName(QStringLiteral("Vorschau")); }

    ~Worker() override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_stop = true;
            m_pending.reset();
            m_wake.wakeOne();
        }
        m_latest = 0;
        wait();
    }

    void post(quint64 ticket, const Request& request)
    {
        QMutexLocker lock(&m_mutex);
        m_latest = ticket;
        m_pending = std::make_pair(ticket, request);
        m_wake.wakeOne();
    }

    void cancel(quint64 ticket)
    {
        QMutexLocker lock(&m_mutex);
        m_latest = ticket;
        m_pending.reset();
    }

    int renders() const { return m_renders; }

protected:
    void run() override
    {
        Pages pages;
        for (;;) {
            std::pair<quint64, Request> job;
            {
                QMutexLocker lock(&m_mutex);
                while (!m_pending && !m_stop)
                    m_wake.wait(&m_mutex);
                if (m_stop)
                    break;
                job = std::move(*m_pending);
                m_pending.reset();
            }
            const quint64 ticket = job.first;
            std::optional<Result> result = pages.process(job.second, [&] { return m_latest != ticket; });
            m_renders = pages.renders();
            if (!result || m_latest != ticket)
                continue;
            result->ticket = ticket;
            QMetaObject::invokeMethod(
                m_owner, [owner = m_owner, r = std::move(*result)] { owner->deliver(r); },
                Qt::QueuedConnection);
        }
        // The documents belong to this thread and close here.
        pages.clear();
    }

private:
    Renderer* m_owner;
    QMutex m_mutex;
    QWaitCondition m_wake;
    std::optional<std::pair<quint64, Request>> m_pending;
    bool m_stop = false;
    std::atomic<quint64> m_latest{0};
    std::atomic<int> m_renders{0};
};

Renderer::Renderer(QObject* parent) : QObject(parent), m_worker(std::make_unique<Worker>(this))
{
    qRegisterMetaType<preview::Result>();
    m_worker->start();
}

Renderer::~Renderer() = default;

quint64 Renderer::request(const Request& request)
{
    m_worker->post(++m_ticket, request);
    return m_ticket;
}

void Renderer::cancel()
{
    m_worker->cancel(++m_ticket);
}

int Renderer::renderCount() const
{
    return m_worker->renders();
}

void Renderer::deliver(const Result& result)
{
    if (result.ticket == m_ticket)
        emit ready(result);
}

Result Renderer::renderNow(const Request& request)
{
    Pages pages;
    return *pages.process(request, [] { return false; });
}

} // namespace preview
