// Figures for the servers' logs window: how long a 2 GB log takes to open with its end shown,
// and how long the main thread is held while the log grows by 1,000 lines a second.
//
//   bench_log_view [seconds]
//
// The window runs on the offscreen platform unless QT_QPA_PLATFORM names another, over a
// sandboxed panel root. The log is a sparse 2 GB file with 2,000 lines at its end. While a
// writer thread appends (a mix of plain lines, warnings and errors, in 10 ms slices), a 16 ms
// timer ticks on the main thread: the gaps between its ticks are the frames the main thread
// could give; their 99th percentile and longest are printed beside the goal, with the main
// thread's processor time in each gap (a long gap with little of it is another process's
// doing) and the list's paints. BENCH_TRACE=1 also prints every tick that held the main thread
// for more than 8 ms.

#include "app/application.h"
#include "app/server_logs_window.h"
#include "bench_timing.h"
#include "core/log_follower.h"
#include "core/panel_view_model.h"
#include "core/server_logs.h"
#include "test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kOpenRuns = 5;
constexpr int kLinesPerSecond = 1000;
constexpr int kSliceMs = 10;

QByteArray lineNumbered(qint64 n) {
    const QByteArray number = QByteArray::number(n);
    switch (n % 20) {
    case 7:
        return "[Fri Dec 11 03:00:00 2026] PHP Warning:  Undefined variable $cart in "
               "/srv/www/cart.php on line " +
               number + '\n';
    case 13:
        return "[Fri Dec 11 03:00:00 2026] PHP Fatal error:  Uncaught Error: boom in "
               "/srv/www/pay.php:" +
               number + '\n';
    default:
        return "[Fri Dec 11 03:00:00 2026] 127.0.0.1:51234 [200]: GET /index.php?line=" + number +
               '\n';
    }
}

QByteArray lines(qint64 from, qint64 count) {
    QByteArray bytes;
    for (qint64 n = from; n < from + count; ++n)
        bytes += lineNumbered(n);
    return bytes;
}

bool appendTo(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::Append) && file.write(bytes) == bytes.size();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Counts the paints of a widget and the processor time they take.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget) : m_widget(widget) { widget->installEventFilter(this); }
    int paints = 0;
    std::vector<double> cpuMs;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (m_inside || watched != m_widget || event->type() != QEvent::Paint)
            return false;
        ++paints;
        // Paint it here, timed, and let no one paint it again.
        const double before = bench::threadCpuMs();
        m_inside = true;
        QCoreApplication::sendEvent(m_widget, event);
        m_inside = false;
        cpuMs.push_back(bench::threadCpuMs() - before);
        return true;
    }

private:
    QWidget* m_widget;
    bool m_inside = false;
};

// Runs the event loop until the site tab shows count lines and has painted them; the
// milliseconds it took.
double msUntilShown(ServerLogsWindow& window, int count) {
    QElapsedTimer t;
    t.start();
    PaintWatch watch(window.page(0)->list()->viewport());
    // The paints made before the lines came in.
    int paintsBefore = -1;
    QObject context;
    QObject::connect(window.page(0)->follower(), &logs::LogFollower::linesChanged, &context, [&] {
        if (window.page(0)->filter()->rowCount() == count)
            paintsBefore = watch.paints;
    });
    const bool shown =
        testing::waitFor([&] { return paintsBefore >= 0 && watch.paints > paintsBefore; }, 60000);
    return shown ? double(t.nsecsElapsed()) / 1e6 : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    app::applyDarkTheme(application);
    app::installTranslations(QLocale(QLocale::Chinese, QLocale::China));
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    TestSandbox box;
    testing::makeValidRoot(box.installedRoot());
    const std::shared_ptr<PanelViewModel> model = box.makeModel();
    const QString path = model->serviceLogPath(Service::Site);
    testing::writeFile(path, {});
    if (!QFile::resize(path, qint64(2) << 30) || !appendTo(path, lines(0, 2000))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    std::printf("log: %s, %.2f GB (sparse), 2,000 lines at its end\n", qPrintable(path),
                double(QFileInfo(path).size()) / double(1 << 30));
    const bench::Figures read = bench::timeRuns(
        kOpenRuns, [&] { (void)logs::readLogEnd(path, logs::LogFollower::kMaxLines); });
    std::printf("reading the end (on a worker): median %6.1f ms, longest %6.1f ms\n", read.median,
                read.longest);
    std::vector<double> opens;
    for (int run = 0; run < kOpenRuns; ++run) {
        ServerLogsWindow window(model);
        QElapsedTimer t;
        t.start();
        window.show();
        const double waited = msUntilShown(window, 2000);
        if (waited < 0) {
            std::fprintf(stderr, "the log's end never showed\n");
            return 1;
        }
        opens.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(opens.begin(), opens.end());
    std::printf("open, end shown:     median %7.1f ms, longest %7.1f ms   (goal: at once)\n",
                opens[opens.size() / 2], opens.back());

    ServerLogsWindow window(model);
    window.show();
    msUntilShown(window, 2000);

    std::atomic<bool> writing{true};
    std::atomic<qint64> written{0};
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        qint64 next = 2000;
        for (int slice = 1; writing; ++slice) {
            const qint64 due = qint64(slice) * kLinesPerSecond * kSliceMs / 1000;
            appendTo(path, lines(next, due - (next - 2000)));
            next = 2000 + due;
            written = next - 2000;
            std::this_thread::sleep_until(start + std::chrono::milliseconds(slice * kSliceMs));
        }
    });

    // The gaps, and the main thread's processor time within each: a long gap with little
    // processor time is the machine's doing (other processes), not the window's.
    std::vector<double> gaps, busy, batchMs;
    QElapsedTimer sinceTick;
    double cpuAtTick = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(16);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (sinceTick.isValid())
            gaps.push_back(double(sinceTick.nsecsElapsed()) / 1e6);
        const double cpu = bench::threadCpuMs();
        if (sinceTick.isValid())
            busy.push_back(cpu - cpuAtTick);
        cpuAtTick = cpu;
        if (qEnvironmentVariableIsSet("BENCH_TRACE") && !busy.empty() && busy.back() > 8)
            std::printf("tick %zu: gap %.1f ms, busy %.1f ms (batches %zu)\n", gaps.size(),
                        gaps.back(), busy.back(), batchMs.size());
        sinceTick.start();
    });
    // A batch's own cost on the main thread: from the first change of the list to the end of
    // the page's answer (it scrolls to the end), the repaint that follows not counted.
    QElapsedTimer batch;
    logs::LogFollower* follower = window.page(0)->follower();
    const auto batchBegins = [&] {
        if (!batch.isValid())
            batch.start();
    };
    QObject::connect(follower, &QAbstractItemModel::rowsAboutToBeRemoved, batchBegins);
    QObject::connect(follower, &QAbstractItemModel::rowsAboutToBeInserted, batchBegins);
    QObject::connect(follower, &QAbstractItemModel::modelAboutToBeReset, batchBegins);
    QObject::connect(follower, &logs::LogFollower::linesChanged, [&] {
        batchMs.push_back(double(batch.nsecsElapsed()) / 1e6);
        batch.invalidate();
    });
    PaintWatch paints(window.page(0)->list()->viewport());
    ticker.start();
    QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
    QApplication::exec();
    ticker.stop();
    writing = false;
    writer.join();
    const QString lastShown = window.page(0)->follower()->lines().back().text;

    std::printf("growing %d lines/s for %d s: %lld lines written, %zu batches shown, last shown "
                "\"...%s\"\n",
                kLinesPerSecond, seconds, static_cast<long long>(written.load()), batchMs.size(),
                qPrintable(lastShown.right(24)));
    std::printf("gap between ticks of a 16 ms timer: median %5.1f ms, p99 %5.1f ms, longest "
                "%5.1f ms   (goal: <= 16 ms, i.e. no tick late)\n",
                percentile(gaps, 0.5), percentile(gaps, 0.99), percentile(gaps, 1.0));
    std::printf("main thread's processor time per tick: median %4.1f ms, p99 %5.1f ms, longest "
                "%5.1f ms   (goal: <= 16 ms)\n",
                percentile(busy, 0.5), percentile(busy, 0.99), percentile(busy, 1.0));
    const QWidget* viewport = window.page(0)->list()->viewport();
    std::printf("painting the list (%d x %d, %d paints): median %4.1f ms, p99 %5.1f ms, longest "
                "%5.1f ms\n",
                viewport->width(), viewport->height(), paints.paints, percentile(paints.cpuMs, 0.5),
                percentile(paints.cpuMs, 0.99), percentile(paints.cpuMs, 1.0));
    std::printf("one batch on the main thread:       median %5.1f ms, p99 %5.1f ms, longest "
                "%5.1f ms   (goal: well inside 16 ms)\n",
                percentile(batchMs, 0.5), percentile(batchMs, 0.99), percentile(batchMs, 1.0));
    return 0;
}
