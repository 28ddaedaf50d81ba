#include "cli/autostart_command.h"

#include "cli/output.h"
#include "cli/state_json.h"
#include "core/autostart.h"
#include "platform/files.h"

#include <optional>

namespace cli {

namespace {

QString stateText(const core::AutostartState& state) {
    if (!state.enabled)
        return QStringLiteral("Start at login: off\nEntry: ") + state.path;
    QString panel = state.panelExecutable;
    if (!platform::isExecutableFile(panel))
        panel += QStringLiteral(" (missing: run autostart on again from the installed panel)");
    return QStringLiteral("Start at login: on, in the tray\nStart the stack at login: ") +
           (state.startStack ? QStringLiteral("yes") : QStringLiteral("no")) +
           QStringLiteral("\nPanel: ") + panel + QStringLiteral("\nEntry: ") + state.path;
}

QString errorText(const Error& error) {
    if (error.call == QLatin1String("autostart"))
        return QStringLiteral("the window program is not installed beside ") + programName() +
               QStringLiteral(": ") + error.path + QStringLiteral(" is not there");
    return error.context();
}

} // namespace

int runAutostart(const Invocation& invocation) {
    std::optional<Error> error;
    if (invocation.command != Command::AutostartStatus) {
        const bool on = invocation.command == Command::AutostartOn;
        const Result<> set = core::setAutostart(on, invocation.startStack,
                                                on ? core::installedPanelExecutable() : QString());
        if (!set)
            error = set.error();
    }
    const core::AutostartState state = core::autostartState();
    const int exitCode = error ? kExitFailed : kExitOk;
    if (error) {
        writeText(stderr, programName() + QStringLiteral(": ") + commandName(invocation.command) +
                              QStringLiteral(": ") + errorText(*error));
    }
    if (invocation.json) {
        QJsonObject object{{QStringLiteral("command"), commandName(invocation.command)},
                           {QStringLiteral("ok"), !error},
                           {QStringLiteral("exitCode"), exitCode},
                           {QStringLiteral("enabled"), state.enabled},
                           {QStringLiteral("startStack"), state.startStack},
                           {QStringLiteral("path"), state.path},
                           {QStringLiteral("panelExecutable"), state.panelExecutable}};
        if (error)
            object.insert(QStringLiteral("error"), errorJson(*error));
        writeJson(stdout, object);
    } else if (!error) {
        writeText(stdout, stateText(state));
    }
    return exitCode;
}

} // namespace cli
