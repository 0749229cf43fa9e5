#pragma once

#include "platform/Clock.h"
#include "platform/Timer.h"

#include <QObject>
#include <QString>

// Display output: row 0 = upper (running clock), 1 = lower (last time taken).
class IDisplayOutput
{
public:
    virtual ~IDisplayOutput() = default;
    virtual void ShowTime(int row, qint32 value) = 0;
};

// Capture output: every time taken becomes an entry of the intermediate protocol.
class ICaptureOutput
{
public:
    virtual ~ICaptureOutput() = default;
    virtual void AppendCapture(const QString &timeText) = 0;
};

// The three commands as the window shows them: a menu item and a button each.
enum class ChronoCommand
{
    Start,
    Lap,
    Reset
};

class ICommandPanel
{
public:
    virtual ~ICommandPanel() = default;
    // Enables or disables the command's menu item and button, and sets the button's
    // face to its highlight colour (enabled) or black (disabled).
    virtual void setCommandEnabled(ChronoCommand cmd, bool enabled) = 0;
    virtual void setResetCaption(const QString &caption) = 0;
};

// The chronometer: a clock of the time of day. Idle, Running and Stopped follow from the
// display timer, the stop flag and which commands are enabled.
class TChronometer : public QObject
{
    Q_OBJECT
public:
    TChronometer(IClock &clock, ICommandPanel &panel, QObject *parent = nullptr);

    void setDisplayOutput(IDisplayOutput *d) { m_display = d; }
    void setCaptureOutput(ICaptureOutput *c) { m_capture = c; }
    void setClock(IClock &clock) { m_clock = &clock; }
    IClock &clock() const { return *m_clock; }

    void start(); // START
    // ZEIT at the time of day read now; source says where it came from ("F8", "Maus").
    void lap(const QString &source);
    // ZEIT for a moment already taken (a light-barrier pass).
    void lapAt(const TimeOfDay &t, const QString &source);
    void resetClick(); // STOPP / RESET
    void tick();       // display tick

    // The window is minimised (true) or shown again: while nobody sees the running row it
    // is not drawn, and the display timer wakes once a second instead of a hundred times.
    // Taking times is not touched; shown again, the row is right at once.
    void setDisplayHidden(bool hidden);
    bool displayHidden() const { return m_displayHidden; }
    static constexpr int TickMs = 10;
    static constexpr int HiddenTickMs = 1000;

    // The display timer "Clock" (10 ms); enabled exactly while running.
    ITimer &Clock() { return *m_clockTimer; }
    bool running() const { return m_clockTimer->isActive(); }
    // Where the display timer comes from (tests hand in one they move on by hand). A
    // running timer is replaced by a running one.
    void setTimerFactory(const TimerFactory &f);

    // 1 after the first STOPP, 0 otherwise.
    int stopFlag() const { return m_stopFlag; }
    void setStopFlag(int f) { m_stopFlag = f; }

    // HH:MM:SS,hh, every field zero-padded, hundredths cut from the milliseconds.
    static QString timeText(const TimeOfDay &t);

signals:
    // Every time taken, with where it came from, before it goes to the display and the
    // capture output.
    void lapTaken(const QString &timeText, const TimeOfDay &t, const QString &source);
    void runStarted();
    void runReset();
    // STOPP: the run is stopped (RESET comes next).
    void runStopped();

private:
    IClock *m_clock;
    ICommandPanel &m_panel;
    IDisplayOutput *m_display = nullptr;
    ICaptureOutput *m_capture = nullptr;
    std::unique_ptr<ITimer> m_clockTimer;
    int m_stopFlag = 0;
    bool m_displayHidden = false;
};
