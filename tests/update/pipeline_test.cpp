#include "tst_update.h"

#include "update_test_support.h"

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace updatetest;

namespace {

const QString kRunningTitle = QStringLiteral("=== 更新/修复ZELTO文件 ===");
const QString kDoneTitle = QStringLiteral("=== 更新/修复完成 ===");
const QString kNote =
    QStringLiteral("说明: 识别站点根后 rsync 至 runtime/www：① 先同步站点文件（Data "
                   "第二轮单独合并，避免误删）；② 比对 Data/ 缺啥补啥，已有文件不覆盖。会先创建 "
                   "runtime/www/Data。");
const QDateTime kNow(QDate(2026, 12, 8), QTime(0, 1));
const QString kDate = QStringLiteral("20261208");

// One published state, taken whenever the log changed: "fraction|stage text|log".
QString state(double fraction, const QString& text, const QString& log) {
    return QString::number(fraction) + QLatin1Char('|') + text + QLatin1Char('|') + log;
}

QString progressLog(const QString& text, int percent, const QString& url, const QString& root) {
    return QStringLiteral("%1\n%2\n进度: %3%\n\n地址: %4\n目录: %5")
        .arg(kRunningTitle, text, QString::number(percent), url, root);
}

QString firstLog(const QString& url, const QString& root) {
    return QStringLiteral("%1\n正在下载更新包...\n地址: %2\n目录: %3")
        .arg(kRunningTitle, url, root);
}

QString statusLog(const QString& root) {
    return QStringLiteral(
               "=== 服务状态 ===\nMySQL: 已停止\nPHP Web: 已停止\nMySQL Web: 已停止\n目录: ") +
           root + QLatin1Char('\n');
}

QString finalLog(const QString& report, const QString& root) {
    return QStringLiteral("%1\n%2\n\n目录: %3\n下载包: %3/runtime/zelto-update.zip\n%4")
        .arg(kDoneTitle, report, root, kNote);
}

// Records every change of the log with the progress fields at that moment.
class Recorder {
public:
    explicit Recorder(PanelViewModel& model) : m_model(model), m_last(model.logs()) {
        m_connection = QObject::connect(&model, &PanelViewModel::changed, [this] {
            if (m_model.logs() != m_last) {
                m_last = m_model.logs();
                states.push_back(
                    state(m_model.updateProgress(), m_model.updateProgressText(), m_last));
                fractions.push_back(m_model.updateProgress());
            }
        });
    }
    ~Recorder() { QObject::disconnect(m_connection); }

    QStringList states;
    QList<double> fractions;

private:
    PanelViewModel& m_model;
    QString m_last;
    QMetaObject::Connection m_connection;
};

bool finished(const PanelViewModel& model) {
    return model.logs().startsWith(kDoneTitle);
}

bool runToEnd(PanelViewModel& model) {
    model.updateOrRepairFiles();
    return testing::waitFor([&] { return finished(model); }, 60000);
}

bool nonDecreasing(const QList<double>& fractions) {
    for (qsizetype i = 1; i < fractions.size(); ++i) {
        if (fractions[i] < fractions[i - 1])
            return false;
    }
    return true;
}

QByteArray packageZip(const QString& tmp, const std::vector<ZipEntry>& entries) {
    const QString path = tmp + QStringLiteral("/served.zip");
    writeZip(path, entries);
    return testing::readFile(path);
}

} // namespace

void UpdateTest::downloadUrl_data() {
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    const QString base = QStringLiteral("https://updates.zelto.example/zelto-update.zip");
    QTest::newRow("a December day") << kNow << "C" << base + "?t=20261208";
    QTest::newRow("just before midnight")
        << QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)) << "C" << base + "?t=20261207";
    QTest::newRow("single-digit month and day")
        << QDateTime(QDate(2027, 1, 5), QTime(12, 0)) << "C" << base + "?t=20270105";
    QTest::newRow("user locale with other digits") << kNow << "ar_EG" << base + "?t=20261208";
    QTest::newRow("user locale with Chinese") << kNow << "zh_CN" << base + "?t=20261208";
}

void UpdateTest::downloadUrl() {
    QFETCH(QDateTime, now);
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    TestSandbox sandbox;
    sandbox.fixedNow = now;
    const QLocale previous;
    QLocale::setDefault(QLocale(locale));
    auto model = sandbox.makeModel();
    const QUrl url = model->updateZipDownloadURL();
    QLocale::setDefault(previous);
    QCOMPARE(url.toString(QUrl::FullyEncoded), expected);
    QVERIFY(url.isValid());
}

void UpdateTest::successfulRunOverExistingSite() {
    auto sandbox = makeUpdateSandbox();
    sandbox->fixedNow = kNow;
    const QString root = sandbox->installedRoot();
    const QString www = root + QStringLiteral("/runtime/www");
    const QByteArray siteConfig("\x00\x01site-owned\xff\n", 14);
    testing::writeFile(www + QStringLiteral("/index.php"), "old index");
    testing::writeFile(www + QStringLiteral("/dropped.php"), "no longer shipped");
    testing::writeFile(www + QStringLiteral("/include/dropped.php"), "gone");
    testing::writeFile(www + QStringLiteral("/Data/config.php"), siteConfig);
    testing::writeFile(www + QStringLiteral("/Data/uploads/photo.jpg"), "user upload");
    testing::writeFile(root + QStringLiteral("/runtime/zelto-update.zip"), "last week's archive");
    testing::writeFile(root + QStringLiteral("/runtime/update-extract/stale.txt"), "stale");

    LocalHttpServer server;
    const QByteArray zip = packageZip(
        sandbox->base(),
        {directory(QStringLiteral("zelto-2.0/")), directory(QStringLiteral("zelto-2.0/www/")),
         file(QStringLiteral("zelto-2.0/www/index.php"), "new index"),
         file(QStringLiteral("zelto-2.0/www/._index.php"), "apple double"),
         file(QStringLiteral("zelto-2.0/www/include/lib.php"), "lib"),
         file(QStringLiteral("zelto-2.0/www/install/index.php"), "installer"),
         file(QStringLiteral("zelto-2.0/www/Data/config.php"), "package default"),
         file(QStringLiteral("zelto-2.0/www/Data/templates/a.tpl"), "template"),
         file(QStringLiteral("__MACOSX/zelto-2.0/www/._index.php"), "apple double")});
    server.response.body = zip;
    PanelConfig config;
    config.updateZipBaseURL = QUrl(server.archiveUrl());
    auto model = sandbox->makeModel(config);
    Recorder recorder(*model);

    QVERIFY(runToEnd(*model));

    const QString url = server.archiveUrl() + QStringLiteral("?t=") + kDate;
    const QString source = root + QStringLiteral("/runtime/update-extract/zelto-2.0/www");
    const QString report = QStringLiteral("已自动解压并同步到 runtime/www: ") + www +
                           QStringLiteral("\n站点根: ") + source;
    const QString sync = QStringLiteral("正在同步到 www: ");
    const QStringList expected{
        state(0.05, "正在下载更新包", firstLog(url, root)),
        state(0.1, "正在下载更新包", progressLog("正在下载更新包", 10, url, root)),
        state(0.35, "正在解压更新包", progressLog("正在解压更新包", 35, url, root)),
        state(0.6, "正在定位站点根目录", progressLog("正在定位站点根目录", 60, url, root)),
        state(0.75, "正在同步到 runtime/www", progressLog("正在同步到 runtime/www", 75, url, root)),
        state(
            0.75, sync + "第一步：同步站点文件（Data 在第二轮逐文件补缺失）",
            progressLog(sync + "第一步：同步站点文件（Data 在第二轮逐文件补缺失）", 75, url, root)),
        state(0.825, sync + "第二步：比对 Data/ 内文件，缺的同步、已有不覆盖",
              progressLog(sync + "第二步：比对 Data/ 内文件，缺的同步、已有不覆盖", 82, url, root)),
        state(0.9, sync + "www 同步完成", progressLog(sync + "www 同步完成", 90, url, root)),
        state(0.9, "正在校验 runtime/www", progressLog("正在校验 runtime/www", 90, url, root)),
        state(1.0, "完成", progressLog("完成", 100, url, root)),
        state(1.0, "完成", statusLog(root)),
        state(1.0, "完成", finalLog(report, root)),
    };
    QCOMPARE(recorder.states, expected);
    QVERIFY(nonDecreasing(recorder.fractions));
    QCOMPARE(model->errorSummary(), QString());

    QCOMPARE(server.requestTargets, QStringList{QStringLiteral("/zelto-update.zip?t=") + kDate});
    QCOMPARE(testing::readFile(root + QStringLiteral("/runtime/zelto-update.zip")), zip);
    // The site: package files in, dropped files out, the site's data kept byte for byte and
    // only missing data added.
    QCOMPARE(listTree(www),
             (QStringList{"Data", "Data/config.php", "Data/templates", "Data/templates/a.tpl",
                          "Data/uploads", "Data/uploads/photo.jpg", "include", "include/lib.php",
                          "index.php", "install", "install/index.php"}));
    QCOMPARE(testing::readFile(www + QStringLiteral("/index.php")), QByteArray("new index"));
    QCOMPARE(testing::readFile(www + QStringLiteral("/Data/config.php")), siteConfig);
    QCOMPARE(testing::readFile(www + QStringLiteral("/Data/uploads/photo.jpg")),
             QByteArray("user upload"));
    QCOMPARE(testing::readFile(www + QStringLiteral("/Data/templates/a.tpl")),
             QByteArray("template"));
    // The cleaned extraction tree stays for inspection; the stale one is gone.
    QCOMPARE(listTree(root + QStringLiteral("/runtime/update-extract")),
             (QStringList{"zelto-2.0", "zelto-2.0/www", "zelto-2.0/www/Data",
                          "zelto-2.0/www/Data/config.php", "zelto-2.0/www/Data/templates",
                          "zelto-2.0/www/Data/templates/a.tpl", "zelto-2.0/www/include",
                          "zelto-2.0/www/include/lib.php", "zelto-2.0/www/index.php",
                          "zelto-2.0/www/install", "zelto-2.0/www/install/index.php"}));
}

void UpdateTest::failedRunsLeaveTheSiteUntouched_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");     // served as is
    QTest::addColumn<QStringList>("entries"); // or, when body is empty, a ZIP of these
    QTest::addColumn<QString>("report");      // $OUT: a directory beside the panel root
    QTest::addColumn<QList<double>>("fractions");

    // The final block refreshes the status (a new log at the last fraction) before 1.0.
    const QList<double> atExtraction{0.05, 0.1, 0.35, 0.35, 1.0};
    const QString failed = QStringLiteral("解压失败: ditto 退出码 1，");
    const QByteArray page("<html><body><h1>404 Not Found</h1></body></html>\n");
    QTest::newRow("error page stored as the archive")
        << 404 << page << QStringList{} << failed + "Unrecognized archive format" << atExtraction;
    QTest::newRow("server error page")
        << 500 << QByteArray("Internal Server Error") << QStringList{}
        << failed + "Unrecognized archive format" << atExtraction;
    QTest::newRow("corrupt archive")
        << 200 << QByteArray("PK\x03\x04garbage-garbage-garbage-garbage") << QStringList{}
        << failed + "Truncated ZIP file header" << atExtraction;
    QTest::newRow("dot-dot onto the site")
        << 200 << QByteArray() << QStringList{"site/index.php", "../www/index.php"}
        << failed + "../www/index.php: Path contains '..'" << atExtraction;
    QTest::newRow("absolute name") << 200 << QByteArray() << QStringList{"$OUT/abs.txt"}
                                   << failed + "$OUT/abs.txt: Path is absolute" << atExtraction;
    QTest::newRow("file through a link out of the tree")
        << 200 << QByteArray() << QStringList{"link->$OUT", "link/evil.txt"}
        << failed + "link/evil.txt: Cannot extract through symlink "
                    "$ROOT/runtime/update-extract/link/evil.txt"
        << atExtraction;
    QTest::newRow("no site root")
        << 200 << QByteArray() << QStringList{"docs/readme.txt", "docs/index.php"}
        << "更新包中未识别到站点根（需存在 index.php，且为 www 子目录或 zip 根目录含 "
           "include/LibZelto/Data 之一）"
        << QList<double>{0.05, 0.1, 0.35, 0.6, 0.6, 1.0};
}

void UpdateTest::failedRunsLeaveTheSiteUntouched() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, entries);
    QFETCH(QString, report);
    QFETCH(QList<double>, fractions);
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    const QString outside = sandbox->base() + QStringLiteral("/outside");
    QDir().mkpath(outside);
    testing::writeFile(root + QStringLiteral("/runtime/www/index.php"), "site index");
    testing::writeFile(root + QStringLiteral("/runtime/www/Data/config.php"), "site data");
    auto expand = [&](QString s) {
        return s.replace(QStringLiteral("$OUT"), outside).replace(QStringLiteral("$ROOT"), root);
    };

    LocalHttpServer server;
    server.response.status = status;
    if (body.isEmpty()) {
        std::vector<ZipEntry> zip;
        for (const QString& name : entries) {
            const qsizetype arrow = name.indexOf(QStringLiteral("->"));
            if (arrow >= 0)
                zip.push_back(symlink(name.left(arrow), expand(name.mid(arrow + 2))));
            else
                zip.push_back(file(expand(name), "evil"));
        }
        QTemporaryDir tmp;
        body = packageZip(tmp.path(), zip);
    }
    server.response.body = body;
    PanelConfig config;
    config.updateZipBaseURL = QUrl(server.archiveUrl());
    auto model = sandbox->makeModel(config);
    const auto siteBefore = snapshot(root + QStringLiteral("/runtime/www"));
    Recorder recorder(*model);

    QVERIFY(runToEnd(*model));

    const QString entry = expand(report);
    QCOMPARE(model->logs(), finalLog(entry, root));
    QCOMPARE(model->updateProgress(), 1.0);
    QCOMPARE(model->updateProgressText(), QStringLiteral("完成"));
    QCOMPARE(recorder.fractions, fractions);
    QCOMPARE(model->errorSummary(), entry.contains(QStringLiteral("失败")) ? entry : QString());
    // The body is the archive, whatever it was; the site and everything outside the
    // extraction directory stay as they were.
    QCOMPARE(testing::readFile(root + QStringLiteral("/runtime/zelto-update.zip")), body);
    QCOMPARE(snapshot(root + QStringLiteral("/runtime/www")), siteBefore);
    QVERIFY(listTree(outside).isEmpty());
    QVERIFY(!QFile::exists(root + QStringLiteral("/runtime/index.php")));
}

void UpdateTest::serverDownKeepsTheOldArchive() {
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    testing::writeFile(root + QStringLiteral("/runtime/zelto-update.zip"), "previous archive");
    testing::writeFile(root + QStringLiteral("/runtime/update-extract/site/index.php"), "prev");
    testing::writeFile(root + QStringLiteral("/runtime/www/index.php"), "site");
    QString url;
    {
        LocalHttpServer closed; // a port that nothing listens on any more
        url = closed.archiveUrl();
    }
    PanelConfig config;
    config.updateZipBaseURL = QUrl(url);
    auto model = sandbox->makeModel(config);
    const auto before = snapshot(root + QStringLiteral("/runtime"));
    Recorder recorder(*model);

    QVERIFY(runToEnd(*model));

    QCOMPARE(model->logs(), finalLog(QStringLiteral("更新下载失败: Connection refused"), root));
    QCOMPARE(model->errorSummary(), QStringLiteral("更新下载失败: Connection refused"));
    QCOMPARE(recorder.fractions, (QList<double>{0.05, 0.1, 0.1, 1.0}));
    QCOMPARE(snapshot(root + QStringLiteral("/runtime")), before);
}

void UpdateTest::stalledTransferEndsWithAnError() {
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    testing::writeFile(root + QStringLiteral("/runtime/zelto-update.zip"), "previous archive");
    LocalHttpServer server;
    server.response.body = QByteArray(200000, 'z');
    server.response.stallAfter = 5000;
    PanelConfig config;
    config.updateZipBaseURL = QUrl(server.archiveUrl());
    config.downloadStallSeconds = 1;
    auto model = sandbox->makeModel(config);
    const auto before = snapshot(root + QStringLiteral("/runtime"));

    QVERIFY(runToEnd(*model));

    QCOMPARE(model->logs(),
             finalLog(QStringLiteral("更新下载失败: 下载超时: 1 秒内未收到任何数据"), root));
    // Neither the old archive nor a partial download is left behind.
    QCOMPARE(snapshot(root + QStringLiteral("/runtime")), before);
}

void UpdateTest::redirectIsFollowed() {
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    LocalHttpServer server;
    server.response.status = 302;
    server.response.location =
        QStringLiteral("http://127.0.0.1:%1/files/site.zip").arg(server.port()).toUtf8();
    LocalHttpServer::Response archive;
    archive.body = packageZip(sandbox->base(), {file(QStringLiteral("index.php"), "redirected"),
                                                directory(QStringLiteral("include/"))});
    server.routes.insert(QStringLiteral("/files/site.zip"), archive);
    PanelConfig config;
    config.updateZipBaseURL = QUrl(server.archiveUrl());
    auto model = sandbox->makeModel(config);

    QVERIFY(runToEnd(*model));

    QCOMPARE(server.requestTargets.size(), 2);
    QCOMPARE(testing::readFile(root + QStringLiteral("/runtime/zelto-update.zip")), archive.body);
    QCOMPARE(testing::readFile(root + QStringLiteral("/runtime/www/index.php")),
             QByteArray("redirected"));
    QVERIFY(model->logs().contains(QStringLiteral("已自动解压并同步到 runtime/www: ")));
}

void UpdateTest::missingIndexAfterSyncIsReported() {
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    // An rsync that fails without a word counts as success; the check afterwards notices.
    const QString rsync = sandbox->base() + QStringLiteral("/fake/rsync");
    testing::writeScript(rsync, QStringLiteral("exit 1"));
    useQuietServiceTools(*sandbox, rsync);
    LocalHttpServer server;
    server.response.body = packageZip(sandbox->base(), {file(QStringLiteral("site/index.php")),
                                                        directory(QStringLiteral("site/Data/"))});
    PanelConfig config;
    config.updateZipBaseURL = QUrl(server.archiveUrl());
    auto model = sandbox->makeModel(config);
    Recorder recorder(*model);

    QVERIFY(runToEnd(*model));

    QCOMPARE(model->logs(),
             finalLog(QStringLiteral(
                          "同步后 runtime/www 缺少 index.php，请确认更新包完整。\n识别来源: ") +
                          root + QStringLiteral("/runtime/update-extract/site"),
                      root));
    QCOMPARE(recorder.fractions,
             (QList<double>{0.05, 0.1, 0.35, 0.6, 0.75, 0.75, 0.825, 0.9, 0.9, 0.9, 1.0}));
    // The synchronisation made the site's data directory before the passes.
    QVERIFY(QFileInfo(root + QStringLiteral("/runtime/www/Data")).isDir());
}

void UpdateTest::secondRequestDuringARunStartsNothing() {
    auto sandbox = makeUpdateSandbox();
    const QString root = sandbox->installedRoot();
    LocalHttpServer server;
    server.response.body = packageZip(sandbox->base(), {file(QStringLiteral("index.php"), "v2"),
                                                        directory(QStringLiteral("Data/"))});
    server.response.delayMs = 1500; // keeps the first run in its download
    PanelConfig config;
    config.updateZipBaseURL = QUrl(server.archiveUrl());
    auto first = sandbox->makeModel(config);
    auto second = sandbox->makeModel(config); // another window
    Recorder recorder(*first);

    first->updateOrRepairFiles();
    QVERIFY(testing::waitFor(
        [&] { return server.requestTargets.size() == 1 && first->updateProgress() == 0.1; }));
    const QString busy = QStringLiteral("更新/修复正在进行中，请等待当前任务完成。");
    first->updateOrRepairFiles();
    second->updateOrRepairFiles();
    QVERIFY(testing::waitFor([&] { return second->logs() == busy; }));
    QCOMPARE(second->updateProgress(), 0.0);
    QCOMPARE(second->updateProgressText(), QString());
    QCOMPARE(second->errorSummary(), QString());
    QVERIFY(testing::waitFor([&] { return finished(*first); }));

    // One download; the refused press on the same window only replaced its log once.
    QCOMPARE(server.requestTargets.size(), 1);
    QCOMPARE(recorder.fractions, (QList<double>{0.05, 0.1, 0.1, 0.35, 0.6, 0.75, 0.75, 0.825, 0.9,
                                                0.9, 1.0, 1.0, 1.0}));
    QCOMPARE(recorder.states.at(2), state(0.1, QStringLiteral("正在下载更新包"), busy));
    QCOMPARE(testing::readFile(root + QStringLiteral("/runtime/www/index.php")), QByteArray("v2"));

    // Once the run has ended, the next press runs again.
    server.response.delayMs = 0;
    QVERIFY(runToEnd(*second));
    QCOMPARE(server.requestTargets.size(), 2);
    QVERIFY(second->logs().contains(QStringLiteral("已自动解压并同步到 runtime/www: ")));
}
