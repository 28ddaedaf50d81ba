#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace cli {

enum class Command {
    Help,
    Version,
    Status,
    Start,
    Stop,
    Update,
    Undo,
    Root,
    RootSet,
    OpenSite,
    OpenPhpMyAdmin,
    OpenDirectory,
    OpenBackups,
    Backup,
    Backups,
    Restore,
    Logs,
    DebugOn,
    DebugOff,
    AutostartOn,
    AutostartOff,
    AutostartStatus,
};

// One call of the program, as its arguments ask for it.
struct Invocation {
    Command command = Command::Help;
    bool json = false;
    QString operand; // the word after the command's own, as given: the DIR of "root set DIR", the
                     // NAME of "restore NAME"
    QUrl updateFrom; // update --from URL: the archive's address in place of the built-in one
    bool restoreAll = false; // restore --all: the databases created since go too
    // logs: how many of the last lines (--lines N), whether to go on with new ones (--follow)
    // and whether only the errors and warnings (--errors).
    int logLines = 50;
    bool followLog = false;
    bool errorsOnly = false;
    bool startStack = false; // autostart on --start-stack: the entry starts the stack too
};

// The invocation, or the reason the arguments make none (a usage error).
struct ParsedArguments {
    std::optional<Invocation> invocation;
    QString error;
    bool json = false; // --json was among the arguments, even when they were wrong
};

// args: the arguments after the program name. Options may stand anywhere; "--" ends them.
ParsedArguments parseArguments(const QStringList& args);

// The command as typed ("status", "root set", "open site", ...).
QString commandName(Command command);

QString usageText(const QString& program);

} // namespace cli
