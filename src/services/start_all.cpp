#include "services/start_all.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "services/database.h"
#include "services/web_services.h"

#include <functional>
#include <utility>

QString startAllPreparingText(const QString& panelRoot) {
    return QStringLiteral("=== 启动中 ===\n正在准备目录和服务...\n目录: ") + panelRoot;
}

QString startAllStageText(const QStringList& reports, const QString& nextService,
                          const QString& panelRoot) {
    return QStringLiteral("=== 启动中 ===\n") + reports.join(QLatin1Char('\n')) +
           QStringLiteral("\n正在启动 ") + nextService + QStringLiteral("...\n目录: ") + panelRoot;
}

QString startAllFinalBlock(const QStringList& reports, const QString& phpBinDisplay,
                           const QString& panelRoot) {
    QStringList entries;
    for (const QString& report : reports)
        entries.push_back(trimmedText(report));
    return PanelViewModel::buildLogBlock(QStringLiteral("=== 启动完成 ==="), entries,
                                         {QStringLiteral("网站: http://localhost:8000"),
                                          QStringLiteral("phpMyAdmin: http://localhost:900"),
                                          QStringLiteral("MySQL: localhost:3306"),
                                          QStringLiteral("PHP: ") + phpBinDisplay,
                                          QStringLiteral("目录: ") + panelRoot});
}

namespace {

// Queues a stage's publication: the status first (it writes a log of its own), then the
// stage's text, then the summary of that text.
void publishStage(PanelViewModel& model, std::function<QString(PanelViewModel&)> text) {
    model.postToMain([text = std::move(text)](PanelViewModel& m) {
        m.refreshStatus();
        m.setLogs(text(m));
        m.updateErrorSummary();
    });
}

// The worker's part: every step runs whatever the earlier ones reported.
void startAllSteps(PanelViewModel& model) {
    model.makeDir(model.runtimeDir());
    model.makeDir(model.cfgDir());
    model.makeDir(model.mysqlDataDir());
    model.killByPattern(phpServerProcessPattern());
    model.killByPattern(mysqlProcessPattern(model.mysqlDir()));

    const QString defaultsFile = model.mysqlCnfPath();
    const QString w = model.tryWrite(defaultsFile, mysqlOptionFileText(model.mysqlDir()));
    const QString i = model.ensureMysqlInitialized(defaultsFile);
    publishStage(model, [w, i](PanelViewModel& m) {
        return startAllStageText({w, i}, QStringLiteral("MySQL"), m.zeltoPanelRoot());
    });

    const QString mysqld = model.startMysql(defaultsFile);
    publishStage(model, [w, i, mysqld](PanelViewModel& m) {
        return startAllStageText({w, i, mysqld}, QStringLiteral("PHP Web"), m.zeltoPanelRoot());
    });

    const QString p = model.startPhpWeb();
    publishStage(model, [w, i, mysqld, p](PanelViewModel& m) {
        return startAllStageText({w, i, mysqld, p}, QStringLiteral("phpMyAdmin"),
                                 m.zeltoPanelRoot());
    });

    const QString a = model.startPhpMyAdmin();
    publishStage(model, [reports = QStringList{w, i, mysqld, p, a}](PanelViewModel& m) {
        return startAllFinalBlock(reports, m.phpBinDisplay(), m.zeltoPanelRoot());
    });
}

} // namespace

// --- PanelViewModel: start-all ---

void PanelViewModel::startAll() {
    postToMain([](PanelViewModel& m) {
        m.setPermissionHint(m.permissionCheckHint());
        m.setLogs(startAllPreparingText(m.zeltoPanelRoot()));
        m.updateErrorSummary();
    });
    runInBackground(startAllSteps);
}
