#pragma once

#include "platform/Clock.h"

// A clock the test sets; starts at 10:01:23.456.
class TestClock : public IClock
{
public:
    TimeOfDay now() const override { return t; }
    void set(int h, int m, int s, int ms) { t = TimeOfDay{h, m, s, ms}; }
    TimeOfDay t{10, 1, 23, 456};
};
