#include "Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

double Clock::secondsSinceMidnight() const
{
    return now().time().msecsSinceStartOfDay() / 1000.0;
}

namespace {

class SystemTimer : public ClockTimer
{
public:
    explicit SystemTimer(std::function<void()> onTimeout)
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, std::move(onTimeout));
    }
    void start(int ms) override { m_timer.start(ms); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

class SystemClock : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }

    void runEvents(int ms) override
    {
        QElapsedTimer elapsed;
        elapsed.start();
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            std::max(1, int(ms - elapsed.elapsed())));
        } while (elapsed.elapsed() < ms);
    }

    std::unique_ptr<ClockTimer> createTimer(std::function<void()> onTimeout) override
    {
        return std::make_unique<SystemTimer>(std::move(onTimeout));
    }
};

Clock* installed = nullptr;

} // namespace

Clock& Clock::instance()
{
    static SystemClock system;
    return installed ? *installed : system;
}

void Clock::setInstance(Clock* clock)
{
    installed = clock;
}

struct MockClock::Entry
{
    std::function<void()> onTimeout;
    QDateTime due;
    bool active = false;
};

namespace {
class MockTimer : public ClockTimer
{
public:
    MockTimer(MockClock& clock, std::shared_ptr<std::vector<MockClock::Entry*>> timers,
              std::function<void()> onTimeout)
        : m_clock(clock), m_timers(std::move(timers))
    {
        m_entry.onTimeout = std::move(onTimeout);
        m_timers->push_back(&m_entry);
    }
    ~MockTimer() override { std::erase(*m_timers, &m_entry); }
    void start(int ms) override
    {
        m_entry.due = m_clock.now().addMSecs(ms);
        m_entry.active = true;
    }
    void stop() override { m_entry.active = false; }
    bool isActive() const override { return m_entry.active; }

private:
    MockClock& m_clock;
    std::shared_ptr<std::vector<MockClock::Entry*>> m_timers;
    MockClock::Entry m_entry;
};
} // namespace

MockClock::MockClock(QDateTime start)
    : m_now(std::move(start)), m_timers(std::make_shared<std::vector<Entry*>>())
{
}

MockClock::~MockClock()
{
    if (&Clock::instance() == this)
        Clock::setInstance(nullptr);
}

void MockClock::runEvents(int ms)
{
    QCoreApplication::processEvents();
    m_waited += ms;
    advance(ms);
}

void MockClock::advance(qint64 ms)
{
    const QDateTime end = m_now.addMSecs(ms);
    // Fire due timers in order of their due time; a handler may start or stop timers.
    for (;;) {
        Entry* next = nullptr;
        for (Entry* e : *m_timers)
            if (e->active && e->due <= end && (!next || e->due < next->due))
                next = e;
        if (!next)
            break;
        m_now = std::max(m_now, next->due);
        next->active = false;
        next->onTimeout();
    }
    m_now = end;
}

std::unique_ptr<ClockTimer> MockClock::createTimer(std::function<void()> onTimeout)
{
    return std::make_unique<MockTimer>(*this, m_timers, std::move(onTimeout));
}
