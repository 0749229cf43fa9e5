#include "serial/Comms.h"

#include "platform/SystemError.h"

#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

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

TComQueue::TComQueue() : m_ring(std::make_unique<SerialEvent[]>(limit))
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TComQueue::~TComQueue()
{
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void TComQueue::push(const std::vector<SerialEvent> &events)
{
    size_t tail = m_tail.load(std::memory_order_relaxed);
    const size_t head = m_head.load(std::memory_order_acquire);
    for (const SerialEvent &e : events) {
        if (tail - head >= limit) {
            m_dropped.fetch_add(1);
            continue;
        }
        m_ring[tail % limit] = e;
        ++tail;
    }
    m_tail.store(tail, std::memory_order_release);
    wake();
}

void TComQueue::notePolling()
{
    m_polling.store(true);
    wake();
}

void TComQueue::noteRealtimeWanted(qint64 thread)
{
    m_realtimeWish.store(thread);
    wake();
}

qint64 TComQueue::takeRealtimeWish()
{
    return m_realtimeWish.exchange(0);
}

void TComQueue::wake()
{
    // One wake-up until the reader has taken it: the descriptor is written at most once
    // per drain, and never blocks (its counter cannot overflow this way).
    if (!m_wakePending.exchange(true, std::memory_order_acq_rel) && m_wakeFd >= 0)
        ::eventfd_write(m_wakeFd, 1);
}

void TComQueue::clearWake()
{
    eventfd_t ignored;
    if (m_wakeFd >= 0)
        ::eventfd_read(m_wakeFd, &ignored);
    // Reading the flag back makes everything the worker queued before it visible here.
    m_wakePending.exchange(false, std::memory_order_acq_rel);
}

bool TComQueue::pop(SerialEvent &event)
{
    const size_t head = m_head.load(std::memory_order_relaxed);
    if (head == m_tail.load(std::memory_order_acquire))
        return false;
    event = m_ring[head % limit];
    m_head.store(head + 1, std::memory_order_release);
    return true;
}

bool TComQueue::takePollingNotice()
{
    return m_polling.exchange(false);
}

void TComQueue::clear()
{
    m_head.store(m_tail.load(std::memory_order_acquire), std::memory_order_release);
}

size_t TComQueue::size() const
{
    return m_tail.load(std::memory_order_acquire) - m_head.load(std::memory_order_acquire);
}

void TComQueue::setFinished(int error, const TimeStamp &stamp)
{
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_failure = error;
        m_failureStamp = stamp;
    }
    m_cv.notify_all();
    // Nobody asked this worker to end: the reader learns of it as of an event.
    if (error != 0)
        wake();
}

int TComQueue::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

TimeStamp TComQueue::failureStamp() const
{
    std::lock_guard lock(m_mutex);
    return m_failureStamp;
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

TComThread::TComThread(ISerialDevice *device, quint32 waitMask, const IStampClock &clock)
    : m_device(device), m_waitMask(waitMask), m_clock(clock), m_queue(std::make_shared<TComQueue>())
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
    // Raised from here, so that the port knows at once how its worker runs.
    const bool raised = realtimeRequest()(m_thread.native_handle());
    m_raisedItself.store(raised);
    m_realtime.store(raised);
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

bool raiseWorkerPriority(pthread_t thread)
{
    sched_param param{};
    param.sched_priority = workerRealtimePriority;
    return pthread_setschedparam(thread, SCHED_FIFO, &param) == 0;
}

static void lowerWorkerPriority()
{
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

std::function<bool(pthread_t)> &TComThread::realtimeRequest()
{
    static std::function<bool(pthread_t)> request = [](pthread_t t) {
        return raiseWorkerPriority(t);
    };
    return request;
}

void TComThread::run()
{
    pthread_setname_np(pthread_self(), "TComThread");
    // A stamp is only as good as the moment the worker gets the processor after its wait
    // returns; on a busy machine that can take milliseconds. Where the system allows it,
    // the worker runs before ordinary threads (it sleeps almost all the time); where it
    // does not (a desktop user), the port's thread asks RealtimeKit for it, which needs
    // the worker's id.
    m_queue->noteRealtimeWanted(qint64(::gettid()));
    // A device that keeps waking without anything to report would keep a real-time
    // thread on the processor: such a worker goes back to ordinary scheduling.
    int idleWakeUps = 0;
    auto idleSince = std::chrono::steady_clock::now();
    bool pollingReported = false;
    // Kept from one wait to the next, so that after the first few waits the worker
    // allocates nothing: an allocation can wait for a lock that another thread holds.
    SerialWait got;
    std::vector<SerialEvent> sets;
    got.events.reserve(64);
    sets.reserve(64);
    int failure = 0;
    TimeStamp failedAt;
    for (;;) {
        if (m_stop.load())
            break;
        got.events.clear();
        got.switchedToPolling = false;
        got.error = 0;
        const ISerialDevice::WaitResult r = m_device->waitEvent(m_waitMask, m_clock, got);
        // When the stop request and a completion coincide, the stop counts.
        if (m_stop.load())
            break;
        if (r == ISerialDevice::WaitResult::Failed) {
            // The device is gone; the port closes itself when its thread learns of it.
            failedAt = m_clock.stamp();
            failure = got.error != 0 ? got.error : EIO;
            break;
        }
        if (m_realtime.load(std::memory_order_relaxed) && got.events.empty()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - idleSince > std::chrono::seconds(1)) {
                idleSince = now;
                idleWakeUps = 0;
            }
            if (++idleWakeUps > maxIdleWakeUpsPerSecond) {
                lowerWorkerPriority();
                m_realtime.store(false);
            }
        }
        if (r != ISerialDevice::WaitResult::Events)
            continue;
        sets.clear();
        for (SerialEvent e : got.events) {
            e.events &= m_waitMask;
            if (e.events != 0)
                sets.push_back(e);
        }
        if (got.switchedToPolling && !pollingReported) {
            pollingReported = true;
            m_queue->notePolling();
        }
        if (!sets.empty())
            m_queue->push(sets);
    }
    m_device->purge();
    m_queue->setFinished(failure, failedAt);
}

// --- TComPort ----------------------------------------------------------------------

TComPort::TComPort(QObject *owner) : QObject(owner) {}

TComPort::~TComPort()
{
    // Ends quietly: nobody is left to tell that the retries stop.
    stopRetrying();
    dropRetryAttempt();
    Close();
}

void TComPort::setPort(quint8 v)
{
    if (m_retrying && v != m_port)
        Close();
    if (v != m_port)
        m_stableName.clear();
    m_port = v;
}

void TComPort::setDataBits(quint8 v)
{
    m_dataBits = qBound<quint8>(5, v, 8);
}

void TComPort::setDeviceFactory(SerialDeviceFactory factory)
{
    m_factory = std::move(factory);
}

void TComPort::setStableNameLookup(StableNameLookup identify)
{
    m_identify = std::move(identify);
}

void TComPort::setPathDeviceFactory(PathDeviceFactory openPath)
{
    m_openPath = std::move(openPath);
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
        throw EComHandle(SystemError::text(EBUSY));
    Close();
    // A retry still opening a device (at most its greeting timeout) would hold it twice.
    dropRetryAttempt();
    openPort();
}

std::unique_ptr<ISerialDevice> TComPort::makeDevice()
{
    return m_factory ? m_factory(m_port) : systemDeviceFactory()(m_port);
}

std::unique_ptr<ISerialDevice> TComPort::makeRetryDevice()
{
    if (m_stableName.isEmpty())
        return makeDevice();
    return m_openPath ? m_openPath(m_stableName) : createDeviceForPath(m_stableName);
}

void TComPort::openPort()
{
    // The name is the one of the device opened now; a failed open leaves none.
    m_stableName.clear();
    std::unique_ptr<ISerialDevice> device = makeDevice();
    QString error;
    if (!device || !device->open(error))
        throw EComHandle(error);
    if (!device->configure(lineSettings(), error)) {
        // Released at once, so the port is free for another attempt.
        device->close();
        throw EComState(error);
    }
    if (m_identify)
        m_stableName = m_identify(m_port);
    startWorker(std::move(device));
}

void TComPort::startWorker(std::unique_ptr<ISerialDevice> device)
{
    m_device = std::move(device);
    m_thread = std::make_unique<TComThread>(m_device.get(), eventMask(m_events), *m_stampClock);
    m_droppedBefore = 0;
    const std::shared_ptr<TComQueue> queue = m_thread->queue();
    m_notifier = new QSocketNotifier(queue->wakeFd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this, queue] {
        // A wake-up for an earlier worker finds its queue already drained by Close.
        auto current = [&] { return m_thread && m_thread->queue() == queue && !m_closing; };
        if (!current())
            return;
        drain(queue);
        // The failure is recorded after the worker's last event set, so nothing the device
        // saw before it failed is lost: Close delivers what this drain has not.
        if (current() && queue->failure() != 0)
            lose(queue);
    });
    m_thread->start();
    m_connected = true;
    delete m_realtimeKit;
    m_priorityReason.clear();
    // Not raised: RealtimeKit is asked once the worker has said its id.
    m_priority = m_thread->raisedItself() ? TWorkerPriority::Realtime : TWorkerPriority::Asking;
    ++m_generation;
    // Open, so no longer retrying; the handlers see the port as it is.
    stopRetrying();
    if (OnOpen)
        OnOpen(this);
}

void TComPort::Close()
{
    if (m_retrying) {
        stopRetrying();
        // The port was closed already; its owner learns that it stays closed now.
        if (!m_connected) {
            if (OnClose)
                OnClose(this);
            return;
        }
    }
    closePort();
}

void TComPort::closePort()
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
    // An answer still on its way would be for a thread that has ended.
    delete m_realtimeKit;
    m_priority = TWorkerPriority::None;
    // Closed from one of its own handlers, the notifier is still in use: it goes later.
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;

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

void TComPort::lose(const std::shared_ptr<TComQueue> &queue)
{
    m_lossReason = SystemError::text(queue->failure());
    m_lossStamp = queue->failureStamp();
    // Retrying before the close, so that OnClose sees the port is not given up.
    m_retrying = true;
    closePort();
    // A close handler may have ended the retries (or opened a port) already.
    if (!m_retrying || m_connected)
        return;
    startRetrying();
    if (OnNotice)
        OnNotice(this, cnPortLost);
}

void TComPort::RetryOpen(const QString &reason)
{
    if (m_connected)
        return;
    m_lossReason = reason;
    m_lossStamp = m_stampClock->stamp();
    m_retrying = true;
    startRetrying();
}

void TComPort::setTimerFactory(TimerFactory factory)
{
    m_timerFactory = std::move(factory);
    if (!m_retryTimer)
        return;
    const bool active = m_retryTimer->isActive();
    m_retryTimer.reset();
    if (active)
        startRetrying();
}

void TComPort::startRetrying()
{
    if (!m_retryTimer) {
        m_retryTimer = m_timerFactory ? m_timerFactory() : makeQtTimer();
        m_retryTimer->setSingleShot(false);
        m_retryTimer->onTimeout = [this] { retryTimerTimeout(); };
    }
    m_retryTimer->start(RetryIntervalMs);
}

void TComPort::stopRetrying()
{
    m_retrying = false;
    if (m_retryTimer)
        m_retryTimer->stop();
}

// A retry opens its device on a thread of its own, which says with a wake-up that it is done.
struct TComPort::RetryAttempt
{
    std::unique_ptr<ISerialDevice> device;
    SerialLineSettings settings;
    bool opened = false;
    int wakeFd = -1;
    std::thread thread;
    QSocketNotifier *notifier = nullptr;
    ~RetryAttempt()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
};

void TComPort::retryTimerTimeout()
{
    // One attempt at a time: a slow one lets the next ticks pass.
    if (!m_retrying || m_connected || m_closing || m_attempt)
        return;
    auto attempt = std::make_shared<RetryAttempt>();
    attempt->device = makeRetryDevice();
    attempt->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (!attempt->device || attempt->wakeFd < 0)
        return; // tried again at the next tick
    attempt->settings = lineSettings();
    // The notifier keeps the attempt (and so its descriptor) until it is deleted itself.
    attempt->notifier = new QSocketNotifier(attempt->wakeFd, QSocketNotifier::Read, this);
    connect(attempt->notifier, &QSocketNotifier::activated, this, [this, attempt] {
        if (m_attempt == attempt)
            retryAttemptEnded();
    });
    RetryAttempt *a = attempt.get();
    m_attempt = std::move(attempt);
    a->thread = std::thread([a] {
        QString error;
        a->opened = a->device->open(error) && a->device->configure(a->settings, error);
        // A failure keeps the first reason said: the port is still gone.
        if (!a->opened)
            a->device->close();
        ::eventfd_write(a->wakeFd, 1);
    });
}

std::shared_ptr<TComPort::RetryAttempt> TComPort::endRetryAttempt()
{
    std::shared_ptr<RetryAttempt> attempt = std::move(m_attempt);
    attempt->thread.join();
    // Possibly called from the notifier's own signal: it goes later.
    attempt->notifier->setEnabled(false);
    attempt->notifier->deleteLater();
    return attempt;
}

void TComPort::retryAttemptEnded()
{
    const std::shared_ptr<RetryAttempt> attempt = endRetryAttempt();
    if (!attempt->opened)
        return;
    // Retries ended (another port, none) or the port opened meanwhile: the device goes.
    if (!m_retrying || m_connected || m_closing) {
        attempt->device->close();
        return;
    }
    startWorker(std::move(attempt->device));
    // An open handler may have closed the port again.
    if (!m_connected)
        return;
    m_reopenStamp = m_stampClock->stamp();
    if (OnNotice)
        OnNotice(this, cnPortReopened);
}

void TComPort::dropRetryAttempt()
{
    if (!m_attempt)
        return;
    const std::shared_ptr<RetryAttempt> attempt = endRetryAttempt();
    if (attempt->opened)
        attempt->device->close();
}

quint32 TComPort::ModemStatus()
{
    if (!m_connected || !m_device)
        return 0;
    return m_device->modemStatus();
}

void TComPort::drain(std::shared_ptr<TComQueue> queue)
{
    const quint64 generation = m_generation;
    queue->clearWake();
    ++m_draining;
    if (queue->takePollingNotice() && OnNotice)
        OnNotice(this, cnPollingFallback);
    if (const qint64 thread = queue->takeRealtimeWish();
        thread > 0 && m_thread && m_thread->queue() == queue && !m_thread->raisedItself())
        askRealtimeKit(thread);
    SerialEvent event;
    while (m_generation == generation && queue->pop(event))
        dispatchEvents(event);
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

void TComPort::askRealtimeKit(qint64 thread)
{
    if (!m_thread)
        return;
    auto *request = new TRealtimeKitRequest(thread, workerRealtimePriority, this);
    m_realtimeKit = request;
    TComThread *worker = m_thread.get();
    connect(request, &TRealtimeKitRequest::answered, this,
            [this, request, worker](bool granted, const QString &why) {
                request->deleteLater();
                if (m_thread.get() != worker || m_realtimeKit != request)
                    return;
                if (granted)
                    worker->setRealtime();
                m_priority = granted ? TWorkerPriority::RealtimeKit : TWorkerPriority::Normal;
                m_priorityReason = why;
                if (OnNotice)
                    OnNotice(this, cnPriority);
            });
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
