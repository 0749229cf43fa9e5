#include "serial/Comms.h"

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <pthread.h>
#include <sched.h>

#if defined(__SANITIZE_THREAD__)
// Qt's event queue synchronises in code the thread sanitizer does not see; these tell it
// that the posting thread's writes to the event happen before its delivery.
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#define TORNELO_TSAN_ACQUIRE(p) __tsan_acquire(p)
#define TORNELO_TSAN_RELEASE(p) __tsan_release(p)
#else
#define TORNELO_TSAN_ACQUIRE(p) ((void)(p))
#define TORNELO_TSAN_RELEASE(p) ((void)(p))
#endif

namespace {

const QEvent::Type WakeEventType = QEvent::Type(QEvent::registerEventType());

// Asks the port's thread to drain a worker's queue.
class WakeEvent : public QEvent
{
public:
    explicit WakeEvent(std::shared_ptr<TComQueue> q) : QEvent(WakeEventType), queue(std::move(q)) {}
    std::shared_ptr<TComQueue> queue;
};

struct EventBit
{
    TEvent event;
    quint32 bit;
};

constexpr EventBit eventBits[] = {
    {evRxChar, EV_RXCHAR}, {evRxFlag, EV_RXFLAG}, {evTxEmpty, EV_TXEMPTY},
    {evCTS, EV_CTS},       {evDSR, EV_DSR},       {evRLSD, EV_RLSD},
    {evBreak, EV_BREAK},   {evError, EV_ERR},     {evRing, EV_RING},
};

// How long Close waits for the worker before waking it again: a wake sent just before
// the worker enters its wait can be lost.
constexpr int stopRepeatMs = 20;

// Above ordinary threads, well below the kernel's interrupt threads.
constexpr int workerRealtimePriority = 10;
// Wake-ups without events a healthy device never comes near (its wait ticks 50 times a
// second while nothing happens).
constexpr int maxIdleWakeUpsPerSecond = 1000;

} // namespace

quint32 eventMask(TEvents events)
{
    quint32 mask = 0;
    for (const EventBit &e : eventBits)
        if (events.contains(e.event))
            mask |= e.bit;
    return mask;
}

quint32 baudRateValue(TBaudRate rate, quint32 userRate)
{
    static constexpr quint32 rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                        19200, 38400, 56000, 57600, 115200, 128000, 256000};
    if (rate >= br110 && rate < brUser)
        return rates[rate];
    return userRate;
}

// --- TComQueue ---------------------------------------------------------------------

bool TComQueue::push(const std::vector<SerialEvent> &events)
{
    std::lock_guard lock(m_mutex);
    for (const SerialEvent &e : events) {
        if (m_items.size() >= limit)
            ++m_dropped;
        else
            m_items.push_back({e, false, cnPollingFallback});
    }
    const bool wake = !m_wakePending;
    m_wakePending = true;
    return wake;
}

bool TComQueue::pushNotice(TComNotice kind)
{
    std::lock_guard lock(m_mutex);
    m_items.push_back({SerialEvent{}, true, kind});
    const bool wake = !m_wakePending;
    m_wakePending = true;
    return wake;
}

void TComQueue::clearWake()
{
    std::lock_guard lock(m_mutex);
    m_wakePending = false;
}

bool TComQueue::pop(Item &item)
{
    std::lock_guard lock(m_mutex);
    if (m_items.empty())
        return false;
    item = m_items.front();
    m_items.pop_front();
    return true;
}

void TComQueue::clear()
{
    std::lock_guard lock(m_mutex);
    m_items.clear();
}

size_t TComQueue::size() const
{
    std::lock_guard lock(m_mutex);
    return m_items.size();
}

quint64 TComQueue::dropped() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

void TComQueue::setFinished()
{
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_cv.notify_all();
}

bool TComQueue::waitFinished(int ms)
{
    std::unique_lock lock(m_mutex);
    if (ms < 0)
        m_cv.wait(lock, [this] { return m_finished; });
    else
        m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_finished; });
    return m_finished;
}

bool TComQueue::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_finished;
}

// --- TComThread --------------------------------------------------------------------

TComThread::TComThread(TComPort *owner, ISerialDevice *device, quint32 waitMask,
                       const IStampClock &clock)
    : m_owner(owner), m_device(device), m_waitMask(waitMask), m_clock(clock),
      m_queue(std::make_shared<TComQueue>())
{}

TComThread::~TComThread()
{
    // The port joins the worker in Close; this only guards against a worker left running.
    if (m_thread.joinable()) {
        while (!m_queue->waitFinished(stopRepeatMs))
            requestStop();
        m_thread.join();
    }
}

void TComThread::start()
{
    m_thread = std::thread([this] { run(); });
}

bool TComThread::wait(int ms)
{
    if (!m_queue->waitFinished(ms))
        return false;
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

void TComThread::requestStop()
{
    m_stop.store(true);
    m_device->interrupt();
}

bool raiseWorkerPriority()
{
    sched_param param{};
    param.sched_priority = workerRealtimePriority;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

static void lowerWorkerPriority()
{
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

void TComThread::run()
{
    pthread_setname_np(pthread_self(), "TComThread");
    // A stamp is only as good as the moment the worker gets the processor after its wait
    // returns; on a busy machine that can take milliseconds. Where the system allows it,
    // the worker runs before ordinary threads (it sleeps almost all the time).
    bool realtime = raiseWorkerPriority();
    // A device that keeps waking without anything to report would keep a real-time
    // thread on the processor: such a worker goes back to ordinary scheduling.
    int idleWakeUps = 0;
    auto idleSince = std::chrono::steady_clock::now();
    bool pollingReported = false;
    for (;;) {
        if (m_stop.load())
            break;
        SerialWait got;
        const ISerialDevice::WaitResult r = m_device->waitEvent(m_waitMask, m_clock, got);
        // When the stop request and a completion coincide, the stop counts.
        if (m_stop.load())
            break;
        if (r == ISerialDevice::WaitResult::Failed)
            break; // ends quietly; the port stays connected until Close
        if (realtime && got.events.empty()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - idleSince > std::chrono::seconds(1)) {
                idleSince = now;
                idleWakeUps = 0;
            }
            if (++idleWakeUps > maxIdleWakeUpsPerSecond) {
                lowerWorkerPriority();
                realtime = false;
            }
        }
        if (r != ISerialDevice::WaitResult::Events)
            continue;
        std::vector<SerialEvent> sets;
        sets.reserve(got.events.size());
        for (SerialEvent e : got.events) {
            e.events &= m_waitMask;
            if (e.events != 0)
                sets.push_back(e);
        }
        bool wake = false;
        if (got.switchedToPolling && !pollingReported) {
            pollingReported = true;
            wake = m_queue->pushNotice(cnPollingFallback);
        }
        if (!sets.empty())
            wake = m_queue->push(sets) || wake;
        if (wake)
            m_owner->postWake(m_queue);
    }
    m_device->purge();
    m_queue->setFinished();
}

// --- TComPort ----------------------------------------------------------------------

TComPort::TComPort(QObject *owner) : QObject(owner) {}

TComPort::~TComPort()
{
    Close();
}

void TComPort::setDataBits(quint8 v)
{
    m_dataBits = qBound<quint8>(5, v, 8);
}

void TComPort::setDeviceFactory(SerialDeviceFactory factory)
{
    m_factory = std::move(factory);
}

SerialLineSettings TComPort::lineSettings() const
{
    SerialLineSettings s;
    s.baudRate = baudRateValue(m_baudRate, m_baudRateUser);
    s.dataBits = m_dataBits;
    s.parity = SerialLineSettings::Parity(m_parity);
    s.stopBits = SerialLineSettings::StopBits(m_stopBits);
    s.flow = SerialLineSettings::Flow(m_flowControl);
    s.enableDTR = m_enableDTR;
    s.readBufSize = m_readBufSize;
    s.writeBufSize = m_writeBufSize;
    return s;
}

void TComPort::Open()
{
    // A handler that runs while Close dispatches the last event sets cannot reopen the
    // port: the device is still in use.
    if (m_closing)
        throw EComHandle(QString::fromLocal8Bit(std::strerror(EBUSY)));
    Close();

    std::unique_ptr<ISerialDevice> device =
        m_factory ? m_factory(m_port) : systemDeviceFactory()(m_port);
    QString error;
    if (!device || !device->open(error))
        throw EComHandle(error);
    if (!device->configure(lineSettings(), error)) {
        // Released at once, so the port is free for another attempt.
        device->close();
        throw EComState(error);
    }

    m_device = std::move(device);
    m_thread =
        std::make_unique<TComThread>(this, m_device.get(), eventMask(m_events), *m_stampClock);
    m_droppedBefore = 0;
    m_thread->start();
    m_connected = true;
    ++m_generation;
    if (OnOpen)
        OnOpen(this);
}

void TComPort::Close()
{
    if (!m_connected || m_closing)
        return; // a handler run by this Close may call it again; the outer call finishes
    m_closing = true;
    // A dispatch that is running further up the stack (a handler called Close) stops
    // calling handlers once it sees the generation change.
    const bool fromHandler = m_draining > 0;
    ++m_generation;

    // The worker never waits for this thread, so it ends as soon as it sees the request;
    // the request is repeated because a wake-up sent just before it starts waiting can be
    // lost.
    const std::shared_ptr<TComQueue> queue = m_thread->queue();
    m_thread->requestStop();
    while (!queue->waitFinished(stopRepeatMs))
        m_thread->requestStop();
    m_thread->wait();
    m_thread.reset();

    // What the worker saw before it ended is delivered, unless a handler is closing the
    // port: the rest then belongs to a port that no longer exists.
    if (fromHandler)
        queue->clear();
    else
        drain(queue);

    m_device->close();
    m_device.reset();
    m_connected = false;
    m_closing = false;
    if (OnClose)
        OnClose(this);
}

quint32 TComPort::ModemStatus()
{
    if (!m_connected || !m_device)
        return 0;
    return m_device->modemStatus();
}

bool TComPort::event(QEvent *e)
{
    TORNELO_TSAN_ACQUIRE(e);
    if (e->type() == WakeEventType) {
        const std::shared_ptr<TComQueue> &queue = static_cast<WakeEvent *>(e)->queue;
        // A wake-up left over from an earlier worker finds its queue already drained by
        // Close.
        if (m_thread && m_thread->queue() == queue && !m_closing)
            drain(queue);
        return true;
    }
    return QObject::event(e);
}

void TComPort::postWake(const std::shared_ptr<TComQueue> &queue)
{
    // High priority: a barrier event should not queue behind a burst of paint events.
    auto *e = new WakeEvent(queue);
    TORNELO_TSAN_RELEASE(e);
    QCoreApplication::postEvent(this, e, Qt::HighEventPriority);
}

void TComPort::drain(const std::shared_ptr<TComQueue> &queue)
{
    const quint64 generation = m_generation;
    queue->clearWake();
    ++m_draining;
    TComQueue::Item item;
    while (m_generation == generation && queue->pop(item)) {
        if (item.notice) {
            if (OnNotice)
                OnNotice(this, item.kind);
        } else {
            dispatchEvents(item.event);
        }
    }
    --m_draining;
    // Losses are reported once per drain that finds more of them.
    const quint64 dropped = queue->dropped();
    if (dropped > m_droppedBefore) {
        m_dropped += dropped - m_droppedBefore;
        m_droppedBefore = dropped;
        if (OnNotice && m_generation == generation)
            OnNotice(this, cnEventsDropped);
    }
}

void TComPort::dispatchEvents(const SerialEvent &e)
{
    const quint64 generation = m_generation;
    const quint32 mask = e.events;
    const SerialEvent *outer = m_current;
    m_current = &e;
    // A handler may close or reopen the port; the rest of this set then belongs to a
    // port that no longer exists and is dropped.
    auto current = [&] { return m_generation == generation; };
    auto fire = [&](quint32 bit, const std::function<void(QObject *)> &handler) {
        if ((mask & bit) && handler && current())
            handler(this);
    };

    if ((mask & EV_RXCHAR) && OnRxChar && current())
        OnRxChar(this, m_device ? m_device->inQueue() : 0);
    fire(EV_TXEMPTY, OnTxEmpty);
    fire(EV_BREAK, OnBreak);
    fire(EV_RING, OnRing);
    fire(EV_CTS, OnCTS);
    fire(EV_DSR, OnDSR);
    fire(EV_RXFLAG, OnRxFlag);
    fire(EV_RLSD, OnRLSD);
    fire(EV_ERR, OnError);
    m_current = outer;
}
