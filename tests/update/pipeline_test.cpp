#include "tst_update.h"

#include "platform/files.h"
#include "platform/process.h"
#include "update/site_job.h"
#include "update_test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace updatetest;

namespace {

const QString kRunningTitle = QStringLiteral("=== 更新/修复ZELTO文件 ===");
const QString kDoneTitle = QStringLiteral("=== 更新/修复完成 ===");
const QString kNote =
    QStringLiteral("说明: 识别站点根后 rsync 至 runtime/www：① 先同步站点文件（Data "
                   "第二轮单独合并，避免误删）；② 比对 Data/ 缺啥补啥，已有文件不覆盖。会先创建 "
                   "runtime/www/Data。");

// One published state, taken whenever the log changed: "fraction|stage text|log".
QString state(double fraction, const QString& text, const QString& log) {
    return QString::number(fraction) + QLatin1Char('|') + text + QLatin1Char('|') + log;
}

// The entry of a run over a database that was never initialised.
const QString kNothingToKeep = QStringLiteral("数据库快照: 数据库尚未初始化，没有需要保留的数据");

QString finalLog(const QString& report, const QString& root) {
    return QStringLiteral("%1\n%2\n\n目录: %3\n下载包: %3/runtime/zelto-update.zip\n%4")
        .arg(kDoneTitle, report, root, kNote);
}

// The texts of the values published between a stage's own: bytes received, entries written,
// and the wait for the database's snapshot where it is not done when the site is about to
// change (it runs beside the download and the extraction).
const QRegularExpression kIntermediate(QStringLiteral(
    "^(正在下载更新包 \\d+\\.\\d / \\d+\\.\\d MB|正在解压更新包 \\d+ / \\d+|正在备份数据库)$"));

// Records every change of the log with the progress fields at that moment; the intermediate
// values go to a list of their own.
struct Recorder : QObject {
    explicit Recorder(PanelViewModel& model) : last(model.logs()) {
        timer.start();
        connect(&model, &PanelViewModel::changed, this, [this, &model] {
            if (model.logs() == last)
                return;
            last = model.logs();
            allFractions.push_back(model.updateProgress());
            if (kIntermediate.match(last.section(u'\n', 1, 1)).hasMatch()) {
                intermediates.push_back(QString::number(model.updateProgress()) + u'|' +
                                        model.updateProgressText());
                return;
            }
            // A log written between two intermediate values (the status) counts at the stage's
            // own value.
            double stage = 0;
            for (double boundary : {0.05, 0.1, 0.35, 0.6, 0.75, 0.825, 0.9, 1.0})
                stage = model.updateProgress() >= boundary ? boundary : stage;
            const QString text = kIntermediate.match(model.updateProgressText()).hasMatch()
                                     ? lastStageText
                                     : model.updateProgressText();
            lastStageText = text;
            states.push_back(state(stage, text, last));
            fractions.push_back(QString::number(stage));
        });
    }
    QString last;
    QString lastStageText;
    QStringList states;
    QStringList fractions;
    QStringList intermediates;
    QList<double> allFractions;
    QElapsedTimer timer;
};

std::optional<OperationOutcome> runToEnd(PanelViewModel& model) {
    return testing::runToEnd(model, &PanelViewModel::updateOrRepairFiles);
}

std::shared_ptr<PanelViewModel> modelFor(const TestSandbox& sandbox, const QString& url,
                                         int stallSeconds = 60, qint64 freeMargin = 0) {
    PanelConfig config;
    config.updateZipBaseURL = QUrl(url);
    config.downloadStallSeconds = stallSeconds;
    // The tests' archives are tiny: the usual margin would only make them depend on the free
    // space of the machine.
    config.updateFreeMarginBytes = freeMargin;
    return sandbox.makeModel(config);
}

} // namespace

void UpdateTest::successfulRunOverExistingSiteRefusingASecondPress() {
    auto sandbox = makeUpdateSandbox();
    // The date in the address is the local one, in digits whatever the user's locale.
    sandbox->fixedNow = QDateTime(QDate(2026, 12, 8), QTime(0, 1));
    const auto restore = qScopeGuard([previous = QLocale()] { QLocale::setDefault(previous); });
    QLocale::setDefault(QLocale(QStringLiteral("ar_EG")));
    const QString root = sandbox->installedRoot();
    const QString www = root + QStringLiteral("/runtime/www");
    const QByteArray siteConfig("\x00\x01site-owned\r\n\t", 15);
    // Beside last week's extraction, trees that a panel which quit early had set aside.
    makeTree(root + QStringLiteral("/runtime"),
             {"www/index.php=old index", "www/dropped.php=gone", "www/include/dropped.php=gone",
              "www/Data/uploads/photo.jpg=user upload", "zelto-update.zip=last week's archive",
              "update-extract/stale.txt=stale", "update-extract.old-2/www/a.php",
              "www-previous.old/index.php"});
    testing::writeFile(www + QStringLiteral("/Data/config.php"), siteConfig);

    LocalHttpServer server;
    server.response.body = writeZip(
        sandbox->base() + QStringLiteral("/served.zip"),
        {"zelto-2.0/", "zelto-2.0/www/", "zelto-2.0/www/index.php=new index",
         "zelto-2.0/www/._index.php", "zelto-2.0/www/include/lib.php=lib",
         "zelto-2.0/www/install/index.php=installer",
         "zelto-2.0/www/Data/config.php=package default",
         "zelto-2.0/www/Data/templates/a.tpl=template", "__MACOSX/zelto-2.0/www/._index.php"});
    server.response.delayMs = 1500; // keeps the run in its download while it is pressed again
    auto model = modelFor(*sandbox, server.archiveUrl());
    auto other = modelFor(*sandbox, server.archiveUrl()); // another window
    Recorder recorder(*model);
    testing::OutcomeRecorder outcomes(*model);
    testing::OutcomeRecorder otherOutcomes(*other);

    model->updateOrRepairFiles();
    QVERIFY(testing::waitFor(
        [&] { return server.requestTargets.size() == 1 && model->updateProgress() == 0.1; }));
    // A press during the run, in this window or another, starts nothing and only says so.
    const QString busy = QStringLiteral("更新/修复正在进行中，请等待当前任务完成。");
    model->updateOrRepairFiles();
    other->updateOrRepairFiles();
    // The refused press ends at once, unsuccessfully; then the run itself, successfully.
    QVERIFY(outcomes.waitFor(2));
    QCOMPARE(outcomes.outcomes[0].report, busy);
    QVERIFY(!outcomes.outcomes[0].succeeded);
    QCOMPARE(outcomes.outcomes[1].operation, Operation::UpdateOrRepair);
    QVERIFY(outcomes.outcomes[1].succeeded);
    QCOMPARE(outcomes.outcomes[1].report, model->logs());
    QVERIFY(otherOutcomes.waitFor(1) && !otherOutcomes.last().succeeded);
    QCOMPARE(other->logs(), busy);
    QCOMPARE(other->updateProgress(), 0.0);
    QCOMPARE(other->updateProgressText(), QString());

    const QString url = server.archiveUrl() + QStringLiteral("?t=20261208");
    const auto at = [&](double fraction, const QString& text) {
        return state(
            fraction, text,
            QStringLiteral("%1\n%2\n进度: %3%\n\n地址: %4\n目录: %5")
                .arg(kRunningTitle, text, QString::number(int(fraction * 100)), url, root));
    };
    const QString sync = QStringLiteral("正在同步到 www: ");
    const QStringList expected{
        state(0.05, "正在下载更新包",
              kRunningTitle + "\n正在下载更新包...\n地址: " + url + "\n目录: " + root),
        at(0.1, "正在下载更新包"),
        state(0.1, "正在下载更新包", busy),
        at(0.35, "正在解压更新包"),
        at(0.6, "正在定位站点根目录"),
        at(0.75, "正在同步到 runtime/www"),
        at(0.75, sync + "第一步：同步站点文件（Data 在第二轮逐文件补缺失）"),
        at(0.825, sync + "第二步：比对 Data/ 内文件，缺的同步、已有不覆盖"),
        at(0.9, sync + "www 同步完成"),
        at(0.9, "正在校验 runtime/www"),
        at(1.0, "完成"),
        state(1.0, "完成",
              "=== 服务状态 ===\nMySQL: 已停止\nPHP Web: 已停止\nMySQL Web: 已停止\n目录: " + root +
                  "\n"),
        state(1.0, "完成",
              finalLog("已自动解压并同步到 runtime/www: " + www + "\n站点根: " + root +
                           "/runtime/update-extract/zelto-2.0/www\n" + kNothingToKeep,
                       root)),
    };
    QCOMPARE(recorder.states, expected);
    QCOMPARE(model->errorSummary(), QString());
    QCOMPARE(server.requestTargets, QStringList{QStringLiteral("/zelto-update.zip?t=20261208")});
    QCOMPARE(testing::readFile(root + QStringLiteral("/runtime/zelto-update.zip")),
             server.response.body);
    // The site: package files in, dropped files out, the site's data kept byte for byte and
    // only missing data added.
    QCOMPARE(describe(www),
             (QStringList{"Data/", "Data/config.php=" + QString::fromUtf8(siteConfig),
                          "Data/templates/", "Data/templates/a.tpl=template", "Data/uploads/",
                          "Data/uploads/photo.jpg=user upload", "include/", "include/lib.php=lib",
                          "index.php=new index", "install/", "install/index.php=installer"}));
    // The extraction tree stays for inspection, without artefacts; the stale one is gone.
    const QString extracted = root + QStringLiteral("/runtime/update-extract");
    QCOMPARE(describe(extracted + QStringLiteral("/zelto-2.0/www")),
             (QStringList{"Data/", "Data/config.php=package default", "Data/templates/",
                          "Data/templates/a.tpl=template", "include/", "include/lib.php=lib",
                          "index.php=new index", "install/", "install/index.php=installer"}));
    QCOMPARE(describe(extracted).size(), 11); // with "zelto-2.0/" and "zelto-2.0/www/"
    // What was set aside goes in the background, last week's extraction with the leftovers.
    QVERIFY(testing::waitFor(
        [&] { return QDir(root + QStringLiteral("/runtime")).entryList({"*.old*"}).isEmpty(); }));

    // Once the run has ended, the next press runs again.
    server.response.delayMs = 0;
    const std::optional<OperationOutcome> again = runToEnd(*other);
    QVERIFY(again && again->succeeded);
    QCOMPARE(server.requestTargets.size(), 2);
    QVERIFY(other->logs().contains(QStringLiteral("已自动解压并同步到 runtime/www: ")));
}

void UpdateTest::failedRunsLeaveEverythingElseUntouched_data() {
    QTest::addColumn<int>("status");          // 0: nothing listens; -1: stalls mid-transfer
    QTest::addColumn<QByteArray>("body");     // served as is
    QTest::addColumn<QStringList>("entries"); // or, when body is empty, a ZIP of these
    QTest::addColumn<QString>("rsync");       // a fake rsync's script; empty: the real one
    QTest::addColumn<QString>("report");      // $OUT: beside the panel root; $ROOT: the root;
                                              // ending in "…": its beginning
    QTest::addColumn<QString>("fractions");   // the published fractions, in order
    QTest::addColumn<qint64>("freeMargin");   // what the update must leave free

    // The final block refreshes the status (a new log at the last fraction) before 1.0.
    const QString atDownload = QStringLiteral("0.05 0.1 0.1 1");
    const QString atExtraction = QStringLiteral("0.05 0.1 0.35 0.35 1");
    const QString failed = QStringLiteral("解压失败: ditto 退出码 1，");
    const QString through = QStringLiteral(": Cannot extract through symlink $ROOT/runtime/");
    QTemporaryDir tmp;
    const QByteArray zip =
        writeZip(tmp.path() + QStringLiteral("/a.zip"),
                 {"index.php=" + QString(20000, u'a'), "include/x.php=" + QString(20000, u'b')});
    QByteArray damaged = zip;
    damaged.replace(100, 300, QByteArray(300, 'Z'));

    QTest::newRow("error page stored as the archive")
        << 404 << QByteArray("<html><body><h1>404 Not Found</h1></body></html>\n") << QStringList{}
        << "" << failed + "Unrecognized archive format" << atExtraction << qint64(0);
    QTest::newRow("truncated archive")
        << 200 << zip.left(zip.size() / 2) << QStringList{} << ""
        << failed + "Unrecognized archive format" << atExtraction << qint64(0);
    QTest::newRow("damaged headers")
        << 200 << damaged << QStringList{} << "" << failed + "Unrecognized archive format"
        << atExtraction << qint64(0);
    QTest::newRow("dot-dot inside a name, onto the site")
        << 200 << QByteArray() << QStringList{"site/index.php", "site/../../www/index.php"} << ""
        << failed + "site/../../www/index.php: Path contains '..'" << atExtraction << qint64(0);
    QTest::newRow("absolute name")
        << 200 << QByteArray() << QStringList{"$OUT/abs.txt"} << ""
        << failed + "$OUT/abs.txt: Path is absolute" << atExtraction << qint64(0);
    QTest::newRow("file through a link out of the tree")
        << 200 << QByteArray() << QStringList{"link->$OUT", "link/evil.txt"} << ""
        << failed + "link/evil.txt" + through + "update-extract/link/evil.txt" << atExtraction
        << qint64(0);
    QTest::newRow("file through a relative link out of the tree")
        << 200 << QByteArray() << QStringList{"up->..", "up/evil.txt"} << ""
        << failed + "up/evil.txt" + through + "update-extract/up/evil.txt" << atExtraction
        << qint64(0);
    // A link in place of the extraction directory itself would carry every later entry out.
    QTest::newRow("link named after the extraction directory")
        << 200 << QByteArray() << QStringList{".->$OUT", "evil.txt"} << ""
        << failed + ".: Entry would replace the extraction directory" << atExtraction << qint64(0);
    QTest::newRow("no site root")
        << 200 << QByteArray() << QStringList{"docs/readme.txt", "docs/index.php"} << ""
        << "更新包中未识别到站点根（需存在 index.php，且为 www 子目录或 zip 根目录含 "
           "include/LibZelto/Data 之一）"
        << "0.05 0.1 0.35 0.6 0.6 1" << qint64(0);
    // An rsync that fails without a word still fails the update.
    QTest::newRow("rsync fails without a word")
        << 200 << QByteArray() << QStringList{"site/index.php", "site/Data/x"} << "exit 1"
        << "更新/修复失败: 同步失败(主文件): exit(1):"
        << "0.05 0.1 0.35 0.6 0.75 0.75 0.75 1" << qint64(0);
    // An rsync that claims success but brings nothing: the check afterwards notices.
    QTest::newRow("index.php missing after the synchronisation")
        << 200 << QByteArray() << QStringList{"site/index.php", "site/Data/x"} << "exit 0"
        << "同步后 runtime/www 缺少 index.php，请确认更新包完整。\n识别来源: "
           "$ROOT/runtime/update-extract/site"
        << "0.05 0.1 0.35 0.6 0.75 0.75 0.825 0.9 0.9 0.9 1" << qint64(0);
    // Corrupt entries fail the extraction even where the library only warns.
    const QString corrupt = failed + QStringLiteral("include/x.php: ");
    const QByteArray source(3000, 'p');
    QTest::newRow("stored entry with a flipped byte")
        << 200
        << rawZip({{"index.php", "<?php"}, RawZipEntry("include/x.php", source).flipping(1500)})
        << QStringList{} << "" << corrupt + "ZIP bad CRC…" << atExtraction << qint64(0);
    QTest::newRow("deflated entry failing its checksum")
        << 200
        << rawZip({{"index.php", "<?php"},
                   RawZipEntry("include/x.php", source, true).withWrongChecksum()})
        << QStringList{} << "" << corrupt + "ZIP bad CRC…" << atExtraction << qint64(0);
    QTest::newRow("deflated entry shorter than declared")
        << 200
        << rawZip(
               {{"index.php", "<?php"}, RawZipEntry("include/x.php", source, true).declaring(4000)})
        << QStringList{} << "" << corrupt + "ZIP uncompressed data is wrong size…" << atExtraction
        << qint64(0);
    // A bomb: a small entry that claims little and expands to much more.
    QTest::newRow("entry expanding beyond its declared size")
        << 200
        << rawZip({{"index.php", "<?php"},
                   RawZipEntry("include/x.php", QByteArray(1 << 22, 0), true).declaring(1000)})
        << QStringList{} << "" << corrupt + "解压出的数据超过声明的大小 1000 字节" << atExtraction
        << qint64(0);
    // A margin larger than any disk leaves room for nothing.
    QTest::newRow("no room for the package on the file system")
        << 200 << QByteArray() << QStringList{"index.php", "include/x.php"} << ""
        << failed + "更新包解压后需要 0.0 MB，磁盘剩余 …" << atExtraction << (qint64(1) << 60);
    QTest::newRow("server down") << 0 << QByteArray("x") << QStringList{} << ""
                                 << "更新下载失败: Connection refused" << atDownload << qint64(0);
    QTest::newRow("server stalls mid-transfer")
        << -1 << QByteArray(200000, 'z') << QStringList{} << ""
        << "更新下载失败: 下载超时: 1 秒内未收到任何数据" << atDownload << qint64(0);
}

void UpdateTest::failedRunsLeaveEverythingElseUntouched() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, entries);
    QFETCH(QString, rsync);
    QFETCH(QString, report);
    QFETCH(QString, fractions);
    QFETCH(qint64, freeMargin);
    auto sandbox = makeUpdateSandbox(rsync);
    const QString root = sandbox->installedRoot();
    const QString archive = root + QStringLiteral("/runtime/zelto-update.zip");
    const QString outside = sandbox->base() + QStringLiteral("/outside");
    QDir().mkpath(outside);
    // A site without index.php, so that a synchronisation that brings none is noticed.
    makeTree(root + QStringLiteral("/runtime"),
             {"www/home.php=site page", "www/Data/config.php=site data",
              "zelto-update.zip=previous archive"});
    if (body.isEmpty())
        body = writeZip(sandbox->base() + QStringLiteral("/served.zip"),
                        entries.replaceInStrings(QStringLiteral("$OUT"), outside));
    LocalHttpServer server;
    server.response.status = status > 0 ? status : 200;
    server.response.body = body;
    server.response.stallAfter = status < 0 ? 5000 : -1;
    QString url = server.archiveUrl();
    if (status == 0)
        url = LocalHttpServer().archiveUrl(); // a port that nothing listens on any more
    auto model = modelFor(*sandbox, url, 1, freeMargin);
    // Everything but the extraction directory and the archive itself.
    const auto untouched = [&] {
        return describe(sandbox->base())
            .filter(QRegularExpression(
                QStringLiteral("^(?!Zelto-panel/runtime/(update-extract|zelto-update\\.zip=|"
                               "www-previous))")));
    };
    const auto before = untouched();
    Recorder recorder(*model);

    const std::optional<OperationOutcome> outcome = runToEnd(*model);
    QVERIFY(outcome);
    QVERIFY(!outcome->succeeded);

    QString entry =
        report.replace(QStringLiteral("$OUT"), outside).replace(QStringLiteral("$ROOT"), root);
    if (entry.endsWith(u'…')) {
        entry.chop(1);
        const QString actual = model->logs().section(u'\n', 1, 1);
        QVERIFY2(actual.startsWith(entry), qPrintable(actual));
        entry = actual;
    }
    QCOMPARE(model->logs(), finalLog(entry, root));
    QCOMPARE(outcome->report, model->logs());
    QCOMPARE(recorder.fractions.join(u' '), fractions);
    QCOMPARE(model->errorSummary(), entry.contains(QStringLiteral("失败")) ? entry : QString());
    // The body is the archive, whatever it was; a failed download keeps the previous one.
    const bool downloaded = !entry.startsWith(QStringLiteral("更新下载失败"));
    QCOMPARE(testing::readFile(archive), downloaded ? body : QByteArray("previous archive"));
    QCOMPARE(untouched(), before);
    // The site is kept for an undo only by a run that went on to change it; the copy made
    // meanwhile never stays behind.
    const QString generation = root + QStringLiteral("/runtime/www-previous");
    QCOMPARE(QFileInfo::exists(generation), fractions.contains(QStringLiteral("0.75")));
    QVERIFY(!QFileInfo::exists(generation + QStringLiteral(".new")));
    QCOMPARE(QDir(root + QStringLiteral("/runtime")).entryList({"www-previous.old*"}),
             QStringList());
}

void UpdateTest::updateOnANearlyFullDisk_data() {
    QTest::addColumn<QStringList>("package");
    QTest::addColumn<QString>("report"); // its beginning

    QTest::newRow("small package")
        << QStringList{"index.php=<?php", "include/lib.php=" + QString(100000, u'l')}
        << "已自动解压并同步到 runtime/www: ";
    // Unpacked it would fit; not once more in the site beside the kept generation.
    QTest::newRow("package that fits only once")
        << QStringList{"index.php=<?php", "static/big.bin=" + QString(1536 * 1024, u'z')}
        << "解压失败: ditto 退出码 1，更新包解压后需要 3.0 MB，磁盘剩余 ";
}

// A panel root on a file system of 64 MB of which 95 % are taken, and a margin of 1 MB: what
// decides is whether the run's own writing fits, not the share of the disk that is used.
void UpdateTest::updateOnANearlyFullDisk() {
    QFETCH(QStringList, package);
    QFETCH(QString, report);
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    const SmallFileSystem small(root, QStringLiteral("64m"));
    if (!small.mounted())
        QSKIP(qPrintable(small.failure()));
    testing::makeValidRoot(root);
    makeTree(root + QStringLiteral("/runtime/www"), {"index.php=old", "Data/config.php=data"});
    const Result<platform::FileSystemSpace> space = platform::fileSystemSpace(root);
    QVERIFY(space);
    const qint64 filler =
        qint64(space->sizeBytes * 0.95L) - qint64(space->sizeBytes - space->availableBytes);
    QFile fill(root + QStringLiteral("/filler"));
    QVERIFY(fill.open(QIODevice::WriteOnly));
    const QByteArray chunk(1 << 20, 'f');
    for (qint64 left = filler; left > 0; left -= chunk.size())
        QVERIFY(fill.write(chunk.constData(), std::min<qint64>(left, chunk.size())) > 0);
    fill.close();
    LocalHttpServer server;
    server.response.body = writeZip(sandbox->base() + QStringLiteral("/served.zip"), package);
    auto model = modelFor(*sandbox, server.archiveUrl(), 60, qint64(1) << 20);

    const std::optional<OperationOutcome> outcome = runToEnd(*model);
    QVERIFY(outcome);
    const QString entry = model->logs().section(u'\n', 1, 1);
    QVERIFY2(entry.startsWith(report), qPrintable(entry));
    QCOMPARE(outcome->succeeded, report.startsWith(QStringLiteral("已自动")));
    QCOMPARE(testing::readFile(root + QStringLiteral("/runtime/www/index.php")),
             outcome->succeeded ? QByteArray("<?php") : QByteArray("old"));
}

void UpdateTest::updateGoesOnWithoutKeepingTheSite_data() {
    QTest::addColumn<bool>("earlierGeneration"); // one kept by the update before
    QTest::newRow("nothing kept before") << false;
    QTest::newRow("an earlier generation is withdrawn") << true;
}

// A file of the site that the user running the panel may neither read nor link (another
// user's, mode 0): the site cannot be kept, the update goes on and says it cannot be undone.
void UpdateTest::updateGoesOnWithoutKeepingTheSite() {
    QFETCH(bool, earlierGeneration);
    if (testing::readFile(QStringLiteral("/proc/sys/fs/protected_hardlinks")).trimmed() != "1")
        QSKIP("hard links to other users' files are allowed here, so the site can be kept");
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    const QString www = root + QStringLiteral("/runtime/www");
    const QString generation = root + QStringLiteral("/runtime/www-previous");
    makeTree(www, {"index.php=old", "Data/config.php=site data", "secret.php=root's"});
    if (earlierGeneration)
        makeTree(generation, {"index.php=older"});
    // Everything is nobody's but that one file.
    const Result<platform::ChildExit> chowned = platform::runChild(
        QStringLiteral("/bin/chown"),
        {QStringLiteral("-R"), QStringLiteral("nobody:nogroup"), sandbox->base()});
    QVERIFY(chowned && chowned->exitedCleanly());
    const QString secret = www + QStringLiteral("/secret.php");
    QVERIFY(::chown(QFile::encodeName(secret).constData(), 0, 0) == 0);
    QVERIFY(QFile::setPermissions(secret, {}));
    LocalHttpServer server;
    server.response.body = writeZip(sandbox->base() + QStringLiteral("/served.zip"),
                                    {"index.php=new", "include/lib.php=lib"});
    auto model = modelFor(*sandbox, server.archiveUrl());
    model->refreshUndoAvailable();
    QCOMPARE(model->undoAvailable(), earlierGeneration);

    std::optional<OperationOutcome> outcome;
    {
        const RunAsNobody nobody;
        if (!nobody.holds())
            QSKIP(qPrintable(nobody.failure()));
        outcome = runToEnd(*model);
    }
    QVERIFY(outcome && outcome->succeeded);
    QCOMPARE(testing::readFile(www + QStringLiteral("/index.php")), QByteArray("new"));
    QCOMPARE(testing::readFile(www + QStringLiteral("/Data/config.php")), QByteArray("site data"));
    QString notKept = QStringLiteral("注意: 本次更新无法撤销，未能保留更新前的站点: ") + secret +
                      QStringLiteral(": Permission denied");
    if (earlierGeneration)
        notKept += QStringLiteral("；更早保留的上一版已撤下，以免撤销回到更早的站点");
    // One entry after the report (of two lines), which shows among the error lines too.
    QCOMPARE(model->logs().section(u'\n', 3, 4), notKept + QStringLiteral("\n") + kNothingToKeep);
    QCOMPARE(model->errorSummary(), notKept);
    QCOMPARE(outcome->warnings.size(), size_t(1));
    // Nothing is offered for an undo: neither a part of this site nor the one of before the
    // update before.
    QVERIFY(!model->undoAvailable());
    QVERIFY(!QFileInfo::exists(generation));
    QVERIFY(testing::waitFor([&] {
        return QDir(root + QStringLiteral("/runtime")).entryList({"www-previous*"}).isEmpty();
    }));
}

void UpdateTest::progressRisesWithBytesAndEntries() {
    auto sandbox = makeUpdateSandbox();
    QStringList entries{"site/index.php", "site/include/"};
    for (int i = 0; i < 3000; ++i)
        entries << QStringLiteral("site/include/f%1.php=<?php // %1").arg(i);
    // Incompressible, so that the archive takes a while to arrive in pieces.
    QByteArray noise(2 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    entries << QStringLiteral("site/noise.bin=") + QString::fromLatin1(noise.toBase64());
    LocalHttpServer server;
    server.response.body = writeZip(sandbox->base() + QStringLiteral("/served.zip"), entries);
    server.response.chunkDelayMs = 15;
    auto model = modelFor(*sandbox, server.archiveUrl());
    Recorder recorder(*model);

    QVERIFY(runToEnd(*model));
    QVERIFY2(model->logs().contains(QStringLiteral("已自动解压并同步到")),
             qPrintable(model->logs()));
    // The stages publish what they always did, in order.
    QCOMPARE(recorder.fractions.join(u' '),
             QStringLiteral("0.05 0.1 0.35 0.6 0.75 0.75 0.9 0.9 1 1 1"));
    // In between, the values only rise, and each lies within its stage.
    for (qsizetype i = 1; i < recorder.allFractions.size(); ++i)
        QVERIFY(recorder.allFractions[i] >= recorder.allFractions[i - 1]);
    const QString total = QString::number(double(server.response.body.size()) / 1048576.0, 'f', 1);
    int downloads = 0;
    int extractions = 0;
    for (const QString& value : recorder.intermediates) {
        const double fraction = value.section(u'|', 0, 0).toDouble();
        const QString text = value.section(u'|', 1);
        if (text.startsWith(QStringLiteral("正在下载更新包 "))) {
            ++downloads;
            QVERIFY2(fraction > 0.1 && fraction <= 0.35, qPrintable(value));
            QVERIFY2(text.endsWith(QStringLiteral(" / ") + total + QStringLiteral(" MB")),
                     qPrintable(value));
        } else if (text == QStringLiteral("正在备份数据库")) {
            QVERIFY2(fraction > 0.6 && fraction < 0.75, qPrintable(value));
        } else {
            ++extractions;
            QVERIFY2(fraction > 0.35 && fraction <= 0.6, qPrintable(value));
            QVERIFY2(text.endsWith(QStringLiteral(" / %1").arg(entries.size())), qPrintable(value));
        }
    }
    QVERIFY2(downloads > 0 && extractions > 0, qPrintable(recorder.intermediates.join(u'\n')));
    // At most ten a second.
    QVERIFY2(recorder.intermediates.size() <= recorder.timer.elapsed() / 100 + 1,
             qPrintable(recorder.intermediates.join(u'\n')));
}

void UpdateTest::undoPutsThePreviousSiteBack() {
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    const QString www = root + QStringLiteral("/runtime/www");
    const QString generation = root + QStringLiteral("/runtime/www-previous");
    // "data" is one of the site's directories like any other; only "Data" holds its data.
    makeTree(www, {"index.php=working site", "include/lib.php=working lib", "old.php=kept",
                   "Data/config.php=site data", "data/config.php=site file"});
    const QStringList before = describe(www);
    // The update brings a broken site: it replaces index.php and drops old.php.
    LocalHttpServer server;
    server.response.body = writeZip(sandbox->base() + QStringLiteral("/served.zip"),
                                    {"index.php=<?php broken(", "include/lib.php=new lib"});
    server.response.delayMs = 800;
    auto model = modelFor(*sandbox, server.archiveUrl());
    // Before any update, there is nothing to undo.
    QVERIFY(!model->undoAvailable());

    Recorder during(*model);
    testing::OutcomeRecorder outcomes(*model);
    model->updateOrRepairFiles();
    // One job at a time: an undo pressed during the update only says so.
    model->undoLastUpdate();
    QVERIFY(outcomes.waitFor(2));
    QCOMPARE(outcomes.last().operation, Operation::UpdateOrRepair);
    QVERIFY(during.states.filter(QStringLiteral("|") + siteJobBusyText()).size() == 1);
    QCOMPARE(describe(www).filter(QStringLiteral("index.php")),
             QStringList{"index.php=<?php broken("});
    // The site as it was, but its data, is kept, and the button may show.
    QCOMPARE(describe(generation), (QStringList{"data/", "data/config.php=site file", "include/",
                                                "include/lib.php=working lib",
                                                "index.php=working site", "old.php=kept"}));
    QVERIFY(model->undoAvailable());
    // The site goes on writing data after the update, and deletes some.
    testing::writeFile(www + QStringLiteral("/Data/upload.jpg"), "new upload");
    QVERIFY(QFile::remove(www + QStringLiteral("/Data/config.php")));

    Recorder recorder(*model);
    const std::optional<OperationOutcome> undone =
        testing::runToEnd(*model, &PanelViewModel::undoLastUpdate);
    QVERIFY(undone && undone->succeeded && undone->operation == Operation::UndoLastUpdate);
    QCOMPARE(undone->report, model->logs());
    QVERIFY(!recorder.states.isEmpty());
    QVERIFY(recorder.states.first().startsWith(
        QStringLiteral("0.05|正在撤销上次更新|=== 撤销上次更新 ===\n正在撤销上次更新...\n")));
    QCOMPARE(model->logs().section(u'\n', 1, 1),
             QStringLiteral("已撤销上次更新，runtime/www 已恢复为上一版: ") + www);
    QCOMPARE(model->updateProgress(), 1.0);
    QCOMPARE(model->errorSummary(), QString());
    QCOMPARE(describe(www),
             (QStringList{"Data/", "Data/upload.jpg=new upload", "data/",
                          "data/config.php=site file", "include/", "include/lib.php=working lib",
                          "index.php=working site", "old.php=kept"}));
    QVERIFY(before.contains(QStringLiteral("old.php=kept")));
    // One generation: it is used up.
    QVERIFY(!QFileInfo::exists(generation));
    QVERIFY(!model->undoAvailable());

    const QStringList restored = describe(www);
    const std::optional<OperationOutcome> again =
        testing::runToEnd(*model, &PanelViewModel::undoLastUpdate);
    QVERIFY(again && !again->succeeded);
    QCOMPARE(model->logs().section(u'\n', 1, 1),
             QStringLiteral("没有可撤销的更新：未找到上一版站点 ") + generation);
    QCOMPARE(describe(www), restored);
}
