#pragma once

#include "platform/file_descriptor.h"
#include "platform/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

#include <sys/types.h>

// Child processes through POSIX, without an event loop, so that the calling thread (main or
// worker) simply blocks until the child has ended. Output is drained while waiting, so a child
// that writes more than a pipe holds never stalls.
namespace platform {

// How long a child that ignores SIGTERM after its time limit has before SIGKILL.
inline constexpr std::chrono::milliseconds kDefaultKillGrace{3000};

enum class StdStream {
    Inherit, // the panel's own stream
    Null,    // the null device
    Capture, // a pipe read by the panel (standard output)
    Merge,   // standard error only: into the same pipe as standard output
};

struct ChildOptions {
    StdStream out = StdStream::Inherit;
    StdStream err = StdStream::Inherit;
    // Without a limit the call waits for the child however long it runs.
    std::optional<std::chrono::milliseconds> timeout;
    // After the time limit: SIGTERM, then SIGKILL when the child is still alive after this.
    std::chrono::milliseconds killGrace = kDefaultKillGrace;
    // The time the limits are measured in; empty: the steady clock. Tests stand in for it to
    // put a moment exactly at the deadline.
    std::function<std::chrono::steady_clock::time_point()> clock;
};

// How a child that was started ended.
struct ChildExit {
    // Exit code, or the number of the signal that ended the child.
    int exitStatus = 0;
    bool signalled = false;
    bool timedOut = false;
    QByteArray output;

    bool exitedCleanly() const { return !signalled && exitStatus == 0; }
};

// Runs program (an absolute path) with args and returns when it has exited. The error is the
// reason it could not be started (message: the system's text, e.g. "Exec format error").
Result<ChildExit> runChild(const QString& program, const QStringList& args,
                           const ChildOptions& options = {});

// A launch failure with its program, call and error number, in the form the system's own
// launcher reports it: Error Domain=POSIX Code=<n> "<text>" {<call>(<program>)}.
QString launchFailureDetail(const Error& error);

// Opens path for appending, creating it (mode 0644) when missing; a server started with it as
// its output writes at the end of the file.
Result<FileDescriptor> openForAppending(const QString& path);

// Starts program detached from the panel (its own session, reparented to init, so it outlives
// the panel and never lingers as a zombie), as the leader of its own process group (the
// group's id is its pid). Standard input is the null device; standard output
// and error go to output (closed: the null device). workingDirectory empty: the panel's own.
// environment: "NAME=value" entries that the program gets on top of the panel's environment
// (replacing a variable of the same name).
// Returns the pid of the started program, or the reason it could not be started.
Result<pid_t> spawnDetached(const QString& program, const QStringList& args,
                            const QString& workingDirectory,
                            const FileDescriptor& output = FileDescriptor(),
                            const QStringList& environment = {});

// POSIX kill; the error when the signal could not be sent.
Result<> sendSignal(pid_t pid, int signal);
// True when signal 0 reaches pid (it exists and may be signalled by us) and it has not
// already ended: a zombie waiting for its parent to reap it counts as ended.
bool isProcessAlive(pid_t pid);
// The command line of a live process (arguments joined by spaces), or nothing.
std::optional<QString> processCommandLine(pid_t pid);

} // namespace platform
