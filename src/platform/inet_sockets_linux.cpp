#include "platform/inet_sockets_linux.h"

#include "platform/proc_linux.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::inet {

namespace {

// NLMSG_OK without its comparison of a signed length with the header's unsigned one.
bool messageFits(const nlmsghdr* h, int remaining) {
    return remaining >= static_cast<int>(sizeof(nlmsghdr)) && h->nlmsg_len >= sizeof(nlmsghdr) &&
           h->nlmsg_len <= static_cast<unsigned>(remaining);
}

using proc::parseNumber;

// One line of /proc/net/{tcp,udp}{,6}:
// "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...".
std::optional<InetSocket> parseSocketLine(std::string_view line) {
    std::array<std::string_view, 10> fields;
    std::size_t count = 0;
    std::size_t i = 0;
    while (count < fields.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        fields[count++] = line.substr(start, i - start);
    }
    if (count < fields.size())
        return std::nullopt;
    const auto portOf = [](std::string_view address, quint16& port) {
        const std::size_t colon = address.rfind(':');
        return colon != std::string_view::npos && parseNumber(address.substr(colon + 1), port, 16);
    };
    InetSocket s;
    unsigned state = 0;
    unsigned long uid = 0;
    if (!portOf(fields[1], s.localPort) || !portOf(fields[2], s.remotePort) ||
        !parseNumber(fields[3], state, 16) || !parseNumber(fields[7], uid) ||
        !parseNumber(fields[9], s.inode))
        return std::nullopt;
    s.uid = static_cast<uid_t>(uid);
    s.listening = state == 0x0A; // TCP_LISTEN
    return s;
}

// The inode of a socket from an open file's link text "socket:[inode]".
struct SocketFile {
    const char* path;
    Transport transport;
    bool ipv6;
};
constexpr std::array<SocketFile, 4> kSocketFiles{{
    {"net/tcp", Transport::Tcp, false},
    {"net/tcp6", Transport::Tcp, true},
    {"net/udp", Transport::Udp, false},
    {"net/udp6", Transport::Udp, true},
}};

// One question to the kernel's socket diagnostics: the TCP sockets of both address
// families (the older request form asks for both in one walk of the connection table), or the
// UDP sockets of one family.
struct DiagnosticsQuery {
    Transport transport;
    bool ipv6;                       // UDP only
    std::array<SocketFile, 2> files; // what to read instead when the kernel does not answer
    int fileCount;
};
constexpr std::array<DiagnosticsQuery, 3> kQueries{{
    {Transport::Tcp, false, {kSocketFiles[0], kSocketFiles[1]}, 2},
    {Transport::Udp, false, {kSocketFiles[2], kSocketFiles[2]}, 1},
    {Transport::Udp, true, {kSocketFiles[3], kSocketFiles[3]}, 1},
}};

// The sockets of the query's kind whose local or remote port is port, filtered by the
// kernel. Nothing when the kernel does not answer (no diagnostics module): then the caller
// reads /proc/net, which formats every socket of the machine and walks the whole connection
// table again for each block it reads.
std::optional<std::vector<InetSocket>> askSocketDiagnostics(const DiagnosticsQuery& query,
                                                            quint16 port) {
    const FileDescriptor sock(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!sock.isOpen())
        return std::nullopt;
    // The request: a header, the question, and a filter program that accepts a socket whose
    // local port is port or else whose remote port is. Jumps are relative to each operation;
    // the end (20) accepts, the end + 4 rejects.
    const inet_diag_bc_op program[5] = {
        {INET_DIAG_BC_S_EQ, 8, 12}, {0, 0, port}, {INET_DIAG_BC_JMP, 4, 12},
        {INET_DIAG_BC_D_EQ, 8, 12}, {0, 0, port},
    };
    alignas(nlmsghdr) std::array<char, 256> request{};
    std::size_t length = NLMSG_HDRLEN;
    const auto append = [&](const void* data, std::size_t size) {
        std::memcpy(request.data() + length, data, size);
        length += NLMSG_ALIGN(size);
    };
    nlmsghdr header{};
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    if (query.transport == Transport::Tcp) {
        header.nlmsg_type = TCPDIAG_GETSOCK;
        inet_diag_req tcp{};
        tcp.idiag_states = ~0U;
        append(&tcp, sizeof tcp);
    } else {
        header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        inet_diag_req_v2 udp{};
        udp.sdiag_family = query.ipv6 ? AF_INET6 : AF_INET;
        udp.sdiag_protocol = IPPROTO_UDP;
        udp.idiag_states = ~0U;
        append(&udp, sizeof udp);
    }
    rtattr attribute{};
    attribute.rta_len = RTA_LENGTH(sizeof program);
    attribute.rta_type = INET_DIAG_REQ_BYTECODE;
    append(&attribute, sizeof attribute);
    append(program, sizeof program);
    header.nlmsg_len = static_cast<quint32>(length);
    std::memcpy(request.data(), &header, sizeof header);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(sock.get(), request.data(), length, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != static_cast<ssize_t>(length))
        return std::nullopt;

    std::vector<InetSocket> sockets;
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(sock.get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        int remaining = static_cast<int>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); messageFits(h, remaining);
             h = NLMSG_NEXT(h, remaining)) {
            if (h->nlmsg_type == NLMSG_DONE)
                return sockets;
            if (h->nlmsg_type != header.nlmsg_type ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                return std::nullopt; // an error: the kernel cannot answer this kind
            const auto* msg = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
            // Inode 0: a closing connection that no process holds any more.
            if (msg->idiag_inode == 0 ||
                (ntohs(msg->id.idiag_sport) != port && ntohs(msg->id.idiag_dport) != port))
                continue;
            InetSocket s;
            s.transport = query.transport;
            s.ipv6 = msg->idiag_family == AF_INET6;
            s.localPort = ntohs(msg->id.idiag_sport);
            s.remotePort = ntohs(msg->id.idiag_dport);
            s.listening = query.transport == Transport::Tcp && msg->idiag_state == 0x0A;
            s.uid = msg->idiag_uid;
            s.inode = msg->idiag_inode;
            sockets.push_back(s);
        }
    }
}

void readSocketFile(int procFd, const SocketFile& file, quint16 port, QByteArray& text,
                    std::vector<InetSocket>& sockets) {
    if (!proc::readAll(procFd, file.path, text))
        return; // no IPv6 on this machine, for instance
    std::string_view rest(text.constData(), static_cast<std::size_t>(text.size()));
    bool header = true;
    while (!rest.empty()) {
        const std::size_t eol = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(std::min(eol + 1, rest.size()));
        if (std::exchange(header, false))
            continue;
        std::optional<InetSocket> s = parseSocketLine(line);
        // Inode 0: a connection in its closing states that no process holds any more.
        if (!s || s->inode == 0 || (s->localPort != port && s->remotePort != port))
            continue;
        s->transport = file.transport;
        s->ipv6 = file.ipv6;
        sockets.push_back(*s);
    }
}

} // namespace

std::vector<InetSocket> socketsOnPort(int procFd, quint16 port, bool diagnostics) {
    std::vector<InetSocket> sockets;
    QByteArray text;
    for (const DiagnosticsQuery& query : kQueries) {
        std::optional<std::vector<InetSocket>> found;
        if (diagnostics)
            found = askSocketDiagnostics(query, port);
        if (found) {
            sockets.insert(sockets.end(), found->begin(), found->end());
        } else {
            for (int i = 0; i < query.fileCount; ++i)
                readSocketFile(procFd, query.files[static_cast<std::size_t>(i)], port, text,
                               sockets);
        }
    }
    return sockets;
}

} // namespace platform::inet
