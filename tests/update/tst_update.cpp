#include "tst_update.h"

#include <QTest>

namespace updatetest {

void useQuietServiceTools(TestSandbox& sandbox, const QString& rsync) {
    const QString dir = sandbox.base() + QStringLiteral("/tools");
    for (const char* tool : {"pkill", "pgrep", "lsof"})
        testing::writeScript(dir + QLatin1Char('/') + QLatin1String(tool),
                             QStringLiteral("exit 1"));
    sandbox.tools = SystemTools::withPkill(dir + QStringLiteral("/pkill"),
                                           dir + QStringLiteral("/lsof"), rsync);
}

std::unique_ptr<TestSandbox> makeUpdateSandbox() {
    auto sandbox = std::make_unique<TestSandbox>();
    testing::makeValidRoot(sandbox->installedRoot());
    useQuietServiceTools(*sandbox);
    return sandbox;
}

} // namespace updatetest

QTEST_GUILESS_MAIN(UpdateTest)
