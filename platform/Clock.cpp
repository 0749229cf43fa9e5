#include "platform/Clock.h"

#include <ctime>

TimeOfDay timeOfDayAt(std::chrono::system_clock::time_point tp)
{
    using namespace std::chrono;
    const std::time_t secs = system_clock::to_time_t(tp);
    auto ms = duration_cast<milliseconds>(tp.time_since_epoch()).count() % 1000;
    if (ms < 0)
        ms += 1000;
    std::tm local{};
    localtime_r(&secs, &local);
    return TimeOfDay{local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms)};
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
