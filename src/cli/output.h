#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdio>

namespace cli {

// The exit statuses of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

QString programName();

// Writes text as UTF-8, with a line break after it unless it ends in one, and flushes.
void writeText(FILE* stream, const QString& text);

// Writes the object as indented JSON.
void writeJson(FILE* stream, const QJsonObject& object);

} // namespace cli
