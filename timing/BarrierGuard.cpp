#include "timing/BarrierGuard.h"

TBarrierGuard::TBarrierGuard(QObject *parent, const TimerFactory &timers) : QObject(parent)
{
    setLockTimer(timers());
}

void TBarrierGuard::setLockTimer(std::unique_ptr<ITimer> timer)
{
    m_lockTimer = std::move(timer);
    m_lockTimer->setSingleShot(true);
    m_lockTimer->onTimeout = [this] {
        // Timers may fire a little early; the barrier is not shown free before the lock
        // time has really ended, since changes until then are still ignored.
        const qint64 leftNs = m_lockEndsNs - stampClock->stamp().monotonicNs;
        if (m_lockRunning && leftNs > 0)
            m_lockTimer->start(int((leftNs + 999'999) / 1'000'000));
        else
            TimerGesperrtTimer();
    };
}

TBarrierGuard::~TBarrierGuard() = default;

void TBarrierGuard::ComPortLS(int port)
{
    const quint32 s = readStatus ? readStatus() : 0;
    ComPortLS(s, stampClock->stamp(), port);
}

void TBarrierGuard::ComPortLS(quint32 s, const TimeStamp &stamp, int port)
{
    // Several events for one change, or an event without a real change, count once.
    if (s == LastLineStatus)
        return;
    const bool contact = isContact(s);
    LastLineStatus = s;

    const TBarrierPass pass{stamp, s, port};
    IContactTest *test = contactTest ? contactTest() : nullptr;
    if (test && test->contactTestVisible()) {
        test->updateContactTest(s, contact);
        if (triggers(contact))
            emit passIgnored(pass, Ignored::SettingsOpen);
        return;
    }
    if (triggers(contact))
        BarrierTrigger(pass);
}

bool TBarrierGuard::triggers(bool contact) const
{
    return (m_triggerEdge == 0 && contact) || (m_triggerEdge == 1 && !contact);
}

QString TBarrierGuard::ignoredText(Ignored why)
{
    switch (why) {
    case Ignored::Locked:
        return QStringLiteral("Lichtschranke gesperrt");
    case Ignored::LockTime:
        return QStringLiteral("Sperrzeit");
    case Ignored::NotRunning:
        return QStringLiteral("Uhr nicht gestartet");
    case Ignored::SettingsOpen:
        return QStringLiteral("Einstellungen offen");
    }
    return QString();
}

void TBarrierGuard::BarrierTrigger(const TBarrierPass &pass)
{
    const qint64 at = pass.stamp.monotonicNs;
    // A lock time that ended before this change ends now, even if its timer has not fired
    // yet (the window was busy): as it would have then, it frees the barrier.
    if (m_lockRunning && at >= m_lockEndsNs)
        TimerGesperrtTimer();
    // Inside the lock time, also when the timer has already fired because this change is
    // handled late. The lock time locks the barrier too, so it is asked first: the reason
    // given is the one that ends by itself.
    const bool inLockTime = m_lockRunning || at < m_lockEndsNs;
    if (m_lockState == 0 || inLockTime) {
        emit passIgnored(pass, inLockTime ? Ignored::LockTime : Ignored::Locked);
        return;
    }
    // ZEIT does nothing while it is disabled (Idle); the lock time runs all the same.
    emit passAccepted(pass);
    StartLockTime(pass.stamp);
}

void TBarrierGuard::passNotTaken(const TBarrierPass &pass)
{
    emit passIgnored(pass, Ignored::NotRunning);
}

void TBarrierGuard::StartLockTime(const TimeStamp &stamp)
{
    if (m_lockRunning || m_lockTime <= 0)
        return;
    if (m_lockState == 1)
        ImageLSzeitClick();
    m_lockRunning = true;
    m_lockEndsNs = stamp.monotonicNs + qint64(m_lockTime) * 1'000'000;
    // The timer only shows the end on screen; it runs from the change, not from now.
    const qint64 leftNs = m_lockEndsNs - stampClock->stamp().monotonicNs;
    m_lockTimer->start(leftNs <= 0 ? 0 : int((leftNs + 999'999) / 1'000'000));
}

void TBarrierGuard::TimerGesperrtTimer()
{
    m_lockTimer->stop();
    m_lockRunning = false;
    // A lock time always ends with the barrier free.
    if (m_lockState == 0)
        ImageLSzeitClick();
}

void TBarrierGuard::ImageLSzeitClick()
{
    m_lockState = 1 - m_lockState;
    emit lockStateChanged(m_lockState);
}

void TBarrierGuard::lockIfFree()
{
    if (m_lockState == 1)
        ImageLSzeitClick();
}
