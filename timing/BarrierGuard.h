#pragma once

#include <QObject>
#include <QPixmap>
#include <QTimer>

#include <functional>

// The contact test of the settings dialog: while it is visible, line changes drive its
// panel instead of taking times.
class IContactTest
{
public:
    virtual ~IContactTest() = default;
    virtual bool contactTestVisible() const = 0;
    virtual void updateContactTest(quint32 status, bool contact) = 0;
};

// Decides which light-barrier events become ZEIT: the status-change filter, the trigger
// edge ("Alg"), the barrier lock (F3, icon) and the lock time after each barrier event.
class TBarrierGuard : public QObject
{
    Q_OBJECT
public:
    explicit TBarrierGuard(QTimer &lockTimer, QObject *parent = nullptr);

    // Collaborators, set by the main window.
    std::function<quint32()> readStatus;       // the port's current modem-status word
    std::function<int()> algorithm;            // 0 contact closes, 1 contact opens
    std::function<void()> activateLap;         // activates the ZEIT menu item
    std::function<IContactTest *()> contactTest; // nullptr while the dialog does not exist
    std::function<void(int lockState)> showLockState; // loads the icon image

    // Handler of the port's ring, CTS, DSR and RLSD events.
    void ComPortLS();
    void BarrierTrigger();
    void StartLockTime();
    void TimerGesperrtTimer();
    // Toggles the barrier lock (F3 and a click on the icon).
    void ImageLSzeitClick();
    // START and RESET lock a free barrier.
    void lockIfFree();

    // 1 = free, 0 = locked (the state at program start).
    int lockState() const { return m_lockState; }
    bool lockTimeRunning() const { return m_lockTimer.isActive(); }

    // The last status word seen; never reset, shared with the contact test.
    quint32 LastLineStatus = 0x55555555u;

    static bool isContact(quint32 status) { return (status & 0xF0u) != 0; }

private:
    QTimer &m_lockTimer;
    int m_lockState = 0;
};

// The two barrier icons: 0 locked (red sign, white horizontal bar), 1 free (green sign,
// white vertical bar), 30 x 30.
QPixmap barrierIcon(int lockState);
