// The pid-file and port-listing parsers: what a pid file or lsof's terse output may hold.

#include "core/process_helpers.h"
#include "fuzz_support.h"

#include <QRegularExpression>
#include <QStringList>

#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<QString> decoded = decodeUtf8(bytes);
    // Strict decoding: what decodes encodes back to the same bytes.
    if (decoded)
        FUZZ_CHECK(decoded->toUtf8() == bytes);
    const QString text = decoded.value_or(QString::fromUtf8(bytes));

    // A pid is a decimal integer that fits in 32 bits.
    const std::optional<qint64> wide = parseDecimalInteger(text);
    const std::optional<qint32> pid = parseProcessId(text);
    if (wide && *wide >= std::numeric_limits<qint32>::min() &&
        *wide <= std::numeric_limits<qint32>::max())
        FUZZ_CHECK(pid && *pid == *wide);
    else
        FUZZ_CHECK(!pid);

    // The pid file as the panel reads it.
    const QString trimmed = trimmedText(text);
    FUZZ_CHECK(trimmedText(trimmed) == trimmed);
    (void)parseProcessId(trimmed);

    // lsof -t: the first line that is a pid, and it is one of the lines.
    if (const std::optional<qint32> first = firstProcessIdInLines(text)) {
        bool found = false;
        for (const QString& line : text.split(QRegularExpression(QStringLiteral("\\R"))))
            found = found || parseProcessId(trimmedText(line)) == first;
        FUZZ_CHECK(found);
    }
    return 0;
}
