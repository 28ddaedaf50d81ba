#pragma once

#include "platform/result.h"

#include <QString>

// The site's previous generation: what the site held (but its top-level "Data") just before an
// update changed it, kept beside the site so that the update can be undone.

namespace update {

// Makes copy (replacing whatever is there) a copy of site without its top-level "Data"
// directory. Files and links are hard links to the site's own (the synchronisation replaces
// files rather than writing into them, so the kept ones stay as they were), copies where the
// file system refuses a link; directories are new, with the site's modes and times. An
// unfinished copy is removed. A failure names the entry concerned in its path (the site's
// own when the site itself could not be read) and carries the system call's errno.
Result<> linkSiteCopy(const QString& site, const QString& copy);

// Puts a finished copy in the place of generation by renaming. The generation it replaced is
// set aside (update/set_aside.h) under the returned path, for the caller to remove when it
// suits with removeSetAside(); "" when there was none.
Result<QString> replaceSiteGeneration(const QString& copy, const QString& generation);

// Both in one: generation becomes a copy of site, built beside it (generation + ".new").
Result<> keepSiteGeneration(const QString& site, const QString& generation);

} // namespace update
