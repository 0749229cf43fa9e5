#pragma once

#include "platform/Timer.h"

#include <vector>

// A timer that fires only when the test moves time on. advance() fires it as often as the
// interval fits into the time moved, so "held for 900 ms" is one call.
class TestTimer : public ITimer
{
public:
    void start(int ms) override
    {
        m_interval = ms < 0 ? 0 : ms;
        m_elapsed = 0;
        m_active = true;
        ++starts;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    int interval() const override { return m_interval; }
    void setSingleShot(bool s) override { m_singleShot = s; }
    bool isSingleShot() const override { return m_singleShot; }

    // Moves time on by ms and fires every interval that ends within it.
    void advance(int ms)
    {
        while (m_active && ms > 0) {
            const int left = m_interval - m_elapsed;
            if (ms < left) {
                m_elapsed += ms;
                return;
            }
            ms -= left;
            fire();
        }
    }
    // Fires now, as if the interval had just ended.
    void fire()
    {
        if (!m_active)
            return;
        m_elapsed = 0;
        if (m_singleShot)
            m_active = false;
        ++fired;
        if (onTimeout)
            onTimeout();
    }

    int starts = 0;
    int fired = 0;

private:
    int m_interval = 0;
    int m_elapsed = 0;
    bool m_active = false;
    bool m_singleShot = false;
};

// Hands out test timers and keeps a pointer to each, so a test can reach the timers a
// component made for itself. The component owns them; a destroyed one is never touched
// again because tests reach only the ones whose owners they still hold.
class TestTimerFactory
{
public:
    TimerFactory factory()
    {
        return [this] {
            auto t = std::make_unique<TestTimer>();
            made.push_back(t.get());
            return std::unique_ptr<ITimer>(std::move(t));
        };
    }
    std::vector<TestTimer *> made;
};
