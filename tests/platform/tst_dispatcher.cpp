// The dispatcher: serial queues keep their order without holding workers, side jobs are taken
// back when no worker is free, and the low-priority mode lowers its workers.

#include "platform/dispatcher.h"
#include "test_support.h"

#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using platform::JobPriority;
using platform::SerialQueue;

namespace {

int niceOfThisThread() {
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
}

// Jobs blocked until release(): they hold every worker of the normal pool while they wait.
class BlockedWorkers {
public:
    explicit BlockedWorkers(Dispatcher& dispatcher, int count = 64) : m_count(count) {
        for (int i = 0; i < count; ++i)
            dispatcher.runInBackground([this] {
                while (!m_released)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                ++m_ended;
            });
    }
    ~BlockedWorkers() { release(); }
    void release() {
        m_released = true;
        QVERIFY(testing::waitFor([this] { return m_ended == m_count; }));
    }

private:
    const int m_count;
    std::atomic<bool> m_released{false};
    std::atomic<int> m_ended{0};
};

} // namespace

class TestDispatcher : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // First: it needs a pool that has no worker yet.
    void lowestPriorityWorkersAreLowered();
    void serialQueueKeepsOrder();
    void waitingJobsHoldNoWorker();
    void sideJobIsTakenBackWhenNoWorkerIsFree();
};

// Jobs of either priority, and jobs that hand their turn to a job of the pool, run one at a
// time in the order queued.
void TestDispatcher::serialQueueKeepsOrder() {
    const std::shared_ptr<Dispatcher> dispatcher = platform::qtDispatcher();
    SerialQueue queue;
    std::mutex mutex;
    std::vector<int> seen;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    const auto enter = [&](int mark) {
        if (inside.fetch_add(1) != 0)
            overlapped = true;
        const std::lock_guard lock(mutex);
        seen.push_back(mark);
    };
    const auto leave = [&](int mark) {
        {
            const std::lock_guard lock(mutex);
            seen.push_back(mark);
        }
        inside.fetch_sub(1);
    };
    std::vector<int> expected;
    constexpr int kJobs = 60;
    for (int i = 0; i < kJobs; ++i) {
        expected.insert(expected.end(), {i, -i - 1});
        if (i % 3 == 2) {
            // Its turn ends in a job of the concurrent pool.
            queue.enqueueHolding(dispatcher, [&, i, dispatcher](SerialQueue::Turn turn) {
                enter(i);
                dispatcher->runInBackground([&, i, turn]() mutable {
                    std::this_thread::yield();
                    leave(-i - 1);
                    turn.end();
                });
            });
        } else {
            queue.enqueue(
                dispatcher,
                [&, i] {
                    enter(i);
                    std::this_thread::yield();
                    leave(-i - 1);
                },
                i % 3 == 0 ? JobPriority::Normal : JobPriority::Lowest);
        }
    }
    QVERIFY(testing::waitFor([&] {
        const std::lock_guard lock(mutex);
        return seen.size() == expected.size();
    }));
    const std::lock_guard lock(mutex);
    QCOMPARE(seen, expected);
    QVERIFY(!overlapped);
}

// More jobs wait in a queue than the pool has workers, behind a job that waits for a job of
// the pool: that job still finds a worker, and every job runs.
void TestDispatcher::waitingJobsHoldNoWorker() {
    const std::shared_ptr<Dispatcher> dispatcher = platform::qtDispatcher();
    SerialQueue queue;
    std::atomic<bool> released{false};
    std::atomic<int> ran{0};
    queue.enqueue(dispatcher, [&] {
        while (!released)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++ran;
    });
    constexpr int kWaiting = 40;
    for (int i = 0; i < kWaiting; ++i)
        queue.enqueue(
            dispatcher, [&] { ++ran; }, i % 2 ? JobPriority::Lowest : JobPriority::Normal);
    dispatcher->runInBackground([&] { released = true; });
    QVERIFY(testing::waitFor([&] { return ran == kWaiting + 1; }));
}

void TestDispatcher::sideJobIsTakenBackWhenNoWorkerIsFree() {
    const std::shared_ptr<Dispatcher> dispatcher = platform::qtDispatcher();
    {
        // Every worker is busy: the caller does the work itself rather than wait for one.
        BlockedWorkers busy(*dispatcher);
        QThread* doneOn = nullptr;
        platform::SideJob<int> job(dispatcher.get(), [&] {
            doneOn = QThread::currentThread();
            return 7;
        });
        QCOMPARE(job.take(), 7);
        QCOMPARE(doneOn, QThread::currentThread());
    }
    // A free worker does it; the caller waits for its result.
    std::atomic<bool> onWorker{false};
    platform::SideJob<int> job(dispatcher.get(), [&] {
        onWorker = QThread::currentThread() != qApp->thread();
        return 8;
    });
    QVERIFY(testing::waitFor([&] { return onWorker.load(); }));
    QCOMPARE(job.take(), 8);
}

// A job of the usual priority started from a lowered worker does not run lowered: the worker
// made for it is not made by the lowered thread, whose priority it would take.
void TestDispatcher::lowestPriorityWorkersAreLowered() {
    const std::shared_ptr<Dispatcher> dispatcher = platform::qtDispatcher();
    const int usual = niceOfThisThread();
    std::atomic<int> lowest{-100};
    std::atomic<int> normal{-100};
    dispatcher->runAtLowestPriority([&] {
        lowest = niceOfThisThread();
        dispatcher->runInBackground([&] { normal = niceOfThisThread(); });
    });
    QVERIFY(testing::waitFor([&] { return lowest != -100 && normal != -100; }));
    QCOMPARE(lowest.load(), 19);
    QCOMPARE(normal.load(), usual);
}

QTEST_GUILESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
