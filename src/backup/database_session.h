#pragma once

#include "platform/file_lock.h"
#include "platform/pipeline.h"
#include "platform/result.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

#include <sys/types.h>

namespace backup {

// The runtime's database programs and files.
struct RuntimeDatabase {
    QString mysqlDir; // runtime/mysql
    QString cfgDir;   // runtime/config, where the start/stop runs' lock lives
    // How long a private server may take to accept connections (crash recovery included).
    int readySeconds = 120;

    QString program(const QString& name) const;
    QString defaultsFile() const;
    // Whether the data directory was ever initialised (it holds the server's own tables).
    bool initialised() const;
};

// A server to talk to for one task: the runtime's own when it runs, else a private one,
// started on the same data directory without networking and with a socket of its own, and
// stopped again when the session ends, so that a stopped database stays stopped. While a
// private server runs, the session holds the start/stop runs' lock: a start or a stop waits
// until the task is done rather than meeting the data directory in use.
class DatabaseSession {
public:
    // kind NotFound: the data directory was never initialised (there is nothing in it).
    static Result<std::unique_ptr<DatabaseSession>> open(const RuntimeDatabase& database);
    ~DatabaseSession();
    DatabaseSession(const DatabaseSession&) = delete;
    DatabaseSession& operator=(const DatabaseSession&) = delete;

    bool isPrivate() const { return m_private.has_value(); }
    QString socketPath() const { return m_socket; }
    const RuntimeDatabase& database() const { return m_database; }

    // The options that sign a client program in to this server.
    QStringList clientOptions() const;
    // One client program's call with the session's options before args.
    platform::ProgramCall clientCall(const QString& program, const QStringList& args) const;
    // Runs statements and returns the result rows, tab-separated, one per line (no header).
    Result<QString> query(const QString& statements) const;
    // The server's version ("10.11.6-MariaDB-0+deb12u1").
    Result<QString> serverVersion() const;

    // Stops a private server (nothing for the runtime's own); the destructor does it too.
    Result<> close();

private:
    DatabaseSession(RuntimeDatabase database, QString socket);

    struct PrivateServer {
        pid_t pid = -1;
        std::unique_ptr<QTemporaryDir> dir;
        std::unique_ptr<platform::FileLock> startStopLock;
    };

    RuntimeDatabase m_database;
    QString m_socket;
    std::optional<PrivateServer> m_private;
};

// Names of databases the server keeps for itself, which snapshots leave out.
bool isServerDatabase(const QString& name);
// A name quoted for SQL (`name`, backquotes doubled).
QString quotedIdentifier(const QString& name);

} // namespace backup
