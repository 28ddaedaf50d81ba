#include "core/process_helpers.h"

#include "core/panel_view_model.h"
#include "platform/files.h"
#include "platform/process.h"

#include <limits>

namespace core {

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

QStringList trimmedTexts(const QStringList& texts) {
    QStringList trimmed;
    trimmed.reserve(texts.size());
    for (const QString& text : texts)
        trimmed.push_back(trimmedText(text));
    return trimmed;
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

std::optional<pid_t> readPidFile(const QString& path) {
    const Result<QString> text = platform::readUtf8File(path);
    if (!text)
        return std::nullopt;
    const std::optional<qint32> pid = parseProcessId(trimmedText(*text));
    if (!pid || *pid <= 0)
        return std::nullopt;
    return static_cast<pid_t>(*pid);
}

QString processReportText(const Result<platform::ChildExit>& result) {
    if (!result)
        return QStringLiteral("执行失败: ") + result.error().message;
    return platform::decodeUtf8(result->output).value_or(QString());
}

} // namespace core

// --- PanelViewModel: process and file helpers ---

QString PanelViewModel::runProcess(const QString& executable, const QStringList& args) const {
    platform::ChildOptions options;
    options.out = platform::StdStream::Capture;
    options.err = platform::StdStream::Merge;
    return core::processReportText(platform::runChild(executable, args, options));
}

Result<> PanelViewModel::killMatching(const QString& pattern) const {
    const Result<platform::ChildExit> r =
        platform::runChild(m_platform.tools.pkill, {QStringLiteral("-f"), pattern});
    if (!r)
        return std::unexpected(r.error());
    return {};
}

QString PanelViewModel::killByPattern(const QString& pattern) const {
    return core::failureText(killMatching(pattern));
}

bool PanelViewModel::isRunning(const QStringList& command) const {
    Q_ASSERT(!command.isEmpty());
    if (command.isEmpty())
        return false;
    // Only the exit status answers; what the probe prints (pgrep's pids) goes nowhere.
    platform::ChildOptions quiet;
    quiet.out = platform::StdStream::Null;
    const Result<platform::ChildExit> r =
        platform::runChild(command.front(), command.mid(1), quiet);
    return r && r->exitedCleanly();
}

std::optional<QString> PanelViewModel::readTextFile(const QString& path) const {
    Result<QString> text = platform::readUtf8File(path);
    if (!text)
        return std::nullopt;
    return *std::move(text);
}

QString PanelViewModel::makeDir(const QString& path) const {
    return core::failureText(platform::createDirectories(path));
}

QString PanelViewModel::tryWrite(const QString& path, const QString& content) const {
    return core::failureText(platform::writeTextAtomically(path, content));
}

std::optional<pid_t> PanelViewModel::mysqlPidFromPort() const {
    // What lsof -ti :PORT would list first.
    return m_processes.firstPidOnPort(quint16(m_config.databasePort));
}
