// A tiny server for tests: listens on a TCP port and accepts (and closes) connections until it
// is killed or its lifetime has passed.
//
//   zelto_port_listener PORT [4|6|46] [DELAY_MS] [LIFETIME_S]
//
// 4: 0.0.0.0, 6: :: only, 46 (default): :: accepting IPv4 as well. DELAY_MS waits before
// binding. Prints "listening" once bound; exits 1 when the port cannot be bound.
//
//   zelto_port_listener [ANY ARGUMENTS] -S HOST:PORT [ANY ARGUMENTS]
//
// The form of PHP's built-in server, for stand-ins that must look like one (or like another
// server, started under another program name): listens on PORT of all IPv4 addresses until
// killed, whatever else the command line holds.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    int port = std::atoi(argv[1]);
    const char* family = argc > 2 ? argv[2] : "46";
    int delayMs = argc > 3 ? std::atoi(argv[3]) : 0;
    int lifetime = argc > 4 ? std::atoi(argv[4]) : 120;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-S") == 0) {
            const char* colon = std::strrchr(argv[i + 1], ':');
            port = colon ? std::atoi(colon + 1) : 0;
            family = "4";
            delayMs = 0;
            lifetime = 3600;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

    const bool v4 = std::strcmp(family, "4") == 0;
    const int fd = ::socket(v4 ? AF_INET : AF_INET6, SOCK_STREAM, 0);
    const int yes = 1, v6only = std::strcmp(family, "6") == 0 ? 1 : 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    int rc;
    if (v4) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_addr = in6addr_any;
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (rc != 0 || ::listen(fd, 16) != 0) {
        std::fprintf(stderr, "cannot listen on port %d: %s\n", port, std::strerror(errno));
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) > 0) {
            const int c = ::accept(fd, nullptr, nullptr);
            if (c >= 0)
                ::close(c);
        }
    }
    return 0;
}
