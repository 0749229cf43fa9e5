#include "platform/Clock.h"

#include <chrono>
#include <ctime>

TimeOfDay SystemClock::now() const
{
    using namespace std::chrono;
    const auto tp = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(tp);
    const auto ms = duration_cast<milliseconds>(tp.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&secs, &local);
    return TimeOfDay{local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms < 0 ? ms + 1000 : ms)};
}

IClock &systemClock()
{
    static SystemClock clock;
    return clock;
}
