// The pid-file parser (what a pid file may hold), and the process table's reading of a /proc
// command line and its pattern matching.

#include "core/process_helpers.h"
#include "fuzz_support.h"
#include "platform/files.h"
#include "platform/process_table.h"

#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<QString> decoded = platform::decodeUtf8(bytes);
    // Strict decoding: what decodes encodes back to the same bytes.
    if (decoded)
        FUZZ_CHECK(decoded->toUtf8() == bytes);
    const QString text = decoded.value_or(QString::fromUtf8(bytes));

    // A pid is a decimal integer that fits in 32 bits.
    const std::optional<qint64> wide = core::parseDecimalInteger(text);
    const std::optional<qint32> pid = core::parseProcessId(text);
    if (wide && *wide >= std::numeric_limits<qint32>::min() &&
        *wide <= std::numeric_limits<qint32>::max())
        FUZZ_CHECK(pid && *pid == *wide);
    else
        FUZZ_CHECK(!pid);

    // The pid file as the panel reads it.
    const QString trimmed = core::trimmedText(text);
    FUZZ_CHECK(core::trimmedText(trimmed) == trimmed);
    (void)core::parseProcessId(trimmed);

    // A raw /proc cmdline (NUL-separated arguments) as pgrep -f matches it: one line of
    // printable, valid UTF-8 text.
    const QByteArray matchable = platform::matchableCommandLine(bytes, QByteArrayLiteral("x"));
    FUZZ_CHECK(platform::decodeUtf8(matchable).has_value());
    for (const char c : matchable)
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    // A pattern made from a text matches that text literally.
    if (!text.contains(QChar(0))) {
        const platform::ExtendedRegex literal(core::escapeExtendedRegex(text));
        FUZZ_CHECK(literal.isValid() && literal.matches(text.toUtf8().constData()));
    }
    return 0;
}
