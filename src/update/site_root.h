#pragma once

#include <QString>

#include <optional>

// Finding the site inside an unpacked update archive. The archive may hold the site at its
// top, inside wrapping folders, or in a folder named "www" somewhere below. Everything here
// reads the file system only; paths are plain directory paths without a trailing "/".

namespace update {

// At most this many directories are examined on the way down: the extraction directory and up
// to five nested single subdirectories below it.
inline constexpr int kSiteRootDescentLimit = 6;

// The directory whose contents become the site, or nothing when the tree holds no site.
std::optional<QString> resolveUpdateWebSource(const QString& extractDir);

// The best directory named exactly "www" with an "index.php" anywhere below dir (hidden
// entries are neither listed nor entered; a link named "www" is no directory): the highest
// completeness score wins, then the longer path; the first found wins a full tie.
std::optional<QString> wwwWithIndex(const QString& dir);

// How complete a "www" candidate looks: install/index.php 800, include 200, LibZelto 200,
// Data or data 50.
int wwwCompleteness(const QString& dir);

// True when dir holds index.php and at least one of include, LibZelto, Data or data.
bool looksLikeWebRoot(const QString& dir);

} // namespace update
