#include "platform/Timer.h"

QtTimer::QtTimer()
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (onTimeout)
            onTimeout();
    });
}

void QtTimer::start(int ms)
{
    m_timer.start(ms < 0 ? 0 : ms);
}

void QtTimer::stop()
{
    m_timer.stop();
}

std::unique_ptr<ITimer> makeQtTimer()
{
    return std::make_unique<QtTimer>();
}
