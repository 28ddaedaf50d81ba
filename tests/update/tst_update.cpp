#include "tst_update.h"

#include <QTest>

namespace updatetest {

std::unique_ptr<TestSandbox> makeUpdateSandbox(const QString& fakeRsync) {
    auto sandbox = std::make_unique<TestSandbox>();
    testing::makeValidRoot(sandbox->installedRoot());
    const QString dir = sandbox->base() + QStringLiteral("/tools/");
    testing::writeScript(dir + QStringLiteral("pkill"), QStringLiteral("exit 1"));
    if (!fakeRsync.isEmpty())
        testing::writeScript(dir + QStringLiteral("rsync"), fakeRsync);
    sandbox->tools = SystemTools::of(dir + QStringLiteral("pkill"),
                                     fakeRsync.isEmpty() ? QStringLiteral("/usr/bin/rsync")
                                                         : dir + QStringLiteral("rsync"));
    return sandbox;
}

} // namespace updatetest

QTEST_GUILESS_MAIN(UpdateTest)
