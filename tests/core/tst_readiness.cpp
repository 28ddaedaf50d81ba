// Waiting for launched servers, naming port holders and reading what a server logged, with
// real listeners on free ports.

#include "platform/log_tail.h"
#include "platform/process.h"
#include "platform/readiness.h"
#include "test_support.h"

#include <QTest>

#include <csignal>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace platform;

namespace {

struct Listener {
    pid_t pid = -1;
    Listener(quint16 port, const QString& family, int delayMs, int lifetimeS = 60) {
        pid = spawnDetached(QStringLiteral(ZELTO_PORT_LISTENER),
                            {QString::number(port), family, QString::number(delayMs),
                             QString::number(lifetimeS)},
                            QString())
                  .value_or(-1);
    }
    ~Listener() {
        if (pid > 0)
            (void)sendSignal(pid, SIGKILL);
    }
};

ReadinessProbe probeFor(quint16 port, pid_t own, std::chrono::milliseconds limit) {
    return {port, limit, [own](const PortHolder& h) { return h.pid == own; },
            [own] { return isProcessAlive(own); }, [own] { return std::vector<pid_t>{own}; }};
}

} // namespace

class TestReadiness : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void outcomes_data();
    void outcomes();
    void probesRunTogether();
    void holderIsNamed();
    void portsFree();
    void linesWritten_data();
    void linesWritten();
};

void TestReadiness::outcomes_data() {
    QTest::addColumn<QString>("family");    // of the launched server; empty: it is not launched
    QTest::addColumn<int>("delayMs");       // before it binds
    QTest::addColumn<bool>("foreign");      // another program holds the port first
    QTest::addColumn<int>("expected");      // Readiness
    QTest::addColumn<bool>("namesForeign"); // the result names the other program
    QTest::newRow("ready at once") << "4" << 0 << false << int(Readiness::Ready) << false;
    QTest::newRow("ready later, IPv6 dual stack")
        << "46" << 300 << false << int(Readiness::Ready) << false;
    QTest::newRow("port held by another program")
        << "4" << 0 << true << int(Readiness::Ended) << true;
    QTest::newRow("too slow") << "4" << 5000 << false << int(Readiness::TimedOut) << false;
    QTest::newRow("never launched, other program answers")
        << "" << 0 << true << int(Readiness::Ended) << true;
}

void TestReadiness::outcomes() {
    QFETCH(QString, family);
    QFETCH(int, delayMs);
    QFETCH(bool, foreign);
    QFETCH(int, expected);
    QFETCH(bool, namesForeign);
    const quint16 port = testing::freeTcpPort();
    std::optional<Listener> other;
    if (foreign) {
        other.emplace(port, QStringLiteral("4"), 0);
        QVERIFY(testing::waitFor([&] { return isTcpPortListening(port); }, 10000));
    }
    std::optional<Listener> own;
    if (!family.isEmpty())
        own.emplace(port, family, delayMs);
    const pid_t ownPid = own ? own->pid : 999999;
    const std::vector<ReadinessResult> results = waitUntilReady({probeFor(port, ownPid, 1500ms)});
    QCOMPARE(results.size(), size_t(1));
    QCOMPARE(int(results[0].state), expected);
    if (expected == int(Readiness::Ready)) {
        QVERIFY(results[0].holder);
        QCOMPARE(results[0].holder->pid, ownPid);
    } else {
        QCOMPARE(results[0].holder.has_value(), namesForeign);
        if (namesForeign)
            QCOMPARE(results[0].holder->pid, other->pid);
    }
}

void TestReadiness::probesRunTogether() {
    // Three servers that each need a while: all are found ready, each on its own port, and a
    // probe that fails does not hold up the others.
    const quint16 a = testing::freeTcpPort(), b = testing::freeTcpPort(),
                  c = testing::freeTcpPort();
    Listener first(a, QStringLiteral("4"), 400), second(b, QStringLiteral("46"), 200);
    const auto results = waitUntilReady(
        {probeFor(a, first.pid, 10s), probeFor(b, second.pid, 10s), probeFor(c, 999999, 10s)});
    QCOMPARE(int(results[0].state), int(Readiness::Ready));
    QCOMPARE(int(results[1].state), int(Readiness::Ready));
    QCOMPARE(int(results[2].state), int(Readiness::Ended));
    QVERIFY(!results[2].holder);
}

void TestReadiness::holderIsNamed() {
    const quint16 port = testing::freeTcpPort();
    QVERIFY(!tcpPortHolder(port));
    Listener l(port, QStringLiteral("6"), 0);
    QVERIFY(testing::waitFor([&] { return isTcpPortListening(port); }, 10000));
    // Whether asked first about the listener, about other processes or about none.
    for (const std::vector<pid_t>& likely :
         {std::vector<pid_t>{l.pid}, std::vector<pid_t>{::getpid(), 999999}, std::vector<pid_t>{}})
        QCOMPARE(tcpPortHolder(port, likely)->pid, l.pid);
    const std::optional<PortHolder> holder = tcpPortHolder(port);
    QVERIFY(holder);
    QCOMPARE(holder->pid, l.pid);
    QCOMPARE(holder->uid, ::getuid());
    QCOMPARE(holder->program, QStringLiteral("zelto_port_list")); // the kernel keeps 15 bytes
    QVERIFY(holder->commandLine.endsWith(QStringLiteral(" 6 0 60")));
    const QString text = describePortHolder(*holder, 30);
    QVERIFY2(text.startsWith(QStringLiteral("zelto_port_list (pid %1, 用户 ").arg(l.pid)),
             qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("…)")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral(", 命令: ") + holder->commandLine.left(29) + "…"));

    PortHolder unseen;
    unseen.user = QStringLiteral("bob");
    QCOMPARE(describePortHolder(unseen), QStringLiteral("其他程序 (用户 bob)"));
}

void TestReadiness::portsFree() {
    const quint16 leaving = testing::freeTcpPort(), staying = testing::freeTcpPort(),
                  idle = testing::freeTcpPort();
    Listener goes(leaving, QStringLiteral("4"), 0, 1), stays(staying, QStringLiteral("46"), 0);
    QVERIFY(testing::waitFor(
        [&] { return isTcpPortListening(leaving) && isTcpPortListening(staying); }, 10000));
    const auto holders = waitUntilPortsFree({leaving, staying, idle}, 3s);
    QVERIFY(!holders[0]);
    QVERIFY(holders[1]);
    QCOMPARE(holders[1]->pid, stays.pid);
    QVERIFY(!holders[2]);
}

void TestReadiness::linesWritten_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after"); // appended once the offset was taken
    QTest::addColumn<bool>("truncate");    // the file was replaced by `after` instead
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("only the new lines")
        << QByteArray("old 1\nold 2\n") << QByteArray("new 1\n\n  \nnew 2") << false
        << QStringList{"new 1", "new 2"};
    QTest::newRow("last five") << QByteArray() << QByteArray("1\n2\n3\n4\n5\n6\n7\n") << false
                               << QStringList{"3", "4", "5", "6", "7"};
    QTest::newRow("nothing new") << QByteArray("old\n") << QByteArray() << false << QStringList{};
    QTest::newRow("file shrank: read from the start")
        << QByteArray("a long earlier log\n") << QByteArray("fresh\r\n") << true
        << QStringList{"fresh"};
    QTest::newRow("invalid UTF-8 replaced")
        << QByteArray() << QByteArray("bad \xff byte\n") << false
        << QStringList{QStringLiteral("bad \uFFFD byte")};
    QByteArray huge(1 << 20, 'x');
    QTest::newRow("megabytes written: the end") << QByteArray() << huge + "\nlast\n"
                                                << false << QStringList{"last"};
}

void TestReadiness::linesWritten() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, truncate);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("server.log"));
    QCOMPARE(linesWrittenSince(path, 0, 5), QStringList{}); // no file
    testing::writeFile(path, before);
    const qint64 offset = fileSizeOf(path);
    QCOMPARE(offset, before.size());
    testing::writeFile(path, truncate ? after : before + after);
    QCOMPARE(linesWrittenSince(path, offset, 5), expected);
}

QTEST_GUILESS_MAIN(TestReadiness)
#include "tst_readiness.moc"
