#include "serial/SignalWaker.h"

#include <csignal>
#include <cstring>

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

void SignalWaker::enter()
{
    std::lock_guard lock(m_mutex);
    m_thread = pthread_self();
    m_inside = true;
}

void SignalWaker::leave()
{
    std::lock_guard lock(m_mutex);
    m_inside = false;
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
