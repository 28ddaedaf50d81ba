// Main-thread cost of a status refresh beside the cost of the system tools it starts.
//
// A refresh runs lsof (and pgrep when nothing holds port 3306) and writes four small files;
// the tools dominate. This prints the median of many refreshes, the median of the same tool
// runs made directly, and their ratio.

#include "test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace platform;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> std::vector<double> timeRuns(int runs, F&& f) {
    std::vector<double> ms;
    ms.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(5, atoi(argv[1])) : 60;

    TestSandbox box;
    testing::makeValidRoot(box.installedRoot());
    QDir().mkpath(box.installedRoot() + QStringLiteral("/runtime/config"));
    QDir().mkpath(box.installedRoot() + QStringLiteral("/runtime/mysql/data"));
    auto model = box.makeModel();
    model->refreshStatus(); // warm-up
    const bool dbHeld = model->mysqlPidFromPort().has_value();

    const std::vector<double> refresh = timeRuns(runs, [&] { model->refreshStatus(); });
    const QString mysqld = model->mysqlDir() + QStringLiteral("/bin/mysqld");
    const std::vector<double> tools = timeRuns(runs, [&] {
        ChildOptions capture;
        capture.out = StdStream::Capture;
        capture.err = StdStream::Null;
        const QString port = QLatin1Char(':') + QString::number(servicePort(Service::Database));
        (void)runChild(box.tools.lsof, {QStringLiteral("-ti"), port}, capture);
        if (!dbHeld)
            (void)runChild(box.tools.pgrep, {QStringLiteral("-f"), mysqld});
    });

    const double r = median(refresh);
    const double t = median(tools);
    std::printf("refreshStatus() on the main thread, median of %d: %.2f ms\n", runs, r);
    std::printf("its child tools (lsof%s) run directly, median of %d: %.2f ms\n",
                dbHeld ? "" : " + pgrep", runs, t);
    std::printf(
        "ratio refresh / tools: %.2f (the rest: root resolution, write tests, publication)\n",
        r / t);
    return 0;
}
