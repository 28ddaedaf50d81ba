#include "platform/dispatcher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include <cerrno>
#include <thread>

namespace {

// Whether this thread's priority was lowered (lowerThisThreadPriority()).
thread_local bool t_lowered = false;

// The main thread's share of the dispatcher: the calls queued for it, run one per event.
// The calls pass from thread to thread under a lock of the program's own, so that every
// thread checker sees the hand-over (Qt's event queue hands over under locks of its own that
// such tools may not see into).
class MainQueue final : public QObject {
public:
    static constexpr QEvent::Type kRun = QEvent::User;

    void push(std::function<void()> fn) {
        {
            const std::lock_guard lock(m_mutex);
            m_calls.push_back(std::move(fn));
        }
        QCoreApplication::postEvent(this, new QEvent(kRun));
    }
    // Drops the calls that will never run (the application is going away): on the main
    // thread, like the calls themselves.
    void clear() {
        std::deque<std::function<void()>> dropped;
        const std::lock_guard lock(m_mutex);
        dropped.swap(m_calls);
    }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() != kRun)
            return;
        std::function<void()> fn;
        {
            const std::lock_guard lock(m_mutex);
            if (m_calls.empty())
                return;
            fn = std::move(m_calls.front());
            m_calls.pop_front();
        }
        fn();
    }

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
};

// Worker threads of one priority. The jobs pass to the workers under a lock of the program's
// own, for the same reason as the main thread's calls.
class Workers {
public:
    Workers(int maxThreads, std::optional<platform::ThreadPriority> lowered)
        : m_lowered(lowered), m_runner(*this) {
        m_pool.setMaxThreadCount(maxThreads);
        m_pool.setExpiryTimeout(30000);
    }

    // Every start hands the pool the same runnable, made before any worker existed and never
    // changed: nothing is written that a worker then reads but the jobs, which pass under the
    // lock. (A runnable made per start is written by the starting thread and read by a worker
    // through the pool's own locking, which the thread checker cannot see.)
    void start(std::function<void()> job) {
        {
            const std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_pool.start(&m_runner);
    }
    void waitForDone() { m_pool.waitForDone(); }

private:
    void runOne() {
        // A thread of these workers keeps its lowered priority until it ends.
        if (m_lowered && !t_lowered) {
            if (const Result<> r = platform::lowerThisThreadPriority(*m_lowered); !r)
                qWarning().noquote()
                    << "ignored failure (lower a worker's priority):" << r.error().context();
        }
        std::function<void()> job;
        {
            const std::lock_guard lock(m_mutex);
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }

    // Runs one job each time the pool runs it; started again and again, so not deleted by it.
    class Runner final : public QRunnable {
    public:
        explicit Runner(Workers& workers) : m_workers(workers) { setAutoDelete(false); }
        void run() override { m_workers.runOne(); }

    private:
        Workers& m_workers;
    };

    const std::optional<platform::ThreadPriority> m_lowered;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_jobs;
    Runner m_runner;
    QThreadPool m_pool; // destroyed first: it waits for the running jobs
};

// Starts jobs on workers of the usual priority for threads whose priority was lowered. A new
// thread takes the priority of the thread that creates it, and the pool creates its threads
// from the thread that starts a job: a job started from a lowered thread would lower a worker
// for good. The relay is a thread of the usual priority that only starts jobs.
class Relay {
public:
    explicit Relay(Workers& to) : m_to(to), m_thread([this] { relay(); }) {}
    ~Relay() { stop(); }

    void pass(std::function<void()> job) {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_stopped) {
                m_jobs.push_back(std::move(job));
                m_changed.notify_one();
                return;
            }
        }
        m_to.start(std::move(job)); // the application is going away: no relay is left
    }
    void stop() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_changed.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void relay() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stopped || !m_jobs.empty(); });
            std::deque<std::function<void()>> jobs;
            jobs.swap(m_jobs);
            lock.unlock();
            for (std::function<void()>& job : jobs)
                m_to.start(std::move(job));
            lock.lock();
            if (m_stopped && m_jobs.empty())
                return;
        }
    }

    Workers& m_to;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopped = false;
    std::thread m_thread;
};

class QtDispatcher final : public Dispatcher {
public:
    QtDispatcher() {
        if (QCoreApplication* app = QCoreApplication::instance())
            m_main.moveToThread(app->thread());
    }
    ~QtDispatcher() override { drainWorkers(); }

    // Lets the running and queued jobs finish (with the jobs they queue in turn), ends every
    // worker thread and drops the calls queued for the main thread that will never run.
    void drain() {
        drainWorkers();
        m_main.clear();
    }

    void postToMain(std::function<void()> fn) override {
        // After the application object is gone (process exit) there is no main loop left
        // to run the call; it is dropped.
        if (QCoreApplication::instance())
            m_main.push(std::move(fn));
    }
    void runInBackground(std::function<void()> fn) override {
        if (t_lowered)
            submit([this](std::function<void()> job) { m_relay.pass(std::move(job)); },
                   std::move(fn));
        else
            submit([this](std::function<void()> job) { m_normal.start(std::move(job)); },
                   std::move(fn));
    }
    void runAtLowestPriority(std::function<void()> fn) override {
        submit([this](std::function<void()> job) { m_lowest.start(std::move(job)); },
               std::move(fn));
    }
    bool isMainThread() const override {
        return QCoreApplication::instance() &&
               QThread::currentThread() == QCoreApplication::instance()->thread();
    }

private:
    void submit(const std::function<void(std::function<void()>)>& start, std::function<void()> fn) {
        {
            const std::lock_guard lock(m_mutex);
            ++m_outstanding;
        }
        start([this, fn = std::move(fn)]() mutable {
            fn();
            // What the job held goes first: a serial queue's turn ends with it and queues the
            // next job, which is counted before this one is no longer.
            fn = nullptr;
            {
                const std::lock_guard lock(m_mutex);
                --m_outstanding;
            }
            m_idle.notify_all();
        });
    }

    void drainWorkers() {
        {
            std::unique_lock lock(m_mutex);
            m_idle.wait(lock, [this] { return m_outstanding == 0; });
        }
        m_relay.stop();
        m_normal.waitForDone();
        m_lowest.waitForDone();
    }

    // Long jobs block their thread on child processes and downloads; several may run at once
    // (start-all beside an update), so the pool is not bounded by the core count.
    Workers m_normal{16, std::nullopt};
    // Stage probes of the model's runs, one at a time per model.
    Workers m_lowest{4, platform::ThreadPriority::Idle};
    // Made with the dispatcher, on the thread that first asks for it (the main thread).
    Relay m_relay{m_normal};
    MainQueue m_main;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    quint64 m_outstanding = 0;
};

} // namespace

namespace platform {

std::shared_ptr<Dispatcher> qtDispatcher() {
    // One pool for the process: every model's jobs share it.
    static const std::shared_ptr<QtDispatcher> dispatcher = [] {
        // The worker threads end with the application object, before the libraries' exit
        // handlers run: OpenSSL, for one, frees a thread's state (error queue, random
        // generator) only when the thread ends before its own clean-up.
        qAddPostRoutine([] { dispatcher->drain(); });
        return std::make_shared<QtDispatcher>();
    }();
    return dispatcher;
}

Result<> lowerThisThreadPriority(ThreadPriority priority) {
    if (Result<> lowered = lowerCallingThreadPriority(priority); !lowered)
        return lowered;
    t_lowered = true;
    return {};
}

// --- SerialQueue ---

struct SerialQueue::State : std::enable_shared_from_this<State> {
    struct Entry {
        std::shared_ptr<Dispatcher> dispatcher;
        std::function<void(Turn)> job;
        JobPriority priority;
    };

    void push(Entry entry) {
        {
            const std::lock_guard lock(mutex);
            if (busy) {
                waiting.push_back(std::move(entry));
                return;
            }
            busy = true;
        }
        start(std::move(entry));
    }

    // The turn of the job that ran has ended: the next one, if any, is started.
    void next() {
        Entry entry;
        {
            const std::lock_guard lock(mutex);
            if (waiting.empty()) {
                busy = false;
                return;
            }
            entry = std::move(waiting.front());
            waiting.pop_front();
        }
        start(std::move(entry));
    }

    void start(Entry entry) {
        Dispatcher& dispatcher = *entry.dispatcher;
        auto run = [self = shared_from_this(), job = std::move(entry.job)]() mutable {
            Turn turn;
            turn.m_hold = std::shared_ptr<void>(nullptr, [self](void*) { self->next(); });
            // The job's own copy goes when it returns, unless it handed the turn on.
            std::exchange(job, nullptr)(std::move(turn));
        };
        if (entry.priority == JobPriority::Lowest)
            dispatcher.runAtLowestPriority(std::move(run));
        else
            dispatcher.runInBackground(std::move(run));
    }

    std::mutex mutex;
    std::deque<Entry> waiting;
    bool busy = false; // a job has the turn
};

SerialQueue::SerialQueue() : m_state(std::make_shared<State>()) {}

SerialQueue::~SerialQueue() = default;

void SerialQueue::enqueue(std::shared_ptr<Dispatcher> dispatcher, std::function<void()> job,
                          JobPriority priority) {
    enqueueHolding(
        std::move(dispatcher), [job = std::move(job)](const Turn&) { job(); }, priority);
}

void SerialQueue::enqueueHolding(std::shared_ptr<Dispatcher> dispatcher,
                                 std::function<void(Turn)> job, JobPriority priority) {
    m_state->push({std::move(dispatcher), std::move(job), priority});
}

} // namespace platform
