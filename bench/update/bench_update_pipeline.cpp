// The whole update pipeline beside the same work done by hand.
//
// Generates a package of about 20,000 files (about 200 MB unpacked, a Data/ tree among them),
// serves it from 127.0.0.1, and times, twice (a fresh site, then a repair over the same site):
//   - the panel: press to final report (download over loopback, extraction, clean-up, site-root
//     detection, both rsync passes, check, status refresh);
//   - by hand: curl from the same server, bsdtar -xf into an empty folder, and the same two
//     rsync commands.
// What the panel removes in the background after its report (the last run's extraction and
// the replaced generation, set aside) is waited for, and timed, before the steps by hand, so
// that it does not slow them.
// The panel also keeps the site as it was (hard links) for an undo, which the steps by hand do
// not; the repair's ratio is printed a second time with that step added by hand.
// Also prints the download alone and the panel's peak resident memory (getrusage).
//
// Usage: bench_update_pipeline [files] [megabytes] [rounds]     (defaults 20000 200 1)
// Each round runs fresh then repair, panel then by hand; medians are printed, with the time of
// each stage of the panel (from its published progress) beside each step by hand, and the cost
// of keeping the previous generation of the site.
// Everything lives in a temporary directory under TMPDIR (/var/tmp when unset, a real disk
// there; the file system's type is printed) that is removed at the end; TMPDIR=/dev/shm
// measures the work rather than the disk:
//   flock /tmp/zelto-bench.lock build-rel/bench/bench_update_pipeline

#include "platform/files.h"
#include "test_support.h"
#include "update/download.h"
#include "update/generation.h"
#include "update_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QThread>
#include <QTimer>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <sys/resource.h>
#include <sys/vfs.h>
#include <unistd.h>

using namespace update;

using namespace platform;

namespace {

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Site-like contents: PHP-ish text for most files (compresses like source code), random
// bytes for the "static" assets (incompressible, like images).
QByteArray contents(std::mt19937_64& rng, int size, bool binary) {
    QByteArray data(size, Qt::Uninitialized);
    if (binary) {
        for (int i = 0; i < size; i += 8) {
            const quint64 v = rng();
            memcpy(data.data() + i, &v, std::min(8, size - i));
        }
        return data;
    }
    static const char* words[] = {"<?php ",   "function ", "$value ",   "return ", "array(",
                                  ");\n",     "if (",      ") {\n",     "}\n",     "echo ",
                                  "'zelto' ", "$this->",   "foreach (", " as ",    "$key => ",
                                  "null;\n",  "// note\n"};
    int i = 0;
    while (i < size) {
        const char* w = words[rng() % (sizeof words / sizeof *words)];
        for (; *w && i < size; ++w)
            data[i++] = *w;
    }
    return data;
}

// Streams a package into zipPath; returns the number of unpacked bytes.
qint64 writePackage(const QString& zipPath, int files, qint64 totalBytes) {
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_filename(a, QFile::encodeName(zipPath).constData());
    std::mt19937_64 rng(20261208);
    const int average = static_cast<int>(totalBytes / files);
    qint64 written = 0;
    auto add = [&](const QString& name, const QByteArray& data, bool isDir) {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname_utf8(e, name.toUtf8().constData());
        archive_entry_set_mtime(e, 1700000000, 0);
        archive_entry_set_filetype(e, isDir ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(e, isDir ? 0755 : 0644);
        if (!isDir)
            archive_entry_set_size(e, data.size());
        archive_write_header(a, e);
        if (!isDir)
            archive_write_data(a, data.constData(), static_cast<size_t>(data.size()));
        archive_entry_free(e);
        written += data.size();
    };
    const QString top = QStringLiteral("zelto-2.0/www/");
    add(QStringLiteral("zelto-2.0/"), {}, true);
    add(top, {}, true);
    add(top + QStringLiteral("index.php"), contents(rng, 2000, false), false);
    struct Area {
        const char* dir;
        double share;
        bool binary;
    };
    const Area areas[] = {{"include", 0.2, false},
                          {"LibZelto", 0.35, false},
                          {"Data", 0.25, false},
                          {"static", 0.2, true}};
    int made = 1;
    for (const Area& area : areas) {
        const int count = static_cast<int>(files * area.share);
        const QString base = top + QLatin1String(area.dir) + QLatin1Char('/');
        add(base, {}, true);
        for (int i = 0; i < count && made < files; ++i, ++made) {
            const QString sub = base + QStringLiteral("d%1/").arg(i / 100);
            if (i % 100 == 0)
                add(sub, {}, true);
            const int size = 1 + static_cast<int>(rng() % (2 * average));
            add(sub + QStringLiteral("f%1.php").arg(i), contents(rng, size, area.binary), false);
        }
    }
    add(QStringLiteral("__MACOSX/zelto-2.0/www/._index.php"), "apple double", false);
    archive_write_close(a);
    archive_write_free(a);
    return written;
}

// Runs the event loop until done() holds, looking whenever signal of sender fires: the main
// thread (which serves the archive and takes the panel's publications) waits as the window's
// does, never asleep while something is due. Polling with sleeps in between made the loopback
// server stall and every publication wait.
template <class Sender, class Signal>
bool runUntil(Sender* sender, Signal signal, const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QObject::connect(sender, signal, &loop, [&] {
        if (done())
            loop.quit();
    });
    loop.exec();
    return done();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Runs one command and returns its time in ms (exits on failure). It runs on a thread of its
// own while the main thread's event loop goes on serving the archive.
double timeCommand(const QStringList& c) {
    QElapsedTimer t;
    t.start();
    Result<ChildExit> r = std::unexpected(Error{});
    QThread* worker = QThread::create([&] { r = runChild(c.front(), c.mid(1)); });
    worker->start();
    runUntil(
        worker, &QThread::finished, [&] { return worker->isFinished(); }, 1800000);
    delete worker;
    if (!r || r->exitStatus != 0) {
        std::fprintf(stderr, "failed: %s\n", qPrintable(c.join(u' ')));
        std::exit(1);
    }
    return t.nsecsElapsed() / 1e6;
}

// The type of the file system that holds path, by name where known.
QString fileSystemType(const QString& path) {
    struct statfs info {};
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("unknown");
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x01021994UL:
        return QStringLiteral("tmpfs");
    case 0xEF53UL:
        return QStringLiteral("ext2/3/4");
    case 0x58465342UL:
        return QStringLiteral("xfs");
    case 0x9123683EUL:
        return QStringLiteral("btrfs");
    case 0x794C7630UL:
        return QStringLiteral("overlayfs");
    default:
        return QStringLiteral("0x") + QString::number(static_cast<qulonglong>(info.f_type), 16);
    }
}

// The time from each stage's first publication to the next stage's, by the stage's text.
struct StageClock : QObject {
    explicit StageClock(PanelViewModel& model) {
        connect(&model, &PanelViewModel::changed, this, [this, &model] {
            QString text = model.updateProgressText();
            // Intermediate values and the synchronisation's steps belong to their stage.
            for (const char* stage : {"正在下载更新包", "正在解压更新包", "正在同步到 www: 第一步",
                                      "正在同步到 www: 第二步", "正在同步到 www: www"}) {
                if (text.startsWith(QString::fromUtf8(stage)))
                    text = QString::fromUtf8(stage);
            }
            if (text == current)
                return;
            const double now = clock.nsecsElapsed() / 1e6;
            if (!current.isEmpty())
                ms[current] += now - since;
            current = text;
            since = now;
        });
        clock.start();
    }
    QElapsedTimer clock;
    QString current;
    double since = 0;
    QMap<QString, double> ms;
};

} // namespace

int main(int argc, char** argv) {
    // A real disk unless asked otherwise (/tmp may be a tmpfs).
    if (qEnvironmentVariableIsEmpty("TMPDIR"))
        qputenv("TMPDIR", "/var/tmp");
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::max(100, atoi(argv[1])) : 20000;
    const qint64 megabytes = argc > 2 ? std::max(1, atoi(argv[2])) : 200;
    const int rounds = argc > 3 ? std::max(1, atoi(argv[3])) : 1;

    TestSandbox box;
    if (!box.dir.isValid())
        qFatal("no temporary directory");
    const QString fsType = fileSystemType(box.dir.path());
    std::printf("working in %s, file system %s%s\n", qPrintable(box.dir.path()), qPrintable(fsType),
                fsType == QStringLiteral("tmpfs") ? " (memory, not a disk)" : "");
    const QString root = box.installedRoot();
    testing::makeValidRoot(root);
    const QString tools = box.base() + QStringLiteral("/tools");
    testing::writeScript(tools + QStringLiteral("/pkill"), QStringLiteral("exit 1"));
    box.tools = SystemTools::of(tools + QStringLiteral("/pkill"), QStringLiteral("/usr/bin/rsync"));

    const QString zip = box.base() + QStringLiteral("/package.zip");
    QElapsedTimer gen;
    gen.start();
    const qint64 unpacked = writePackage(zip, files, megabytes * 1024 * 1024);
    std::printf("package: %d files, %.1f MB unpacked, %.1f MB zipped (generated in %.1f s)\n",
                files, unpacked / 1048576.0, QFile(zip).size() / 1048576.0,
                gen.nsecsElapsed() / 1e9);

    updatetest::LocalHttpServer server;
    server.response.bodyFile = zip;
    PanelConfig config;
    config.updateZipBaseURL = QUrl(server.archiveUrl());
    auto model = box.makeModel(config);
    const long rssBefore = peakRssKiB();

    // By hand, into its own site directory.
    const QString handDir = box.base() + QStringLiteral("/by-hand");
    const QString handExtract = handDir + QStringLiteral("/update-extract");
    const QString handWww = handDir + QStringLiteral("/www");
    const QString handSource = handExtract + QStringLiteral("/zelto-2.0/www");
    const QString www = root + QStringLiteral("/runtime/www");
    const QString generation = root + QStringLiteral("/runtime/www-previous");
    const QString handPrevious = handDir + QStringLiteral("/www-previous");
    const QString handZip = handDir + QStringLiteral("/zelto-update.zip");
    const QStringList handSteps{"curl", "bsdtar -xf", "rsync pass 1", "rsync pass 2"};
    const QList<QList<QStringList>> byHand{
        {{QStringLiteral("/usr/bin/curl"), QStringLiteral("-sSf"), QStringLiteral("--create-dirs"),
          QStringLiteral("-o"), handZip, server.archiveUrl()}},
        {{QStringLiteral("/bin/mkdir"), QStringLiteral("-p"), handExtract,
          handWww + QStringLiteral("/Data")},
         {QStringLiteral("/usr/bin/bsdtar"), QStringLiteral("-xf"), handZip, QStringLiteral("-C"),
          handExtract}},
        {{QStringLiteral("/usr/bin/rsync"), QStringLiteral("-a"), QStringLiteral("--delete"),
          QStringLiteral("--exclude=/Data/"), handSource + QLatin1Char('/'),
          handWww + QLatin1Char('/')}},
        {{QStringLiteral("/usr/bin/rsync"), QStringLiteral("-a"),
          QStringLiteral("--ignore-existing"), handSource + QStringLiteral("/Data/"),
          handWww + QStringLiteral("/Data/")}},
    };

    // The download alone, over the same loopback server.
    QThread* worker = QThread::create([&] {
        QElapsedTimer t;
        t.start();
        const Result<> downloaded =
            downloadToFile(QUrl(server.archiveUrl()), box.base() + QStringLiteral("/dl.zip"), 60);
        std::printf("download alone: %.0f ms%s\n", t.nsecsElapsed() / 1e6,
                    downloaded
                        ? ""
                        : qPrintable(QStringLiteral(" FAILED: ") + downloaded.error().context()));
    });
    worker->start();
    runUntil(
        worker, &QThread::finished, [&] { return worker->isFinished(); }, 600000);
    delete worker;
    QFile::remove(box.base() + QStringLiteral("/dl.zip"));

    struct Figures {
        std::vector<double> panel, hand, keep, afterwards;
        QMap<QString, std::vector<double>> panelStages, handStages;
    };
    Figures figures[2];
    const char* names[2] = {"fresh site", "repair of the same site"};
    for (int round = 0; round < rounds; ++round) {
        // A fresh site each time: neither the panel's nor the hand-made one exists.
        for (const QString& dir : {www, generation, handWww, handPrevious}) {
            if (Result<> removed = platform::removePath(dir); !removed)
                qFatal("%s", qPrintable(removed.error().context()));
        }
        for (int kind = 0; kind < 2; ++kind) {
            Figures& f = figures[kind];
            // Whether there is a site to keep, for the panel and by hand alike.
            const bool siteBefore = platform::isDirectory(handWww);
            const auto byPanel = [&] {
                model->setLogs(QString()); // the previous run's report must not end this one
                // What the steps before wrote goes to the disk first, not during this run.
                ::sync();
                StageClock stages(*model);
                QElapsedTimer t;
                t.start();
                model->updateOrRepairFiles();
                const bool done = runUntil(
                    model.get(), &PanelViewModel::changed,
                    [&] {
                        return model->logs().startsWith(QStringLiteral("=== 更新/修复完成 ==="));
                    },
                    1800000);
                f.panel.push_back(t.nsecsElapsed() / 1e6);
                if (!done || !model->logs().contains(QStringLiteral("已自动解压并同步到"))) {
                    std::fprintf(stderr, "panel run failed:\n%s\n", qPrintable(model->logs()));
                    std::exit(1);
                }
                for (auto i = stages.ms.cbegin(); i != stages.ms.cend(); ++i)
                    f.panelStages[i.key()].push_back(i.value());
                // The trees the run set aside go in the background after the report; they
                // must be gone before the steps by hand, which they would slow.
                const QDir runtimeDir(root + QStringLiteral("/runtime"));
                QElapsedTimer cleaning;
                cleaning.start();
                while (!runtimeDir.entryList({"*.old*"}).isEmpty())
                    runUntil(
                        model.get(), &PanelViewModel::changed, [] { return false; }, 20);
                f.afterwards.push_back(cleaning.nsecsElapsed() / 1e6);
                ::sync();
            };
            const auto byHandSteps = [&] {
                // Into an empty folder, as the panel unpacks into one; the last one is renamed
                // out of the way and removed after the steps, as the panel does with its own.
                const QString lastExtract = handExtract + QStringLiteral(".last");
                if (platform::entryExists(handExtract)) {
                    if (Result<> moved = platform::renamePath(handExtract, lastExtract); !moved)
                        qFatal("%s", qPrintable(moved.error().context()));
                }
                ::sync();
                double hand = 0;
                for (int step = 0; step < byHand.size(); ++step) {
                    double ms = 0;
                    for (const QStringList& c : byHand[step])
                        ms += timeCommand(c);
                    f.handStages[handSteps[step]].push_back(ms);
                    hand += ms;
                }
                f.hand.push_back(hand);
                if (Result<> removed = platform::removePath(lastExtract); !removed)
                    qFatal("%s", qPrintable(removed.error().context()));
                ::sync();
            };
            // Who goes first changes from round to round, so that neither always finds the
            // disk busy with what the other wrote.
            if (round % 2 == 0) {
                byPanel();
                byHandSteps();
            } else {
                byHandSteps();
                byPanel();
            }
            const double hand = f.hand.back();
            // What the panel also does for its undo and the steps by hand do not: keeping the
            // site as it was before the synchronisation (hard links, the last one replaced).
            // Only a repair has a site to keep; done after the steps, as the site is the same.
            double keep = 0;
            if (siteBefore) {
                QElapsedTimer k;
                k.start();
                if (Result<> kept = update::keepSiteGeneration(handWww, handPrevious); !kept) {
                    std::fprintf(stderr, "keeping the generation failed: %s\n",
                                 qPrintable(kept.error().context()));
                    return 1;
                }
                keep = k.nsecsElapsed() / 1e6;
            }
            f.keep.push_back(keep);
            std::printf("  round %d, %s: panel %.0f ms (its set-aside trees gone %.0f ms after "
                        "the report), by hand %.0f ms (+ %.0f ms keeping the previous "
                        "generation)\n",
                        round + 1, names[kind], f.panel.back(), f.afterwards.back(), hand, keep);
        }
    }
    std::printf("\nmedians over %d rounds (the machine is shared; figures vary):\n", rounds);
    for (int kind = 0; kind < 2; ++kind) {
        const Figures& f = figures[kind];
        std::printf("%s: panel %.0f ms, by hand %.0f ms, ratio %.2fx (goal: %s <= 1.10x)\n",
                    names[kind], median(f.panel), median(f.hand), median(f.panel) / median(f.hand),
                    kind == 0 ? "fresh" : "repair");
        if (median(f.keep) > 0) {
            std::vector<double> handAndKeep;
            for (size_t i = 0; i < f.hand.size(); ++i)
                handAndKeep.push_back(f.hand[i] + f.keep[i]);
            std::printf("  with the previous generation kept by hand too (%.0f ms): by hand %.0f "
                        "ms, ratio %.2f\n",
                        median(f.keep), median(handAndKeep), median(f.panel) / median(handAndKeep));
        }
        std::printf("  panel stages:");
        for (auto i = f.panelStages.cbegin(); i != f.panelStages.cend(); ++i)
            std::printf(" [%s] %.0f", qPrintable(i.key()), median(i.value()));
        std::printf("\n  by hand:");
        for (auto i = f.handStages.cbegin(); i != f.handStages.cend(); ++i)
            std::printf(" [%s] %.0f", qPrintable(i.key()), median(i.value()));
        std::printf("\n");
    }
    std::printf("previous generation of %d files kept (hard links, the last one replaced): "
                "median %.0f ms\n",
                files, median(figures[1].keep));
    std::printf("peak RSS: %.1f MB before the runs, %.1f MB after (whole process: panel, "
                "HTTP server, Qt; goal <= 64 MB)\n",
                rssBefore / 1024.0, peakRssKiB() / 1024.0);
    // QTemporaryDir removes everything on the way out.
    return 0;
}
