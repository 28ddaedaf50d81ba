#include "tst_update.h"

#include "update/extraction.h"
#include "update_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace updatetest;

// Failures of the extraction (error pages, corrupt and hostile archives) are checked through
// the whole pipeline in pipeline_test.cpp, where the site must stay untouched too.

void UpdateTest::extractionKeepsTreeModesAndLinks() {
    QTemporaryDir tmp;
    // The extraction directory is reached through a link, as a panel root may be.
    QDir().mkpath(tmp.path() + QStringLiteral("/real/update-extract"));
    QVERIFY(
        QFile::link(tmp.path() + QStringLiteral("/real"), tmp.path() + QStringLiteral("/alias")));
    const QString dir = tmp.path() + QStringLiteral("/alias/update-extract");
    const QString zip = tmp.path() + QStringLiteral("/site.zip");
    writeZip(zip,
             {"site/", "site/index.php=<?php echo 1;", "site/bin/tool.sh=#!/bin/sh\n",
              "site/setuid=x", "site/中文/说明.txt=你好", "site/home.php->index.php",
              "site/locked/", "site/locked/inner.txt=in"},
             {{"site/bin/tool.sh", 0755}, {"site/setuid", 04755}, {"site/locked/", 0500}});

    QCOMPARE(extractZipArchive(zip, dir).value_or(QStringLiteral("<success>")),
             QStringLiteral("<success>"));

    const auto modeOf = [&](const char* name) {
        struct stat st {};
        ::lstat(QFile::encodeName(dir + QLatin1String("/site/") + QLatin1String(name)), &st);
        return st.st_mode;
    };
    // Links inside the tree stay links.
    QCOMPARE(describe(dir),
             (QStringList{"site/", "site/bin/", "site/bin/tool.sh=#!/bin/sh\n",
                          "site/home.php->index.php", "site/index.php=<?php echo 1;",
                          "site/locked/", "site/locked/inner.txt=in", "site/setuid=x", "site/中文/",
                          "site/中文/说明.txt=你好"}));
    QCOMPARE(modeOf("bin/tool.sh") & 07777, mode_t(0755));
    QCOMPARE(modeOf("index.php") & 07777, mode_t(0644));
    // Set-id bits never come from a downloaded archive.
    QCOMPARE(modeOf("setuid") & 07777, mode_t(0755));
    // A directory stays usable to the panel, so a later run can clear the tree.
    QCOMPARE(modeOf("locked") & 0700, mode_t(0700));
}

void UpdateTest::macOSXArtifactsAreRemovedDeepestFirst() {
    QTemporaryDir tmp;
    const QString root = tmp.path() + QLatin1Char('/');
    for (const char* name :
         {"__MACOSX/._index.php", "__MACOSX/deep/._x", "index.php", "._index.php", ".htaccess",
          ".DS_Store", "._dir/._inner", "._dir/keep.txt", "sub/__MACOSX", "sub/file.php",
          "sub/.hidden/._y", "_x/__y"})
        testing::writeFile(root + QLatin1String(name), "x");

    // The __MACOSX folder is listed, its contents are not; longer paths come first.
    QStringList listed = macOSXArtifacts(tmp.path());
    for (qsizetype i = 1; i < listed.size(); ++i)
        QVERIFY2(listed[i - 1].size() >= listed[i].size(), qPrintable(listed.join(u'\n')));
    listed.replaceInStrings(root, QString());
    listed.sort();
    QCOMPARE(listed, (QStringList{"._dir", "._dir/._inner", "._index.php", "__MACOSX",
                                  "sub/.hidden/._y", "sub/__MACOSX"}));

    QCOMPARE(removeMacOSXArtifacts(tmp.path()), QString());
    QCOMPARE(describe(tmp.path()),
             (QStringList{".DS_Store=x", ".htaccess=x", "_x/", "_x/__y=x", "index.php=x", "sub/",
                          "sub/.hidden/", "sub/file.php=x"}));
    // Nothing left to remove: the tree stays as it is.
    QVERIFY(macOSXArtifacts(tmp.path()).isEmpty());
    QCOMPARE(removeMacOSXArtifacts(tmp.path()), QString());
}
