#pragma once
// Timing and process-crowd helpers shared by the benchmarks.

#include <QElapsedTimer>

#include <algorithm>
#include <ctime>
#include <vector>

#include <csignal>

#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

struct Figures {
    double median = 0;
    double longest = 0;
    double cpuMedian = 0; // this thread's processor time: what the work costs without waiting
};

inline double threadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Runs f `runs` times: median and longest wall time, median processor time of this thread.
template <typename F> Figures timeRuns(int runs, F&& f) {
    std::vector<double> ms, cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const double c = threadCpuMs();
        f();
        cpu.push_back(threadCpuMs() - c);
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    return {ms[ms.size() / 2], ms.back(), cpu[cpu.size() / 2]};
}

// `count` idle processes ("sleep 600") to crowd the process table; the caller ends them.
inline std::vector<pid_t> startSleepers(int count) {
    std::vector<pid_t> pids;
    char arg0[] = "sleep";
    char arg1[] = "600";
    char* argv[] = {arg0, arg1, nullptr};
    for (int i = 0; i < count; ++i) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, argv, environ) == 0)
            pids.push_back(pid);
    }
    return pids;
}

// A child that keeps fd (a socket, say) open until it is killed, and never outlives the
// benchmark; the parent's copy of fd is closed.
inline pid_t forkHolding(int fd) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (;;)
            ::pause();
    }
    ::close(fd);
    return pid;
}

// Kills the children and reaps them.
inline void stop(const std::vector<pid_t>& pids) {
    for (const pid_t pid : pids)
        ::kill(pid, SIGKILL);
    for (const pid_t pid : pids)
        ::waitpid(pid, nullptr, 0);
}

} // namespace bench
