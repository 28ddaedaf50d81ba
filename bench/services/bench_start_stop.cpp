// Wall time of start-all until the three ports answer (and until its final report, which waits
// for the three to be ready), beside a plain shell script that starts the same three programs
// the same way, and of stop-all until nothing answers, beside a script
// that stops them. Runs the assembled runtime on the fixed ports 3306, 8000 and 900: run it only
// while no test uses them.
//
//   bench_start_stop [runs]        (ZELTO_RUNTIME_DIR: the runtime, default: the build's)

#include "core/process_helpers.h"
#include "platform/files.h"
#include "platform/process.h"
#include "real_stack.h"
#include "services/database.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace platform;

namespace {

const QList<int> kPorts = {3306, 8000, 900};
constexpr qint64 kLimitMs = 120000;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool portAnswers(int port) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    const bool connected = socket.waitForConnected(200);
    socket.abort();
    return connected;
}

bool allAnswer() {
    return std::all_of(kPorts.begin(), kPorts.end(), portAnswers);
}
bool noneAnswers() {
    return std::none_of(kPorts.begin(), kPorts.end(), portAnswers);
}

// Runs the event loop (the panel's blocks need it) until condition holds; the elapsed
// milliseconds since timer started, or -1 past the limit.
template <typename F> double waitUntil(const QElapsedTimer& timer, F&& condition) {
    while (!condition()) {
        if (timer.elapsed() > kLimitMs)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return timer.nsecsElapsed() / 1e6;
}

// Starts a script without waiting for it, like the panel's buttons return at once.
pid_t launch(const QString& script) {
    return spawnDetached(script, {}, QString()).value_or(-1);
}

// Waits until a launched script has ended (a zombie counts as ended).
void waitForExit(pid_t pid) {
    QElapsedTimer t;
    t.start();
    waitUntil(t, [pid] { return !processCommandLine(pid).has_value(); });
}

bool waitForLog(PanelViewModel& model, const QString& prefix) {
    QElapsedTimer t;
    t.start();
    return waitUntil(t, [&] { return model.logs().startsWith(prefix); }) >= 0;
}

// The same three programs, started and stopped the way the panel does it, by a shell script.
void writeScripts(const QString& base, const QString& root) {
    const QString r = root + QStringLiteral("/runtime");
    testing::writeScript(
        base + QStringLiteral("/start.sh"),
        QStringLiteral("R='%1'\n"
                       "cd '%2' || exit 1\n"
                       "for PHP in \"$R\"/php/PHP*/bin/php; do break; done\n"
                       "\"$R/mysql/bin/mysqld\" \"--defaults-file=$R/mysql/my_runtime.cnf\" "
                       "--daemonize >/dev/null 2>&1\n"
                       "setsid \"$PHP\" -S 0.0.0.0:8000 -t \"$R/www\" "
                       ">>\"$R/config/php-web.log\" 2>&1 </dev/null &\n"
                       "echo $! > '%3/web.pid'\n"
                       "setsid \"$PHP\" -S 0.0.0.0:900 -t \"$R/phpmyadmin\" "
                       ">>\"$R/config/phpmyadmin.log\" 2>&1 </dev/null &\n"
                       "echo $! > '%3/admin.pid'\n")
            .arg(r, root, base));
    testing::writeScript(base + QStringLiteral("/stop.sh"),
                         QStringLiteral("kill \"$(cat '%2/web.pid')\" \"$(cat '%2/admin.pid')\"\n"
                                        "'%1/mysql/bin/mysqladmin' -u root -pkpzw shutdown "
                                        ">/dev/null 2>&1\n")
                             .arg(r, base));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 5;
    const std::optional<QString> runtime = bench::realStackRuntime();
    if (!runtime)
        return 1;

    TestSandbox box;
    box.machineDatabasePort = true; // the real server on the real port
    box.noResourcePath = true;
    const QString root = box.installedRoot();
    QDir().mkpath(root);
    if (!copyTree(*runtime, root + QStringLiteral("/runtime"))) {
        std::fprintf(stderr, "cannot copy the runtime\n");
        return 1;
    }
    writeScripts(box.base(), root);
    auto model = box.makeModel();

    // Warm-up: the first start initialises the data directory (not measured here).
    QElapsedTimer first;
    first.start();
    model->startAll();
    const double firstStart = waitUntil(first, allAnswer);
    waitForLog(*model, QStringLiteral("=== 启动完成 ==="));
    model->stopAll();
    waitForLog(*model, QStringLiteral("=== 停止完成 ==="));
    QElapsedTimer settle;
    settle.start();
    waitUntil(settle, noneAnswers);

    std::vector<double> panelStart, panelReport, panelStop, scriptStart, scriptStop;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        model->startAll();
        panelStart.push_back(waitUntil(t, allAnswer));
        panelReport.push_back(waitUntil(
            t, [&] { return model->logs().startsWith(QStringLiteral("=== 启动完成 ===")); }));
        t.restart();
        model->stopAll();
        panelStop.push_back(waitUntil(t, noneAnswers));
        waitForLog(*model, QStringLiteral("=== 停止完成 ==="));

        t.restart();
        const pid_t starter = launch(box.base() + QStringLiteral("/start.sh"));
        scriptStart.push_back(waitUntil(t, allAnswer));
        waitForExit(starter);
        t.restart();
        const pid_t stopper = launch(box.base() + QStringLiteral("/stop.sh"));
        scriptStop.push_back(waitUntil(t, noneAnswers));
        waitForExit(stopper);
    }

    // Nothing of this run stays behind.
    (void)runChild(box.tools.pkill, {QStringLiteral("-f"), core::escapeExtendedRegex(box.base())});

    const double ps = median(panelStart), ss = median(scriptStart);
    const double pt = median(panelStop), st = median(scriptStop);
    std::printf("first start-all (initialises the database) until 3 ports answer: %.0f ms\n",
                firstStart);
    std::printf("start-all until 3 ports answer, median of %d: %.0f ms\n", runs, ps);
    std::printf("shell script start until 3 ports answer, median of %d: %.0f ms\n", runs, ss);
    std::printf("ratio start-all / script: %.2f (goal: at most 1.10)\n", ps / ss);
    const auto runsOf = [](std::vector<double> samples) {
        std::sort(samples.begin(), samples.end());
        QStringList texts;
        for (double sample : samples)
            texts << QString::number(sample, 'f', 0);
        return texts.join(QLatin1Char(' '));
    };
    std::printf("  every run, ms: start-all %s; script %s\n", qPrintable(runsOf(panelStart)),
                qPrintable(runsOf(scriptStart)));
    const double pr = median(panelReport);
    std::printf("start-all until its final report (every service found ready), median of %d: "
                "%.0f ms\n",
                runs, pr);
    std::printf("ratio start-all final report / script: %.2f\n", pr / ss);
    std::printf("stop-all until nothing answers, median of %d: %.0f ms\n", runs, pt);
    std::printf("shell script stop until nothing answers, median of %d: %.0f ms\n", runs, st);
    std::printf("ratio stop-all / script: %.2f\n", pt / st);
    return 0;
}
