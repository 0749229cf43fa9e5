#include "timing/BarrierGuard.h"

#include <QPainter>

TBarrierGuard::TBarrierGuard(QTimer &lockTimer, QObject *parent)
    : QObject(parent), m_lockTimer(lockTimer)
{
    m_lockTimer.setSingleShot(true);
    connect(&m_lockTimer, &QTimer::timeout, this, &TBarrierGuard::TimerGesperrtTimer);
}

void TBarrierGuard::ComPortLS()
{
    const quint32 s = readStatus ? readStatus() : 0;
    // Several events for one change, or an event without a real change, count once.
    if (s == LastLineStatus)
        return;
    const bool contact = isContact(s);
    LastLineStatus = s;

    IContactTest *test = contactTest ? contactTest() : nullptr;
    if (test && test->contactTestVisible()) {
        test->updateContactTest(s, contact);
        return;
    }
    const int alg = algorithm ? algorithm() : 0;
    if ((alg == 0 && contact) || (alg == 1 && !contact))
        BarrierTrigger();
}

void TBarrierGuard::BarrierTrigger()
{
    if (m_lockState == 0)
        return;
    if (m_lockTimer.isActive())
        return;
    if (activateLap)
        activateLap(); // does nothing while ZEIT is disabled (Idle)
    StartLockTime();
}

void TBarrierGuard::StartLockTime()
{
    if (m_lockTimer.isActive() || m_lockTimer.interval() == 0)
        return;
    if (m_lockState == 1)
        ImageLSzeitClick();
    m_lockTimer.start();
}

void TBarrierGuard::TimerGesperrtTimer()
{
    m_lockTimer.stop();
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
