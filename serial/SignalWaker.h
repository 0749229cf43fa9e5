#pragma once

#include <atomic>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <sys/types.h>

// Wakes a thread blocked in a system call (the modem-line wait cannot be woken by
// closing its descriptor). A signal with a handler installed without SA_RESTART makes
// the call return EINTR. A signal sent just before the thread enters the call is lost,
// so the waking side repeats wake() until the thread has left; the woken flag lets the
// thread skip the call altogether when the wake came first.
// The same signal can also tick: while the thread is inside, it is interrupted every
// tickMs, so that it can look at the lines even when its wait never ends.
class SignalWaker
{
public:
    SignalWaker();
    ~SignalWaker();
    SignalWaker(const SignalWaker &) = delete;
    SignalWaker &operator=(const SignalWaker &) = delete;

    // Blocking side: bracket the blocking call with enter()/leave(). With tickMs > 0 the
    // call is also interrupted every tickMs milliseconds (EINTR while woken() is false).
    void enter(int tickMs = 0);
    void leave();
    bool woken() const { return m_woken.load(); }

    // Any thread: set the flag and signal the blocked thread, if any.
    void wake();

    // The signal used (installed once per process).
    static int signalNumber();

private:
    void armTick(int tickMs);

    std::atomic<bool> m_woken{false};
    std::mutex m_mutex;
    pthread_t m_thread{};
    bool m_inside = false;
    // The tick: a timer whose signal goes to the thread that last entered with a tick.
    bool m_haveTimer = false;
    bool m_ticking = false;
    timer_t m_timer{};
    pid_t m_timerThread = 0;
};
