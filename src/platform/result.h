#pragma once

#include <QString>

#include <expected>
#include <utility>

// What sort of failure an Error is: callers decide by this, never by its texts.
enum class ErrorKind {
    System,     // a system call failed; code holds its errno
    NotFound,   // what was asked for is not there (a file, a runtime to install, a site root)
    Stalled,    // a transfer or a child made no progress for too long
    TimedOut,   // something did not happen within its limit
    Corrupt,    // data read is not what it must be (a checksum, a size, an archive's shape)
    Refused,    // a check refused the request before anything was changed
    ToolFailed, // a child program ran and failed; exitStatus holds its status
    Cancelled,  // the user asked for it to stop before it was done (a stop during a start)
};

// Why something below the model failed. The message is the system's or the library's own
// text ("No such file or directory"); the model turns it into the panel's words.
struct Error {
    QString message;
    QString path; // the file or program concerned, when there is one
    QString call; // the call or step that failed, when known ("rename", "posix_spawn")
    int code = 0; // errno, when a system call failed; nothing else
    ErrorKind kind = ErrorKind::System;
    int exitStatus = 0; // a child program's exit status, with ErrorKind::ToolFailed

    // The message with its context, for diagnostics ("rename /a/b: Permission denied").
    QString context() const;
};

// The result of everything below the model: a value, or the Error that prevented it.
// Discarding one is a compiler warning; a deliberately ignored failure goes through
// reportIgnored() (core/diagnostics.h) so that it still shows.
template <class T = void> class [[nodiscard]] Result : public std::expected<T, Error> {
public:
    using std::expected<T, Error>::expected;
    Result(std::expected<T, Error> other) : std::expected<T, Error>(std::move(other)) {}
};

// The failure of a Result.
inline std::unexpected<Error> failure(QString message, QString path = {}, QString call = {},
                                      int code = 0) {
    return std::unexpected(Error{std::move(message), std::move(path), std::move(call), code});
}

// The failure of the given kind (not a system call's: code stays 0).
inline std::unexpected<Error> failure(ErrorKind kind, QString message, QString path = {},
                                      QString call = {}) {
    return std::unexpected(Error{std::move(message), std::move(path), std::move(call), 0, kind, 0});
}

// The failure of a child program that ran and ended with exitStatus.
inline std::unexpected<Error> toolFailure(int exitStatus, QString message, QString path = {},
                                          QString call = {}) {
    return std::unexpected(Error{std::move(message), std::move(path), std::move(call), 0,
                                 ErrorKind::ToolFailed, exitStatus});
}

namespace platform {

// The system's text for an errno value ("Permission denied").
QString errnoText(int code);

// The failure of a system call that set errno to code: of kind NotFound for ENOENT, else
// System.
std::unexpected<Error> errnoFailure(int code, QString path, QString call);

} // namespace platform
