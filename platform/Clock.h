#pragma once

#include <QtGlobal>

#include <chrono>

// Local time of day, as the chronometer reads it at each command.
struct TimeOfDay
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    bool operator==(const TimeOfDay &) const = default;
};

// Milliseconds since local midnight, 0 to 86,399,999: how the display, the journal and the
// recovery file compare and store a time of day.
constexpr qint32 msOfDay(const TimeOfDay &t)
{
    return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

class IClock
{
public:
    virtual ~IClock() = default;
    virtual TimeOfDay now() const = 0;
};

// The operating system's local clock (std::chrono + localtime_r).
class SystemClock : public IClock
{
public:
    TimeOfDay now() const override;
};

// The clock the program uses unless a test hands in its own.
IClock &systemClock();

// The local time of day of a point on the system clock.
TimeOfDay timeOfDayAt(std::chrono::system_clock::time_point tp);
// Nanoseconds on the monotonic clock (CLOCK_MONOTONIC, the same as steady_clock).
qint64 monotonicNowNs();

// The moment a line change was seen: its time of day, which becomes the barrier time, and
// a monotonic reading, on which the lock time after a pass is measured (it does not jump
// when the time of day is set).
struct TimeStamp
{
    TimeOfDay timeOfDay;
    qint64 monotonicNs = 0;
};

// Where stamps come from. Read on the serial worker thread, so an implementation must be
// safe to call from any thread.
class IStampClock
{
public:
    virtual ~IStampClock() = default;
    virtual TimeStamp stamp() const = 0;
};

// The system's local time of day and monotonic clock.
class SystemStampClock : public IStampClock
{
public:
    TimeStamp stamp() const override;
};
IStampClock &systemStampClock();

// Stamps with the time of day of the given clock (the chronometer's) and the system's
// monotonic clock: for line changes that are handled without a stamp of their own.
class ClockStamps : public IStampClock
{
public:
    explicit ClockStamps(const IClock &clock) : m_clock(clock) {}
    TimeStamp stamp() const override { return {m_clock.now(), monotonicNowNs()}; }

private:
    const IClock &m_clock;
};
