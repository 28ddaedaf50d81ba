#pragma once

#include "platform/result.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

// The rules for the names of archive entries, shared by the survey, the reader and the writer
// of an extraction (update/extraction.h).
namespace update::entry_names {

// "name: message", or the empty message as it is.
QString withEntryName(const char* name, const QString& message);

// The reason an entry name must not be written below the extraction directory, in
// libarchive's own words for the same refusals, or nothing when the name is safe.
std::optional<QString> unsafeNameReason(std::string_view name);

// name without empty and "." components ("a//./b/" is "a/b"): the path the file system
// resolves. Names are known to hold no ".." by then.
std::string normalizedName(std::string_view name);

// The reason an entry that names the extraction directory itself ("." or "./") must not be
// written: anything but a directory would replace the directory (a link to elsewhere would
// take every later entry with it). Nothing when the entry names something below it.
std::optional<QString> replacesBaseReason(const std::string& normalName, unsigned fileType);

// The first of name and its parent directories that is one of links, or nothing.
std::optional<std::string> linkOnTheWay(const std::string& name,
                                        const std::unordered_set<std::string>& links);

// The refusal of the entry name for reason.
inline Error refusedEntry(const char* name, const QString& reason) {
    return Error{withEntryName(name, reason), {}, {}, 0, ErrorKind::Refused, 0};
}

} // namespace update::entry_names
