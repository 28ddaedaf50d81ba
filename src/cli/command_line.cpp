#include "cli/command_line.h"

#include "backup/snapshot_store.h"
#include "cli/arguments.h"
#include "cli/autostart_command.h"
#include "cli/output.h"
#include "cli/progress_printer.h"
#include "cli/state_json.h"
#include "core/operation_outcome.h"
#include "core/panel_view_model.h"
#include "core/server_logs.h"
#include "platform/application_identity.h"
#include "platform/headless_desktop.h"
#include "update/set_aside.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonObject>
#include <QThread>

#include <cstdio>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

// Where results go: standard output as the caller gave it (see separateChildOutput).
FILE* g_results = stdout;

// Two of the system tools the panel starts inherit its standard output, and pgrep prints the
// process ids it found there; that must not mix with the results (a JSON object has to stay
// one). The results keep a duplicate of standard output that no child inherits; the children
// get the null device in its place (their standard error stays).
void separateChildOutput() {
    std::fflush(stdout);
    const int results = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (results < 0)
        return;
    FILE* stream = fdopen(results, "w");
    if (!stream) {
        close(results);
        return;
    }
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) {
        if (null >= 0)
            close(null);
        std::fclose(stream);
        return;
    }
    close(null);
    g_results = stream;
}

bool resultsOnTerminal() {
    return isatty(fileno(g_results)) == 1;
}

// What a command did: whether it succeeded, the text it prints in text mode and the fields it
// adds to the JSON object.
struct Result {
    bool ok = true;
    QString text;
    QJsonObject fields;
};

class Session {
public:
    explicit Session(const Invocation& invocation)
        : m_invocation(invocation), m_desktop(std::make_shared<HeadlessDesktop>()),
          m_model(PanelViewModel::create(Platform::system(m_desktop), configFor(invocation))) {}

    int run() {
        const Result result = execute();
        // What an update set aside and is still removing is left to the next run: the command
        // ends with its report.
        update::stopRemovingSetAside();
        const int exitCode = result.ok ? kExitOk : kExitFailed;
        if (m_invocation.json) {
            QJsonObject object = stateJson(*m_model);
            for (auto it = result.fields.begin(); it != result.fields.end(); ++it)
                object.insert(it.key(), it.value());
            if (!object.contains(QStringLiteral("outcome"))) {
                object.insert(
                    QStringLiteral("outcome"),
                    QJsonObject{{QStringLiteral("operation"), commandName(m_invocation.command)},
                                {QStringLiteral("succeeded"), result.ok}});
            }
            object.insert(QStringLiteral("command"), commandName(m_invocation.command));
            object.insert(QStringLiteral("ok"), result.ok);
            object.insert(QStringLiteral("exitCode"), exitCode);
            writeJson(g_results, object);
        } else if (!result.text.isEmpty()) {
            writeText(g_results, result.text);
        }
        return exitCode;
    }

private:
    static PanelConfig configFor(const Invocation& invocation) {
        PanelConfig config;
        if (invocation.updateFrom.isValid())
            config.updateZipBaseURL = invocation.updateFrom;
        return config;
    }

    Result execute() {
        switch (m_invocation.command) {
        case Command::Status:
            return status();
        case Command::Root:
            return root();
        case Command::RootSet:
            return rootSet();
        case Command::OpenSite:
            m_model->openSite();
            return opened();
        case Command::OpenPhpMyAdmin:
            m_model->openPhpMyAdmin();
            return opened();
        case Command::OpenDirectory:
            m_model->openRuntimeDirectory();
            return opened();
        case Command::OpenBackups:
            m_model->openBackupsDirectory();
            return opened();
        case Command::Backup:
            return withSnapshots(withProgress([this] { m_model->backupDatabase(); }));
        case Command::Restore:
            return withSnapshots(withProgress([this] {
                m_model->restoreDatabase(m_invocation.operand, m_invocation.restoreAll);
            }));
        case Command::Backups:
            return backups();
        case Command::Logs:
            return serverLog();
        case Command::DebugOn:
            return longOperation([this] { m_model->setPhpDebugging(true); });
        case Command::DebugOff:
            return longOperation([this] { m_model->setPhpDebugging(false); });
        case Command::Start:
            return longOperation([this] { m_model->startAll(); });
        case Command::Stop:
            return longOperation([this] { m_model->stopAll(); });
        case Command::Update:
            return withProgress([this] { m_model->updateOrRepairFiles(); });
        case Command::Undo:
            return withProgress([this] { m_model->undoLastUpdate(); });
        case Command::Help:
        case Command::Version:
        case Command::AutostartOn:
        case Command::AutostartOff:
        case Command::AutostartStatus:
            break;
        }
        return {false, {}, {}};
    }

    // Starts an operation and runs the event loop until its outcome arrives, right after its
    // final report.
    OperationOutcome runToOutcome(const std::function<void()>& start) {
        std::optional<OperationOutcome> outcome;
        QEventLoop loop;
        QObject::connect(m_model.get(), &PanelViewModel::finished, &loop,
                         [&](const OperationOutcome& finished) {
                             if (!outcome) {
                                 outcome = finished;
                                 loop.quit();
                             }
                         });
        start();
        while (!outcome)
            loop.exec();
        return *outcome;
    }

    Result longOperation(const std::function<void()>& start) {
        const OperationOutcome outcome = runToOutcome(start);
        return {
            outcome.succeeded,
            outcome.report,
            {{QStringLiteral("outcome"), outcomeJson(commandName(m_invocation.command), outcome)}}};
    }

    // An update or an undo, with its steps shown as they are published: a bar on a terminal,
    // otherwise a line each. With --json, standard output holds the JSON object alone, so the
    // bar goes to standard error and only when that is a terminal.
    Result withProgress(const std::function<void()>& start) {
        ProgressPrinter::Style style = ProgressPrinter::Style::Lines;
        FILE* stream = g_results;
        if (m_invocation.json) {
            stream = stderr;
            style = isatty(STDERR_FILENO) ? ProgressPrinter::Style::Bar
                                          : ProgressPrinter::Style::Silent;
        } else if (resultsOnTerminal()) {
            style = ProgressPrinter::Style::Bar;
        }
        ProgressPrinter printer(*m_model, stream, style);
        Result result = longOperation(start);
        printer.finish();
        result.fields.insert(QStringLiteral("steps"), printer.steps());
        result.fields.insert(QStringLiteral("updateProgress"), m_model->updateProgress());
        result.fields.insert(QStringLiteral("updateProgressText"), m_model->updateProgressText());
        return result;
    }

    // The snapshots as they are now, in the JSON object.
    Result withSnapshots(Result result) {
        result.fields.insert(QStringLiteral("snapshots"),
                             snapshotsJson(backup::listSnapshots(m_model->backupsDir())));
        result.fields.insert(QStringLiteral("backupsDir"), m_model->backupsDir());
        return result;
    }

    // One line per snapshot, newest first: name, time, reason, size and databases.
    Result backups() {
        const QList<backup::SnapshotInfo> all = backup::listSnapshots(m_model->backupsDir());
        QStringList lines;
        for (const backup::SnapshotInfo& s : all)
            lines.push_back(s.name + QStringLiteral("  ") +
                            s.created.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                            QStringLiteral("  ") + backup::reasonText(s.reason) +
                            QStringLiteral("  ") + backup::sizeText(s.fileBytes) +
                            QStringLiteral("  ") + s.databaseNames().join(QStringLiteral(",")));
        if (lines.isEmpty())
            lines.push_back(QStringLiteral("没有数据库快照: ") + m_model->backupsDir());
        return withSnapshots({true, lines.join(QLatin1Char('\n')), {}});
    }

    // A line as printed: its marker, the text, in colour on a terminal.
    static QString printedLine(const logs::LogLine& line, bool colour) {
        QString text = logs::severityMarker(line.severity) + line.text;
        if (!colour || line.severity == logs::Severity::Plain)
            return text;
        const char* start = line.severity == logs::Severity::Error ? "\x1b[31m" : "\x1b[33m";
        return QLatin1String(start) + text + QStringLiteral("\x1b[0m");
    }

    // The end of a server's log; with --follow, then every new line until interrupted.
    Result serverLog() {
        const Service service = *serviceFromName(m_invocation.operand);
        const QString path = m_model->serviceLogPath(service);
        const bool colour = !m_invocation.json && resultsOnTerminal();
        const auto shown = [this](const logs::LogLine& line) {
            return !m_invocation.errorsOnly || line.severity != logs::Severity::Plain;
        };
        // The errors among the log's last lines (a bounded read, as the window's).
        logs::LogChunk chunk = logs::readLogEnd(
            path, m_invocation.errorsOnly ? std::clamp(m_invocation.logLines * 20, 2000, 20000)
                                          : m_invocation.logLines);
        QList<logs::LogLine> lines;
        for (const logs::LogLine& line : chunk.lines)
            if (shown(line))
                lines.push_back(line);
        if (lines.size() > m_invocation.logLines)
            lines = lines.mid(lines.size() - m_invocation.logLines);
        if (m_invocation.json) {
            QJsonArray array;
            for (const logs::LogLine& line : lines)
                array.push_back(QJsonObject{
                    {QStringLiteral("text"), line.text},
                    {QStringLiteral("severity"),
                     line.severity == logs::Severity::Error     ? QStringLiteral("error")
                     : line.severity == logs::Severity::Warning ? QStringLiteral("warning")
                                                                : QStringLiteral("plain")},
                    {QStringLiteral("location"), line.location}});
            return {true, {}, {{QStringLiteral("log"), path}, {QStringLiteral("lines"), array}}};
        }
        for (const logs::LogLine& line : lines)
            writeText(g_results, printedLine(line, colour));
        if (!m_invocation.followLog)
            return {true, {}, {}};
        for (;;) {
            QThread::msleep(250);
            chunk = logs::readLogSince(path, chunk.next, 20000);
            for (const logs::LogLine& line : chunk.lines)
                if (shown(line))
                    writeText(g_results, printedLine(line, colour));
        }
    }

    Result status() {
        m_model->refreshStatus();
        QString text = m_model->logs();
        if (!m_model->permissionHint().isEmpty())
            text += QLatin1Char('\n') + m_model->permissionHint();
        return {true, text, {}};
    }

    Result root() {
        const QString root = m_model->zeltoPanelRoot();
        return {true, root, {{QStringLiteral("valid"), m_model->isValidPanelRoot(root)}}};
    }

    // The folder chooser's rules, with the directory given instead of picked.
    Result rootSet() {
        const QString directory =
            QDir::cleanPath(QFileInfo(m_invocation.operand).absoluteFilePath());
        const bool valid = m_model->isValidPanelRoot(directory);
        m_desktop->setChooserAnswer(directory);
        m_model->choosePanelRoot();
        return {valid, m_model->logs(), {{QStringLiteral("directory"), directory}}};
    }

    // The address an open command handed to the desktop, or printed where there is none.
    Result opened() {
        // Calls the action queued (a launcher's note) run before the report.
        QCoreApplication::processEvents();
        if (m_desktop->opened().empty())
            return {false, {}, {}};
        const HeadlessDesktop::Opened& last = m_desktop->opened().back();
        const QString address =
            last.url.isLocalFile() ? last.url.toLocalFile() : last.url.toString(QUrl::FullyEncoded);
        return {true,
                address,
                {{QStringLiteral("address"), address},
                 {QStringLiteral("handedToDesktop"), last.handedToDesktop}}};
    }

    Invocation m_invocation;
    std::shared_ptr<HeadlessDesktop> m_desktop;
    std::shared_ptr<PanelViewModel> m_model;
};

} // namespace

int run(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    identity::applyToApplication();

    const ParsedArguments parsed = parseArguments(QCoreApplication::arguments().mid(1));
    if (!parsed.invocation) {
        writeText(stderr, programName() + QStringLiteral(": ") + parsed.error +
                              QStringLiteral("\nTry '") + programName() +
                              QStringLiteral(" --help' for the commands."));
        if (parsed.json) {
            writeJson(g_results, {{QStringLiteral("ok"), false},
                                  {QStringLiteral("exitCode"), kExitUsage},
                                  {QStringLiteral("error"), parsed.error}});
        }
        return kExitUsage;
    }

    const Invocation& invocation = *parsed.invocation;
    switch (invocation.command) {
    case Command::Help:
        writeText(stdout, usageText(programName()));
        return kExitOk;
    case Command::Version:
        if (invocation.json) {
            writeJson(g_results, {{QStringLiteral("command"), commandName(invocation.command)},
                                  {QStringLiteral("ok"), true},
                                  {QStringLiteral("exitCode"), kExitOk},
                                  {QStringLiteral("version"), identity::applicationVersion()}});
        } else {
            writeText(stdout, programName() + QLatin1Char(' ') + identity::applicationVersion());
        }
        return kExitOk;
    case Command::AutostartOn:
    case Command::AutostartOff:
    case Command::AutostartStatus:
        return runAutostart(invocation);
    default:
        break;
    }
    separateChildOutput();
    return Session(invocation).run();
}

} // namespace cli
