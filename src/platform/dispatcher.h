#pragma once

#include "platform/dispatcher_priority.h"
#include "platform/result.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// Where the panel's work runs off the main thread. Three ways, and no other:
// - runInBackground(): a concurrent pool for independent jobs;
// - platform::SerialQueue: jobs that must keep their order run one after another on that pool,
//   and a job waiting for its turn holds no worker;
// - runAtLowestPriority(): the pool's low-priority mode, for work that must leave the processor
//   to work that someone waits for.
// No job waits on a worker for another job that may still be queued: what one job needs of
// another is queued behind it (SerialQueue) or taken back by the caller (SideJob).
class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    // Queues fn on the main thread's event loop; returns at once. Queued calls run one at a
    // time, in the order queued.
    virtual void postToMain(std::function<void()> fn) = 0;
    // Runs fn on a worker thread; returns at once. Any number of jobs may run at once.
    virtual void runInBackground(std::function<void()> fn) = 0;
    // Runs fn on a worker thread at the lowest priority (platform::ThreadPriority::Idle);
    // returns at once. A dispatcher without such workers runs it as runInBackground() does.
    virtual void runAtLowestPriority(std::function<void()> fn) { runInBackground(std::move(fn)); }
    // True on the main thread.
    virtual bool isMainThread() const = 0;
};

namespace platform {

// The real dispatcher: one pool for the process, ended with the application object.
std::shared_ptr<Dispatcher> qtDispatcher();

// Lowers the scheduling priority of the calling thread (only this thread, for the rest of its
// life): for work done beside work that someone waits for, so that it takes the processor time
// that work leaves over. The error when the system refused.
Result<> lowerThisThreadPriority(ThreadPriority priority = ThreadPriority::Background);

enum class JobPriority { Normal, Lowest };

// Runs jobs one at a time, in the order they were queued, each on a worker of the dispatcher
// it was queued with. A job that waits for its turn is only an entry in the queue: it holds no
// worker, so the jobs before it can always run. Any thread may queue.
class SerialQueue {
    struct State;

public:
    // The running job's hold on the queue: the next job starts when the last copy is gone. A
    // job that hands its turn to other work (a job of another queue) ends once that work has
    // let go of it. A turn must not be handed to the main thread: its end starts a worker.
    class Turn {
    public:
        Turn() = default;
        // Lets go of this copy now.
        void end() { m_hold.reset(); }

    private:
        friend struct SerialQueue::State;
        std::shared_ptr<void> m_hold;
    };

    SerialQueue();
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues a job whose turn ends when it returns.
    void enqueue(std::shared_ptr<Dispatcher> dispatcher, std::function<void()> job,
                 JobPriority priority = JobPriority::Normal);
    // Queues a job whose turn ends when the Turn it is handed, and every copy made of it, are
    // gone.
    void enqueueHolding(std::shared_ptr<Dispatcher> dispatcher, std::function<void(Turn)> job,
                        JobPriority priority = JobPriority::Normal);

private:
    std::shared_ptr<State> m_state;
};

// Work whose result the caller needs a little later, offered to a worker now. If no worker has
// picked it up by the time the caller needs it, the caller does it itself; so it never waits
// for a job that is still queued, only for one that is already running. The work must not
// wait for other jobs. Going without take(), the object takes the work back, or waits for it.
template <class T> class SideJob {
public:
    // Without a dispatcher, the work is done in take().
    SideJob(Dispatcher* dispatcher, std::function<T()> work) : m_state(std::make_shared<State>()) {
        m_state->work = std::move(work);
        if (dispatcher)
            dispatcher->runInBackground([state = m_state] { state->runOnWorker(); });
    }
    ~SideJob() {
        if (m_state)
            m_state->withdraw();
    }
    SideJob(const SideJob&) = delete;
    SideJob& operator=(const SideJob&) = delete;

    // The work's result, made here when no worker had begun it.
    T take() {
        std::shared_ptr<State> state = std::exchange(m_state, nullptr);
        return state->claim();
    }

private:
    enum class Stage { Queued, Running, Done, Claimed };
    struct State {
        void runOnWorker() {
            std::function<T()> fn;
            {
                const std::lock_guard lock(mutex);
                if (stage != Stage::Queued)
                    return;
                stage = Stage::Running;
                fn = std::move(work);
            }
            T value = fn();
            {
                const std::lock_guard lock(mutex);
                result.emplace(std::move(value));
                stage = Stage::Done;
            }
            changed.notify_all();
        }
        T claim() {
            std::unique_lock lock(mutex);
            if (stage == Stage::Queued) {
                stage = Stage::Claimed;
                std::function<T()> fn = std::move(work);
                lock.unlock();
                return fn();
            }
            changed.wait(lock, [this] { return stage == Stage::Done; });
            return std::move(*result);
        }
        // The work will not be needed: dropped when no worker has begun it, else waited for
        // (it may use what the caller is about to let go).
        void withdraw() {
            std::unique_lock lock(mutex);
            if (stage == Stage::Queued) {
                stage = Stage::Claimed;
                std::function<T()> dropped = std::move(work);
                lock.unlock();
                return;
            }
            changed.wait(lock, [this] { return stage == Stage::Done; });
        }

        std::mutex mutex;
        std::condition_variable changed;
        Stage stage = Stage::Queued;
        std::function<T()> work;
        std::optional<T> result;
    };

    std::shared_ptr<State> m_state;
};

} // namespace platform
