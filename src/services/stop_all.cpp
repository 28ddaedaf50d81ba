#include "services/stop_all.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "services/database.h"
#include "services/web_services.h"

QString stopAllStoppingText(const QString& panelRoot) {
    return QStringLiteral("=== 停止中 ===\n正在关闭服务...\n目录: ") + panelRoot;
}

QString stopAllFinalBlock(const QStringList& reports) {
    QStringList entries;
    for (const QString& report : reports)
        entries.push_back(trimmedText(report));
    return PanelViewModel::buildLogBlock(QStringLiteral("=== 停止完成 ==="), entries, {});
}

namespace {

// The worker's part. The pattern kills run whatever happened before them, so servers without
// a usable pid file and a database that refused the shutdown request end too.
void stopAllSteps(PanelViewModel& model) {
    const QString a = model.stopPhpWeb();
    const QString b = model.stopPhpMyAdmin();
    const QString c = model.stopMysql();
    const QString d = model.killByPattern(phpServerProcessPattern());
    const QString e = model.killByPattern(mysqlProcessPattern(model.mysqlDir()));
    model.postToMain([reports = QStringList{a, b, c, d, e}](PanelViewModel& m) {
        m.refreshStatus();
        m.setLogs(stopAllFinalBlock(reports));
        m.updateErrorSummary();
    });
}

} // namespace

// --- PanelViewModel: stop-all ---

void PanelViewModel::stopAll() {
    postToMain([](PanelViewModel& m) {
        m.refreshStatus();
        m.setLogs(stopAllStoppingText(m.zeltoPanelRoot()));
        m.updateErrorSummary();
    });
    runInBackground(stopAllSteps);
}
