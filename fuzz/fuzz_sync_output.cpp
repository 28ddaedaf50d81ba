// The classifier of rsync's output and the runner texts it reads.

#include "fuzz_support.h"
#include "update/sync_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.byte();
    ChildResult result;
    if (mode & 1) {
        result.launchError = LaunchError{};
        result.launchError->description = in.text(64);
    }
    result.signalled = mode & 2;
    result.timedOut = mode & 4;
    result.exitStatus = static_cast<int8_t>(in.byte());
    result.output = in.rest();

    const QString text = processOutcomeText(QStringLiteral("/usr/bin/rsync"), 1.5, result);
    if (!result.launched())
        FUZZ_CHECK(text.startsWith(QStringLiteral("执行失败: ")));
    // A run that could not start, or was cut off, never reads as a success.
    if (!result.launched() || result.timedOut)
        FUZZ_CHECK(rsyncOutputIndicatesHardFailure(text));

    // The output alone, as a text: surrounding white space changes nothing.
    const QString raw = QString::fromUtf8(result.output);
    const bool failed = rsyncOutputIndicatesHardFailure(raw);
    FUZZ_CHECK(rsyncOutputIndicatesHardFailure(QStringLiteral(" \n") + raw +
                                               QStringLiteral("\t\n")) == failed);
    return 0;
}
