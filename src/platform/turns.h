#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>

namespace platform {

// Lets jobs on worker threads take their turns in the order they were queued: a job takes a
// ticket when it is queued, waits for its turn on its worker, and ends the turn when done.
class Turns {
public:
    quint64 take() {
        const std::lock_guard lock(m_mutex);
        return m_next++;
    }
    void waitFor(quint64 ticket) {
        std::unique_lock lock(m_mutex);
        m_turn.wait(lock, [&] { return m_serving == ticket; });
    }
    void done() {
        {
            const std::lock_guard lock(m_mutex);
            ++m_serving;
        }
        m_turn.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_turn;
    quint64 m_next = 0;
    quint64 m_serving = 0;
};

} // namespace platform
