#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

// Fetching the update archive.

// base followed by "?t=" and the local date as "yyyyMMdd" (Western digits, Gregorian
// calendar, whatever the user's locale); base itself when that does not form a valid URL.
QUrl updateZipDownloadURLFor(const QUrl& base, const QDateTime& now);

// One GET of url on the calling thread, which blocks until the transfer has ended. The body is
// streamed into a temporary file beside path that replaces path only once the whole body has
// arrived, whatever the HTTP status (an error page is stored like an archive). A transfer that
// receives nothing for stallSeconds ends with an error; redirects are followed unless they
// lead from https to http. Nothing on success, else the failure's description; on failure the
// file at path is left as it was.
std::optional<QString> downloadToFile(const QUrl& url, const QString& path, int stallSeconds);
