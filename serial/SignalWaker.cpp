#include "serial/SignalWaker.h"

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

void wakeHandler(int) {}

void installHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = wakeHandler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: the blocked call must return EINTR
        sigaction(SignalWaker::signalNumber(), &sa, nullptr);
    });
}

} // namespace

int SignalWaker::signalNumber()
{
    return SIGRTMIN + 5;
}

SignalWaker::SignalWaker()
{
    installHandler();
}

SignalWaker::~SignalWaker()
{
    if (m_haveTimer)
        timer_delete(m_timer);
}

void SignalWaker::enter(int tickMs)
{
    std::lock_guard lock(m_mutex);
    m_thread = pthread_self();
    m_inside = true;
    if (tickMs > 0)
        armTick(tickMs);
}

void SignalWaker::armTick(int tickMs)
{
    const pid_t self = gettid();
    if (!m_haveTimer || m_timerThread != self) {
        if (m_haveTimer)
            timer_delete(m_timer);
        m_haveTimer = false;
        sigevent sev;
        std::memset(&sev, 0, sizeof sev);
        sev.sigev_notify = SIGEV_THREAD_ID;
        sev.sigev_signo = signalNumber();
        sev._sigev_un._tid = self;
        if (timer_create(CLOCK_MONOTONIC, &sev, &m_timer) != 0)
            return; // no tick: the wait then relies on its own wake-ups
        m_haveTimer = true;
        m_timerThread = self;
    }
    const long ns = long(tickMs) * 1'000'000L;
    itimerspec its;
    its.it_interval = {ns / 1'000'000'000L, ns % 1'000'000'000L};
    its.it_value = its.it_interval;
    m_ticking = timer_settime(m_timer, 0, &its, nullptr) == 0;
}

void SignalWaker::leave()
{
    std::lock_guard lock(m_mutex);
    m_inside = false;
    if (m_ticking) {
        const itimerspec off{};
        timer_settime(m_timer, 0, &off, nullptr);
        m_ticking = false;
    }
}

void SignalWaker::wake()
{
    m_woken.store(true);
    // Signal only while the thread is between enter() and leave(): it is then certainly
    // alive, so the thread id is valid.
    std::lock_guard lock(m_mutex);
    if (m_inside)
        pthread_kill(m_thread, signalNumber());
}
