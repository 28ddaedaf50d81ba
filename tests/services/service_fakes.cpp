#include "service_fakes.h"

#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <csignal>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform;

FakeStack::FakeStack(const QString& panelRoot, const QString& recordDir)
    : m_root(panelRoot), m_records(recordDir) {
    QDir().mkpath(m_records);
    testing::makeValidRoot(m_root);
}

FakeStack::~FakeStack() {
    for (pid_t pid : serverPids())
        endProcess(pid, m_root);
    for (pid_t pid : serverPids(QStringLiteral("mysqld-pids")))
        endProcess(pid, m_root);
}

QString FakeStack::recorder(const QString& program) const {
    // One write per call, so that calls made at the same time never interleave their lines.
    return QStringLiteral("recorded_call=$(pwd); for a in \"$@\"; do "
                          "recorded_call=\"$recorded_call|$a\"; done; "
                          "printf '%s\\n' \"$recorded_call\" >> '%1/%2'\n")
        .arg(m_records, program);
}

QString FakeStack::phpPath(const QString& version) const {
    return m_root + QStringLiteral("/runtime/php/") + version + QStringLiteral("/bin/php");
}

namespace {

// Perl that listens on port $port (when defined) of all IPv4 addresses and accepts connections
// until it is sent SIGTERM or a minute has passed. A port that cannot be bound ends the
// program with PHP's complaint on its output. The fixed ports belong to the end-to-end tests
// (of this and other build trees): a stand-in never takes them.
const char kListenLoop[] = R"(use Socket;
$port = $ENV{"ZELTO_FAKE_PORT_$port"} if defined $port && defined $ENV{"ZELTO_FAKE_PORT_$port"};
undef $port if defined $port && ($port == 3306 || $port == 8000 || $port == 900);
my $s;
if (defined $port) {
    socket($s, PF_INET, SOCK_STREAM, 0) or die "socket: $!";
    setsockopt($s, SOL_SOCKET, SO_REUSEADDR, 1);
    unless (bind($s, sockaddr_in($port, INADDR_ANY)) && listen($s, 16)) {
        print "Failed to listen on 0.0.0.0:$port (reason: $!)\n";
        exit 1;
    }
}
$SIG{TERM} = sub { exit 0 };
my $end = time + 60;
while (time < $end) {
    if ($s) {
        my $rin = '';
        vec($rin, fileno($s), 1) = 1;
        if (select(my $rout = $rin, undef, undef, 1) > 0) {
            accept(my $c, $s) and close $c;
        }
    } else {
        sleep 1;
    }
}
)";

} // namespace

void FakeStack::installPhpServer(const QString& version) const {
    // Perl, so that the process can show another command line: the address reads
    // "test-0.0.0.0:PORT", which keeps the real pkill of stop-all and start-all in end-to-end
    // tests that run at the same time from ending this stand-in (it still has "-S" and a
    // program named php, so it is recognised as a PHP server by its pid). It listens on the
    // port it was given, as the real server does.
    const QString path = phpPath(version);
    testing::writeFile(
        path, QStringLiteral(
                  "#!/usr/bin/perl\n"
                  "BEGIN { $0 = join(' ', $0, map { s/^0\\.0\\.0\\.0:/test-0.0.0.0:/r } @ARGV); }\n"
                  "use Cwd;\n"
                  "open(my $r, '>>', '%1/php') or die;\n"
                  "print $r join('|', getcwd(), @ARGV), \"\\n\";\n"
                  "close $r;\n"
                  "$| = 1;\n"
                  "print \"php @ARGV\\n\";\n"
                  "open(my $p, '>>', '%1/php-pids') or die;\n"
                  "print $p \"$$\\n\";\n"
                  "close $p;\n"
                  "my ($port) = map { /^0\\.0\\.0\\.0:(\\d+)$/ ? $1 : () } @ARGV;\n"
                  "select(undef, undef, undef, $ENV{ZELTO_FAKE_PHP_BIND_DELAY} // 0);\n")
                      .arg(m_records)
                      .toUtf8() +
                  kListenLoop);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void FakeStack::installGarbagePhp(const QString& version) const {
    const QString path = phpPath(version);
    static const char bytes[] = "\x7f\x01\x02garbage\x00\xff\xfe";
    testing::writeFile(path, QByteArray(bytes, sizeof bytes - 1));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString FakeStack::installReport() {
    return QStringLiteral("\n  Installing system tables...\nOK  \n");
}

void FakeStack::installDatabase() const {
    const QString bin = m_root + QStringLiteral("/runtime/mysql/bin/");
    testing::writeScript(bin + QStringLiteral("mysqladmin"),
                         recorder(QStringLiteral("mysqladmin")));
    // mysqld --daemonize leaves a server behind that shows the command line it was given and
    // listens on the test's database port, then returns.
    const QString server = m_records + QStringLiteral("/fake-mysqld.pl");
    testing::writeFile(server, QStringLiteral("open(my $p, '>>', '%1/mysqld-pids') or die;\n"
                                              "print $p \"$$\\n\";\n"
                                              "close $p;\n"
                                              "my $port = 3306;\n"
                                              "$0 = join(' ', @ARGV);\n")
                                       .arg(m_records)
                                       .toUtf8() +
                                   kListenLoop);
    testing::writeScript(bin + QStringLiteral("mysqld"),
                         recorder(QStringLiteral("mysqld")) +
                             QStringLiteral("setsid perl '%1' \"$0\" \"$@\" "
                                            "</dev/null >/dev/null 2>&1 &\n")
                                 .arg(server));
    testing::writeScript(bin + QStringLiteral("mysql_install_db"),
                         recorder(QStringLiteral("mysql_install_db")) +
                             QStringLiteral("mkdir -p \"$(dirname \"$0\")/../data/mysql\"\n"
                                            "printf '%s' '%1'\n")
                                 .arg(installReport()));
}

SystemTools FakeStack::tools() const {
    const QString dir = m_records + QStringLiteral("/tools/");
    // pkill records its call and ends the stand-ins its pattern is meant for, waiting until
    // they are gone (so that a restart finds their ports free, as with the real servers).
    testing::writeScript(
        dir + QStringLiteral("pkill"),
        recorder(QStringLiteral("pkill")) +
            QStringLiteral("case $2 in\n"
                           "'php -S 0.0.0.0:') list='%1/php-pids' ;;\n"
                           "mysqld.*) list='%1/mysqld-pids' ;;\n"
                           "*) exit 0 ;;\n"
                           "esac\n"
                           "[ -f \"$list\" ] || exit 0\n"
                           "for p in $(cat \"$list\"); do kill \"$p\" 2>/dev/null; done\n"
                           "for p in $(cat \"$list\"); do\n"
                           "  n=0; while kill -0 \"$p\" 2>/dev/null && [ $n -lt 200 ]; do\n"
                           "    sleep 0.01; n=$((n+1)); done\n"
                           "done\n")
                .arg(m_records));
    SystemTools tools = SystemTools::debian();
    tools.pkill = dir + QStringLiteral("pkill");
    return tools;
}

QStringList FakeStack::calls(const QString& program) const {
    const QString text =
        QString::fromUtf8(testing::readFile(m_records + QLatin1Char('/') + program));
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QList<pid_t> FakeStack::serverPids(const QString& list) const {
    QList<pid_t> pids;
    for (const QString& line : calls(list))
        pids.push_back(line.trimmed().toInt());
    return pids;
}

ServiceFixture::ServiceFixture(const QString& rootName)
    : root(rootName.isEmpty() ? sandbox.installedRoot()
                              : sandbox.base() + QLatin1Char('/') + rootName),
      stack(root, sandbox.base() + QStringLiteral("/records")) {
    if (!rootName.isEmpty()) {
        sandbox.noResourcePath = true;
        sandbox.preferences->setString(QStringLiteral("zeltoPanelRoot"), root);
    }
    sandbox.tools = stack.tools();
    for (Service service : kServices) {
        const quint16 port = testing::freeTcpPort();
        config.probePorts[serviceIndex(service)] = port;
        qputenv(QStringLiteral("ZELTO_FAKE_PORT_%1").arg(servicePort(service)).toLatin1(),
                QByteArray::number(port));
    }
    makeModel();
}

pid_t startSleeper(const QString& scriptPath, const QStringList& args) {
    if (!QFile::exists(scriptPath))
        testing::writeScript(scriptPath, QStringLiteral("trap 'kill $! 2>/dev/null; exit 0' TERM "
                                                        "INT\nsleep 600 &\nwait"));
    return spawnDetached(scriptPath, args, QString()).value_or(-1);
}
