#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include <sys/types.h>

// Children whose output is too large to hold (a database dump) streamed through the panel,
// and children that must not outlive it.
namespace platform {

struct ProgramCall {
    QString program; // an absolute path
    QStringList args;
};

// How one program of a pipeline ended: its exit (ChildExit's fields) and the end of what it
// wrote to its standard error.
struct PipedExit {
    int exitStatus = 0;
    bool signalled = false;
    QByteArray errors; // the last 16 KiB of its standard error

    bool exitedCleanly() const { return !signalled && exitStatus == 0; }
};

struct PipelineExit {
    PipedExit producer;
    std::optional<PipedExit> consumer;
    qint64 bytes = 0; // what passed from the producer
    // onChunk asked to stop: the producer's output was cut off there.
    bool stopped = false;
};

// Runs producer with its standard output read by the panel in chunks of at most 1 MiB; each
// chunk goes to onChunk (which may ask to stop by returning false) and then, when there is a
// consumer, to the consumer's standard input, which closes when the producer's output ends.
// Without onChunk the consumer reads the producer's output directly (bytes stays 0).
// Standard input of the producer and standard output of the consumer are the null device.
// A consumer that ends early cuts the producer off (it meets a closed pipe). Both children end
// with the calling thread: a panel killed meanwhile takes them along.
Result<PipelineExit> runPipeline(const ProgramCall& producer,
                                 const std::optional<ProgramCall>& consumer,
                                 const std::function<bool(QByteArrayView)>& onChunk);

// Starts program as a child that receives SIGTERM when the calling thread ends (a panel that
// is killed takes it along), with the null device as its standard input and output and
// standard error appended to errorLog ("" for the null device). waitForTiedChild reaps it.
Result<pid_t> spawnTiedChild(const ProgramCall& call, const QString& errorLog = {});
// Waits for a child of spawnTiedChild to end; nothing when it still runs after timeoutMs
// (< 0: no limit). Signal 0 after it was reaped no longer reaches it.
std::optional<PipedExit> waitForTiedChild(pid_t pid, int timeoutMs);

} // namespace platform
