#include "readiness.h"

#include "process.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Pause between two connection attempts on a port that refused.
constexpr milliseconds kRetryInterval{10};
// How often the launched server's life is looked at (reading /proc costs more than a connect).
constexpr milliseconds kAliveInterval{40};
// Pause after the port answered from a listener that is not the launched server.
constexpr milliseconds kForeignInterval{100};
// How often the listeners on ports that are still held are named while waiting for a stop.
constexpr milliseconds kNamingInterval{200};

struct Attempt {
    int fd = -1;
    Clock::time_point next{};
    Clock::time_point nextAliveCheck{};
    Clock::time_point deadline{};
    int deadChecks = 0;
    bool done = false;
};

// Starts a non-blocking connect; -1 when the connection was refused at once (or the socket
// could not be made), else the descriptor, connected or still connecting.
int startConnect(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EINPROGRESS)
        return fd;
    ::close(fd);
    return -1;
}

bool connectSucceeded(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

std::vector<ReadinessResult> waitUntilReady(const std::vector<ReadinessProbe>& probes,
                                            const std::function<bool()>& stopAsked) {
    const Clock::time_point start = Clock::now();
    std::vector<ReadinessResult> results(probes.size());
    std::vector<Attempt> attempts(probes.size());
    for (size_t i = 0; i < probes.size(); ++i) {
        attempts[i].next = start;
        attempts[i].nextAliveCheck = start;
        attempts[i].deadline = start + probes[i].limit;
    }

    // The port answered: ready when the listener is the launched server; another listener
    // is recorded and the probe goes on (the launched server may still take over).
    auto holderOf = [&](size_t i) {
        return tcpPortHolder(probes[i].port, probes[i].likelyHolders ? probes[i].likelyHolders()
                                                                     : std::vector<pid_t>{});
    };
    auto answered = [&](size_t i) {
        const std::optional<PortHolder> holder = holderOf(i);
        if (holder && probes[i].isOwnServer(*holder)) {
            results[i] = {Readiness::Ready, holder};
            attempts[i].done = true;
        } else {
            results[i].holder = holder;
            // Naming a listener reads all of /proc: a foreign one is not asked about often.
            attempts[i].next = Clock::now() + kForeignInterval;
        }
    };
    auto finish = [&](size_t i, Readiness state) {
        closeFd(attempts[i].fd);
        attempts[i].done = true;
        results[i].state = state;
        // A server that bound its port at its very last moment still counts as ready.
        const std::optional<PortHolder> holder = holderOf(i);
        if (holder && probes[i].isOwnServer(*holder))
            results[i] = {Readiness::Ready, holder};
        else
            results[i].holder = holder;
    };

    Clock::time_point nextStopCheck = start;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (stopAsked && now >= nextStopCheck) {
            nextStopCheck = now + kAliveInterval;
            if (stopAsked()) {
                for (size_t i = 0; i < probes.size(); ++i) {
                    if (!attempts[i].done)
                        finish(i, Readiness::Stopped);
                }
                break;
            }
        }
        std::vector<pollfd> polled;
        std::vector<size_t> owners;
        Clock::time_point wake = now + kAliveInterval;
        for (size_t i = 0; i < probes.size(); ++i) {
            Attempt& a = attempts[i];
            if (a.done)
                continue;
            if (now >= a.deadline) {
                finish(i, Readiness::TimedOut);
                continue;
            }
            if (now >= a.nextAliveCheck) {
                a.nextAliveCheck = now + kAliveInterval;
                // Twice in a row: a server that is just replacing its program (exec) shows no
                // command line for a moment.
                if (probes[i].launchAlive && !probes[i].launchAlive()) {
                    if (++a.deadChecks >= 2) {
                        finish(i, Readiness::Ended);
                        continue;
                    }
                } else {
                    a.deadChecks = 0;
                }
            }
            if (a.fd < 0 && now >= a.next) {
                a.fd = startConnect(probes[i].port);
                a.next = now + kRetryInterval;
            }
            if (a.fd >= 0) {
                polled.push_back({a.fd, POLLOUT, 0});
                owners.push_back(i);
            } else {
                wake = std::min(wake, a.next);
            }
            wake = std::min({wake, a.deadline, a.nextAliveCheck});
        }
        if (stopAsked)
            wake = std::min(wake, nextStopCheck);
        if (std::all_of(attempts.begin(), attempts.end(), [](const Attempt& a) { return a.done; }))
            break;

        const auto waitMs = std::chrono::duration_cast<milliseconds>(wake - Clock::now()).count();
        const int timeout = static_cast<int>(std::clamp<long long>(waitMs, 0, 1000));
        if (polled.empty()) {
            std::this_thread::sleep_for(milliseconds(timeout));
            continue;
        }
        if (::poll(polled.data(), polled.size(), timeout) <= 0)
            continue;
        for (size_t k = 0; k < polled.size(); ++k) {
            if (polled[k].revents == 0)
                continue;
            const size_t i = owners[k];
            const bool connected = connectSucceeded(attempts[i].fd);
            closeFd(attempts[i].fd);
            attempts[i].next = Clock::now() + kRetryInterval;
            if (connected)
                answered(i);
        }
    }
    return results;
}

std::vector<std::optional<PortHolder>>
waitUntilPortsFree(const std::vector<quint16>& ports, milliseconds limit,
                   const std::function<bool(size_t, const PortHolder&)>& waitsFor) {
    const Clock::time_point deadline = Clock::now() + limit;
    // Per port: its listener, when last named, was one that waitsFor lets go.
    std::vector<char> letGo(ports.size(), 0);
    Clock::time_point nextNaming = Clock::now();
    for (;;) {
        bool waiting = false;
        const bool naming = waitsFor && Clock::now() >= nextNaming;
        if (naming)
            nextNaming = Clock::now() + kNamingInterval;
        for (size_t i = 0; i < ports.size(); ++i) {
            if (!isTcpPortListening(ports[i])) {
                letGo[i] = 0;
                continue;
            }
            if (!waitsFor) {
                waiting = true;
                continue;
            }
            if (naming) {
                const std::optional<PortHolder> holder = tcpPortHolder(ports[i]);
                letGo[i] = holder && !waitsFor(i, *holder) ? 1 : 0;
            }
            if (!letGo[i])
                waiting = true;
        }
        if (!waiting || Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(milliseconds(20));
    }
    std::vector<std::optional<PortHolder>> holders;
    holders.reserve(ports.size());
    for (quint16 port : ports)
        holders.push_back(tcpPortHolder(port));
    return holders;
}

void waitUntilEnded(const std::vector<pid_t>& pids, milliseconds limit,
                    const std::function<bool()>& stopAsked) {
    const Clock::time_point deadline = Clock::now() + limit;
    Clock::time_point nextStopCheck = Clock::now();
    while (std::any_of(pids.begin(), pids.end(), isProcessAlive) && Clock::now() < deadline) {
        if (stopAsked && Clock::now() >= nextStopCheck) {
            if (stopAsked())
                return;
            nextStopCheck = Clock::now() + kAliveInterval;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
}

} // namespace platform
