#include "timing/BarrierGuard.h"

#include <QPainter>

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

void TBarrierGuard::ComPortLS()
{
    const quint32 s = readStatus ? readStatus() : 0;
    ComPortLS(s, stampClock->stamp());
}

void TBarrierGuard::ComPortLS(quint32 s, const TimeStamp &stamp)
{
    // Several events for one change, or an event without a real change, count once.
    if (s == LastLineStatus)
        return;
    const bool contact = isContact(s);
    LastLineStatus = s;

    IContactTest *test = contactTest ? contactTest() : nullptr;
    if (test && test->contactTestVisible()) {
        test->updateContactTest(s, contact);
        if (triggers(contact))
            emit passIgnored(stamp, s, Ignored::SettingsOpen);
        return;
    }
    if (triggers(contact))
        BarrierTrigger(stamp);
}

bool TBarrierGuard::triggers(bool contact) const
{
    const int alg = algorithm ? algorithm() : 0;
    return (alg == 0 && contact) || (alg == 1 && !contact);
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

void TBarrierGuard::BarrierTrigger(const TimeStamp &stamp)
{
    // A lock time that ended before this change ends now, even if its timer has not fired
    // yet (the window was busy): as it would have then, it frees the barrier.
    if (m_lockRunning && stamp.monotonicNs >= m_lockEndsNs)
        TimerGesperrtTimer();
    // Inside the lock time, also when the timer has already fired because this change is
    // handled late. The lock time locks the barrier too, so it is asked first: the reason
    // given is the one that ends by itself.
    const bool inLockTime = m_lockRunning || stamp.monotonicNs < m_lockEndsNs;
    if (m_lockState == 0 || inLockTime) {
        emit passIgnored(stamp, LastLineStatus, inLockTime ? Ignored::LockTime : Ignored::Locked);
        return;
    }
    // ZEIT does nothing while it is disabled (Idle); the lock time runs all the same.
    if (activateLap && !activateLap(stamp.timeOfDay))
        emit passIgnored(stamp, LastLineStatus, Ignored::NotRunning);
    StartLockTime(stamp);
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
    if (showLockState)
        showLockState(m_lockState);
}

void TBarrierGuard::lockIfFree()
{
    if (m_lockState == 1)
        ImageLSzeitClick();
}

QPixmap barrierIcon(int lockState)
{
    QPixmap pm(30, 30);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    const bool free = lockState == 1;
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(free ? QColor(0, 170, 0) : QColor(220, 0, 0));
    p.drawEllipse(QRectF(1, 1, 28, 28));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    if (free)
        p.drawRect(12, 6, 6, 18); // vertical bar: the way is open
    else
        p.drawRect(6, 12, 18, 6); // horizontal bar: no entry
    return pm;
}

QPixmap barrierIconNotConnected()
{
    QPixmap pm(30, 30);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(120, 120, 120));
    p.drawEllipse(QRectF(1, 1, 28, 28));
    // A cross: no line to the barrier.
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(9, 9), QPointF(21, 21));
    p.drawLine(QPointF(21, 9), QPointF(9, 21));
    return pm;
}
