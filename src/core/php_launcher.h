#pragma once

#include <QString>
#include <QStringList>

namespace core {

// Texts and tests of the PHP server launcher that need no model.

// The note shown when an interpreter cannot run on this machine's processor. architecture is
// the machine's ("arm64", "x86_64" or "未知").
QString phpArchMismatchNote(const QString& phpPath, const QString& architecture);

// True when a launch failure's full description (any case) names a processor mismatch.
bool looksLikeArchMismatch(const QString& fullDescription);

// The interpreter of a PHP version ("PHP8.2") under a panel root.
QString phpInterpreterPath(const QString& panelRoot, const QString& version);

// The order in which PHP versions are tried: the preferred versions (listed newest first) and
// every other name of the form "PHP<major>.<minor>" among found, all newest first, so that a
// version the runtime ships besides the preferred ones falls in between them by its number
// ("PHP8.5", "PHP8.4", "PHP8.3", "PHP8.2", "PHP7.3"). Other names are ignored; none repeats.
QStringList phpVersionOrder(const QStringList& preferred, const QStringList& found);

} // namespace core
