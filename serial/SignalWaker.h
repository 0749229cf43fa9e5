#pragma once

#include <atomic>
#include <mutex>
#include <pthread.h>

// Wakes a thread blocked in a system call (the modem-line wait cannot be woken by
// closing its descriptor). A signal with a handler installed without SA_RESTART makes
// the call return EINTR. A signal sent just before the thread enters the call is lost,
// so the waking side repeats wake() until the thread has left; the woken flag lets the
// thread skip the call altogether when the wake came first.
class SignalWaker
{
public:
    SignalWaker();

    // Blocking side: bracket the blocking call with enter()/leave().
    void enter();
    void leave();
    bool woken() const { return m_woken.load(); }

    // Any thread: set the flag and signal the blocked thread, if any.
    void wake();

    // The signal used (installed once per process).
    static int signalNumber();

private:
    std::atomic<bool> m_woken{false};
    std::mutex m_mutex;
    pthread_t m_thread{};
    bool m_inside = false;
};
