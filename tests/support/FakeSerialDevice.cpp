#include "tests/support/FakeSerialDevice.h"

#include <chrono>

void FakeSerialLine::push(const Step &step)
{
    {
        std::lock_guard lock(m_mutex);
        m_steps.push_back(step);
    }
    m_cv.notify_all();
}

void FakeSerialLine::pushEvents(quint32 events)
{
    push({ISerialDevice::WaitResult::Events, events});
}

void FakeSerialLine::pushSkip()
{
    push({ISerialDevice::WaitResult::Skipped, 0});
}

void FakeSerialLine::pushFailure(int error)
{
    push({ISerialDevice::WaitResult::Failed, 0, false, false, error});
}

void FakeSerialLine::change(quint32 status)
{
    {
        std::lock_guard lock(m_mutex);
        m_counters = countersAfterChange(m_counters, m_status, status);
        m_status = status;
        m_steps.push_back({ISerialDevice::WaitResult::Events, 0, true});
    }
    m_cv.notify_all();
}

void FakeSerialLine::changeFoundByPolling(quint32 status)
{
    {
        std::lock_guard lock(m_mutex);
        m_status = status; // not counted: the driver did not see it
        m_steps.push_back({ISerialDevice::WaitResult::Events, 0, true, true});
    }
    m_cv.notify_all();
}

void FakeSerialLine::pulse(quint32 inputs)
{
    {
        std::lock_guard lock(m_mutex);
        m_counters = countersAfterChange(m_counters, 0, inputs);
        m_counters = countersAfterChange(m_counters, 0, inputs);
        m_steps.push_back({ISerialDevice::WaitResult::Events, 0, true});
    }
    m_cv.notify_all();
}

void FakeSerialLine::setStatus(quint32 status)
{
    std::lock_guard lock(m_mutex);
    m_status = status;
}

void FakeSerialLine::failOpen(const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_openError = text;
}

void FakeSerialLine::failConfigure(const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_configureError = text;
}

bool FakeSerialLine::waitUntil(const std::function<bool()> &pred, int ms)
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms), pred);
}

SerialDeviceFactory FakeSerialLine::factory()
{
    std::shared_ptr<FakeSerialLine> self = shared_from_this();
    return [self](quint8 port) -> std::unique_ptr<ISerialDevice> {
        {
            std::lock_guard lock(self->m_mutex);
            ++self->devicesCreated;
            self->lastPort = port;
        }
        return std::make_unique<FakeSerialDevice>(self);
    };
}

FakeSerialDevice::FakeSerialDevice(std::shared_ptr<FakeSerialLine> line) : m_line(std::move(line))
{}

bool FakeSerialDevice::open(QString &error)
{
    std::lock_guard lock(m_line->m_mutex);
    ++m_line->opens;
    error = m_line->m_openError;
    return error.isEmpty();
}

bool FakeSerialDevice::configure(const SerialLineSettings &settings, QString &error)
{
    std::lock_guard lock(m_line->m_mutex);
    ++m_line->configures;
    m_line->lastSettings = settings;
    m_reportedStatus = m_line->m_status;
    m_reportedCounters = m_line->m_counters;
    error = m_line->m_configureError;
    return error.isEmpty();
}

ISerialDevice::WaitResult FakeSerialDevice::waitEvent(quint32 waitMask, const IStampClock &clock,
                                                      SerialWait &out)
{
    std::unique_lock lock(m_line->m_mutex);
    ++m_line->waitsEntered;
    m_line->lastWaitMask = waitMask;
    m_line->waiting = true;
    m_line->m_cv.notify_all();
    m_line->m_cv.wait(lock, [this] { return m_interrupted || !m_line->m_steps.empty(); });
    m_line->waiting = false;
    m_line->m_cv.notify_all();
    if (m_interrupted)
        return WaitResult::Interrupted;
    const FakeSerialLine::Step step = m_line->m_steps.front();
    m_line->m_steps.pop_front();
    const TimeStamp stamp = clock.stamp();
    if (step.counted) {
        appendEdges(out.events, m_reportedStatus, m_reportedCounters, m_line->m_status,
                    m_line->m_counters, waitMask, stamp);
        m_reportedStatus = m_line->m_status;
        m_reportedCounters = m_line->m_counters;
        out.switchedToPolling = step.polling;
    } else if (step.result == WaitResult::Events) {
        out.events.push_back({step.events, m_line->m_status, stamp});
    }
    out.error = step.error;
    return step.result;
}

void FakeSerialDevice::interrupt()
{
    {
        std::lock_guard lock(m_line->m_mutex);
        m_interrupted = true;
        ++m_line->interrupts;
    }
    m_line->m_cv.notify_all();
}

quint32 FakeSerialDevice::modemStatus()
{
    std::lock_guard lock(m_line->m_mutex);
    return m_line->m_status;
}

void FakeSerialDevice::purge()
{
    {
        std::lock_guard lock(m_line->m_mutex);
        ++m_line->purges;
    }
    m_line->m_cv.notify_all();
}

void FakeSerialDevice::close()
{
    {
        std::lock_guard lock(m_line->m_mutex);
        ++m_line->closes;
    }
    m_line->m_cv.notify_all();
}
