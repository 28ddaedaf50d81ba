#include "core/process_helpers.h"
#include "platform/process.h"
#include "platform/process_table.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::ExtendedRegex;
using platform::ProcessSource;
using platform::ProcessTable;
using platform::Transport;

namespace {

// The ways this build can read the machine: /proc where it is built for Linux, and the
// system tools (lsof, pgrep, ps) always. Every case runs with each.
struct NamedSource {
    const char* name;
    std::shared_ptr<const ProcessSource> source;
};
std::vector<NamedSource> sources() {
    std::vector<NamedSource> all;
#ifndef ZELTO_PORTABLE_PLATFORM
    all.push_back({"/proc", platform::procProcessSource()});
#endif
    all.push_back({"tools", platform::toolProcessSource()});
    return all;
}
std::shared_ptr<const ProcessSource> sourceAt(int index) {
    return sources().at(static_cast<std::size_t>(index)).source;
}

// Children forked from the test, killed and reaped at the end of the scope. A child closes
// what it inherited, runs its body (async-signal-safe calls), reports on a pipe, and then
// waits to be killed.
class Children {
public:
    ~Children() {
        for (const pid_t pid : m_pids)
            reap(pid);
    }
    template <typename Body> pid_t fork(Body body) {
        int ready[2];
        if (::pipe(ready) != 0)
            return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a test that crashed
            // Nothing inherited but the report pipe: the child holds only its own sockets.
            const auto keep = static_cast<unsigned>(ready[1]);
            ::close_range(3, keep - 1, 0);
            ::close_range(keep + 1, ~0U, 0);
            body();
            (void)!::write(ready[1], "x", 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char c = 0;
        if (pid > 0) {
            m_pids.push_back(pid);
            (void)!::read(ready[0], &c, 1);
        }
        ::close(ready[0]);
        return pid;
    }
    // Ends pid at once: gone from /proc when this returns.
    void reap(pid_t pid) {
        const auto it = std::find(m_pids.begin(), m_pids.end(), pid);
        if (it == m_pids.end())
            return;
        m_pids.erase(it);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }

private:
    std::vector<pid_t> m_pids;
};

struct Endpoint {
    int family = AF_INET;
    int type = SOCK_STREAM;
};

sockaddr_storage loopback(int family, quint16 port) {
    sockaddr_storage a{};
    if (family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(&a);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        in6->sin6_addr = in6addr_loopback;
    }
    return a;
}

socklen_t lengthOf(int family) {
    return family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

// A socket bound to an ephemeral loopback port (listening when it is TCP); -1 on failure.
int bindEphemeral(Endpoint e, quint16& port) {
    const int fd = ::socket(e.family, e.type | SOCK_CLOEXEC, 0);
    sockaddr_storage a = loopback(e.family, 0);
    socklen_t length = lengthOf(e.family);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), length) != 0 ||
        (e.type == SOCK_STREAM && ::listen(fd, 8) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(e.family == AF_INET ? reinterpret_cast<sockaddr_in*>(&a)->sin_port
                                     : reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
    return fd;
}

// In a forked child: a socket connected to the port (for UDP, a connected datagram socket).
void connectTo(Endpoint e, quint16 port) {
    const int fd = ::socket(e.family, e.type, 0);
    const sockaddr_storage a = loopback(e.family, port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&a), lengthOf(e.family)) != 0)
        ::_exit(3);
}

std::vector<pid_t> sorted(std::vector<pid_t> pids) {
    std::sort(pids.begin(), pids.end());
    return pids;
}

// The pids that `pgrep -f pattern` prints.
std::vector<pid_t> pgrep(const QString& pattern) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/pgrep"), {QStringLiteral("-f"), pattern});
    p.waitForFinished();
    std::vector<pid_t> pids;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            pids.push_back(line.toInt());
    }
    return pids;
}

char stateOf(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray line = f.readAll();
    return line.at(line.lastIndexOf(')') + 2);
}

QByteArray ownShortName() {
    QFile f(QStringLiteral("/proc/self/comm"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

} // namespace

class TestProcessTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void matchableCommandLine_data();
    void matchableCommandLine();
    void portHeldByListenerAndClient_data();
    void portHeldByListenerAndClient();
    void commandLinesMatchAsPgrep_data();
    void commandLinesMatchAsPgrep();
    void zombiesCountAsEnded_data() { eachSource_data(); }
    void zombiesCountAsEnded();
    void processEndingWhileReadIsSkipped_data() { eachSource_data(); }
    void processEndingWhileReadIsSkipped();
    void forkingServerProcesses_data() { eachSource_data(); }
    void forkingServerProcesses();
#ifndef ZELTO_PORTABLE_PLATFORM
    void sourcesAgree_data();
    void sourcesAgree();
#endif

private:
    void eachSource_data();
};

void TestProcessTable::matchableCommandLine_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("arguments joined by spaces")
        << QByteArray("php\0-S\0000.0.0.0:8000\0", 19) << QByteArray("php -S 0.0.0.0:8000");
    QTest::newRow("empty arguments inside kept, trailing dropped")
        << QByteArray("a\0\0b\0\0\0", 7) << QByteArray("a  b");
    QTest::newRow("no terminating NUL") << QByteArray("x y") << QByteArray("x y");
    QTest::newRow("line feed as space, other controls as ?") << QByteArray("a\nb\tc\rd\x7f"
                                                                           "e")
                                                             << QByteArray("a b?c?d?e");
    QTest::newRow("Chinese kept") << QByteArray("服务\0状态", 13) << QByteArray("服务 状态");
    QTest::newRow("invalid UTF-8 bytes as ?") << QByteArray("a\xff\xfe"
                                                            "b\xe4\xb8")
                                              << QByteArray("a??b??");
    QTest::newRow("overlong and surrogate as ?")
        << QByteArray("\xc0\xaf\xed\xa0\x80") << QByteArray("?????");
    QTest::newRow("kernel thread") << QByteArray() << QByteArray("[kthreadd]");
}

void TestProcessTable::matchableCommandLine() {
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, expected);
    QCOMPARE(platform::matchableCommandLine(raw, "kthreadd"), expected);
}

void TestProcessTable::portHeldByListenerAndClient_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("diagnostics");
    const std::vector<NamedSource> all = sources();
    for (int i = 0; i < int(all.size()); ++i) {
        const bool proc = all[std::size_t(i)].source != platform::toolProcessSource();
        for (const bool diagnostics : {true, false}) {
            if (!proc && !diagnostics)
                continue; // the tools have no choice of socket tables
            const char* from = !proc ? "lsof" : diagnostics ? "socket diagnostics" : "/proc/net";
            QTest::addRow("tcp ipv4, %s", from)
                << i << int(AF_INET) << int(SOCK_STREAM) << diagnostics;
            QTest::addRow("tcp ipv6, %s", from)
                << i << int(AF_INET6) << int(SOCK_STREAM) << diagnostics;
            QTest::addRow("udp ipv4, %s", from)
                << i << int(AF_INET) << int(SOCK_DGRAM) << diagnostics;
            QTest::addRow("udp ipv6, %s", from)
                << i << int(AF_INET6) << int(SOCK_DGRAM) << diagnostics;
        }
    }
}

// The listener here, a client in a child: both hold the port, as lsof -ti :PORT lists them.
void TestProcessTable::portHeldByListenerAndClient() {
    QFETCH(int, source);
    QFETCH(int, family);
    QFETCH(int, type);
    QFETCH(bool, diagnostics);
    const Endpoint e{family, type};
    quint16 port = 0;
    const int listener = bindEphemeral(e, port);
    if (listener < 0)
        QSKIP("this machine has no loopback for this address family");
    Children children;
    const pid_t client = children.fork([&] { connectTo(e, port); });
    // A bystander with sockets of every kind on other ports.
    const pid_t bystander = children.fork([] {
        for (const Endpoint other :
             {Endpoint{AF_INET, SOCK_STREAM}, Endpoint{AF_INET, SOCK_DGRAM},
              Endpoint{AF_INET6, SOCK_STREAM}, Endpoint{AF_INET6, SOCK_DGRAM}}) {
            quint16 unused = 0;
            bindEphemeral(other, unused);
        }
    });
    QVERIFY(client > 0 && bystander > 0);
    int accepted = -1;
    if (type == SOCK_STREAM)
        QVERIFY((accepted = ::accept(listener, nullptr, nullptr)) >= 0);

    ProcessTable table(sourceAt(source));
    table.useSocketDiagnostics = diagnostics;
    const auto sockets = table.socketsOnPort(port);
    const auto has = [&](auto pred) { return std::any_of(sockets.begin(), sockets.end(), pred); };
    QVERIFY(has([&](const platform::InetSocket& s) {
        return s.localPort == port && s.listening == (type == SOCK_STREAM);
    }));
    QVERIFY(has([&](const platform::InetSocket& s) {
        return s.remotePort == port && !s.listening && s.uid == ::geteuid() &&
               s.ipv6 == (family == AF_INET6) &&
               s.transport == (type == SOCK_STREAM ? Transport::Tcp : Transport::Udp);
    }));
    QCOMPARE(table.pidsOnPort(port), sorted({::getpid(), client}));
    QCOMPARE(table.firstPidOnPort(port), std::min(::getpid(), client));
    // Asked twice: the second answer comes from the holder found first, still holding.
    const std::optional<pid_t> holder = table.holderOfPort(port);
    QVERIFY(holder == ::getpid() || holder == client);
    QCOMPARE(table.holderOfPort(port), holder);

    const auto holders = table.portHolders(port);
    const auto childInfo = std::find_if(holders.begin(), holders.end(),
                                        [&](const auto& h) { return h.pid == client; });
    QVERIFY(childInfo != holders.end());
    QCOMPARE(childInfo->uid, ::geteuid());
    QVERIFY(!childInfo->user.isEmpty());
    QCOMPARE(childInfo->program.toUtf8(), ownShortName());
    QVERIFY(childInfo->commandLine.contains(QStringLiteral("tst_process_table")));

    // Once the listener and the client are gone, nobody holds the port.
    children.reap(client);
    if (accepted >= 0)
        ::close(accepted);
    ::close(listener);
    QVERIFY(table.pidsOnPort(port).empty());
    QCOMPARE(table.holderOfPort(port), std::nullopt);
}

void TestProcessTable::commandLinesMatchAsPgrep_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("pattern"); // %1: a token unique to this run
    QTest::addColumn<bool>("matches");
    const QString chinese = QStringLiteral("服务 状态 [a+b]*(c)|$x");
    const std::vector<NamedSource> all = sources();
    for (int i = 0; i < int(all.size()); ++i) {
        const auto newRow = [&](const char* name) -> QTestData& {
            return QTest::addRow("%s, %s", name, all[std::size_t(i)].name) << i;
        };
        newRow("spaces") << QStringLiteral("%1 with  two spaces")
                         << QStringLiteral("read x %1 with  two spaces$") << true;
        newRow("arguments joined by one space")
            << QStringLiteral("%1") << QStringLiteral("^/bin/sh -c read x %1$") << true;
        newRow("Chinese and regex characters, escaped")
            << QStringLiteral("%1 ") + chinese
            << QStringLiteral("%1 ") + core::escapeExtendedRegex(chinese) << true;
        newRow("escaped text found inside a longer line")
            << QStringLiteral("x/%1/a.b/服务") << QStringLiteral("%1/a\\.b/服") << true;
        newRow("escaped text that differs by one character")
            << QStringLiteral("%1 a.b") << QStringLiteral("%1 a\\.c") << false;
        newRow("longer than a page, matched at its end")
            << QStringLiteral("%1 ") + QString(6000, QLatin1Char('x')) + QStringLiteral(" tail")
            << QStringLiteral("%1 ") + QString(6000, QLatin1Char('x')) + QStringLiteral(" tail")
            << true;
        newRow("regex characters unescaped")
            << QStringLiteral("%1 a+b(c)") << QStringLiteral("%1 a+b(c)") << false;
        newRow("extended syntax") << QStringLiteral("%1 mysqld-xyz")
                                  << QStringLiteral("%1 (mariadbd|mysqld)-x?y{1}") << true;
        newRow("invalid pattern") << QStringLiteral("%1 (") << QStringLiteral("%1 (") << false;
    }
}

// A shell waiting on its standard input carries the argument in its command line; the table
// finds exactly what pgrep -f finds.
void TestProcessTable::commandLinesMatchAsPgrep() {
    QFETCH(int, source);
    QFETCH(QString, argument);
    QFETCH(QString, pattern);
    QFETCH(bool, matches);
    const QString token = QStringLiteral("zt%1q").arg(::getpid());
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("read x"), argument.arg(token)});
    QVERIFY(shell.waitForStarted());
    const auto finish = qScopeGuard([&] {
        shell.closeWriteChannel();
        shell.waitForFinished();
    });

    const ExtendedRegex regex(pattern.arg(token));
    const ProcessTable table(sourceAt(source));
    const std::vector<pid_t> found = table.pidsMatching(regex);
    QCOMPARE(found, matches ? std::vector<pid_t>{pid_t(shell.processId())} : std::vector<pid_t>{});
    QCOMPARE(table.anyMatching(regex), matches);
    if (QFile::exists(QStringLiteral("/usr/bin/pgrep")))
        QCOMPARE(found, pgrep(pattern.arg(token)));
}

void TestProcessTable::eachSource_data() {
    QTest::addColumn<int>("source");
    const std::vector<NamedSource> all = sources();
    for (int i = 0; i < int(all.size()); ++i)
        QTest::newRow(all[std::size_t(i)].name) << i;
}

void TestProcessTable::zombiesCountAsEnded() {
    QFETCH(int, source);
    const pid_t zombie = ::fork();
    if (zombie == 0)
        ::_exit(0);
    QVERIFY(zombie > 0);
    const auto reap = qScopeGuard([&] { ::waitpid(zombie, nullptr, 0); });
    QTRY_COMPARE(stateOf(zombie), 'Z');

    const ProcessTable table(sourceAt(source));
    QVERIFY(!table.process(zombie));
    QVERIFY(!sourceAt(source)->commandLine(zombie));
    QVERIFY(!sourceAt(source)->isRunning(zombie));
    // pgrep would show it as "[name] <defunct>"; the table leaves it out.
    const ExtendedRegex byName(QStringLiteral("^\\[") + QString::fromUtf8(ownShortName()));
    const auto found = table.pidsMatching(byName);
    QVERIFY(std::find(found.begin(), found.end(), zombie) == found.end());
    QVERIFY(table.process(::getpid()));
}

// A process listed but gone before its entries are read is skipped; the others are found,
// this very process included (pgrep, a child of the caller, would find the caller too).
void TestProcessTable::processEndingWhileReadIsSkipped() {
    QFETCH(int, source);
    quint16 port = 0;
    const int listener = bindEphemeral({}, port);
    QVERIFY(listener >= 0);
    const auto closeListener = qScopeGuard([&] { ::close(listener); });
    Children children;
    const pid_t survivor = children.fork([&] { connectTo({}, port); });
    const pid_t victim = children.fork([&] { connectTo({}, port); });
    QVERIFY(survivor > 0 && victim > 0);

    ProcessTable table(sourceAt(source));
    int endedWhileRead = 0;
    table.afterListing = [&](pid_t pid) {
        if (pid == victim && stateOf(victim) != '?') {
            children.reap(victim);
            endedWhileRead += 1;
        }
    };
    QCOMPARE(table.pidsOnPort(port), sorted({::getpid(), survivor}));
    QCOMPARE(endedWhileRead, 1);

    const pid_t victim2 = children.fork([] {});
    table.afterListing = [&](pid_t pid) {
        if (pid == victim2)
            children.reap(victim2);
    };
    // Forked children share this process's command line.
    QFile own(QStringLiteral("/proc/self/cmdline"));
    QVERIFY(own.open(QIODevice::ReadOnly));
    const QString self = QString::fromUtf8(platform::matchableCommandLine(own.readAll(), {}));
    const ExtendedRegex exact(QLatin1Char('^') + core::escapeExtendedRegex(self) +
                              QLatin1Char('$'));
    QCOMPARE(table.pidsMatching(exact), sorted({::getpid(), survivor}));
}

// A server that forks workers and never reaps them, as PHP's built-in server does: its
// processes while it runs (a killed worker as ended), and the worker left once it is killed.
void TestProcessTable::forkingServerProcesses() {
    QFETCH(int, source);
    const Result<pid_t> leader = platform::spawnDetached(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("sleep 300 & sleep 300 & exec sleep 301")}, {});
    QVERIFY(leader);
    const ProcessTable table(sourceAt(source));
    std::vector<pid_t> workers;
    const auto end = qScopeGuard([&] {
        ::kill(*leader, SIGKILL);
        for (const pid_t pid : workers)
            ::kill(pid, SIGKILL);
    });
    QTRY_COMPARE(table.serverProcesses(*leader).size(), std::size_t(3));
    for (const platform::ServerProcess& p : table.serverProcesses(*leader)) {
        QVERIFY(!p.ended);
        if (p.pid != *leader)
            workers.push_back(p.pid);
    }
    QCOMPARE(workers.size(), std::size_t(2));

    QVERIFY(::kill(workers[0], SIGKILL) == 0);
    using Listed = std::vector<platform::ServerProcess>;
    QTRY_COMPARE(table.serverProcesses(*leader),
                 (Listed{{*leader, false}, {workers[0], true}, {workers[1], false}}));
    QVERIFY(::kill(*leader, SIGKILL) == 0);
    QTRY_COMPARE(table.serverProcesses(*leader), (Listed{{workers[1], false}}));
}

#ifndef ZELTO_PORTABLE_PLATFORM
void TestProcessTable::sourcesAgree_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("type");
    QTest::newRow("tcp ipv4") << int(AF_INET) << int(SOCK_STREAM);
    QTest::newRow("tcp ipv6") << int(AF_INET6) << int(SOCK_STREAM);
    QTest::newRow("udp ipv4") << int(AF_INET) << int(SOCK_DGRAM);
}

// /proc and the tools, asked about the same live processes and sockets, answer alike.
void TestProcessTable::sourcesAgree() {
    QFETCH(int, family);
    QFETCH(int, type);
    const Endpoint e{family, type};
    quint16 port = 0;
    const int listener = bindEphemeral(e, port);
    if (listener < 0)
        QSKIP("this machine has no loopback for this address family");
    const auto closeListener = qScopeGuard([&] { ::close(listener); });
    Children children;
    const pid_t client = children.fork([&] { connectTo(e, port); });
    QVERIFY(client > 0);
    const QString token = QStringLiteral("zt%1agree").arg(::getpid());
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("read x"), token + QStringLiteral(" 服务")});
    QVERIFY(shell.waitForStarted());
    const auto finish = qScopeGuard([&] {
        shell.closeWriteChannel();
        shell.waitForFinished();
    });

    const std::shared_ptr<const ProcessSource> proc = platform::procProcessSource();
    const std::shared_ptr<const ProcessSource> tools = platform::toolProcessSource();
    const ProcessTable byProc(proc);
    const ProcessTable byTools(tools);
    QCOMPARE(byTools.pidsOnPort(port), byProc.pidsOnPort(port));
    const auto describe = [](const std::vector<platform::ProcessInfo>& holders) {
        QStringList text;
        for (const platform::ProcessInfo& h : holders)
            text << QStringLiteral("%1 %2 %3 %4 %5")
                        .arg(h.pid)
                        .arg(h.uid)
                        .arg(h.user, h.program, h.commandLine);
        return text;
    };
    QCOMPARE(describe(byTools.portHolders(port)), describe(byProc.portHolders(port)));
    const auto listenerOf = [&](const ProcessSource& source) {
        const std::optional<platform::TcpListener> l = source.tcpListener(port, {client}, true);
        return l ? QStringLiteral("%1 %2").arg(l->uid).arg(l->pid) : QStringLiteral("none");
    };
    QCOMPARE(listenerOf(*tools), listenerOf(*proc));

    const ExtendedRegex pattern(token + QStringLiteral(" 服"));
    QCOMPARE(byTools.pidsMatching(pattern), byProc.pidsMatching(pattern));
    QCOMPARE(byProc.pidsMatching(pattern), std::vector<pid_t>{pid_t(shell.processId())});
    const pid_t shellPid = pid_t(shell.processId());
    QCOMPARE(describe({byTools.process(shellPid).value_or(platform::ProcessInfo{})}),
             describe({byProc.process(shellPid).value_or(platform::ProcessInfo{})}));
    QCOMPARE(tools->commandLine(shellPid), proc->commandLine(shellPid));
    QCOMPARE(tools->isRunning(shellPid), proc->isRunning(shellPid));
}
#endif

QTEST_GUILESS_MAIN(TestProcessTable)
#include "tst_process_table.moc"
