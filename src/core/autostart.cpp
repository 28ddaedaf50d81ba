#include "core/autostart.h"

#include "platform/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>

#include <unistd.h>

namespace core {

namespace {

const QString kEntryName = QStringLiteral("org.zelto.Panel.desktop");
const QString kTrayArgument = QStringLiteral("--tray");
const QString kStartAllArgument = QStringLiteral("--start-all");

// The string-value escapes of a desktop entry.
QString escapedString(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

// An unknown escape keeps its backslash: nothing written is lost.
QString unescapedString(const QString& value) {
    QString text;
    text.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            text += c;
            continue;
        }
        const QChar next = value[++i];
        if (next == QLatin1Char('s'))
            text += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            text += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            text += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            text += QLatin1Char('\r');
        else if (next == QLatin1Char('\\'))
            text += QLatin1Char('\\');
        else
            text += QLatin1Char('\\') + QString(next);
    }
    return text;
}

bool escapedInQuotes(QChar c) {
    return c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
           c == QLatin1Char('\\');
}

// The keys of the [Desktop Entry] group with their values as written; the first of a key
// that is given twice counts.
QHash<QString, QString> desktopEntryKeys(const QString& text) {
    QHash<QString, QString> keys;
    bool inGroup = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            inGroup = trimmed == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        QString value = line.mid(equals + 1);
        while (value.startsWith(QLatin1Char(' ')) || value.startsWith(QLatin1Char('\t')))
            value.remove(0, 1);
        if (!keys.contains(key))
            keys.insert(key, value);
    }
    return keys;
}

} // namespace

QString autostartEntryPath() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(configHome + QStringLiteral("/autostart/") + kEntryName);
}

QString desktopExecArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (escapedInQuotes(c))
            quoted += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return escapedString(quoted);
}

std::optional<QStringList> desktopExecArguments(const QString& value) {
    const QString exec = unescapedString(value);
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        const QChar next = i + 1 < exec.size() ? exec[i + 1] : QChar();
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inArgument = true;
            continue;
        }
        if (!quoted &&
            (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n'))) {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
            continue;
        }
        if ((quoted && c == QLatin1Char('\\') && escapedInQuotes(next)) ||
            (c == QLatin1Char('%') && next == QLatin1Char('%')))
            ++i;
        current += exec[i];
        inArgument = true;
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments.push_back(current);
    return arguments;
}

QString autostartEntryText(bool startStack, const QString& panelExecutable) {
    QString exec = desktopExecArgument(panelExecutable) + QLatin1Char(' ') + kTrayArgument;
    if (startStack)
        exec += QLatin1Char(' ') + kStartAllArgument;
    return QStringLiteral("# Written by Zelto-Panel (Start at login); "
                          "\"zelto-panel-cli autostart off\" removes it.\n"
                          "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Zelto-Panel\n"
                          "Name[zh_CN]=ZELTO 本地调试助手\n"
                          "Comment=Starts Zelto-Panel in the tray at login\n"
                          "Comment[zh_CN]=登录时在托盘中启动 ZELTO 本地调试助手\n"
                          "Exec=") +
           exec +
           QStringLiteral("\n"
                          "Icon=org.zelto.Panel\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n");
}

AutostartState autostartState() {
    AutostartState state;
    state.path = autostartEntryPath();
    const Result<QString> text = platform::readUtf8File(state.path);
    if (!text)
        return state;
    const QHash<QString, QString> keys = desktopEntryKeys(*text);
    const std::optional<QStringList> arguments =
        desktopExecArguments(keys.value(QStringLiteral("Exec")));
    if (!arguments || arguments->isEmpty())
        return state;
    state.panelExecutable = arguments->first();
    state.startStack = arguments->mid(1).contains(kStartAllArgument);
    state.enabled =
        keys.value(QStringLiteral("Hidden")) != QLatin1String("true") &&
        keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) != QLatin1String("false");
    return state;
}

Result<> setAutostart(bool enabled, bool startStack, const QString& panelExecutable) {
    const QString path = autostartEntryPath();
    if (!enabled) {
        if (::unlink(QFile::encodeName(path).constData()) != 0) {
            const int error = errno;
            if (error != ENOENT)
                return platform::errnoFailure(error, path, QStringLiteral("unlink"));
        }
        return {};
    }
    // An entry that runs nothing would fail at every login, where nobody sees why.
    if (!QDir::isAbsolutePath(panelExecutable) || !platform::isExecutableFile(panelExecutable))
        return failure(ErrorKind::NotFound, QStringLiteral("no executable program there"),
                       panelExecutable, QStringLiteral("autostart"));
    if (Result<> made = platform::createDirectories(QFileInfo(path).path()); !made)
        return made;
    return platform::writeTextAtomically(path, autostartEntryText(startStack, panelExecutable));
}

QString installedPanelExecutable() {
    const QString directory = QCoreApplication::applicationDirPath();
    const QString resolved = QFileInfo(directory).canonicalFilePath();
    return (resolved.isEmpty() ? directory : resolved) + QStringLiteral("/zelto-panel");
}

} // namespace core
