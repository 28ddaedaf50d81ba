#pragma once

#include "platform/result.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>

// Fetching the update archive.
namespace update {

// base followed by "?t=" and the local date as "yyyyMMdd" (Western digits, Gregorian
// calendar, whatever the user's locale); base itself when that does not form a valid URL.
QUrl updateZipDownloadURLFor(const QUrl& base, const QDateTime& now);

// Bytes received so far and the body's announced length (-1 when unknown).
using DownloadProgress = std::function<void(qint64 received, qint64 total)>;

// One GET of url on the calling thread, which blocks until the transfer has ended. The body is
// streamed into a temporary file beside path that replaces path only once the whole body has
// arrived, whatever the HTTP status (an error page is stored like an archive). A transfer that
// receives nothing for stallSeconds ends with an error; redirects with a Location are followed
// unless they lead from https to http. progress follows the body of the final response.
// On failure the file at path is left as it was; a transfer that stalled fails with the kind
// Stalled.
Result<> downloadToFile(const QUrl& url, const QString& path, int stallSeconds,
                        const DownloadProgress& progress = {});

} // namespace update
