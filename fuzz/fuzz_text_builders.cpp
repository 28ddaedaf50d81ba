// The texts built from a panel root: the database option file, the database's process
// pattern, the PHP servers' ini files and the log blocks, with roots holding line breaks,
// quotes, comment characters and control characters.

#include "core/panel_view_model.h"
#include "core/php_ini.h"
#include "core/process_helpers.h"
#include "fuzz_support.h"
#include "services/database.h"

#include <QRegularExpression>

namespace {

// An option value as the database's option-file reader reads it: "#" starts a comment,
// white space around the value goes, a value in double quotes has its quotes taken off, and
// backslash escapes are resolved.
QString readOptionValue(const QString& line, const QString& key) {
    QString v = line.mid(key.size() + 1);
    bool quoted = false;
    QString out;
    int i = 0;
    while (i < v.size() && (v[i] == u' ' || v[i] == u'\t'))
        ++i;
    if (i < v.size() && v[i] == u'"') {
        quoted = true;
        ++i;
    }
    for (; i < v.size(); ++i) {
        const QChar c = v[i];
        if (quoted && c == u'"')
            break;
        if (!quoted && c == u'#')
            break;
        if (c == u'\\' && i + 1 < v.size()) {
            const QChar n = v[++i];
            out += n == u'n'   ? u'\n'
                   : n == u't' ? u'\t'
                   : n == u'r' ? u'\r'
                   : n == u'b' ? u'\b'
                   : n == u's' ? u' '
                               : n;
            if (n != u'n' && n != u't' && n != u'r' && n != u'b' && n != u's' && n != u'"' &&
                n != u'\'' && n != u'\\')
                out.insert(out.size() - 1, u'\\');
            continue;
        }
        out += c;
    }
    return quoted ? out : out.trimmed();
}

// A double-quoted ini value as PHP reads it (backslash escapes \\ \" \$).
QString readIniValue(const QString& quoted) {
    QString out;
    for (int i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] == u'\\' && i + 2 < quoted.size() &&
            (quoted[i + 1] == u'\\' || quoted[i + 1] == u'"' || quoted[i + 1] == u'$'))
            ++i;
        out += quoted[i];
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const QString root = QStringLiteral("/home/u/") + in.text(96);
    const QString mysqlDir = root + QStringLiteral("/runtime/mysql");

    // The option file: its 13 lines stay 13, and the paths read back as written.
    const QString option = services::mysqlOptionFileText(mysqlDir);
    const QStringList lines = option.split(QLatin1Char('\n'));
    FUZZ_CHECK(lines.size() == 13);
    FUZZ_CHECK(lines[8].startsWith(QStringLiteral("basedir=")));
    FUZZ_CHECK(lines[9].startsWith(QStringLiteral("datadir=")));
    FUZZ_CHECK(readOptionValue(lines[8], QStringLiteral("basedir")) ==
               mysqlDir + QStringLiteral("/"));
    FUZZ_CHECK(readOptionValue(lines[9], QStringLiteral("datadir")) ==
               mysqlDir + QStringLiteral("/data/"));

    // The process pattern matches the root literally.
    const QRegularExpression pattern(QStringLiteral("^") + core::escapeExtendedRegex(mysqlDir) +
                                     QStringLiteral("$"));
    FUZZ_CHECK(pattern.isValid() && pattern.match(mysqlDir).hasMatch());

    // The ini files: one line per setting, each value read back as written.
    const QString runtime = root + QStringLiteral("/runtime");
    const QList<PhpIniSetting> settings = phpServerIniSettings(runtime);
    for (const PhpIniScope scope : {PhpIniScope::Both, PhpIniScope::PhpMyAdmin}) {
        for (const PhpIniSetting& s : settings) {
            if (s.scope != scope)
                continue;
            const QString quoted = phpIniQuoted(s.value);
            FUZZ_CHECK(
                phpIniText(settings, scope).contains(s.name + QStringLiteral(" = ") + quoted));
            FUZZ_CHECK(readIniValue(quoted) == s.value);
        }
    }

    // Log blocks: the title first, no empty entry, the footer after one blank line.
    const QStringList entries = {in.text(32), QString(), in.text(32)};
    const QStringList footer = {QStringLiteral("目录: ") + root, in.text(16)};
    const QString block = PanelViewModel::buildLogBlock(in.text(24), entries, footer);
    FUZZ_CHECK(block.contains(QStringLiteral("\n\n目录: ") + root));
    return 0;
}
