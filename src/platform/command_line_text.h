#pragma once

#include <QByteArray>

#include <cstddef>
#include <string_view>

// The text of a process's command line as `pgrep -f` matches it.
namespace platform {

// The text that `pgrep -f` matches for a process: the arguments of its raw /proc cmdline
// (NUL-separated) joined by single spaces, a line feed shown as a space and other control
// characters and invalid UTF-8 bytes as "?"; a process without arguments (a kernel thread)
// shows as its short name in brackets, "[name]".
QByteArray matchableCommandLine(const QByteArray& rawCmdline, const QByteArray& shortName);

// Appends the matchable form of raw (a non-empty cmdline without its trailing NULs) to out.
void appendMatchable(std::string_view raw, QByteArray& out);

// The raw cmdline without the NULs that end it.
std::string_view withoutTrailingNuls(const QByteArray& bytes);

bool isValidUtf8(std::string_view text);

} // namespace platform
