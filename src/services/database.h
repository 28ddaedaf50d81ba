#pragma once

#include "core/service_table.h"

#include <QString>

namespace services {

// The database server's fixed account and the texts the panel generates for it.

inline const QString kMysqlRootUser = QStringLiteral("root");
inline const QString kMysqlRootPassword = QStringLiteral("kpzw");

// The option file my_runtime.cnf for the server installed in mysqlDir (the absolute path of
// runtime/mysql, no trailing slash): 13 lines joined by line feeds, no final line feed. A path
// that the option-file reader would cut or change (a "#", a backslash, a quote, a line break
// or another control character) is written quoted and escaped, so it reads back unchanged.
QString mysqlOptionFileText(const QString& mysqlDir);

} // namespace services
