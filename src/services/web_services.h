#pragma once

#include <QString>

namespace services {

// The configuration the panel writes for phpMyAdmin when it has none: 10 lines joined by line
// feeds, no final line feed.
QString phpMyAdminConfigText();

// True when a command line (arguments joined by spaces) is that of a PHP built-in web server:
// it has the "-S" option and the program's file name starts with "php". The program path may
// itself hold spaces, so both the first word and everything before "-S" are looked at.
bool isPhpBuiltInServerCommandLine(const QString& commandLine);

} // namespace services
