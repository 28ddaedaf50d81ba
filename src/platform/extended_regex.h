#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <memory>
#include <optional>

namespace platform {

// A POSIX extended regular expression, compiled in the process's locale, as `pgrep` and `pkill`
// compile their pattern.
class ExtendedRegex {
public:
    explicit ExtendedRegex(const QString& pattern);
    ~ExtendedRegex();
    ExtendedRegex(const ExtendedRegex&) = delete;
    ExtendedRegex& operator=(const ExtendedRegex&) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    // Why the pattern did not compile; empty when it did.
    QString errorString() const { return m_error; }
    // The pattern as given (for a tool that compiles it itself).
    QString pattern() const { return m_pattern; }
    // Whether the pattern matches anywhere in text (NUL-terminated bytes in the locale's
    // encoding; an invalid pattern matches nothing).
    bool matches(const char* text) const;
    // No text shorter than this matches (0 when the pattern does not tell).
    std::size_t shortestMatch() const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> m_compiled;
    QString m_pattern;
    QString m_error;
    // A pattern of plain characters and escaped special ones matches exactly where its text
    // occurs; that text, when the locale lets a byte search decide as regexec would.
    std::optional<QByteArray> m_literal;
    bool m_utf8 = false; // the locale's encoding is UTF-8 (else single-byte)
};

} // namespace platform
