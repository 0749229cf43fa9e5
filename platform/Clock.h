#pragma once

// Local time of day, as the chronometer reads it at each command.
struct TimeOfDay
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

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
