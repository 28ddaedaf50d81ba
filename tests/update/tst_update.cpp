#include "tst_update.h"

#include <QTest>

namespace updatetest {

std::unique_ptr<TestSandbox> makeUpdateSandbox(const QString& fakeRsync) {
    auto sandbox = std::make_unique<TestSandbox>();
    testing::makeValidRoot(sandbox->installedRoot());
    const QString dir = sandbox->base() + QStringLiteral("/tools/");
    for (const char* tool : {"pkill", "pgrep", "lsof"})
        testing::writeScript(dir + QLatin1String(tool), QStringLiteral("exit 1"));
    if (!fakeRsync.isEmpty())
        testing::writeScript(dir + QStringLiteral("rsync"), fakeRsync);
    sandbox->tools = SystemTools::withPkill(
        dir + QStringLiteral("pkill"), dir + QStringLiteral("lsof"),
        fakeRsync.isEmpty() ? QStringLiteral("/usr/bin/rsync") : dir + QStringLiteral("rsync"));
    return sandbox;
}

} // namespace updatetest

QTEST_GUILESS_MAIN(UpdateTest)
