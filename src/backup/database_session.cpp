#include "backup/database_session.h"

#include "core/database_files.h"
#include "core/process_helpers.h"
#include "platform/extended_regex.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/process_table.h"
#include "services/database.h"

#include <QDir>

#include <chrono>
#include <csignal>
#include <thread>

namespace backup {

namespace {

// The client's own words for why it failed, without the line breaks around them.
QString clientErrorText(const platform::PipedExit& exit) {
    QString text = QString::fromUtf8(exit.errors).trimmed();
    if (text.isEmpty())
        text = exit.signalled ? QStringLiteral("被信号 %1 终止").arg(exit.exitStatus)
                              : QStringLiteral("退出码 %1").arg(exit.exitStatus);
    return text;
}

// Whether a server answers on socket (the administration program's ping).
bool answers(const RuntimeDatabase& database, const QString& socket) {
    platform::ChildOptions options;
    options.out = platform::StdStream::Null;
    options.err = platform::StdStream::Null;
    options.timeout = std::chrono::seconds(10);
    const Result<platform::ChildExit> ping = platform::runChild(
        database.program(QStringLiteral("mysqladmin")),
        {QStringLiteral("--socket=") + socket, QStringLiteral("-u"), services::kMysqlRootUser,
         QStringLiteral("-p") + services::kMysqlRootPassword, QStringLiteral("--connect-timeout=5"),
         QStringLiteral("ping")},
        options);
    return ping && ping->exitedCleanly();
}

} // namespace

QString RuntimeDatabase::program(const QString& name) const {
    return mysqlDir + QStringLiteral("/bin/") + name;
}

QString RuntimeDatabase::defaultsFile() const {
    return mysqlDir + QStringLiteral("/my_runtime.cnf");
}

bool RuntimeDatabase::initialised() const {
    return platform::isDirectory(mysqlDir + QStringLiteral("/data/mysql"));
}

bool isServerDatabase(const QString& name) {
    static const QStringList own = {QStringLiteral("mysql"), QStringLiteral("information_schema"),
                                    QStringLiteral("performance_schema"), QStringLiteral("sys")};
    return own.contains(name.toLower());
}

QString quotedIdentifier(const QString& name) {
    QString inner = name;
    inner.replace(QLatin1Char('`'), QStringLiteral("``"));
    return QLatin1Char('`') + inner + QLatin1Char('`');
}

DatabaseSession::DatabaseSession(RuntimeDatabase database, QString socket)
    : m_database(std::move(database)), m_socket(std::move(socket)) {}

DatabaseSession::~DatabaseSession() {
    (void)close();
}

Result<std::unique_ptr<DatabaseSession>> DatabaseSession::open(const RuntimeDatabase& database) {
    const QString ownSocket = mysqlSocketPathFor(database.mysqlDir);
    if (answers(database, ownSocket))
        return std::unique_ptr<DatabaseSession>(new DatabaseSession(database, ownSocket));
    if (!database.initialised())
        return failure(ErrorKind::NotFound, QStringLiteral("数据库尚未初始化，没有需要保留的数据"),
                       database.mysqlDir + QStringLiteral("/data"));

    // No start or stop of the stack while a private server holds the data directory; a start
    // that came first may have brought the runtime's server up meanwhile.
    if (Result<> made = platform::createDirectories(database.cfgDir); !made)
        return std::unexpected(made.error());
    auto lock =
        std::make_unique<platform::FileLock>(database.cfgDir + QStringLiteral("/.start-stop.lock"));
    if (answers(database, ownSocket))
        return std::unique_ptr<DatabaseSession>(new DatabaseSession(database, ownSocket));

    // A server of the runtime that does not answer (hung, or still recovering) holds the data
    // directory: a second one would wait for it in vain.
    const platform::ProcessTable processes;
    if (processes.anyMatching(platform::ExtendedRegex(
            core::escapeExtendedRegex(database.program(QStringLiteral("mysqld"))))))
        return failure(ErrorKind::Refused,
                       QStringLiteral("数据库服务器正在运行但没有响应，请稍后再试或先停止全部服务"),
                       database.mysqlDir);

    auto dir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/zelto-db-XXXXXX"));
    if (!dir->isValid())
        return failure(QStringLiteral("无法创建临时目录: ") + dir->errorString(), QDir::tempPath());
    const QString socket = dir->path() + QStringLiteral("/s.sock");
    Result<pid_t> started =
        platform::spawnTiedChild({database.program(QStringLiteral("mysqld")),
                                  {QStringLiteral("--defaults-file=") + database.defaultsFile(),
                                   QStringLiteral("--private-socket=") + socket}});
    if (!started)
        return std::unexpected(started.error());

    std::unique_ptr<DatabaseSession> session(new DatabaseSession(database, socket));
    session->m_private = PrivateServer{*started, std::move(dir), std::move(lock)};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(database.readySeconds);
    for (;;) {
        if (answers(database, socket))
            return session;
        if (const std::optional<platform::PipedExit> ended =
                platform::waitForTiedChild(session->m_private->pid, 0)) {
            session->m_private->pid = -1;
            return toolFailure(ended->exitStatus,
                               QStringLiteral("数据库服务器未能启动（退出码 %1），详见 mysqld.err")
                                   .arg(ended->exitStatus),
                               database.mysqlDir + QStringLiteral("/mysqld.err"));
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return failure(ErrorKind::TimedOut,
                           QStringLiteral("数据库服务器 %1 秒内未就绪，详见 mysqld.err")
                               .arg(database.readySeconds),
                           database.mysqlDir + QStringLiteral("/mysqld.err"));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

QStringList DatabaseSession::clientOptions() const {
    return {QStringLiteral("--socket=") + m_socket, QStringLiteral("-u"), services::kMysqlRootUser,
            QStringLiteral("-p") + services::kMysqlRootPassword};
}

platform::ProgramCall DatabaseSession::clientCall(const QString& program,
                                                  const QStringList& args) const {
    return {m_database.program(program), clientOptions() + args};
}

Result<QString> DatabaseSession::query(const QString& statements) const {
    QByteArray rows;
    const platform::ProgramCall call =
        clientCall(QStringLiteral("mysql"),
                   {QStringLiteral("-N"), QStringLiteral("-B"), QStringLiteral("-e"), statements});
    Result<platform::PipelineExit> run =
        platform::runPipeline(call, std::nullopt, [&rows](QByteArrayView chunk) {
            rows.append(chunk);
            return true;
        });
    if (!run)
        return std::unexpected(run.error());
    if (!run->producer.exitedCleanly())
        return toolFailure(run->producer.exitStatus, clientErrorText(run->producer), call.program);
    return QString::fromUtf8(rows);
}

Result<QString> DatabaseSession::serverVersion() const {
    Result<QString> version = query(QStringLiteral("SELECT VERSION()"));
    if (!version)
        return version;
    return version->trimmed();
}

Result<> DatabaseSession::close() {
    if (!m_private || m_private->pid <= 0) {
        m_private.reset();
        return {};
    }
    const pid_t pid = m_private->pid;
    Result<> stopped;
    platform::ChildOptions options;
    options.out = platform::StdStream::Null;
    options.err = platform::StdStream::Null;
    options.timeout = std::chrono::seconds(120);
    (void)platform::runChild(m_database.program(QStringLiteral("mysqladmin")),
                             clientOptions() + QStringList{QStringLiteral("shutdown")}, options);
    if (!platform::waitForTiedChild(pid, 120000)) {
        // It does not stop when asked: ended as a crash would end it (the next start recovers).
        ::kill(pid, SIGTERM);
        if (!platform::waitForTiedChild(pid, 30000)) {
            ::kill(pid, SIGKILL);
            (void)platform::waitForTiedChild(pid, -1);
        }
        stopped = failure(ErrorKind::TimedOut, QStringLiteral("临时数据库服务器未能按时停止"),
                          m_database.mysqlDir + QStringLiteral("/mysqld.err"));
    }
    m_private.reset(); // the temporary directory goes, then the lock
    return stopped;
}

} // namespace backup
