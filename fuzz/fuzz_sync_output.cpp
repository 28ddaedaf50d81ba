// The classifier of rsync's output and the runner texts it reads.

#include "fuzz_support.h"
#include "update/sync_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.byte();
    const bool launched = !(mode & 1);
    Result<platform::ChildExit> result = failure(in.text(64));
    if (launched) {
        platform::ChildExit exit;
        exit.signalled = mode & 2;
        exit.timedOut = mode & 4;
        exit.exitStatus = static_cast<int8_t>(in.byte());
        exit.output = in.rest();
        result = exit;
    }

    const QString text = update::processOutcomeText(QStringLiteral("/usr/bin/rsync"), 1.5, result);
    if (!launched)
        FUZZ_CHECK(text.startsWith(QStringLiteral("执行失败: ")));
    // A run that could not start, was cut off or ended with a failure status never reads as a
    // success (24 is rsync's "source files vanished", which is none).
    if (!launched || result->timedOut ||
        (!result->signalled && result->exitStatus != 0 && result->exitStatus != 24))
        FUZZ_CHECK(update::rsyncOutputIndicatesHardFailure(text));

    // Surrounding white space changes nothing.
    const QString raw = launched ? QString::fromUtf8(result->output) : text;
    const bool failed = update::rsyncOutputIndicatesHardFailure(raw);
    FUZZ_CHECK(update::rsyncOutputIndicatesHardFailure(QStringLiteral(" \n") + raw +
                                                       QStringLiteral("\t\n")) == failed);
    return 0;
}
