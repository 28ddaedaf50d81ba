#include "platform/pipeline.h"

#include "platform/file_descriptor.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

extern char** environ;

namespace platform {

namespace {

constexpr qsizetype kChunkBytes = qsizetype(1) << 20;
constexpr qsizetype kErrorBytes = qsizetype(16) * 1024;

struct Argv {
    std::vector<QByteArray> storage;
    std::vector<char*> pointers;

    explicit Argv(const ProgramCall& call) {
        storage.push_back(QFile::encodeName(call.program));
        for (const QString& a : call.args)
            storage.push_back(a.toUtf8());
        for (QByteArray& s : storage)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
};

bool makePipe(FileDescriptor& readEnd, FileDescriptor& writeEnd) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd = FileDescriptor(fds[0]);
    writeEnd = FileDescriptor(fds[1]);
    return true;
}

// A pipe for the data itself: as large as a chunk where the system allows (a user's pipes
// may be limited to less), so that the program on either side runs ahead of the panel
// instead of waiting on every 64 KiB.
bool makeDataPipe(FileDescriptor& readEnd, FileDescriptor& writeEnd) {
    if (!makePipe(readEnd, writeEnd))
        return false;
    (void)::fcntl(writeEnd.get(), F_SETPIPE_SZ, int(kChunkBytes));
    return true;
}

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Forks and runs call with the given descriptors as its standard streams (-1: the null
// device). The child gets SIGTERM when the calling thread ends. The error is why it could not
// start (exec's errno comes back through a pipe).
Result<pid_t> spawnWith(const ProgramCall& call, int in, int out, int err) {
    Argv argv(call);
    FileDescriptor null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    FileDescriptor execRead;
    FileDescriptor execWrite;
    if (!null.isOpen() || !makePipe(execRead, execWrite))
        return errnoFailure(errno, call.program, QStringLiteral("pipe"));
    const int nullFd = null.get();
    const int execOut = execWrite.get();
    const int fds[3] = {in < 0 ? nullFd : in, out < 0 ? nullFd : out, err < 0 ? nullFd : err};
    const pid_t parent = ::getpid();

    const pid_t child = ::fork();
    if (child < 0)
        return errnoFailure(errno, call.program, QStringLiteral("fork"));
    if (child == 0) {
        // Only async-signal-safe calls from here on.
#if defined(__linux__)
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
#endif
        for (int sig = 1; sig < NSIG; ++sig)
            ::signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // Into descriptors above the standard ones first, so that no dup2 overwrites a source.
        int moved[3];
        for (int i = 0; i < 3; ++i)
            moved[i] = ::fcntl(fds[i], F_DUPFD, 10);
        for (int i = 0; i < 3; ++i)
            ::dup2(moved[i], i);
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(argv.storage.front().constData(), argv.pointers.data(), environ);
        const int e = errno;
        (void)!::write(execOut, &e, sizeof e);
        ::_exit(127);
    }
    execWrite = FileDescriptor();
    int execErrno = 0;
    ssize_t n = 0;
    do
        n = ::read(execRead.get(), &execErrno, sizeof execErrno);
    while (n < 0 && errno == EINTR);
    if (n == sizeof execErrno) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return errnoFailure(execErrno, call.program, QStringLiteral("execve"));
    }
    return child;
}

PipedExit exitOf(int status) {
    PipedExit e;
    if (WIFEXITED(status)) {
        e.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        e.exitStatus = WTERMSIG(status);
        e.signalled = true;
    }
    return e;
}

PipedExit reapBlocking(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return exitOf(status);
}

// Keeps the last kErrorBytes of what is appended.
void keepTail(QByteArray& tail, const char* data, qsizetype size) {
    tail.append(data, size);
    if (tail.size() > kErrorBytes)
        tail.remove(0, tail.size() - kErrorBytes);
}

// Reads what fd has now into tail; false at end of file or on an error.
bool drainInto(int fd, QByteArray& tail) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            keepTail(tail, buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

} // namespace

Result<PipelineExit> runPipeline(const ProgramCall& producer,
                                 const std::optional<ProgramCall>& consumer,
                                 const std::function<bool(QByteArrayView)>& onChunk) {
    // Writes to a consumer that has gone must fail with EPIPE rather than end the panel; the
    // children get the default back (spawnWith).
    static const bool ignored = [] {
        ::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)ignored;

    FileDescriptor dataRead, dataWrite, inRead, inWrite, err1Read, err1Write, err2Read, err2Write;
    // Nothing watches the stream: the consumer reads the producer's output itself, as in a
    // shell's pipeline, and the panel only gathers what they say on standard error.
    const bool relayed = !consumer || onChunk;
    if (!makeDataPipe(dataRead, dataWrite) || !makePipe(err1Read, err1Write) ||
        (consumer &&
         ((relayed && !makeDataPipe(inRead, inWrite)) || !makePipe(err2Read, err2Write))))
        return errnoFailure(errno, producer.program, QStringLiteral("pipe"));

    PipelineExit result;
    pid_t consumerPid = -1;
    if (consumer) {
        Result<pid_t> started =
            spawnWith(*consumer, relayed ? inRead.get() : dataRead.get(), -1, err2Write.get());
        if (!started)
            return std::unexpected(started.error());
        consumerPid = *started;
        inRead = FileDescriptor();
        err2Write = FileDescriptor();
        if (!relayed)
            dataRead = FileDescriptor();
    }
    Result<pid_t> started = spawnWith(producer, -1, dataWrite.get(), err1Write.get());
    if (!started) {
        inWrite = FileDescriptor(); // the consumer sees the end of its input and ends
        dataWrite = FileDescriptor();
        if (consumerPid > 0)
            reapBlocking(consumerPid);
        return std::unexpected(started.error());
    }
    const pid_t producerPid = *started;
    dataWrite = FileDescriptor();
    err1Write = FileDescriptor();
    if (relayed)
        setNonBlocking(dataRead.get());
    setNonBlocking(err1Read.get());
    if (consumer) {
        if (relayed)
            setNonBlocking(inWrite.get());
        setNonBlocking(err2Read.get());
    }

    // The chunk read last, and how much of it went to the consumer so far.
    std::vector<char> buffer(static_cast<size_t>(kChunkBytes));
    qsizetype chunkSize = 0;
    qsizetype written = 0;
    QByteArray producerErrors;
    QByteArray consumerErrors;
    bool dataOpen = relayed;
    bool err1Open = true;
    bool err2Open = consumer.has_value();
    while (dataOpen || err1Open || err2Open) {
        pollfd fds[4];
        int count = 0;
        int dataIndex = -1, inIndex = -1, err1Index = -1, err2Index = -1;
        const bool pending = written < chunkSize;
        if (dataOpen && !pending) {
            dataIndex = count;
            fds[count++] = {dataRead.get(), POLLIN, 0};
        }
        if (pending && inWrite.isOpen()) {
            inIndex = count;
            fds[count++] = {inWrite.get(), POLLOUT, 0};
        }
        if (err1Open) {
            err1Index = count;
            fds[count++] = {err1Read.get(), POLLIN, 0};
        }
        if (err2Open) {
            err2Index = count;
            fds[count++] = {err2Read.get(), POLLIN, 0};
        }
        if (count == 0)
            break;
        if (::poll(fds, nfds_t(count), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (err1Index >= 0 && fds[err1Index].revents != 0)
            err1Open = drainInto(err1Read.get(), producerErrors);
        if (err2Index >= 0 && fds[err2Index].revents != 0)
            err2Open = drainInto(err2Read.get(), consumerErrors);
        if (inIndex >= 0 && fds[inIndex].revents != 0) {
            const ssize_t n =
                ::write(inWrite.get(), buffer.data() + written, size_t(chunkSize - written));
            if (n > 0) {
                written += n;
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                // The consumer has gone: the producer is cut off.
                inWrite = FileDescriptor();
                dataRead = FileDescriptor();
                dataOpen = false;
                chunkSize = 0;
                written = 0;
            }
        }
        if (dataIndex >= 0 && fds[dataIndex].revents != 0) {
            const ssize_t n = ::read(dataRead.get(), buffer.data(), buffer.size());
            if (n > 0) {
                result.bytes += n;
                const QByteArrayView view(buffer.data(), n);
                if (onChunk && !onChunk(view)) {
                    result.stopped = true;
                    dataRead = FileDescriptor();
                    dataOpen = false;
                } else if (inWrite.isOpen()) {
                    chunkSize = n;
                    written = 0;
                }
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                dataRead = FileDescriptor();
                dataOpen = false;
            }
        }
        // Once the producer's output is over and passed on, the consumer's input ends.
        if (!dataOpen && written >= chunkSize && inWrite.isOpen())
            inWrite = FileDescriptor();
    }
    inWrite = FileDescriptor();
    result.producer = reapBlocking(producerPid);
    result.producer.errors = producerErrors;
    if (consumerPid > 0) {
        result.consumer = reapBlocking(consumerPid);
        result.consumer->errors = consumerErrors;
    }
    return result;
}

Result<pid_t> spawnTiedChild(const ProgramCall& call, const QString& errorLog) {
    FileDescriptor log;
    if (!errorLog.isEmpty()) {
        log = FileDescriptor(::open(QFile::encodeName(errorLog).constData(),
                                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        if (!log.isOpen())
            return errnoFailure(errno, errorLog, QStringLiteral("open"));
    }
    return spawnWith(call, -1, -1, log.isOpen() ? log.get() : -1);
}

std::optional<PipedExit> waitForTiedChild(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, timeoutMs < 0 ? 0 : WNOHANG);
        if (r == pid)
            return exitOf(status);
        if (r < 0 && errno != EINTR)
            return PipedExit{}; // not ours, or reaped already
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        if (r == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace platform
