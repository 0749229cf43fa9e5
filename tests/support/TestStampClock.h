#pragma once

#include "platform/Clock.h"

#include <atomic>

// Stamps that the test moves on by hand: a monotonic reading in milliseconds and the time
// of day that goes with it (10:00:00.000 at 0 ms unless set). Safe to read from the
// serial worker while the test thread moves it.
class TestStampClock : public IStampClock
{
public:
    TimeStamp stamp() const override { return at(m_ms.load()); }

    // The stamp a change at ms would get.
    TimeStamp at(qint64 ms) const
    {
        const qint64 ofDay = (m_originOfDayMs.load() + ms) % 86'400'000;
        TimeStamp s;
        s.monotonicNs = ms * 1'000'000;
        s.timeOfDay = TimeOfDay{int(ofDay / 3'600'000), int(ofDay / 60'000 % 60),
                                int(ofDay / 1000 % 60), int(ofDay % 1000)};
        return s;
    }
    void set(qint64 ms) { m_ms.store(ms); }
    void advance(qint64 ms) { m_ms.fetch_add(ms); }
    qint64 ms() const { return m_ms.load(); }
    // The time of day at 0 ms.
    void setOrigin(int h, int m, int s, int ms)
    {
        m_originOfDayMs.store(((h * 60LL + m) * 60 + s) * 1000 + ms);
    }

private:
    std::atomic<qint64> m_ms{0};
    std::atomic<qint64> m_originOfDayMs{10LL * 3'600'000};
};
