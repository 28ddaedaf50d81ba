#pragma once

#include <QString>

#include <optional>

namespace update {

// The package's data directory: "Data" directly inside source if that is a directory (a link
// to one counts), else "data" likewise, else nothing.
std::optional<QString> packageDataDirectory(const QString& source);

} // namespace update
