#pragma once

#include "core/process_helpers.h"

#include <QString>

// The database server's fixed account and the texts the panel generates for it.

inline const QString kMysqlRootUser = QStringLiteral("root");
inline const QString kMysqlRootPassword = QStringLiteral("kpzw");

// The option file my_runtime.cnf for the server installed in mysqlDir (the absolute path of
// runtime/mysql, no trailing slash): 13 lines joined by line feeds, no final line feed.
QString mysqlOptionFileText(const QString& mysqlDir);

// The command-line pattern of the database server of the runtime in mysqlDir: "mysqld.*"
// followed by the directory, taken literally.
QString mysqlProcessPattern(const QString& mysqlDir);
