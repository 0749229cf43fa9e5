#include "platform/Clock.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace {

// Sets the process's time zone for one test and restores it afterwards.
class ZoneGuard
{
public:
    explicit ZoneGuard(const char *zone)
        : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneGuard()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_old;
};

// The time of day the stamps use is computed without the C library's lock; it must agree
// with the C library's local time everywhere, also across daylight-saving changes and in
// zones whose offsets are not whole hours.
class TimeOfDayInZone : public ::testing::TestWithParam<const char *>
{
};

TEST_P(TimeOfDayInZone, AgreesWithTheLocalClockAllYear)
{
    ZoneGuard zone(GetParam());
    using namespace std::chrono;
    // From 2026-01-01 through the year in steps that hit every minute and millisecond.
    const qint64 startMs = 1'767'225'600'000LL;
    const qint64 stepMs = 7 * 60'000 + 13'457;
    int mismatches = 0;
    for (qint64 ms = startMs; ms < startMs + 366LL * 86'400'000; ms += stepMs) {
        const system_clock::time_point tp{milliseconds(ms)};
        const std::time_t secs = std::time_t(ms / 1000);
        std::tm local{};
        localtime_r(&secs, &local);
        const TimeOfDay expected{local.tm_hour, local.tm_min, local.tm_sec, int(ms % 1000)};
        if (!(timeOfDayAt(tp) == expected) && ++mismatches <= 3)
            ADD_FAILURE() << GetParam() << " at " << ms;
    }
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(Zones, TimeOfDayInZone,
                         ::testing::Values("Europe/Berlin", "America/St_Johns", "Asia/Kathmandu",
                                           "Australia/Lord_Howe", "UTC"));

} // namespace
