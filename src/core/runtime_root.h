#pragma once

#include "platform/result.h"

#include <QString>

namespace core {

// The directory layout under a panel root.

// True when root holds runtime/mysql/bin/mysqld, runtime/php and runtime/phpmyadmin
// (tested in that order; any kind of entry counts).
bool isValidPanelRootPath(const QString& root);

// Installs the runtime at sourceRuntime into installedRoot/runtime unless installedRoot is
// already a valid panel root. A runtime directory already there that is not valid is moved
// aside to a dated sibling directory first, and its database data (mysql/data) and site (www)
// are carried into the new runtime in place of the shipped ones, which go into the aside
// directory instead: nothing is deleted. Serialised between threads and between processes.
// Succeeds when installedRoot is a valid panel root afterwards. Without a complete runtime at
// sourceRuntime the error's kind is NotFound.
Result<> installRuntime(const QString& sourceRuntime, const QString& installedRoot,
                        const QString& asideSuffix);

} // namespace core
