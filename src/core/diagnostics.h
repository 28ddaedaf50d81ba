#pragma once

#include "platform/result.h"

#include <QLoggingCategory>

#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcPanel)

// Failures of steps whose result the panel deliberately goes past (a clean-up, a best-effort
// preparation) still show: each is logged as a warning, and collected where a caller keeps a
// list. Returns whether the step succeeded.
bool reportIgnored(const Result<>& result, const char* step,
                   std::vector<Error>* collected = nullptr);
void reportIgnored(const Error& error, const char* step, std::vector<Error>* collected = nullptr);
