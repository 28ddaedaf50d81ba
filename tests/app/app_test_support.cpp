#include "app_test_support.h"

#include "app/application.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>

PanelSandbox::PanelSandbox(bool validRoot) {
    const QString bin = sandbox.base() + QStringLiteral("/bin");
    for (const char* tool : {"pkill", "pgrep", "lsof"}) {
        const QString name = QString::fromLatin1(tool);
        testing::writeScript(
            bin + QLatin1Char('/') + name,
            QStringLiteral("echo \"$@\" >> '%1/%2.calls'\nexit 1").arg(sandbox.base(), name));
    }
    testing::writeScript(bin + QStringLiteral("/rsync"), QStringLiteral("exit 1"));
    sandbox.tools =
        SystemTools::withPkill(bin + QStringLiteral("/pkill"), bin + QStringLiteral("/lsof"),
                               bin + QStringLiteral("/rsync"));
    if (validRoot)
        testing::makeValidRoot(sandbox.installedRoot());
}

std::shared_ptr<PanelViewModel> PanelSandbox::makeModel(const QUrl& updateUrl) const {
    PanelConfig config;
    // Nothing listens on the discard port: a download fails at once, and only locally.
    config.updateZipBaseURL = updateUrl.isEmpty()
                                  ? QUrl(QStringLiteral("https://127.0.0.1:9/zelto-update.zip"))
                                  : updateUrl;
    config.downloadStallSeconds = 1;
    config.syncTimeoutSeconds = 10;
    return sandbox.makeModel(config);
}

int PanelSandbox::toolCalls(const QString& tool) const {
    const QByteArray calls =
        testing::readFile(sandbox.base() + QLatin1Char('/') + tool + QStringLiteral(".calls"));
    return static_cast<int>(calls.count('\n'));
}

namespace apptest {

void configureTestApplication() {
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Zelto"));
    QCoreApplication::setApplicationName(QStringLiteral("Zelto-Panel-Tests"));
    app::applyDarkTheme(*qApp);
    app::installTranslations(QLocale(QLocale::English, QLocale::UnitedStates));
}

QString saveScreenshot(QWidget* widget, const QString& name) {
    const QString dir = QStringLiteral(ZELTO_BUILD_DIR "/screenshots");
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    widget->grab().save(path);
    return path;
}

} // namespace apptest
