#include "platform/command_line_text.h"

namespace platform {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when the bytes there are not one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
        } else if (const std::size_t n = utf8SequenceLength(text, i); n > 0) {
            i += n;
        } else {
            return false;
        }
    }
    return true;
}

void appendMatchable(std::string_view raw, QByteArray& out) {
    for (std::size_t i = 0; i < raw.size();) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c == '\0' || c == '\n') {
            out += ' ';
            ++i;
            continue;
        }
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Other control characters and bytes that start no valid sequence show as one '?'.
        const std::size_t n = c >= 0x80 ? utf8SequenceLength(raw, i) : 0;
        if (n > 0) {
            out.append(raw.data() + i, static_cast<qsizetype>(n));
            i += n;
        } else {
            out += '?';
            ++i;
        }
    }
}

std::string_view withoutTrailingNuls(const QByteArray& bytes) {
    std::string_view raw(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    while (!raw.empty() && raw.back() == '\0')
        raw.remove_suffix(1);
    return raw;
}

QByteArray matchableCommandLine(const QByteArray& rawCmdline, const QByteArray& shortName) {
    const std::string_view raw = withoutTrailingNuls(rawCmdline);
    if (raw.empty())
        return '[' + shortName + ']';
    QByteArray out;
    out.reserve(static_cast<qsizetype>(raw.size()));
    appendMatchable(raw, out);
    return out;
}

} // namespace platform
