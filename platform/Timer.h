#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

// A timer as the components use it. The program runs them on Qt's timers; tests hand in
// their own and move time on by hand, so no test waits for a real interval.
class ITimer
{
public:
    virtual ~ITimer() = default;
    // (Re)starts the timer: it fires after ms milliseconds, and again every ms unless it
    // is single-shot.
    virtual void start(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual int interval() const = 0;
    virtual void setSingleShot(bool singleShot) = 0;
    virtual bool isSingleShot() const = 0;

    // Runs on the thread that owns the timer when it fires.
    std::function<void()> onTimeout;
};

// The timer of the running program.
class QtTimer : public ITimer
{
public:
    QtTimer();
    void start(int ms) override;
    void stop() override;
    bool isActive() const override { return m_timer.isActive(); }
    int interval() const override { return m_timer.interval(); }
    void setSingleShot(bool singleShot) override { m_timer.setSingleShot(singleShot); }
    bool isSingleShot() const override { return m_timer.isSingleShot(); }
    // Precise timers where a millisecond matters (the display tick).
    void setTimerType(Qt::TimerType type) { m_timer.setTimerType(type); }

private:
    QTimer m_timer;
};

// Where a component makes its timers; tests replace it by one that makes test timers.
using TimerFactory = std::function<std::unique_ptr<ITimer>()>;
std::unique_ptr<ITimer> makeQtTimer();
