#include "timing/Chronometer.h"

TChronometer::TChronometer(IClock &clock, ICommandPanel &panel, QObject *parent)
    : QObject(parent), m_clock(&clock), m_panel(panel)
{
    // The hundredths must step evenly: a precise timer.
    setTimerFactory([] {
        auto t = std::make_unique<QtTimer>();
        t->setTimerType(Qt::PreciseTimer);
        return std::unique_ptr<ITimer>(std::move(t));
    });
}

void TChronometer::setTimerFactory(const TimerFactory &f)
{
    const bool wasRunning = m_clockTimer && m_clockTimer->isActive();
    m_clockTimer = f();
    m_clockTimer->onTimeout = [this] { tick(); };
    if (wasRunning)
        m_clockTimer->start(m_displayHidden ? HiddenTickMs : TickMs);
}

void TChronometer::setDisplayHidden(bool hidden)
{
    if (hidden == m_displayHidden)
        return;
    m_displayHidden = hidden;
    if (!m_clockTimer->isActive())
        return;
    m_clockTimer->start(hidden ? HiddenTickMs : TickMs);
    if (!hidden)
        tick();
}

QString TChronometer::timeText(const TimeOfDay &t)
{
    QString s =
        QString::asprintf("%2d:%2d:%2d,%2d", t.hour, t.minute, t.second, t.millisecond / 10);
    s.replace(QLatin1Char(' '), QLatin1Char('0'));
    return s;
}

void TChronometer::start()
{
    m_clockTimer->start(m_displayHidden ? HiddenTickMs : TickMs);
    m_panel.setCommandEnabled(ChronoCommand::Start, false);
    m_panel.setCommandEnabled(ChronoCommand::Lap, true);
    m_panel.setCommandEnabled(ChronoCommand::Reset, true);
    m_panel.setResetCaption(QStringLiteral("STOPP"));
    m_stopFlag = 0;
    emit runStarted();
}

void TChronometer::tick()
{
    if (m_displayHidden)
        return;
    const TimeOfDay t = m_clock->now();
    if (m_display)
        m_display->ShowTime(0, msOfDay(t));
}

void TChronometer::lap(const QString &source)
{
    // The clock is read before anything else, so the time is the moment of the command.
    lapAt(m_clock->now(), source);
}

void TChronometer::lapAt(const TimeOfDay &t, const QString &source)
{
    const QString text = timeText(t);
    // Announced first: the journal has the time before anything can go wrong showing it.
    emit lapTaken(text, t, source);
    if (m_display)
        m_display->ShowTime(1, msOfDay(t));
    if (m_capture)
        m_capture->AppendCapture(text);
}

void TChronometer::resetClick()
{
    m_stopFlag = 1 - m_stopFlag;
    if (m_stopFlag == 1) {
        m_panel.setResetCaption(QStringLiteral("RESET"));
        m_clockTimer->stop();
        if (m_display)
            m_display->ShowTime(0, 0);
        m_panel.setCommandEnabled(ChronoCommand::Start, true);
        emit runStopped();
    } else {
        m_clockTimer->stop();
        if (m_display) {
            m_display->ShowTime(0, 0);
            m_display->ShowTime(1, 0);
        }
        m_panel.setCommandEnabled(ChronoCommand::Start, true);
        m_panel.setCommandEnabled(ChronoCommand::Lap, false);
        m_panel.setCommandEnabled(ChronoCommand::Reset, false);
        m_panel.setResetCaption(QStringLiteral("STOPP"));
        emit runReset();
    }
}
