#pragma once

#include "PageSource.h"

#include <QObject>
#include <QSize>
#include <memory>

namespace preview {

enum class Fit { Width, Page };

struct Request
{
    QString path;
    int page = 0;
    QSize box; // device pixels the page may take
    Fit fit = Fit::Width;
    double zoom = 1.0;
};

struct Result
{
    quint64 ticket = 0;
    QString path;
    int page = 0;
    int pageCount = 0;
    Kind kind = Kind::Other;
    QImage image;    // null when there is nothing to draw
    QString reason;  // why not, in German
    FileFacts facts; // name, type, size and date of a file without pages
    bool fromCache = false;
};

// Draws pages on a thread of its own. Each request supersedes the ones before it: their work
// stops at its next step and their results are never delivered. The last few pages drawn are
// kept, so paging back and forth draws nothing twice.
class Renderer : public QObject
{
    Q_OBJECT

public:
    static constexpr int CachedPages = 4;
    static constexpr qint64 CachedBytes = 64LL * 1024 * 1024;

    explicit Renderer(QObject* parent = nullptr);
    ~Renderer() override;

    quint64 request(const Request& request);
    void cancel();
    // Pages drawn, not taken from the cache: for tests and benchmarks.
    int renderCount() const;

    // What the worker does with one request, on the calling thread: for tests and benchmarks.
    static Result renderNow(const Request& request);

signals:
    void ready(const preview::Result& result);

private:
    class Worker;
    void deliver(const Result& result);
    std::unique_ptr<Worker> m_worker;
    quint64 m_ticket = 0;
};

} // namespace preview

Q_DECLARE_METATYPE(preview::Result)
