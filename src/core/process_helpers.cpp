#include "core/process_helpers.h"

#include "core/panel_view_model.h"
#include "platform/files.h"
#include "platform/process.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <limits>

std::optional<qint64> parseDecimalInteger(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i >= text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const int digit = c.unicode() - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

std::optional<qint32> parseProcessId(const QString& text) {
    const std::optional<qint64> value = parseDecimalInteger(text);
    if (!value || *value > std::numeric_limits<qint32>::max() ||
        *value < std::numeric_limits<qint32>::min())
        return std::nullopt;
    return static_cast<qint32>(*value);
}

QString escapeExtendedRegex(const QString& text) {
    static const QString special = QStringLiteral(".[]()*+?{}|^$\\");
    QString escaped;
    escaped.reserve(text.size() * 2);
    for (const QChar c : text) {
        if (special.contains(c))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

QString trimmedText(const QString& text) {
    // QString::trimmed() handles Unicode white space, including U+0085, U+2028 and U+2029.
    return text.trimmed();
}

qsizetype characterCount(QStringView text) {
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++count;
    }
    return count;
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<qint32> firstProcessIdInLines(const QString& output) {
    static const QRegularExpression lineBreaks(
        QStringLiteral("\\r\\n|[\\n\\v\\f\\r\\x{0085}\\x{2028}\\x{2029}]"));
    for (const QString& line : output.split(lineBreaks, Qt::SkipEmptyParts)) {
        if (auto pid = parseProcessId(trimmedText(line)))
            return pid;
    }
    return std::nullopt;
}

// --- PanelViewModel: process and file helpers ---

QString PanelViewModel::runProcess(const QString& executable, const QStringList& args) const {
    ChildOptions options;
    options.out = StdStream::Capture;
    options.err = StdStream::Merge;
    const ChildResult r = runChild(executable, args, options);
    if (!r.launched())
        return QStringLiteral("执行失败: ") + r.launchError->description;
    return decodeUtf8(r.output).value_or(QString());
}

QString PanelViewModel::killByPattern(const QString& pattern) const {
    const ChildResult r = runChild(m_platform.tools.pkill, {QStringLiteral("-f"), pattern});
    if (!r.launched())
        return r.launchError->description;
    return {};
}

bool PanelViewModel::isRunning(const QStringList& command) const {
    Q_ASSERT(!command.isEmpty());
    if (command.isEmpty())
        return false;
    const ChildResult r = runChild(command.front(), command.mid(1));
    return r.launched() && !r.signalled && r.exitStatus == 0;
}

std::optional<QString> PanelViewModel::readTextFile(const QString& path) const {
    return readUtf8File(path);
}

QString PanelViewModel::makeDir(const QString& path) const {
    return createDirectories(path);
}

QString PanelViewModel::tryWrite(const QString& path, const QString& content) const {
    return writeTextAtomically(path, content);
}

std::optional<pid_t> PanelViewModel::mysqlPidFromPort3306() const {
    ChildOptions options;
    options.out = StdStream::Capture;
    options.err = StdStream::Null;
    const ChildResult r =
        runChild(m_platform.tools.lsof, {QStringLiteral("-ti"), QStringLiteral(":3306")}, options);
    if (!r.launched())
        return std::nullopt;
    const std::optional<QString> text = decodeUtf8(r.output);
    if (!text)
        return std::nullopt;
    if (auto pid = firstProcessIdInLines(*text))
        return static_cast<pid_t>(*pid);
    return std::nullopt;
}
