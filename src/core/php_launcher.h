#pragma once

#include <QString>

// Texts and tests of the PHP server launcher that need no model.

// The note shown when an interpreter cannot run on this machine's processor. architecture is
// the machine's ("arm64", "x86_64" or "未知").
QString phpArchMismatchNote(const QString& phpPath, const QString& architecture);

// True when a launch failure's full description (any case) names a processor mismatch.
bool looksLikeArchMismatch(const QString& fullDescription);

// The interpreter of a PHP version ("PHP8.2") under a panel root.
QString phpInterpreterPath(const QString& panelRoot, const QString& version);
