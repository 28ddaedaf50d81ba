#include "test_support.h"

#include "core/process_helpers.h"
#include "platform/process.h"
#include "platform/process_table.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <csignal>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// A loopback port that nothing listens on: the kernel's pick of a free ephemeral one.
int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace

TestSandbox::TestSandbox() : databasePort(freeLoopbackPort()) {
    QDir().mkpath(appDir());
}

Platform TestSandbox::platform() const {
    Platform p;
    std::optional<QString> resources = resourceDir();
    if (resourcePathOverride)
        resources = resourcePathOverride;
    if (noResourcePath)
        resources = std::nullopt;
    p.locations = platform::fixedAppLocations(appDir(), resources);
    p.preferences = preferences;
    p.desktop = desktop;
    p.tools = tools;
    const QDateTime now = fixedNow;
    p.clock = [now] { return now.isValid() ? now : QDateTime::currentDateTime(); };
    const QString arch = architecture;
    p.machineArchitecture = [arch] { return arch; };
    p.dispatcher = platform::qtDispatcher();
    return p;
}

std::shared_ptr<PanelViewModel> TestSandbox::makeModel(PanelConfig config) const {
    if (!machineDatabasePort && config.databasePort == PanelConfig().databasePort)
        config.databasePort = databasePort;
    return PanelViewModel::create(platform(), std::move(config));
}

namespace testing {

OutcomeRecorder::OutcomeRecorder(PanelViewModel& model) {
    m_connection =
        QObject::connect(&model, &PanelViewModel::finished, &model,
                         [this](const OperationOutcome& outcome) { outcomes.push_back(outcome); });
}

OutcomeRecorder::~OutcomeRecorder() {
    QObject::disconnect(m_connection);
}

bool OutcomeRecorder::waitFor(std::size_t count, int timeoutMs) {
    return testing::waitFor([&] { return outcomes.size() >= count; }, timeoutMs);
}

std::optional<OperationOutcome> runToEnd(PanelViewModel& model, void (PanelViewModel::*operation)(),
                                         int timeoutMs) {
    OutcomeRecorder recorder(model);
    (model.*operation)();
    if (!recorder.waitFor(1, timeoutMs))
        return std::nullopt;
    return recorder.last();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

void appendFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::Append) || f.write(bytes) != bytes.size())
        qFatal("cannot append to %s", qPrintable(path));
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeScript(const QString& path, const QString& body) {
    writeFile(path, QByteArray("#!/bin/sh\n") + body.toUtf8() + '\n');
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                    QFile::ExeOther);
}

void makeValidRoot(const QString& root) {
    writeScript(root + QStringLiteral("/runtime/mysql/bin/mysqld"), QStringLiteral("exit 0"));
    QDir().mkpath(root + QStringLiteral("/runtime/php"));
    QDir().mkpath(root + QStringLiteral("/runtime/phpmyadmin"));
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

namespace {

// The calling thread's capability sets (the raw system call: no libcap needed).
bool threadCapabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool setThreadCapabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

constexpr quint32 kModeOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

} // namespace

FileModesApply::FileModesApply() {
    if (::geteuid() != 0)
        return;
    __user_cap_data_struct data[2]{};
    if (!threadCapabilities(data)) {
        m_holds = false;
        return;
    }
    data[0].effective &= ~kModeOverrides;
    m_dropped = setThreadCapabilities(data);
    m_holds = m_dropped;
}

FileModesApply::~FileModesApply() {
    if (!m_dropped)
        return;
    __user_cap_data_struct data[2]{};
    if (threadCapabilities(data)) {
        data[0].effective |= kModeOverrides & data[0].permitted;
        setThreadCapabilities(data);
    }
}

quint16 freeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t size = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool portAnswers(int port) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    const bool connected = socket.waitForConnected(500);
    socket.abort();
    return connected;
}

EndProcessesUnder::~EndProcessesUnder() {
    const QString pattern = core::escapeExtendedRegex(m_base);
    const SystemTools tools = SystemTools::debian();
    (void)platform::runChild(tools.pkill, {QStringLiteral("-f"), pattern});
    const platform::ExtendedRegex regex(pattern);
    waitFor([&] { return !platform::ProcessTable().anyMatching(regex); }, 60000);
    (void)platform::runChild(tools.pkill, {QStringLiteral("-KILL"), QStringLiteral("-f"), pattern});
}

ForeignListener::ForeignListener(int port) {
    pid = platform::spawnDetached(QStringLiteral(ZELTO_PORT_LISTENER),
                                  {QString::number(port), QStringLiteral("46"), QStringLiteral("0"),
                                   QStringLiteral("600")},
                                  QString())
              .value_or(-1);
}

ForeignListener::~ForeignListener() {
    endProcess(pid, QStringLiteral("zelto_port_listener"));
}

EndToEndSetup endToEndSetup(const QString& mark, const QList<int>& ports) {
    EndToEndSetup setup;
    setup.runtime = qEnvironmentVariable("ZELTO_RUNTIME_DIR");
    if (setup.runtime.isEmpty() || !QFileInfo::exists(setup.runtime + QLatin1Char('/') + mark)) {
        setup.skip = QStringLiteral("no assembled runtime (build the zelto_runtime target)");
        return setup;
    }
    for (const int port : ports) {
        if (portAnswers(port)) {
            setup.failure = QStringLiteral("port %1 is already taken by another server").arg(port);
            break;
        }
    }
    return setup;
}

bool makeUnwritable(const QString& dir) {
    if (::geteuid() != 0)
        return QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
    const Result<platform::ChildExit> r =
        platform::runChild(QStringLiteral("/usr/bin/chattr"), {QStringLiteral("+i"), dir});
    return r && r->exitedCleanly();
}

void makeWritable(const QString& dir) {
    if (::geteuid() == 0)
        (void)platform::runChild(QStringLiteral("/usr/bin/chattr"), {QStringLiteral("-i"), dir});
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace testing

bool processAlive(pid_t pid) {
    // A zombie has an empty command line; it is as good as gone.
    return pid > 0 && platform::processCommandLine(pid).has_value();
}

void endProcess(pid_t pid, const QString& marker) {
    const std::optional<QString> commandLine = platform::processCommandLine(pid);
    if (pid <= 0 || !commandLine || !commandLine->contains(marker))
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200 && processAlive(pid); ++i)
        QThread::msleep(10);
}
