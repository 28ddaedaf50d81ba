#include "cli/arguments.h"

#include "core/service_table.h"

namespace cli {

namespace {

ParsedArguments usageError(const QString& message, bool json) {
    ParsedArguments parsed;
    parsed.error = message;
    parsed.json = json;
    return parsed;
}

QString quoted(const QString& text) {
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

} // namespace

ParsedArguments parseArguments(const QStringList& args) {
    Invocation invocation;
    bool help = false;
    bool version = false;
    QStringList words;
    bool optionsEnded = false;
    std::optional<QString> from;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!optionsEnded &&
            (arg == QLatin1String("--from") || arg.startsWith(QLatin1String("--from=")))) {
            if (arg.contains(QLatin1Char('='))) {
                from = arg.section(QLatin1Char('='), 1);
            } else if (i + 1 < args.size()) {
                from = args[++i];
            } else {
                return usageError(QStringLiteral("--from needs an address: --from URL"),
                                  invocation.json);
            }
            continue;
        }
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            words.push_back(arg);
        } else if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg == QLatin1String("--json")) {
            invocation.json = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            help = true;
        } else if (arg == QLatin1String("--version")) {
            version = true;
        } else {
            return usageError(QStringLiteral("unknown option ") + quoted(arg), invocation.json);
        }
    }

    ParsedArguments parsed;
    parsed.json = invocation.json;
    if (help || (!words.isEmpty() && words.first() == QLatin1String("help"))) {
        invocation.command = Command::Help;
        parsed.invocation = invocation;
        return parsed;
    }
    if (version) {
        invocation.command = Command::Version;
        parsed.invocation = invocation;
        return parsed;
    }
    if (words.isEmpty())
        return usageError(QStringLiteral("no command given"), invocation.json);

    const QString name = words.takeFirst();
    auto noMoreWords = [&](const QString& command) -> std::optional<QString> {
        if (words.isEmpty())
            return std::nullopt;
        return command + QStringLiteral(" takes no further arguments, but got ") +
               quoted(words.join(QLatin1Char(' ')));
    };

    static const std::pair<const char*, Command> plain[] = {
        {"status", Command::Status}, {"start", Command::Start}, {"stop", Command::Stop},
        {"update", Command::Update}, {"undo", Command::Undo},
    };
    for (const auto& [word, command] : plain) {
        if (name == QLatin1String(word)) {
            if (auto error = noMoreWords(name))
                return usageError(*error, invocation.json);
            invocation.command = command;
            if (from) {
                if (command != Command::Update)
                    return usageError(QStringLiteral("--from belongs to update only"),
                                      invocation.json);
                const QUrl url(*from, QUrl::StrictMode);
                const QString scheme = url.scheme();
                if (!url.isValid() || url.host().isEmpty() ||
                    (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
                    return usageError(QStringLiteral("--from needs an http or https address, "
                                                     "not ") +
                                          quoted(*from),
                                      invocation.json);
                invocation.updateFrom = url;
            }
            parsed.invocation = invocation;
            return parsed;
        }
    }
    if (from)
        return usageError(QStringLiteral("--from belongs to update only"), invocation.json);

    if (name == QLatin1String("root")) {
        if (words.isEmpty()) {
            invocation.command = Command::Root;
        } else if (words.first() == QLatin1String("set")) {
            words.removeFirst();
            if (words.isEmpty() || words.first().isEmpty())
                return usageError(QStringLiteral("root set needs a directory: root set DIR"),
                                  invocation.json);
            invocation.directory = words.takeFirst();
            if (auto error = noMoreWords(QStringLiteral("root set DIR")))
                return usageError(*error, invocation.json);
            invocation.command = Command::RootSet;
        } else {
            return usageError(QStringLiteral("root takes nothing or set DIR, but got ") +
                                  quoted(words.first()),
                              invocation.json);
        }
        parsed.invocation = invocation;
        return parsed;
    }

    if (name == QLatin1String("open")) {
        static const std::pair<const char*, Command> targets[] = {
            {"site", Command::OpenSite},
            {"phpmyadmin", Command::OpenPhpMyAdmin},
            {"dir", Command::OpenDirectory},
        };
        const QString target = words.isEmpty() ? QString() : words.takeFirst();
        for (const auto& [word, command] : targets) {
            if (target == QLatin1String(word)) {
                if (auto error = noMoreWords(QStringLiteral("open ") + target))
                    return usageError(*error, invocation.json);
                invocation.command = command;
                parsed.invocation = invocation;
                return parsed;
            }
        }
        return usageError(target.isEmpty()
                              ? QStringLiteral("open needs what to open: site, phpmyadmin or dir")
                              : QStringLiteral("open knows site, phpmyadmin and dir, not ") +
                                    quoted(target),
                          invocation.json);
    }

    return usageError(QStringLiteral("unknown command ") + quoted(name), invocation.json);
}

QString commandName(Command command) {
    switch (command) {
    case Command::Help:
        return QStringLiteral("help");
    case Command::Version:
        return QStringLiteral("version");
    case Command::Status:
        return QStringLiteral("status");
    case Command::Start:
        return QStringLiteral("start");
    case Command::Stop:
        return QStringLiteral("stop");
    case Command::Update:
        return QStringLiteral("update");
    case Command::Undo:
        return QStringLiteral("undo");
    case Command::Root:
        return QStringLiteral("root");
    case Command::RootSet:
        return QStringLiteral("root set");
    case Command::OpenSite:
        return QStringLiteral("open site");
    case Command::OpenPhpMyAdmin:
        return QStringLiteral("open phpmyadmin");
    case Command::OpenDirectory:
        return QStringLiteral("open dir");
    }
    return {};
}

QString usageText(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [--json] COMMAND\n"
               "\n"
               "Controls the local PHP, MariaDB and phpMyAdmin stack of Zelto-Panel from a "
               "terminal,\n"
               "with the same panel root, preferences and reports as the window.\n"
               "\n"
               "Commands:\n"
               "  status             the three services, the panel root and the permission "
               "hint\n"
               "  start              start the database (%4), the site (%5) and phpMyAdmin "
               "(%6)\n"
               "  stop               stop the three services\n"
               "  update [--from URL]\n"
               "                     update or repair the site from the update archive (from "
               "URL\n"
               "                     instead of the update server, e.g. a mirror)\n"
               "  undo               put back the site files as they were before the last "
               "update\n"
               "  root               print the panel root in use\n"
               "  root set DIR       pick DIR as the panel root (it must hold runtime/mysql/"
               "bin/mysqld,\n"
               "                     runtime/php and runtime/phpmyadmin)\n"
               "  open site          open %2 (without a desktop: print it)\n"
               "  open phpmyadmin    start phpMyAdmin if needed and open %3\n"
               "  open dir           open the runtime directory (without a desktop: print it)\n"
               "\n"
               "Options:\n"
               "  --json             print one JSON object with the state and the outcome\n"
               "  -h, --help         print this help\n"
               "  --version          print the version\n"
               "\n"
               "Exit status: 0 when the operation succeeded, 1 when it failed, 2 for wrong "
               "arguments.\n")
        .arg(program, serviceHttpAddress(Service::Site), serviceHttpAddress(Service::PhpMyAdmin),
             QString::number(servicePort(Service::Database)),
             QString::number(servicePort(Service::Site)),
             QString::number(servicePort(Service::PhpMyAdmin)));
}

} // namespace cli
