#include "serial/Comms.h"

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <pthread.h>

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

const QEvent::Type HandOverEventType = QEvent::Type(QEvent::registerEventType());

// Carries a queued event set's hand-over to the port's thread.
class HandOverEvent : public QEvent
{
public:
    explicit HandOverEvent(std::shared_ptr<TComHandOver> h)
        : QEvent(HandOverEventType), handOver(std::move(h))
    {}
    std::shared_ptr<TComHandOver> handOver;
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

// --- TComHandOver ------------------------------------------------------------------

void TComHandOver::handOver(quint32 mask, const std::function<void()> &notify)
{
    {
        std::lock_guard lock(m_mutex);
        m_mask = mask;
        m_state = Queued;
    }
    m_cv.notify_all();
    notify();
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_state == Idle; });
}

bool TComHandOver::take(quint32 &mask)
{
    std::lock_guard lock(m_mutex);
    if (m_state != Queued)
        return false;
    mask = m_mask;
    m_state = Dispatching;
    return true;
}

void TComHandOver::complete()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != Dispatching)
            return;
        m_state = Idle;
    }
    m_cv.notify_all();
}

void TComHandOver::setFinished()
{
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_cv.notify_all();
}

bool TComHandOver::waitFinishedOrQueued(int ms)
{
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                  [this] { return m_finished || m_state == Queued; });
    return m_finished;
}

bool TComHandOver::waitFinished(int ms)
{
    std::unique_lock lock(m_mutex);
    if (ms < 0)
        m_cv.wait(lock, [this] { return m_finished; });
    else
        m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_finished; });
    return m_finished;
}

bool TComHandOver::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_finished;
}

TComHandOver::State TComHandOver::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

// --- TComThread --------------------------------------------------------------------

TComThread::TComThread(TComPort *owner, ISerialDevice *device, quint32 waitMask)
    : m_owner(owner), m_device(device), m_waitMask(waitMask),
      m_handOver(std::make_shared<TComHandOver>())
{}

TComThread::~TComThread()
{
    // The port joins the worker in Close; this only guards against a worker left
    // running, releasing a queued set without dispatching it.
    if (m_thread.joinable()) {
        while (!m_handOver->isFinished()) {
            requestStop();
            quint32 ignored;
            if (m_handOver->take(ignored))
                m_handOver->complete();
            m_handOver->waitFinishedOrQueued(stopRepeatMs);
        }
        m_thread.join();
    }
}

void TComThread::start()
{
    m_thread = std::thread([this] { run(); });
}

bool TComThread::wait(int ms)
{
    if (!m_handOver->waitFinished(ms))
        return false;
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

bool TComThread::IsHandOverPending() const
{
    return m_handOver->state() != TComHandOver::Idle;
}

void TComThread::requestStop()
{
    m_stop.store(true);
    m_device->interrupt();
}

void TComThread::run()
{
    pthread_setname_np(pthread_self(), "TComThread");
    for (;;) {
        if (m_stop.load())
            break;
        quint32 events = 0;
        const ISerialDevice::WaitResult r = m_device->waitEvent(m_waitMask, events);
        // When the stop request and a completion coincide, the stop counts.
        if (m_stop.load())
            break;
        if (r == ISerialDevice::WaitResult::Failed)
            break; // ends quietly; the port stays connected until Close
        if (r != ISerialDevice::WaitResult::Events)
            continue;
        events &= m_waitMask;
        if (events != 0)
            m_handOver->handOver(events, [this] { m_owner->postHandOver(m_handOver); });
    }
    m_device->purge();
    m_handOver->setFinished();
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
    // A handler that runs while Close waits for the worker cannot reopen the port: the
    // device is still in use by the ending worker.
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
    m_thread = std::make_unique<TComThread>(this, m_device.get(), eventMask(m_events));
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
    ++m_generation;

    const std::shared_ptr<TComHandOver> handOver = m_thread->handOverState();
    m_thread->requestStop();
    for (;;) {
        // A worker blocked in a hand-over cannot see the stop request: run its set first
        // (or release it when Close was called from one of its handlers).
        const TComHandOver::State st = handOver->state();
        if (st == TComHandOver::Queued)
            runHandOver(handOver);
        else if (st == TComHandOver::Dispatching)
            handOver->complete();
        if (handOver->waitFinishedOrQueued(stopRepeatMs))
            break;
        m_thread->requestStop();
    }
    m_thread->wait();
    m_thread.reset();

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
    if (e->type() == HandOverEventType) {
        runHandOver(static_cast<HandOverEvent *>(e)->handOver);
        return true;
    }
    return QObject::event(e);
}

void TComPort::postHandOver(const std::shared_ptr<TComHandOver> &handOver)
{
    // High priority: a barrier event should not queue behind a burst of paint events.
    auto *e = new HandOverEvent(handOver);
    TORNELO_TSAN_RELEASE(e);
    QCoreApplication::postEvent(this, e, Qt::HighEventPriority);
}

void TComPort::runHandOver(const std::shared_ptr<TComHandOver> &handOver)
{
    quint32 mask = 0;
    if (!handOver->take(mask))
        return; // already run by Close, or left over from an earlier worker
    dispatchEvents(mask);
    handOver->complete();
}

void TComPort::dispatchEvents(quint32 mask)
{
    const quint64 generation = m_generation;
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
}
