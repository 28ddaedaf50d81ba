#pragma once

#include <QString>

// Files the runtime's database server keeps for itself, as its programs place them.

// The server's Unix socket for the runtime whose runtime/mysql is mysqlDir (absolute, no
// trailing slash): mysqld.sock inside it when that path fits a socket address (107 bytes),
// otherwise a name in /tmp derived from mysqlDir and the user, so that a deep panel root still
// gets a socket of its own.
QString mysqlSocketPathFor(const QString& mysqlDir);
