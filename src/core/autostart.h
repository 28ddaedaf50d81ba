#pragma once

#include "platform/result.h"

#include <QString>
#include <QStringList>

#include <optional>

// Starting the panel at login: a desktop entry in the user's autostart directory (the XDG
// autostart convention) that runs the window program in the tray, and optionally has it start
// the stack. The entry is the only state: nothing else remembers whether it is on, so the
// window, the tray and the command line always agree with what the desktop will do at login.
namespace core {

struct AutostartState {
    bool enabled = false;    // an entry is there and the desktop will run it at login
    bool startStack = false; // it starts the stack too (--start-all)
    QString path;            // where the entry is, or would be
    QString panelExecutable; // the program it runs; empty when there is no entry
};

// $XDG_CONFIG_HOME/autostart/org.zelto.Panel.desktop; ~/.config in place of XDG_CONFIG_HOME
// when it is unset, empty or relative (as the base directory rules say).
QString autostartEntryPath();

// What the entry at autostartEntryPath() says. An entry the desktop was told to skip
// (Hidden=true, X-GNOME-Autostart-enabled=false), or one whose Exec cannot be read, is off.
AutostartState autostartState();

// enabled: writes the entry (atomically), to run panelExecutable (an absolute path to an
// executable file, else ErrorKind::NotFound naming it) with --tray, and --start-all when
// startStack. Not enabled: removes the entry; a missing one is success.
Result<> setAutostart(bool enabled, bool startStack, const QString& panelExecutable);

// The window program, zelto-panel, beside the running program (its directory with symbolic
// links resolved): what the entry should run.
QString installedPanelExecutable();

// The entry's text for the given program and flag.
QString autostartEntryText(bool startStack, const QString& panelExecutable);

// One argument as an Exec value carries it: in double quotes with ", `, $ and \ escaped, %
// doubled, then escaped once more as any string value is (\\, \n, \t, \r).
QString desktopExecArgument(const QString& argument);

// The arguments of an Exec value (as it stands in the file), undoing both levels of escaping;
// nothing when a quote is not closed.
std::optional<QStringList> desktopExecArguments(const QString& value);

} // namespace core
