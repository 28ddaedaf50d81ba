// Main-thread cost of a status refresh with a crowd of processes on the machine, beside the
// system tools that the same probe would otherwise start (lsof -ti :PORT, then pgrep -f).
//
// Two cases: the database's port free (the probe then matches every command line against the
// database server's path) and held by the newest process. The sandbox's model watches a free
// port of its own in place of 3306, so no lock on the fixed ports is needed. Also printed: the
// main thread's share of the window's refresh, which probes on a worker and only publishes on
// the main thread.
//
//   bench_refresh_status [extra processes, default 300] [runs, default 100]

#include "bench_timing.h"
#include "core/process_helpers.h"
#include "platform/process.h"
#include "platform/process_table.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#include <arpa/inet.h>
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

// A child, newer than every sleeper, listening on the loopback port.
pid_t startListener(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, 4) != 0)
        return -1;
    return bench::forkHolding(fd);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int extra = argc > 1 ? std::max(0, atoi(argv[1])) : 300;
    const int runs = argc > 2 ? std::max(5, atoi(argv[2])) : 100;

    TestSandbox box;
    testing::makeValidRoot(box.installedRoot());
    QDir().mkpath(box.installedRoot() + QStringLiteral("/runtime/config"));
    QDir().mkpath(box.installedRoot() + QStringLiteral("/runtime/mysql/data"));
    auto model = box.makeModel();
    model->refreshStatus(); // warm-up: installs nothing, resolves the root
    const QString mysqld =
        core::escapeExtendedRegex(model->mysqlDir() + QStringLiteral("/bin/mysqld"));
    const QString port = QLatin1Char(':') + QString::number(box.databasePort);
    const bool haveLsof = QFile::exists(QStringLiteral("/usr/bin/lsof"));

    std::vector<pid_t> children = startSleepers(extra);
    const int processes =
        int(QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size());
    std::printf("processes on the machine: %d (%d started by the benchmark); shared machine, %ld "
                "cores\n",
                processes, extra, ::sysconf(_SC_NPROCESSORS_ONLN));

    const auto report = [&](const char* what) {
        const Figures r = timeRuns(runs, [&] { model->refreshStatus(); });
        std::printf("%s: refreshStatus() median %.2f ms (processor time %.2f ms), longest %.2f ms "
                    "(goal: median <= 2 ms)\n",
                    what, r.median, r.cpuMedian, r.longest);
        // Where the probe's time goes.
        const platform::ProcessTable table;
        const platform::ExtendedRegex serverPattern(mysqld);
        const struct {
            const char* what;
            std::function<void()> part;
        } parts[] = {
            {"write test of four directories", [&] { (void)model->permissionCheckHint(); }},
            {"sockets on the port and their holder",
             [&] { (void)table.holderOfPort(quint16(box.databasePort)); }},
            {"command lines matched", [&] { (void)table.anyMatching(serverPattern); }},
            {"two pid files",
             [&] {
                 (void)model->isServiceRunning(Service::Site);
                 (void)model->isServiceRunning(Service::PhpMyAdmin);
             }},
            {"root resolved once", [&] { (void)model->zeltoPanelRoot(); }},
        };
        std::printf("%s: parts (median processor time):", what);
        for (const auto& part : parts)
            std::printf(" %s %.3f ms;", part.what, timeRuns(runs, part.part).cpuMedian);
        std::printf("\n");
        const StatusSnapshot snapshot = model->probeStatus();
        const Figures p = timeRuns(runs, [&] { model->publishStatus(snapshot); });
        std::printf("%s: the window's refresh on the main thread (publication only) median %.3f "
                    "ms, longest %.3f ms\n",
                    what, p.median, p.longest);
        if (!haveLsof) {
            std::printf("%s: lsof is not installed, no comparison\n", what);
            return;
        }
        const bool held = model->mysqlPidFromPort().has_value();
        const Figures t = timeRuns(std::max(5, runs / 5), [&] {
            platform::ChildOptions capture;
            capture.out = platform::StdStream::Capture;
            capture.err = platform::StdStream::Null;
            (void)platform::runChild(QStringLiteral("/usr/bin/lsof"), {QStringLiteral("-ti"), port},
                                     capture);
            if (!held)
                (void)platform::runChild(QStringLiteral("/usr/bin/pgrep"),
                                         {QStringLiteral("-f"), mysqld});
        });
        std::printf("%s: lsof -ti%s run directly median %.2f ms, longest %.2f ms (%.0fx "
                    "refreshStatus())\n",
                    what, held ? "" : " + pgrep -f", t.median, t.longest, t.median / r.median);
    };
    report("database port free");
    const pid_t holder = startListener(box.databasePort);
    if (holder > 0) {
        children.push_back(holder);
        report("database port held by the newest process");
    }
    stop(children);
    return 0;
}
