#pragma once

#include "platform/Clock.h"
#include "platform/Timer.h"

#include <QObject>

#include <functional>
#include <limits>
#include <memory>

// The contact test of the settings dialog: while it is visible, line changes drive its
// panel instead of taking times.
class IContactTest
{
public:
    virtual ~IContactTest() = default;
    virtual bool contactTestVisible() const = 0;
    virtual void updateContactTest(quint32 status, bool contact) = 0;
};

// A change of the barrier's lines that would take a time by the trigger edge: the moment it
// was seen, the status word after it (which pin pair the barrier closes) and the port that
// reported it (COMn; 0 when none is known).
struct TBarrierPass
{
    TimeStamp stamp;
    quint32 status = 0;
    int port = 0;
};

// Decides which light-barrier events become ZEIT: the status-change filter, the trigger
// edge ("Alg"), the barrier lock (F3, icon) and the lock time after each barrier event.
// Line changes come with the moment they happened; the time taken is that moment, and the
// lock time is measured between those moments, so a change handled late counts as if it
// had been handled when it happened.
class TBarrierGuard : public QObject
{
    Q_OBJECT
public:
    // timers: makes the lock timer (tests hand in their own).
    explicit TBarrierGuard(QObject *parent = nullptr, const TimerFactory &timers = makeQtTimer);
    ~TBarrierGuard() override;

    // What the guard asks the window.
    std::function<quint32()> readStatus;         // the port's current modem-status word
    std::function<IContactTest *()> contactTest; // nullptr while the dialog does not exist
    // Stamps changes handled without a stamp of their own, and is the "now" against which
    // the lock timer is set. Must outlive the guard.
    const IStampClock *stampClock = &systemStampClock();

    // The trigger edge ("Alg", the port's Tag): 0 a change after which the contact is
    // present takes a time, 1 one after which it is absent, any other value none. Set
    // whenever the setting changes.
    void setTriggerEdge(int alg) { m_triggerEdge = alg; }
    int triggerEdge() const { return m_triggerEdge; }

    // Handler of the port's ring, CTS, DSR and RLSD events: the status word after the
    // change, the moment it was seen and the port.
    void ComPortLS(quint32 status, const TimeStamp &stamp, int port = 0);
    // The same for a call without an event: reads the status and stamps it now.
    void ComPortLS(int port = 0);
    void BarrierTrigger(const TBarrierPass &pass);
    void StartLockTime(const TimeStamp &stamp);
    void TimerGesperrtTimer();
    // Toggles the barrier lock (F3 and a click on the icon).
    void ImageLSzeitClick();
    // START and RESET lock a free barrier.
    void lockIfFree();

    // 1 = free, 0 = locked (the state at program start).
    int lockState() const { return m_lockState; }
    bool lockTimeRunning() const { return m_lockRunning; }

    // The lock time ("Wait") in milliseconds; 0 = none.
    int lockTime() const { return m_lockTime; }
    void setLockTime(int ms) { m_lockTime = ms; }
    // The one-shot timer that ends the lock time on screen.
    ITimer &TimerGesperrt() { return *m_lockTimer; }
    // Replaces that timer (tests hand in one they move on by hand).
    void setLockTimer(std::unique_ptr<ITimer> timer);

    // The last status word seen; shared with the contact test. Reset only when the port was
    // lost: the lines may have changed unseen meanwhile, so the first change reported after
    // the port is back must count even if it shows the word seen last before the loss.
    static constexpr quint32 unknownLineStatus = 0x55555555u;
    quint32 LastLineStatus = unknownLineStatus;

    static bool isContact(quint32 status) { return (status & 0xF0u) != 0; }

    // Why a pass took no time.
    enum class Ignored
    {
        Locked,       // the operator has locked the barrier (or START has)
        LockTime,     // within the lock time after the last pass
        NotRunning,   // the chronometer is idle: ZEIT is disabled
        SettingsOpen, // the settings dialog shows the contact test instead
    };
    // "Lichtschranke gesperrt", "Sperrzeit", ...
    static QString ignoredText(Ignored why);

    // Called by the receiver of passAccepted that could not take the time (ZEIT is
    // disabled while the chronometer is idle): the pass counts as ignored. Its lock time
    // runs all the same.
    void passNotTaken(const TBarrierPass &pass);

signals:
    // A pass that got through the barrier lock and the lock time: ZEIT takes it at its
    // stamp's time of day. The lock time starts right after.
    void passAccepted(const TBarrierPass &pass);
    // A pass that took no time, and why.
    void passIgnored(const TBarrierPass &pass, TBarrierGuard::Ignored why);
    // The barrier was locked (0) or freed (1): the icon follows.
    void lockStateChanged(int lockState);

private:
    bool triggers(bool contact) const;

    std::unique_ptr<ITimer> m_lockTimer;
    int m_triggerEdge = 0;
    int m_lockState = 0;
    int m_lockTime = 100;
    bool m_lockRunning = false;
    // End of the last lock time on the monotonic clock; changes stamped before it are
    // inside that lock time, however late they are handled.
    qint64 m_lockEndsNs = std::numeric_limits<qint64>::min();
};
