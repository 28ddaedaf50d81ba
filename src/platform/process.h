#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

#include <sys/types.h>

// Child processes through POSIX, without an event loop, so that the calling thread (main or
// worker) simply blocks until the child has ended. Output is drained while waiting, so a child
// that writes more than a pipe holds never stalls.

struct LaunchError {
    int code = 0;            // errno of the failed launch
    QString description;     // the system's text for it, e.g. "Exec format error"
    QString fullDescription; // with the program, the call and the error number
};

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
    std::chrono::milliseconds killGrace{3000};
};

struct ChildResult {
    std::optional<LaunchError> launchError;
    // Exit code, or the number of the signal that ended the child.
    int exitStatus = 0;
    bool signalled = false;
    bool timedOut = false;
    QByteArray output;

    bool launched() const { return !launchError.has_value(); }
};

// Runs program (an absolute path) with args and returns when it has exited.
ChildResult runChild(const QString& program, const QStringList& args,
                     const ChildOptions& options = {});

struct DetachedChild {
    pid_t pid = -1;
    std::optional<LaunchError> launchError;
};

// Starts program detached from the panel (its own session, reparented to init, so it outlives
// the panel and never lingers as a zombie). Standard input is the null device; standard output
// and error go to outputFd (-1: the null device). workingDirectory empty: the panel's own.
// Returns the pid of the started program, or the reason it could not be started.
DetachedChild spawnDetached(const QString& program, const QStringList& args,
                            const QString& workingDirectory, int outputFd);

// POSIX kill; true when the signal could be sent.
bool sendSignal(pid_t pid, int signal);
// True when signal 0 reaches pid (it exists and may be signalled by us) and it has not
// already ended: a zombie waiting for its parent to reap it counts as ended.
bool isProcessAlive(pid_t pid);
// The command line of a live process (arguments joined by spaces), or nothing.
std::optional<QString> processCommandLine(pid_t pid);
