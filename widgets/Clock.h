#pragma once

#include <QDateTime>
#include <functional>
#include <memory>

// A single-shot timer on the program's clock.
class ClockTimer
{
public:
    virtual ~ClockTimer() = default;
    virtual void start(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// The current time, waiting and timers. Production uses the system clock and the event loop;
// tests install a MockClock whose time moves only when told, so rules of ten and sixty seconds
// are tested in milliseconds.
class Clock
{
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;
    // Lets window events run for up to ms milliseconds of this clock's time.
    virtual void runEvents(int ms) = 0;
    virtual std::unique_ptr<ClockTimer> createTimer(std::function<void()> onTimeout) = 0;

    // Seconds since midnight with hundredths, as the program's timer reads them.
    double secondsSinceMidnight() const;

    static Clock& instance();
    // Installs a clock (not owned); nullptr restores the system clock.
    static void setInstance(Clock* clock);
};

class MockClock : public Clock
{
public:
    explicit MockClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(17, 25, 3)));
    ~MockClock() override;

    QDateTime now() const override { return m_now; }
    // Advances by ms at once, firing due timers; window events run once.
    void runEvents(int ms) override;
    std::unique_ptr<ClockTimer> createTimer(std::function<void()> onTimeout) override;

    void advance(qint64 ms);
    void set(const QDateTime& time) { m_now = time; }
    qint64 waitedMs() const { return m_waited; }

    struct Entry;

private:
    QDateTime m_now;
    qint64 m_waited = 0;
    std::shared_ptr<std::vector<Entry*>> m_timers;
};
