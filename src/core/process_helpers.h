#pragma once

#include "platform/process.h"
#include "platform/result.h"

#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

namespace core {

// An optional "+" or "-", then one or more ASCII digits and nothing else; nothing when the
// value does not fit in 64 bits.
std::optional<qint64> parseDecimalInteger(QStringView text);

// Parses a process id the way every pid reader of the panel does: an optional "+" or "-",
// then one or more ASCII digits and nothing else, fitting in 32 bits. No trimming here.
std::optional<qint32> parseProcessId(const QString& text);

// text with every character that is special in a POSIX extended regular expression
// (.[]()*+?{}|^$\) escaped by a backslash, so a pattern built from it matches text literally.
QString escapeExtendedRegex(const QString& text);

// Trims white space and line breaks at both ends (Unicode-aware).
QString trimmedText(const QString& text);
// Every text trimmed so.
QStringList trimmedTexts(const QStringList& texts);

// The length of text in characters (Unicode code points): a character outside the Basic
// Multilingual Plane counts once, not as its two UTF-16 units.
qsizetype characterCount(QStringView text);

// The process id recorded in a pid file: the file's text, trimmed, a process id above 0.
// Nothing when the file is missing, unreadable, not UTF-8 or holds anything else.
std::optional<pid_t> readPidFile(const QString& path);

// The report of a child run for the log: its output (invalid UTF-8 reads as empty), or
// "执行失败: " and the system's text when it could not be started.
QString processReportText(const Result<platform::ChildExit>& result);

// The failure's text, or "" for success: the report of a step that says nothing when it works.
template <class T> QString failureText(const Result<T>& result) {
    return result ? QString() : result.error().message;
}

} // namespace core
