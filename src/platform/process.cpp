#include "platform/process.h"

#include "platform/process_source.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

std::unexpected<Error> launchFailure(int code, const QString& program, const char* call) {
    return errnoFailure(code, program, QString::fromLatin1(call));
}

// argv for exec, built before any fork so the child only touches prepared memory.
struct Argv {
    std::vector<QByteArray> storage;
    std::vector<char*> pointers;

    Argv(const QString& program, const QStringList& args) {
        storage.reserve(args.size() + 1);
        storage.push_back(QFile::encodeName(program));
        for (const QString& a : args)
            storage.push_back(a.toUtf8());
        for (QByteArray& s : storage)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    char* const* data() { return pointers.data(); }
};

// The panel's environment with the "NAME=value" entries of overrides put over it, built
// before any fork like Argv.
struct Envp {
    std::vector<QByteArray> storage;
    std::vector<char*> pointers;

    explicit Envp(const QStringList& overrides) {
        std::vector<QByteArray> names;
        for (const QString& entry : overrides) {
            QByteArray bytes = entry.toUtf8();
            names.push_back(bytes.left(bytes.indexOf('=') + 1));
            storage.push_back(std::move(bytes));
        }
        for (char** e = environ; e && *e; ++e) {
            const QByteArray inherited(*e);
            bool replaced = false;
            for (const QByteArray& name : names)
                replaced = replaced || (!name.isEmpty() && inherited.startsWith(name));
            if (!replaced)
                storage.push_back(inherited);
        }
        for (QByteArray& s : storage)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    char* const* data() { return pointers.data(); }
};

// Reads what is available from fd into out; returns false at end of file.
bool readAvailable(int fd, QByteArray& out) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            if (n < static_cast<ssize_t>(sizeof buf))
                return true;
            continue;
        }
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

bool reap(pid_t pid, int options, int& status) {
    for (;;) {
        pid_t r = ::waitpid(pid, &status, options);
        if (r == pid)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return true; // already reaped elsewhere: treat as ended
    }
}

} // namespace

QString launchFailureDetail(const Error& error) {
    return QStringLiteral("Error Domain=POSIX Code=%1 \"%2\" {%3(%4)}")
        .arg(error.code)
        .arg(error.message, error.call, error.path);
}

Result<ChildExit> runChild(const QString& program, const QStringList& args,
                           const ChildOptions& options) {
    using Clock = std::chrono::steady_clock;
    ChildExit result;
    Argv argv(program, args);

    FileDescriptor readEnd;
    FileDescriptor writeEnd;
    const bool capture = options.out == StdStream::Capture;
    if (capture) {
        int fds[2] = {-1, -1};
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return launchFailure(errno, program, "pipe");
        readEnd = FileDescriptor(fds[0]);
        writeEnd = FileDescriptor(fds[1]);
    }
    // The child's end must block like an ordinary pipe.
    if (capture)
        ::fcntl(writeEnd.get(), F_SETFL, 0);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const char* devnull = "/dev/null";
    if (options.out == StdStream::Null)
        posix_spawn_file_actions_addopen(&actions, 1, devnull, O_WRONLY, 0);
    else if (capture)
        posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    if (options.err == StdStream::Null)
        posix_spawn_file_actions_addopen(&actions, 2, devnull, O_WRONLY, 0);
    else if (options.err == StdStream::Merge)
        posix_spawn_file_actions_adddup2(&actions, capture ? writeEnd.get() : 1, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // A broken pipe ends the child as it would end a program started from a shell, even
    // where the panel itself ignores the signal.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, argv.storage.front().constData(), &actions, &attributes,
                           argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd = FileDescriptor();
    if (rc != 0)
        return launchFailure(rc, program, "posix_spawn");

    const auto now = [&options] { return options.clock ? options.clock() : Clock::now(); };
    const auto start = now();
    bool pipeOpen = capture;
    bool exited = false;
    bool terminated = false;
    Clock::time_point killAt{};
    int status = 0;
    for (;;) {
        if (!exited)
            exited = reap(pid, WNOHANG, status);
        if (exited) {
            // The child is gone: take what it left in the pipe. A grandchild that kept the
            // pipe open must not hold us here, so only what is already there is read.
            if (pipeOpen)
                readAvailable(readEnd.get(), result.output);
            break;
        }
        int waitMs = 50;
        if (options.timeout && !terminated) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                start + *options.timeout - now());
            if (left.count() <= 0) {
                // The child may have ended since the last look: only one that still runs now
                // has overrun its time.
                exited = reap(pid, WNOHANG, status);
                if (exited)
                    continue;
                // What the child wrote while it ran is kept; what it says once asked to end
                // (its own "received SIGTERM" and the like) is not part of the report.
                if (pipeOpen) {
                    readAvailable(readEnd.get(), result.output);
                    readEnd = FileDescriptor();
                    pipeOpen = false;
                }
                result.timedOut = true;
                terminated = true;
                ::kill(pid, SIGTERM);
                killAt = now() + options.killGrace;
                continue;
            }
            waitMs = static_cast<int>(std::min<long long>(left.count(), waitMs));
        }
        if (terminated && now() >= killAt) {
            ::kill(pid, SIGKILL);
            killAt = Clock::time_point::max();
        }
        if (pipeOpen) {
            pollfd p{readEnd.get(), POLLIN, 0};
            int n = ::poll(&p, 1, waitMs);
            if (n > 0)
                pipeOpen = readAvailable(readEnd.get(), result.output);
        } else {
            // Nothing to read any more: block in waitpid unless a deadline needs watching.
            if (!options.timeout) {
                exited = reap(pid, 0, status);
                continue;
            }
            ::usleep(static_cast<useconds_t>(waitMs) * 1000);
        }
    }
    readEnd = FileDescriptor();
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exitStatus = WTERMSIG(status);
        result.signalled = true;
    }
    return result;
}

Result<FileDescriptor> openForAppending(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return errnoFailure(errno, path, QStringLiteral("open"));
    return FileDescriptor(fd);
}

Result<pid_t> spawnDetached(const QString& program, const QStringList& args,
                            const QString& workingDirectory, const FileDescriptor& output,
                            const QStringList& environment) {
    Argv argv(program, args);
    Envp envp(environment);
    const QByteArray cwd = QFile::encodeName(workingDirectory);
    const char* cwdPtr = workingDirectory.isEmpty() ? nullptr : cwd.constData();

    // pidPipe carries the grandchild's pid from the intermediate child. execPipe carries the
    // grandchild's errno when its exec fails; a successful exec closes it (close-on-exec), so
    // the parent then reads end of file. Two pipes, so the two writers never race.
    FileDescriptor pidRead, pidWrite, execRead, execWrite;
    const auto makePipe = [](FileDescriptor& readEnd, FileDescriptor& writeEnd) {
        int fds[2] = {-1, -1};
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        readEnd = FileDescriptor(fds[0]);
        writeEnd = FileDescriptor(fds[1]);
        return true;
    };
    if (!makePipe(pidRead, pidWrite) || !makePipe(execRead, execWrite))
        return launchFailure(errno, program, "pipe");
    FileDescriptor null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!null.isOpen())
        return launchFailure(errno, program, "open");
    // The child uses plain numbers: it leaves by _exit or exec and never runs destructors.
    const int nullFd = null.get();
    const int pidOut = pidWrite.get();
    const int execOut = execWrite.get();
    const int out = output.isOpen() ? output.get() : nullFd;

    const pid_t child = ::fork();
    if (child < 0)
        return launchFailure(errno, program, "fork");
    if (child == 0) {
        // Intermediate child: only async-signal-safe calls from here on.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            // The pid, or -1 and the fork's errno.
            const int e = grandchild < 0 ? errno : 0;
            (void)!::write(pidOut, &grandchild, sizeof grandchild);
            if (grandchild < 0)
                (void)!::write(execOut, &e, sizeof e);
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        // The leader of a process group of its own: what it forks (a PHP server's workers)
        // stays in the group that its pid names, also once it has ended.
        ::setpgid(0, 0);
        for (int sig = 1; sig < NSIG; ++sig)
            ::signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(nullFd, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        int e = 0;
        if (cwdPtr && ::chdir(cwdPtr) != 0) {
            e = errno;
        } else {
            ::execve(argv.storage.front().constData(), argv.data(), envp.data());
            e = errno;
        }
        (void)!::write(execOut, &e, sizeof e);
        ::_exit(127);
    }

    pidWrite = FileDescriptor();
    execWrite = FileDescriptor();
    null = FileDescriptor();
    int status = 0;
    reap(child, 0, status);
    auto readExactly = [](int fd, void* dst, size_t size) {
        size_t got = 0;
        while (got < size) {
            const ssize_t n = ::read(fd, static_cast<char*>(dst) + got, size - got);
            if (n > 0)
                got += static_cast<size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        return got == size;
    };
    pid_t grandchild = -1;
    int execErrno = 0;
    const bool gotPid = readExactly(pidRead.get(), &grandchild, sizeof grandchild);
    // Blocks until the grandchild has exec'd (end of file) or reported its failure.
    const bool gotErrno = readExactly(execRead.get(), &execErrno, sizeof execErrno);
    if (gotErrno) {
        // A failed grandchild has exited and was reparented to init, which reaps it.
        const char* call = grandchild < 0 ? "fork" : (cwdPtr ? "chdir/execve" : "execve");
        return launchFailure(execErrno, program, call);
    }
    if (!gotPid || grandchild <= 0)
        return launchFailure(ECHILD, program, "fork");
    return grandchild;
}

Result<> sendSignal(pid_t pid, int signal) {
    if (::kill(pid, signal) != 0)
        return errnoFailure(errno, QString::number(pid), QStringLiteral("kill"));
    return {};
}

bool isProcessAlive(pid_t pid) {
    // Signal 0 reaches a zombie too: the process table tells whether it still runs.
    return pid > 0 && ::kill(pid, 0) == 0 && systemProcessSource()->isRunning(pid);
}

std::optional<QString> processCommandLine(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    return systemProcessSource()->commandLine(pid);
}

} // namespace platform
