#pragma once

#include "protocol/FileCommands.h"

#include <QSignalSpy>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// Runs start, which reads a text file through files, and waits for the reading to end (it
// runs on a worker): true when the results protocol took the file. A file refused at once
// ends before start returns.
inline bool awaitTextLoad(TFileCommands &files, const std::function<void()> &start)
{
    QSignalSpy done(&files, &TFileCommands::finished);
    start();
    if (done.isEmpty() && !done.wait(30000))
        return false;
    return done.first().at(0).toBool();
}

inline bool loadText(TFileCommands &files, const QString &fileName)
{
    return awaitTextLoad(files, [&] { files.LoadProtocolText(fileName); });
}

// Holds the reading of text files back until released (or destroyed), so that a test can
// look at the window while a file is being read.
class TextReadGate
{
public:
    explicit TextReadGate(TFileCommands &files) : m_state(std::make_shared<State>())
    {
        files.textReader = [state = m_state, read = files.textReader](
                               const QString &f, int cols, const QStringList &titles,
                               const std::atomic_bool *stop) {
            {
                std::unique_lock lock(state->mutex);
                state->opened.wait(lock, [&] { return state->open; });
            }
            return read(f, cols, titles, stop);
        };
    }
    ~TextReadGate() { release(); }
    void release()
    {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->open = true;
        }
        m_state->opened.notify_all();
    }

private:
    // Shared with the worker, which may still wake after the gate has gone.
    struct State
    {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
    };
    std::shared_ptr<State> m_state;
};
