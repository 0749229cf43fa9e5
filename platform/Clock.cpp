#include "platform/Clock.h"

#include <atomic>
#include <ctime>

namespace {

// Local time is UTC plus an offset that changes only at quarter-hour boundaries (daylight
// saving, in every zone). The offset is kept for the current quarter hour, so that a time
// of day is computed without the C library's time-zone lock, which the serial worker must
// not wait for while another thread holds it. Packed: quarter-hour number << 20, and the
// offset in seconds + 2^19 in the low 20 bits.
std::atomic<qint64> cachedOffset{-1};

constexpr qint64 quarterHour = 900;
constexpr qint64 offsetBias = 1 << 19;

qint64 localOffsetSeconds(qint64 epochSeconds)
{
    const qint64 quarter = epochSeconds >= 0 ? epochSeconds / quarterHour
                                             : (epochSeconds - quarterHour + 1) / quarterHour;
    const qint64 packed = cachedOffset.load(std::memory_order_relaxed);
    if (packed >= 0 && (packed >> 20) == quarter)
        return (packed & 0xFFFFF) - offsetBias;
    const std::time_t t = std::time_t(epochSeconds);
    std::tm local{};
    localtime_r(&t, &local);
    const qint64 offset = local.tm_gmtoff;
    if (quarter >= 0 && offset > -offsetBias && offset < offsetBias)
        cachedOffset.store((quarter << 20) | (offset + offsetBias), std::memory_order_relaxed);
    return offset;
}

} // namespace

TimeOfDay timeOfDayAt(std::chrono::system_clock::time_point tp)
{
    using namespace std::chrono;
    const qint64 ms = duration_cast<milliseconds>(tp.time_since_epoch()).count();
    const qint64 seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const qint64 millisecond = ms - seconds * 1000;
    qint64 ofDay = (seconds + localOffsetSeconds(seconds)) % 86400;
    if (ofDay < 0)
        ofDay += 86400;
    return TimeOfDay{int(ofDay / 3600), int(ofDay / 60 % 60), int(ofDay % 60), int(millisecond)};
}

TimeOfDay SystemClock::now() const
{
    return timeOfDayAt(std::chrono::system_clock::now());
}

IClock &systemClock()
{
    static SystemClock clock;
    return clock;
}

qint64 monotonicNowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

TimeStamp SystemStampClock::stamp() const
{
    // The monotonic reading first: it is what the lock time is judged on.
    const qint64 mono = monotonicNowNs();
    return {timeOfDayAt(std::chrono::system_clock::now()), mono};
}

IStampClock &systemStampClock()
{
    static SystemStampClock clock;
    return clock;
}
