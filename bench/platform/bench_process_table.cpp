// Cost of the status probe's process questions asked of the process table, beside the same
// questions asked of `lsof -ti :PORT` and `pgrep -f PATTERN`, with a crowd of extra processes.
//
// Two cases, as the database probe meets them: nobody holds the port (the port's sockets are
// looked up, then every command line is matched against the database's path), and the port is
// held by the newest process (every process's open files are searched until it is found).
// The port is an ephemeral one, so the benchmark needs no lock on the fixed ports.
//
//   bench_process_table [extra processes, default 300] [runs, default 200]

#include "bench_timing.h"
#include "core/process_helpers.h"
#include "platform/process.h"
#include "platform/process_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <netinet/in.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using bench::Figures;
using bench::startSleepers;
using bench::stop;
using bench::threadCpuMs;
using bench::timeRuns;

// A child, newer than every sleeper, listening on an ephemeral port.
pid_t startListener(quint16& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), length) != 0 ||
        ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return -1;
    port = ntohs(a.sin_port);
    return bench::forkHolding(fd);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int extra = argc > 1 ? std::max(0, std::atoi(argv[1])) : 300;
    const int runs = argc > 2 ? std::max(5, std::atoi(argv[2])) : 200;

    std::vector<pid_t> children = startSleepers(extra);
    quint16 heldPort = 0;
    const pid_t holder = startListener(heldPort);
    if (holder > 0)
        children.push_back(holder);
    quint16 freePort = 0;
    if (const pid_t other = startListener(freePort); other > 0)
        stop({other}); // its port is free again
    const int processes = static_cast<int>(
        QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size());

    const QString mysqld =
        core::escapeExtendedRegex(QDir::tempPath() + QStringLiteral("/none/mysqld"));
    const platform::ProcessTable table;
    const auto tableProbe = [&](quint16 port) {
        if (!table.holderOfPort(port))
            (void)table.anyMatching(platform::ExtendedRegex(mysqld));
    };
    const auto toolsProbe = [&](quint16 port) {
        platform::ChildOptions capture;
        capture.out = platform::StdStream::Capture;
        capture.err = platform::StdStream::Null;
        const Result<platform::ChildExit> r =
            platform::runChild(QStringLiteral("/usr/bin/lsof"),
                               {QStringLiteral("-ti"), QStringLiteral(":%1").arg(port)}, capture);
        if (!r || r->output.trimmed().isEmpty())
            (void)platform::runChild(QStringLiteral("/usr/bin/pgrep"),
                                     {QStringLiteral("-f"), mysqld});
    };
    if (table.firstPidOnPort(heldPort) != holder || table.firstPidOnPort(freePort)) {
        std::fprintf(stderr, "the table does not see the listener as expected\n");
        stop(children);
        return 1;
    }

    std::printf("processes on the machine: %d (%d started by the benchmark); shared machine, "
                "%ld cores\n",
                processes, extra + 1, ::sysconf(_SC_NPROCESSORS_ONLN));
    const auto report = [&](const char* what, quint16 port) {
        const Figures t = timeRuns(runs, [&] { tableProbe(port); });
        std::printf("%s: table median %.3f ms (processor time %.3f ms), longest %.3f ms (goal: "
                    "refreshStatus() <= 2 ms median)\n",
                    what, t.median, t.cpuMedian, t.longest);
        if (QFile::exists(QStringLiteral("/usr/bin/lsof"))) {
            const Figures c = timeRuns(std::max(5, runs / 10), [&] { toolsProbe(port); });
            std::printf("%s: lsof -ti + pgrep -f median %.3f ms, longest %.3f ms (%.0fx the "
                        "table)\n",
                        what, c.median, c.longest, c.median / t.median);
        } else {
            std::printf("%s: lsof is not installed, no comparison\n", what);
        }
    };
    report("port free, command lines matched", freePort);
    report("port held by the newest process", heldPort);
    stop(children);
    return 0;
}
