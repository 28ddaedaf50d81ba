#include "platform/process_table.h"

#include "platform/file_descriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <pwd.h>
#include <regex.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// --- Extended regular expressions ---

struct ExtendedRegex::Compiled {
    regex_t regex{};
};

namespace {

bool isSpecialInExtendedRegex(char c) {
    return std::strchr(".[]()*+?{}|^$\\", c) != nullptr && c != '\0';
}

// The text a pattern stands for when it is made only of ordinary characters and of special
// ones escaped with a backslash (as a path escaped for pgrep is); nothing for any other.
std::optional<QByteArray> literalOf(const QByteArray& pattern) {
    QByteArray text;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '\\') {
            if (++i == pattern.size() || !isSpecialInExtendedRegex(pattern[i]))
                return std::nullopt; // a class such as \w, or a trailing backslash
            c = pattern[i];
        } else if (isSpecialInExtendedRegex(c)) {
            return std::nullopt;
        }
        text += c;
    }
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

bool isValidUtf8(std::string_view text);

} // namespace

ExtendedRegex::ExtendedRegex(const QString& pattern) : m_compiled(std::make_unique<Compiled>()) {
    const QByteArray bytes = pattern.toLocal8Bit();
    const int rc = ::regcomp(&m_compiled->regex, bytes.constData(), REG_EXTENDED | REG_NOSUB);
    if (rc != 0) {
        std::array<char, 256> text{};
        ::regerror(rc, &m_compiled->regex, text.data(), text.size());
        m_error = QString::fromLocal8Bit(text.data());
        if (m_error.isEmpty())
            m_error = QStringLiteral("invalid regular expression");
        m_compiled.reset();
        return;
    }
    // A byte search finds what regexec finds in a single-byte encoding, and in UTF-8 for
    // valid text (a character's bytes never occur inside another's); not in other multibyte
    // encodings.
    m_utf8 = std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0;
    if (m_utf8 || MB_CUR_MAX == 1)
        m_literal = literalOf(QByteArray(bytes.constData())); // regcomp stops at a NUL too
}

ExtendedRegex::~ExtendedRegex() {
    if (m_compiled)
        ::regfree(&m_compiled->regex);
}

bool ExtendedRegex::matches(const char* text) const {
    if (!m_compiled)
        return false;
    // The pattern's own matcher costs microseconds a line; the probe matches every process's.
    if (m_literal && (!m_utf8 || isValidUtf8(text)))
        return std::strstr(text, m_literal->constData()) != nullptr;
    return ::regexec(&m_compiled->regex, text, 0, nullptr, 0) == 0;
}

std::size_t ExtendedRegex::shortestMatch() const {
    return m_literal ? static_cast<std::size_t>(m_literal->size()) : 0;
}

// --- Command lines ---

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when the bytes there are not one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
        } else if (const std::size_t n = utf8SequenceLength(text, i); n > 0) {
            i += n;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

namespace {

// Appends the matchable form of raw (a non-empty cmdline without its trailing NULs) to out.
void appendMatchable(std::string_view raw, QByteArray& out) {
    for (std::size_t i = 0; i < raw.size();) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c == '\0' || c == '\n') {
            out += ' ';
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            out += '?';
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t n = utf8SequenceLength(raw, i); n > 0) {
            out.append(raw.data() + i, static_cast<qsizetype>(n));
            i += n;
        } else {
            out += '?';
            ++i;
        }
    }
}

std::string_view withoutTrailingNuls(const QByteArray& bytes) {
    std::string_view raw(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    while (!raw.empty() && raw.back() == '\0')
        raw.remove_suffix(1);
    return raw;
}

} // namespace

QByteArray matchableCommandLine(const QByteArray& rawCmdline, const QByteArray& shortName) {
    const std::string_view raw = withoutTrailingNuls(rawCmdline);
    if (raw.empty())
        return '[' + shortName + ']';
    QByteArray out;
    out.reserve(static_cast<qsizetype>(raw.size()));
    appendMatchable(raw, out);
    return out;
}

// --- Reading /proc ---

namespace {

using Fd = FileDescriptor;

Fd openProc() {
    return Fd(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// How a file tells its end: by an empty read (any file), or already by a read that fills
// less than it was given (a process's cmdline and stat, which the kernel hands out whole up
// to the size asked for; not the socket tables, handed out a page at a time).
enum class End { EmptyRead, ShortRead };

// Reads the whole of a /proc file into out; false when it cannot be opened or read (the
// process has ended, or it is not ours to read).
bool readAll(int dirFd, const char* path, QByteArray& out, End end = End::EmptyRead) {
    const Fd fd(::openat(dirFd, path, O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen())
        return false;
    // One buffer reused by every read of a scan: most files fit at once.
    if (out.capacity() < 4096)
        out.reserve(4096);
    qsizetype size = 0;
    for (;;) {
        if (out.size() < size + 4096)
            out.resize(std::max<qsizetype>(size + 4096, out.size() * 2));
        const ssize_t n =
            ::read(fd.get(), out.data() + size, static_cast<size_t>(out.size() - size));
        if (n > 0) {
            size += n;
            if (end == End::ShortRead && size < out.size()) {
                out.resize(size);
                return true;
            }
        } else if (n == 0) {
            out.resize(size);
            return true;
        } else if (errno != EINTR) {
            out.clear();
            return false;
        }
    }
}

struct PidPath {
    explicit PidPath(pid_t pid, const char* entry) {
        const int n =
            std::snprintf(text.data(), text.size(), "%d/%s", static_cast<int>(pid), entry);
        if (n < 0 || static_cast<std::size_t>(n) >= text.size())
            text[0] = '\0';
    }
    const char* c_str() const { return text.data(); }
    std::array<char, 48> text{};
};

// The process ids listed in /proc, in ascending order.
std::vector<pid_t> listPids(int procFd) {
    std::vector<pid_t> pids;
    const int dupFd = ::fcntl(procFd, F_DUPFD_CLOEXEC, 0);
    if (dupFd < 0)
        return pids;
    DIR* dir = ::fdopendir(dupFd);
    if (!dir) {
        ::close(dupFd);
        return pids;
    }
    pids.reserve(512);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        int pid = 0;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec == std::errc() && end == name.data() + name.size() && pid > 0)
            pids.push_back(pid);
    }
    ::closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}

struct StatLine {
    std::string_view shortName; // into the buffer it was read into
    char state = '?';
};

// "pid (name) S ...": the name may hold spaces and parentheses, so it ends at the last ')'.
std::optional<StatLine> readStat(int procFd, pid_t pid, QByteArray& buffer) {
    if (!readAll(procFd, PidPath(pid, "stat").c_str(), buffer, End::ShortRead))
        return std::nullopt;
    const qsizetype open = buffer.indexOf('(');
    const qsizetype close = buffer.lastIndexOf(')');
    if (open < 0 || close < open || close + 2 >= buffer.size())
        return std::nullopt;
    return StatLine{
        std::string_view(buffer.constData() + open + 1, static_cast<std::size_t>(close - open - 1)),
        buffer[close + 2]};
}

bool isEnded(char state) {
    return state == 'Z' || state == 'X' || state == 'x';
}

// Reads command lines one process after another, reusing its buffers.
struct CommandLineReader {
    int procFd = -1;
    QByteArray raw;
    QByteArray stat;
    QByteArray text; // the last command line read, NUL-terminated

    // Whether a process without arguments, shown as "[name]", may match at all.
    bool bracketedNamesMatter = true;

    // The matchable command line of a live process (valid until the next call), or nothing
    // when it has ended, is a zombie, or has no arguments while bracketedNamesMatter is false.
    const char* read(pid_t pid) {
        if (!readAll(procFd, PidPath(pid, "cmdline").c_str(), raw, End::ShortRead))
            return nullptr;
        text.resize(0);
        const std::string_view args = withoutTrailingNuls(raw);
        if (!args.empty()) {
            appendMatchable(args, text);
            return text.constData();
        }
        if (!bracketedNamesMatter)
            return nullptr;
        // A zombie has given up its memory, so its arguments read as empty: only then is its
        // state worth a read. A kernel thread shows as its name.
        const std::optional<StatLine> line = readStat(procFd, pid, stat);
        if (!line || isEnded(line->state))
            return nullptr;
        text += '[';
        text.append(line->shortName.data(), static_cast<qsizetype>(line->shortName.size()));
        text += ']';
        return text.constData();
    }

    bool isLive(pid_t pid) {
        const std::optional<StatLine> line = readStat(procFd, pid, stat);
        return line && !isEnded(line->state);
    }
};

template <typename Int> bool parseNumber(std::string_view text, Int& value, int base = 10) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

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
std::optional<quint64> socketInode(std::string_view link) {
    constexpr std::string_view prefix = "socket:[";
    quint64 inode = 0;
    if (link.size() > prefix.size() + 1 && link.starts_with(prefix) && link.back() == ']' &&
        parseNumber(link.substr(prefix.size(), link.size() - prefix.size() - 1), inode))
        return inode;
    return std::nullopt;
}

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
    const Fd sock(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
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
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, remaining);
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
    if (!readAll(procFd, file.path, text))
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

std::vector<InetSocket> readSocketsOnPort(int procFd, quint16 port, bool diagnostics) {
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

struct HeldSocket {
    int fd = -1;
    quint64 inode = 0;
};

// Which of pid's open files is one of the sockets (sorted inodes), if any. An unreadable list
// of open files (another user's process, or one that has ended) holds none.
std::optional<HeldSocket> heldSocket(int procFd, pid_t pid, const std::vector<quint64>& inodes) {
    const int fdDirFd =
        ::openat(procFd, PidPath(pid, "fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDirFd < 0)
        return std::nullopt;
    DIR* dir = ::fdopendir(fdDirFd);
    if (!dir) {
        ::close(fdDirFd);
        return std::nullopt;
    }
    std::optional<HeldSocket> found;
    char target[64];
    while (!found) {
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        if (entry->d_name[0] == '.')
            continue;
        const ssize_t n = ::readlinkat(fdDirFd, entry->d_name, target, sizeof target);
        if (n <= 0 || n >= static_cast<ssize_t>(sizeof target))
            continue;
        const std::optional<quint64> inode =
            socketInode(std::string_view(target, static_cast<std::size_t>(n)));
        if (inode && std::binary_search(inodes.begin(), inodes.end(), *inode)) {
            int fd = -1;
            if (parseNumber(std::string_view(entry->d_name), fd))
                found = HeldSocket{fd, *inode};
        }
    }
    ::closedir(dir);
    return found;
}

QString userName(uid_t uid) {
    passwd entry{};
    passwd* result = nullptr;
    std::array<char, 1024> buffer{};
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result)
        return QString::fromLocal8Bit(result->pw_name);
    return QString::number(uid);
}

} // namespace

// --- ProcessTable ---

std::vector<InetSocket> ProcessTable::socketsOnPort(quint16 port) const {
    const Fd proc = openProc();
    if (!proc.isOpen())
        return {};
    return readSocketsOnPort(proc.get(), port, useSocketDiagnostics);
}

std::vector<pid_t> ProcessTable::pidsOnPort(quint16 port, std::size_t limit) const {
    std::vector<pid_t> holders;
    const Fd proc = openProc();
    if (!proc.isOpen() || limit == 0)
        return holders;
    std::vector<quint64> inodes;
    for (const InetSocket& s : readSocketsOnPort(proc.get(), port, useSocketDiagnostics))
        inodes.push_back(s.inode);
    if (inodes.empty())
        return holders; // nothing to look for: no process list needed
    std::sort(inodes.begin(), inodes.end());
    for (const pid_t pid : listPids(proc.get())) {
        if (afterListing)
            afterListing(pid);
        if (heldSocket(proc.get(), pid, inodes)) {
            holders.push_back(pid);
            if (holders.size() >= limit)
                break;
        }
    }
    return holders;
}

std::optional<pid_t> ProcessTable::firstPidOnPort(quint16 port) const {
    const std::vector<pid_t> pids = pidsOnPort(port, 1);
    if (pids.empty())
        return std::nullopt;
    return pids.front();
}

std::optional<pid_t> ProcessTable::rememberedHolder(int procFd, quint16 port) const {
    if (!m_lastHolder || m_lastHolder->port != port)
        return std::nullopt;
    // The same socket behind the same descriptor is still on the port.
    char target[64];
    const ssize_t n = ::readlinkat(
        procFd,
        PidPath(m_lastHolder->pid, ("fd/" + std::to_string(m_lastHolder->fd)).c_str()).c_str(),
        target, sizeof target);
    if (n > 0 && n < static_cast<ssize_t>(sizeof target) &&
        socketInode(std::string_view(target, static_cast<std::size_t>(n))) == m_lastHolder->inode)
        return m_lastHolder->pid;
    m_lastHolder.reset();
    return std::nullopt;
}

std::optional<pid_t> ProcessTable::rememberedHolderOfPort(quint16 port) const {
    const Fd proc = openProc();
    if (!proc.isOpen())
        return std::nullopt;
    const std::lock_guard lock(m_mutex);
    return rememberedHolder(proc.get(), port);
}

std::optional<pid_t> ProcessTable::holderOfPort(quint16 port) const {
    const Fd proc = openProc();
    if (!proc.isOpen())
        return std::nullopt;
    const std::lock_guard lock(m_mutex);
    if (const std::optional<pid_t> pid = rememberedHolder(proc.get(), port))
        return pid;
    const std::vector<InetSocket> sockets =
        readSocketsOnPort(proc.get(), port, useSocketDiagnostics);
    if (sockets.empty())
        return std::nullopt;
    std::vector<quint64> inodes;
    for (const InetSocket& s : sockets)
        inodes.push_back(s.inode);
    std::sort(inodes.begin(), inodes.end());
    for (const pid_t pid : listPids(proc.get())) {
        if (afterListing)
            afterListing(pid);
        const std::optional<HeldSocket> held = heldSocket(proc.get(), pid, inodes);
        if (!held)
            continue;
        // Remembered only where the socket keeps its place in the socket tables as long as it
        // is open: a listener, or a datagram socket bound to the port. A connection leaves
        // the tables when it is reset, though its holder may keep it open.
        const auto socket = std::find_if(sockets.begin(), sockets.end(), [&](const InetSocket& s) {
            return s.inode == held->inode;
        });
        if (socket->listening || (socket->transport == Transport::Udp && socket->localPort == port))
            m_lastHolder = LastHolder{pid, held->fd, held->inode, port};
        return pid;
    }
    return std::nullopt;
}

std::vector<ProcessInfo> ProcessTable::portHolders(quint16 port) const {
    std::vector<ProcessInfo> holders;
    for (const pid_t pid : pidsOnPort(port)) {
        if (std::optional<ProcessInfo> info = process(pid))
            holders.push_back(std::move(*info));
    }
    return holders;
}

std::vector<pid_t> ProcessTable::pidsMatching(const ExtendedRegex& pattern,
                                              std::size_t limit) const {
    std::vector<pid_t> matches;
    const Fd proc = openProc();
    if (!proc.isOpen() || !pattern.isValid() || limit == 0)
        return matches;
    CommandLineReader reader;
    reader.procFd = proc.get();
    // A kernel's short name of a program has at most 15 bytes: a pattern that needs a longer
    // text cannot match "[name]", so the many kernel threads cost one read each.
    constexpr std::size_t kLongestBracketedName = 15 + 2;
    reader.bracketedNamesMatter = pattern.shortestMatch() <= kLongestBracketedName;
    for (const pid_t pid : listPids(proc.get())) {
        if (afterListing)
            afterListing(pid);
        const char* commandLine = reader.read(pid);
        // A process may end after its arguments were read: check that it is still live.
        if (commandLine && pattern.matches(commandLine) && reader.isLive(pid)) {
            matches.push_back(pid);
            if (matches.size() >= limit)
                break;
        }
    }
    return matches;
}

bool ProcessTable::anyMatching(const ExtendedRegex& pattern) const {
    return !pidsMatching(pattern, 1).empty();
}

std::optional<ProcessInfo> ProcessTable::process(pid_t pid) const {
    const Fd proc = openProc();
    if (!proc.isOpen() || pid <= 0)
        return std::nullopt;
    struct stat st {};
    if (::fstatat(proc.get(), PidPath(pid, "").c_str(), &st, 0) != 0)
        return std::nullopt;
    QByteArray statBuffer;
    const std::optional<StatLine> stat = readStat(proc.get(), pid, statBuffer);
    QByteArray raw;
    if (!stat || isEnded(stat->state) || !readAll(proc.get(), PidPath(pid, "cmdline").c_str(), raw))
        return std::nullopt;
    const QByteArray shortName(stat->shortName.data(),
                               static_cast<qsizetype>(stat->shortName.size()));
    ProcessInfo info;
    info.pid = pid;
    info.uid = st.st_uid;
    info.user = userName(st.st_uid);
    info.program = QString::fromUtf8(shortName);
    info.commandLine = QString::fromUtf8(matchableCommandLine(raw, shortName));
    return info;
}

} // namespace platform
