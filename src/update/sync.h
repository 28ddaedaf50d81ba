#pragma once

#include <QString>

#include <optional>

namespace update {

// Which directory of a source the second pass of a synchronisation takes as its data.
enum class PackageData {
    DataOrLowercase, // an update package's: "Data", else "data"
    DataOnly,        // a kept generation of the site, whose "data" is a site directory
};

// The source's data directory: "Data" directly inside source if that is a directory (a link
// to one counts), else, with DataOrLowercase, "data" likewise, else nothing.
std::optional<QString> packageDataDirectory(const QString& source,
                                            PackageData which = PackageData::DataOrLowercase);

} // namespace update
