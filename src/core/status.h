#pragma once

#include <QString>

struct ServiceStatus;

namespace core {

// The status report written into the log by a status refresh.
QString statusText(const ServiceStatus& status, const QString& panelRoot);

// The lines of log that look like errors: the first eight non-empty lines that contain one of
// the error keywords (case-sensitive), joined by line feeds.
QString errorSummaryOf(const QString& log);

// The hint for a write-test directory that is missing or not a directory.
QString missingDirectoryHint(const QString& dir);
// The hint for a directory the panel cannot write, with the failure's description.
QString notWritableHint(const QString& dir, const QString& error);

} // namespace core
