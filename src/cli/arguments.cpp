#include "cli/arguments.h"

#include "core/service_table.h"

#include <QCommandLineParser>

#include <algorithm>
#include <array>
#include <vector>

namespace cli {

namespace {

QString quoted(const QString& text) {
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// "a, b or c" (conjunction "or"), "a, b and c" ("and").
QString listed(const QStringList& items, const QString& conjunction) {
    if (items.size() < 2)
        return items.join(QString());
    return items.first(items.size() - 1).join(QStringLiteral(", ")) + QLatin1Char(' ') +
           conjunction + QLatin1Char(' ') + items.last();
}

// An option: what the parser knows of it, what a missing value is called in the error, and the
// commands it belongs to (none: every command takes it, before or after the command's words).
struct OptionRule {
    QCommandLineOption option;
    QString valueNeeded;
    QList<Command> commands;
};

const std::vector<OptionRule>& optionRules() {
    static const std::vector<OptionRule> rules{
        {QCommandLineOption(QStringLiteral("json")), {}, {}},
        {QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}), {}, {}},
        {QCommandLineOption(QStringLiteral("version")), {}, {}},
        {QCommandLineOption(QStringLiteral("from"), {}, QStringLiteral("URL")),
         QStringLiteral("an address"),
         {Command::Update}},
        {QCommandLineOption(QStringLiteral("all")), {}, {Command::Restore}},
        {QCommandLineOption(QStringLiteral("lines"), {}, QStringLiteral("N")),
         QStringLiteral("a number"),
         {Command::Logs}},
        {QCommandLineOption(QStringLiteral("follow")), {}, {Command::Logs}},
        {QCommandLineOption(QStringLiteral("errors")), {}, {Command::Logs}},
        {QCommandLineOption(QStringLiteral("start-stack")), {}, {Command::AutostartOn}},
    };
    return rules;
}

// An option's name as it is typed: one dash before a letter (-h), two before a word (--json).
QString spelled(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// Reads the options a command took into the invocation; the reason they are wrong, if they are.
using OptionCheck = std::optional<QString> (*)(const QCommandLineParser&, Invocation&);

std::optional<QString> takeUpdateSource(const QCommandLineParser& parser, Invocation& invocation) {
    if (!parser.isSet(QStringLiteral("from")))
        return std::nullopt;
    const QString from = parser.value(QStringLiteral("from")); // the last one given
    const QUrl url(from, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QStringLiteral("--from needs an http or https address, not ") + quoted(from);
    invocation.updateFrom = url;
    return std::nullopt;
}

std::optional<QString> takeLogOptions(const QCommandLineParser& parser, Invocation& invocation) {
    const QString name = invocation.operand;
    if (!serviceFromName(name))
        return QStringLiteral("logs knows site, phpmyadmin and database, not ") + quoted(name);
    if (parser.isSet(QStringLiteral("lines"))) {
        bool ok = false;
        const QString value = parser.value(QStringLiteral("lines"));
        const int lines = value.toInt(&ok);
        if (!ok || lines < 1 || lines > 100000)
            return QStringLiteral("--lines needs a number from 1 to 100000, not ") + quoted(value);
        invocation.logLines = lines;
    }
    invocation.followLog = parser.isSet(QStringLiteral("follow"));
    if (invocation.followLog && parser.isSet(QStringLiteral("json")))
        return QStringLiteral("--follow prints lines as they come, not one JSON object");
    invocation.errorsOnly = parser.isSet(QStringLiteral("errors"));
    return std::nullopt;
}

std::optional<QString> takeRestoreScope(const QCommandLineParser& parser, Invocation& invocation) {
    invocation.restoreAll = parser.isSet(QStringLiteral("all"));
    return std::nullopt;
}

std::optional<QString> takeStartStack(const QCommandLineParser& parser, Invocation& invocation) {
    invocation.startStack = parser.isSet(QStringLiteral("start-stack"));
    return std::nullopt;
}

// A command: the words that name it, the one word it takes after them (the DIR of
// "root set DIR") with what that word is called in the error when it is missing, and the check
// of its options.
struct CommandRule {
    Command command;
    QString words;
    QString operand;
    QString operandNeeded;
    OptionCheck checkOptions = nullptr;
};

const std::vector<CommandRule>& commandRules() {
    static const std::vector<CommandRule> rules{
        {Command::Status, QStringLiteral("status"), {}, {}},
        {Command::Start, QStringLiteral("start"), {}, {}},
        {Command::Stop, QStringLiteral("stop"), {}, {}},
        {Command::Update, QStringLiteral("update"), {}, {}, &takeUpdateSource},
        {Command::Undo, QStringLiteral("undo"), {}, {}},
        {Command::Root, QStringLiteral("root"), {}, {}},
        {Command::RootSet, QStringLiteral("root set"), QStringLiteral("DIR"),
         QStringLiteral("a directory")},
        {Command::OpenSite, QStringLiteral("open site"), {}, {}},
        {Command::OpenPhpMyAdmin, QStringLiteral("open phpmyadmin"), {}, {}},
        {Command::OpenDirectory, QStringLiteral("open dir"), {}, {}},
        {Command::OpenBackups, QStringLiteral("open backups"), {}, {}},
        {Command::Backup, QStringLiteral("backup"), {}, {}},
        {Command::Backups, QStringLiteral("backups"), {}, {}},
        {Command::Restore, QStringLiteral("restore"), QStringLiteral("NAME"),
         QStringLiteral("a snapshot's name or latest"), &takeRestoreScope},
        {Command::Logs, QStringLiteral("logs"), QStringLiteral("SOURCE"),
         QStringLiteral("site, phpmyadmin or database"), &takeLogOptions},
        {Command::DebugOn, QStringLiteral("debug on"), {}, {}},
        {Command::DebugOff, QStringLiteral("debug off"), {}, {}},
        {Command::AutostartOn, QStringLiteral("autostart on"), {}, {}, &takeStartStack},
        {Command::AutostartOff, QStringLiteral("autostart off"), {}, {}},
        {Command::AutostartStatus, QStringLiteral("autostart status"), {}, {}},
    };
    return rules;
}

// What the words after a group's word must say, for a group that is no command by itself.
QString groupNeeds(const QString& group) {
    static const std::array<std::pair<QString, QString>, 3> needs{{
        {QStringLiteral("open"), QStringLiteral("what to open")},
        {QStringLiteral("debug"), QStringLiteral("on or off")},
        {QStringLiteral("autostart"), QStringLiteral("what to do")},
    }};
    for (const auto& [word, needed] : needs) {
        if (word == group)
            return needed;
    }
    return {};
}

// The commands under a group's words, as typed after them ("site", "set DIR").
QStringList commandsUnder(const QString& group) {
    QStringList under;
    const QString prefix = group + QLatin1Char(' ');
    for (const CommandRule& rule : commandRules()) {
        if (rule.words.startsWith(prefix)) {
            under.push_back(rule.words.mid(prefix.size()) +
                            (rule.operand.isEmpty() ? QString() : QLatin1Char(' ') + rule.operand));
        }
    }
    return under;
}

// The command whose words begin the given words (the longest, as "root set" before "root"),
// and the words after its own.
struct Resolved {
    const CommandRule* rule = nullptr;
    QStringList rest;
};

Resolved resolve(const QStringList& words) {
    Resolved resolved;
    qsizetype matched = 0;
    for (const CommandRule& rule : commandRules()) {
        const QStringList named = rule.words.split(QLatin1Char(' '));
        if (named.size() > matched && words.first(std::min(named.size(), words.size())) == named) {
            resolved.rule = &rule;
            matched = named.size();
        }
    }
    resolved.rest = words.mid(matched);
    return resolved;
}

// Takes the command's operand into the invocation; the reason the words fit no command, if
// they do not.
std::optional<QString> fitWords(const QStringList& words, const Resolved& resolved,
                                Invocation& invocation) {
    if (!resolved.rule) {
        const QString& group = words.first();
        const QStringList under = commandsUnder(group);
        if (under.isEmpty())
            return QStringLiteral("unknown command ") + quoted(group);
        const QString next = words.value(1);
        if (next.isEmpty())
            return group + QStringLiteral(" needs ") + groupNeeds(group) + QStringLiteral(": ") +
                   listed(under, QStringLiteral("or"));
        return group + QStringLiteral(" knows ") + listed(under, QStringLiteral("and")) +
               QStringLiteral(", not ") + quoted(next);
    }
    const CommandRule& rule = *resolved.rule;
    QStringList rest = resolved.rest;
    QString typed = rule.words;
    if (!rule.operand.isEmpty()) {
        if (rest.isEmpty() || rest.first().isEmpty())
            return rule.words + QStringLiteral(" needs ") + rule.operandNeeded +
                   QStringLiteral(": ") + rule.words + QLatin1Char(' ') + rule.operand;
        invocation.operand = rest.takeFirst();
        typed += QLatin1Char(' ') + rule.operand;
    }
    if (rest.isEmpty())
        return std::nullopt;
    if (const QStringList under = commandsUnder(rule.words); !under.isEmpty())
        return rule.words + QStringLiteral(" takes ") +
               listed(QStringList{QStringLiteral("nothing")} + under, QStringLiteral("or")) +
               QStringLiteral(", but got ") + quoted(rest.first());
    return typed + QStringLiteral(" takes no further arguments, but got ") +
           quoted(rest.join(QLatin1Char(' ')));
}

// An option given to a command it does not belong to (or to words that name no command).
std::optional<QString> misplacedOption(const QCommandLineParser& parser, const CommandRule* rule) {
    for (const OptionRule& option : optionRules()) {
        if (option.commands.isEmpty() || !parser.isSet(option.option) ||
            (rule && option.commands.contains(rule->command)))
            continue;
        QStringList owners;
        for (Command command : option.commands)
            owners.push_back(commandName(command));
        return spelled(option.option.names().first()) + QStringLiteral(" belongs to ") +
               listed(owners, QStringLiteral("and")) + QStringLiteral(" only");
    }
    return std::nullopt;
}

// An option is typed as spelled() gives it, with a value (after '=' or as the next argument)
// only when it takes one. QCommandLineParser accepts more (-json, --h, -hh as -h twice) and tells
// its errors in words of its own without saying which argument was wrong, so the arguments are
// checked first: the first wrong one, and the error that names it.
struct Misspelling {
    qsizetype at = 0;
    QString error;
};

std::optional<Misspelling> firstMisspelling(const QStringList& args) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--"))
            break;
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            continue;
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        const QString name = arg.left(equals);
        const OptionRule* known = nullptr;
        for (const OptionRule& rule : optionRules()) {
            for (const QString& candidate : rule.option.names()) {
                if (spelled(candidate) == name)
                    known = &rule;
            }
        }
        const QString valueName = known ? known->option.valueName() : QString();
        if (!known || (equals >= 0 && valueName.isEmpty()))
            return Misspelling{i, QStringLiteral("unknown option ") + quoted(arg)};
        if (!valueName.isEmpty() && equals < 0 && ++i == args.size())
            return Misspelling{i - 1, name + QStringLiteral(" needs ") + known->valueNeeded +
                                          QStringLiteral(": ") + name + QLatin1Char(' ') +
                                          valueName};
    }
    return std::nullopt;
}

ParsedArguments usageError(const QString& message, bool json) {
    ParsedArguments parsed;
    parsed.error = message;
    parsed.json = json;
    return parsed;
}

} // namespace

ParsedArguments parseArguments(const QStringList& args) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionRule& rule : optionRules())
        parser.addOption(rule.option);
    const auto parse = [&](const QStringList& given) {
        return parser.parse(QStringList{QString()} + given); // the first one is the program's
    };
    const QString json = QStringLiteral("json");

    if (const std::optional<Misspelling> wrong = firstMisspelling(args)) {
        // What follows a wrong option is not read, --json included.
        parse(args.first(wrong->at));
        return usageError(wrong->error, parser.isSet(json));
    }
    if (!parse(args)) // not expected once the spelling is right; the parser's own words then
        return usageError(parser.errorText(), parser.isSet(json));

    Invocation invocation;
    invocation.json = parser.isSet(json);
    ParsedArguments parsed;
    parsed.json = invocation.json;
    const QStringList words = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("help")) ||
        (!words.isEmpty() && words.first() == QLatin1String("help"))) {
        invocation.command = Command::Help;
        parsed.invocation = invocation;
        return parsed;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        invocation.command = Command::Version;
        parsed.invocation = invocation;
        return parsed;
    }
    if (words.isEmpty())
        return usageError(QStringLiteral("no command given"), invocation.json);

    // Of two mistakes, the extra words after a command of one word are told first, then an
    // option of another command, then any other mistake in the words.
    const Resolved resolved = resolve(words);
    const std::optional<QString> wordsWrong = fitWords(words, resolved, invocation);
    const bool oneWord = resolved.rule && !resolved.rule->words.contains(QLatin1Char(' ')) &&
                         resolved.rule->operand.isEmpty() &&
                         commandsUnder(resolved.rule->words).isEmpty();
    if (wordsWrong && oneWord)
        return usageError(*wordsWrong, invocation.json);
    if (const std::optional<QString> misplaced = misplacedOption(parser, resolved.rule))
        return usageError(*misplaced, invocation.json);
    if (wordsWrong)
        return usageError(*wordsWrong, invocation.json);

    invocation.command = resolved.rule->command;
    if (resolved.rule->checkOptions) {
        if (const std::optional<QString> wrong = resolved.rule->checkOptions(parser, invocation))
            return usageError(*wrong, invocation.json);
    }
    parsed.invocation = invocation;
    return parsed;
}

QString commandName(Command command) {
    if (command == Command::Help)
        return QStringLiteral("help");
    if (command == Command::Version)
        return QStringLiteral("version");
    for (const CommandRule& rule : commandRules()) {
        if (rule.command == command)
            return rule.words;
    }
    return {};
}

} // namespace cli
