#include "tst_update.h"

#include "update/extraction.h"
#include "update_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace updatetest;

namespace {

mode_t modeOf(const QString& path) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode;
}

const QString kFailurePrefix = QStringLiteral("解压失败: ditto 退出码 1，");

// Readable in a failed comparison.
QString shown(const std::optional<QString>& result) {
    return result ? *result : QStringLiteral("<success>");
}

} // namespace

void UpdateTest::extractionKeepsTreeModesAndLinks() {
    QTemporaryDir tmp;
    // The extraction directory is reached through a link, as a panel root may be.
    QDir().mkpath(tmp.path() + QStringLiteral("/real/update-extract"));
    QVERIFY(
        QFile::link(tmp.path() + QStringLiteral("/real"), tmp.path() + QStringLiteral("/alias")));
    const QString dir = tmp.path() + QStringLiteral("/alias/update-extract");
    const QString zip = tmp.path() + QStringLiteral("/site.zip");
    ZipEntry locked = directory(QStringLiteral("site/locked/"));
    locked.mode = 0500;
    writeZip(zip, {directory(QStringLiteral("site/")),
                   file(QStringLiteral("site/index.php"), "<?php echo 1;"),
                   file(QStringLiteral("site/bin/tool.sh"), "#!/bin/sh\n", 0755),
                   file(QStringLiteral("site/setuid"), "x", 04755),
                   file(QStringLiteral("site/中文/说明.txt"), "你好"),
                   symlink(QStringLiteral("site/home.php"), QStringLiteral("index.php")), locked,
                   file(QStringLiteral("site/locked/inner.txt"), "in")});

    QCOMPARE(shown(extractZipArchive(zip, dir)), shown(std::nullopt));

    QCOMPARE(testing::readFile(dir + QStringLiteral("/site/index.php")),
             QByteArray("<?php echo 1;"));
    QCOMPARE(testing::readFile(dir + QStringLiteral("/site/中文/说明.txt")), QByteArray("你好"));
    QCOMPARE(modeOf(dir + QStringLiteral("/site/bin/tool.sh")) & 07777, mode_t(0755));
    QCOMPARE(modeOf(dir + QStringLiteral("/site/index.php")) & 07777, mode_t(0644));
    // Set-id bits never come from a downloaded archive.
    QCOMPARE(modeOf(dir + QStringLiteral("/site/setuid")) & 07777, mode_t(0755));
    // Links inside the tree stay links.
    QVERIFY(S_ISLNK(modeOf(dir + QStringLiteral("/site/home.php"))));
    QCOMPARE(snapshot(dir).value(QStringLiteral("site/home.php")), QByteArray("link:index.php"));
    // A directory stays usable to the panel, so a later run can clear the tree.
    QCOMPARE(modeOf(dir + QStringLiteral("/site/locked")) & 0700, mode_t(0700));
    QCOMPARE(testing::readFile(dir + QStringLiteral("/site/locked/inner.txt")), QByteArray("in"));
}

void UpdateTest::hostileEntriesNeverLeaveTheDirectory_data() {
    // In entry names and texts, $OUT stands for a directory beside the extraction directory
    // and $DIR for the extraction directory.
    QTest::addColumn<QStringList>("names"); // a file entry each, "name->target" a link
    QTest::addColumn<QString>("message");   // after "解压失败: ditto 退出码 1，"

    QTest::newRow("dot-dot") << QStringList{"ok.txt", "../escape.txt"}
                             << "../escape.txt: Path contains '..'";
    QTest::newRow("dot-dot inside the name")
        << QStringList{"a/../../escape.txt"} << "a/../../escape.txt: Path contains '..'";
    QTest::newRow("dot-dot onto the site")
        << QStringList{"../www/index.php"} << "../www/index.php: Path contains '..'";
    QTest::newRow("absolute") << QStringList{"$OUT/abs.txt"} << "$OUT/abs.txt: Path is absolute";
    QTest::newRow("through a link out of the tree")
        << QStringList{"link->$OUT", "link/evil.txt"}
        << "link/evil.txt: Cannot extract through symlink $DIR/link/evil.txt";
    QTest::newRow("through a relative link out of the tree")
        << QStringList{"up->..", "up/evil.txt"}
        << "up/evil.txt: Cannot extract through symlink $DIR/up/evil.txt";
}

void UpdateTest::hostileEntriesNeverLeaveTheDirectory() {
    QFETCH(QStringList, names);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    const QString runtime = tmp.path() + QStringLiteral("/runtime");
    const QString dir = runtime + QStringLiteral("/update-extract");
    const QString outside = tmp.path() + QStringLiteral("/outside");
    QDir().mkpath(dir);
    QDir().mkpath(outside);
    testing::writeFile(runtime + QStringLiteral("/www/index.php"), "site");
    auto expand = [&](QString s) {
        return s.replace(QStringLiteral("$OUT"), outside).replace(QStringLiteral("$DIR"), dir);
    };

    std::vector<ZipEntry> entries;
    for (const QString& name : names) {
        const qsizetype arrow = name.indexOf(QStringLiteral("->"));
        if (arrow >= 0)
            entries.push_back(symlink(name.left(arrow), expand(name.mid(arrow + 2))));
        else
            entries.push_back(file(expand(name), "evil"));
    }
    const QString zip = tmp.path() + QStringLiteral("/hostile.zip");
    writeZip(zip, entries);
    const auto before = snapshot(tmp.path());

    QCOMPARE(shown(extractZipArchive(zip, dir)), kFailurePrefix + expand(message));

    // Whatever was extracted lies inside the extraction directory; nothing else changed.
    auto after = snapshot(tmp.path());
    for (auto it = after.begin(); it != after.end();) {
        if (it.key().startsWith(QStringLiteral("runtime/update-extract/")))
            it = after.erase(it);
        else
            ++it;
    }
    QCOMPARE(after, before);
}

void UpdateTest::unreadableArchives_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message"); // after "解压失败: ditto 退出码 1，"

    QTest::newRow("an error page")
        << QByteArray("<html><body>404 Not Found</body></html>\n") << "Unrecognized archive format";
    QByteArray zip;
    {
        QTemporaryDir tmp;
        writeZip(tmp.path() + QStringLiteral("/a.zip"),
                 {file(QStringLiteral("index.php"), QByteArray(20000, 'a')),
                  file(QStringLiteral("include/x.php"), QByteArray(20000, 'b'))});
        zip = testing::readFile(tmp.path() + QStringLiteral("/a.zip"));
    }
    QTest::newRow("truncated") << zip.left(zip.size() / 2)
                               << "include/x.php: ZIP decompression failed (-5)";
    QByteArray damaged = zip;
    for (int i = 100; i < 400; ++i)
        damaged[i] = char(0x5a);
    // The library reports no message here: the text ends with the status.
    QTest::newRow("damaged headers") << damaged << "";
}

void UpdateTest::unreadableArchives() {
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir tmp;
    const QString archive = tmp.path() + QStringLiteral("/zelto-update.zip");
    const QString dir = tmp.path() + QStringLiteral("/update-extract");
    QDir().mkpath(dir);
    testing::writeFile(archive, content);
    const QString expected =
        message.isEmpty() ? QStringLiteral("解压失败: ditto 退出码 1") : kFailurePrefix + message;
    QCOMPARE(shown(extractZipArchive(archive, dir)), expected);
}

void UpdateTest::extractionFailureTexts_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");
    QTest::newRow("with a message") << 2 << "M"
                                    << "解压失败: ditto 退出码 2，M";
    QTest::newRow("message is trimmed") << 2 << "  M\n\n"
                                        << "解压失败: ditto 退出码 2，M";
    QTest::newRow("no message, no comma") << 2 << ""
                                          << "解压失败: ditto 退出码 2";
    QTest::newRow("blank message, no comma") << 2 << " \n\t"
                                             << "解压失败: ditto 退出码 2";
    QTest::newRow("negative status") << -3 << "x"
                                     << "解压失败: ditto 退出码 -3，x";
}

void UpdateTest::extractionFailureTexts() {
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, expected);
    QCOMPARE(extractionFailureText(status, message), expected);
}

void UpdateTest::macOSXArtifactsAreRemovedDeepestFirst() {
    QTemporaryDir tmp;
    const QString root = tmp.path();
    for (const char* name : {"__MACOSX/._index.php", "__MACOSX/deep/._x", "index.php",
                             "._index.php", ".htaccess", ".DS_Store", "._dir/._inner",
                             "._dir/keep.txt", "sub/__MACOSX", "sub/file.php", "sub/.hidden/._y"})
        testing::writeFile(root + QLatin1Char('/') + QLatin1String(name), "x");

    const QStringList listed = macOSXArtifacts(root);
    QStringList expectedSet;
    for (const char* name :
         {"__MACOSX", "._index.php", "._dir", "._dir/._inner", "sub/__MACOSX", "sub/.hidden/._y"})
        expectedSet.push_back(root + QLatin1Char('/') + QLatin1String(name));
    QStringList sortedListed = listed;
    sortedListed.sort();
    expectedSet.sort();
    // The __MACOSX folder is listed, its contents are not.
    QCOMPARE(sortedListed, expectedSet);
    for (qsizetype i = 1; i < listed.size(); ++i)
        QVERIFY2(listed[i - 1].size() >= listed[i].size(), qPrintable(listed.join(u'\n')));

    QCOMPARE(removeMacOSXArtifacts(root), QString());
    QCOMPARE(listTree(root), (QStringList{".DS_Store", ".htaccess", "index.php", "sub",
                                          "sub/.hidden", "sub/file.php"}));
}

void UpdateTest::archiveWithoutArtifactsIsLeftAlone() {
    QTemporaryDir tmp;
    for (const char* name : {"index.php", "include/a.php", ".htaccess", "Data/.keep", "_x/__y"})
        testing::writeFile(tmp.path() + QLatin1Char('/') + QLatin1String(name), "x");
    const auto before = snapshot(tmp.path());
    QVERIFY(macOSXArtifacts(tmp.path()).isEmpty());
    QCOMPARE(removeMacOSXArtifacts(tmp.path()), QString());
    QCOMPARE(snapshot(tmp.path()), before);
}
