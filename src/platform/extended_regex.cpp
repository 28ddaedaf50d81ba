#include "platform/extended_regex.h"

#include "platform/command_line_text.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include <langinfo.h>
#include <regex.h>

namespace platform {

struct ExtendedRegex::Compiled {
    regex_t regex{};
};

namespace {

bool isSpecialInExtendedRegex(char c) {
    return std::strchr(".[]()*+?{}|^$\\", c) != nullptr && c != '\0';
}

// The text a pattern stands for when it is made only of ordinary characters and of special
// ones escaped with a backslash (as a path escaped for pgrep is); nothing for any other.
std::optional<QByteArray> literalOf(const QByteArray& pattern) {
    QByteArray text;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '\\') {
            ++i;
            if (i == pattern.size() || !isSpecialInExtendedRegex(pattern[i]))
                return std::nullopt; // a class such as \w, or a trailing backslash
            c = pattern[i];
        } else if (isSpecialInExtendedRegex(c)) {
            return std::nullopt;
        }
        text += c;
    }
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

} // namespace

ExtendedRegex::ExtendedRegex(const QString& pattern)
    : m_compiled(std::make_unique<Compiled>()), m_pattern(pattern) {
    const QByteArray bytes = pattern.toLocal8Bit();
    const int rc = ::regcomp(&m_compiled->regex, bytes.constData(), REG_EXTENDED | REG_NOSUB);
    if (rc != 0) {
        std::array<char, 256> text{};
        ::regerror(rc, &m_compiled->regex, text.data(), text.size());
        m_error = QString::fromLocal8Bit(text.data());
        if (m_error.isEmpty())
            m_error = QStringLiteral("invalid regular expression");
        m_compiled.reset();
        return;
    }
    // A byte search finds what regexec finds in a single-byte encoding, and in UTF-8 for
    // valid text (a character's bytes never occur inside another's); not in other multibyte
    // encodings.
    m_utf8 = std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0;
    if (m_utf8 || MB_CUR_MAX == 1)
        m_literal = literalOf(QByteArray(bytes.constData())); // regcomp stops at a NUL too
}

ExtendedRegex::~ExtendedRegex() {
    if (m_compiled)
        ::regfree(&m_compiled->regex);
}

bool ExtendedRegex::matches(const char* text) const {
    if (!m_compiled)
        return false;
    // The pattern's own matcher costs microseconds a line; the probe matches every process's.
    if (m_literal && (!m_utf8 || isValidUtf8(text)))
        return std::strstr(text, m_literal->constData()) != nullptr;
    return ::regexec(&m_compiled->regex, text, 0, nullptr, 0) == 0;
}

std::size_t ExtendedRegex::shortestMatch() const {
    return m_literal ? static_cast<std::size_t>(m_literal->size()) : 0;
}

} // namespace platform
