#include "tst_update.h"

#include "update/extraction.h"
#include "update_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace update;

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

    const Result<> extracted = extractZipArchive(zip, dir);
    QVERIFY2(extracted, qPrintable(extracted ? QString() : extracted.error().context()));

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

void UpdateTest::extractionLeavesTheMarginFree_data() {
    QTest::addColumn<QByteArray>("zip");
    QTest::addColumn<qint64>("marginBytes");
    QTest::addColumn<int>("copies");      // of the package on the file system
    QTest::addColumn<QString>("failure"); // "": success

    const QByteArray zeros(8 << 20, 0);
    const QString failed = QStringLiteral("解压失败: ditto 退出码 1，");
    // The file system holds 16 MB; what the run writes and the margin must fit in it.
    QTest::newRow("fits") << rawZip({{"a.bin", zeros, true}, {"b.bin", zeros.left(4 << 20), true}})
                          << qint64(1 << 20) << 1 << "";
    QTest::newRow("one entry declares more than the free space")
        << rawZip({RawZipEntry("a.bin", "x", true).declaring(20u << 20)}) << qint64(1 << 20) << 1
        << failed + "更新包解压后需要 20.0 MB，磁盘剩余 16.0 MB，须保留 1.0 MB 空闲";
    QTest::newRow("entries and margin together more than the free space")
        << rawZip({{"a.bin", zeros, true}, {"b.bin", zeros.left(7 << 20), true}}) << qint64(1 << 20)
        << 1 << failed + "更新包解压后需要 15.0 MB，磁盘剩余 16.0 MB，须保留 1.0 MB 空闲";
    // The site on the same file system takes the package's files once more.
    QTest::newRow("fits once, not twice")
        << rawZip({{"a.bin", zeros, true}}) << qint64(1 << 20) << 2
        << failed + "更新包解压后需要 16.0 MB，磁盘剩余 16.0 MB，须保留 1.0 MB 空闲";
    QTest::newRow("default margin of 512 MiB leaves no room here")
        << rawZip({{"a.bin", "tiny"}}) << kUpdateFreeMarginBytes << 1
        << failed + "更新包解压后需要 0.0 MB，磁盘剩余 16.0 MB，须保留 512.0 MB 空闲";
    // It would fill the file system twice over: it stops at its declared size.
    QTest::newRow("entry expanding beyond its declared size")
        << rawZip({RawZipEntry("a.bin", QByteArray(32 << 20, 0), true).declaring(1000)})
        << qint64(1 << 20) << 1 << failed + "a.bin: 解压出的数据超过声明的大小 1000 字节";
}

// On a small file system of its own (a tmpfs; the test runs as root, or skips).
void UpdateTest::extractionLeavesTheMarginFree() {
    QFETCH(QByteArray, zip);
    QFETCH(qint64, marginBytes);
    QFETCH(int, copies);
    QFETCH(QString, failure);
    QTemporaryDir tmp;
    const QString fs = tmp.path() + QStringLiteral("/fs");
    QDir().mkpath(fs);
    const SmallFileSystem small(fs, QStringLiteral("16m"));
    if (!small.mounted())
        QSKIP(qPrintable(small.failure()));
    const QString archive = tmp.path() + QStringLiteral("/package.zip");
    testing::writeFile(archive, zip);

    ExtractionLimits limits;
    limits.marginBytes = marginBytes;
    limits.copies = copies;
    QList<qint64> reported;
    const auto result = extractZipArchive(
        archive, fs, limits, [&](qint64 done, qint64 total) { reported << done << total; });
    QCOMPARE(result ? QString()
                    : extractionFailureText(result.error().exitStatus, result.error().message),
             failure);
    const QStringList written = QDir(fs).entryList(QDir::Files);
    if (failure.isEmpty()) {
        QCOMPARE(written, (QStringList{"a.bin", "b.bin"}));
        QCOMPARE(QFileInfo(fs + QStringLiteral("/b.bin")).size(), qint64(4 << 20));
        QCOMPARE(reported, (QList<qint64>{1, 2, 2, 2}));
    } else if (failure.contains(QStringLiteral("声明的大小"))) {
        // Nothing beyond the declared size reached the disk.
        QVERIFY(QFileInfo(fs + QStringLiteral("/a.bin")).size() <= 1000);
    } else {
        // Refused before anything was written.
        QCOMPARE(written, QStringList());
        QVERIFY(reported.isEmpty());
    }
}

namespace {

constexpr int kManyEntries = 2000;

QString manyName(int i) {
    return QStringLiteral("d%1/f%2.txt").arg(i / 100).arg(i);
}

// About 1.5 KB that differ from entry to entry.
QByteArray manyData(int i) {
    return QByteArray::number(i).repeated(1500 / QByteArray::number(i).size() + 1).left(1500);
}

} // namespace

void UpdateTest::manyEntriesStopAtTheFirstFault_data() {
    QTest::addColumn<QByteArray>("zip");
    QTest::addColumn<int>("faulty"); // the entry that fails; kManyEntries: none
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("kind"); // ErrorKind of the failure

    // Enough entries and bytes that reading and writing go on side by side for a while.
    const auto raw = [](int faulty, auto fault) {
        QList<RawZipEntry> entries;
        for (int i = 0; i < kManyEntries; ++i) {
            RawZipEntry e(manyName(i), manyData(i), i % 2 == 0);
            entries << (i == faulty ? fault(e) : e);
        }
        return rawZip(entries);
    };
    const auto same = [](const RawZipEntry& e) { return e; };
    const int corrupt = int(ErrorKind::Corrupt);
    QTest::newRow("all whole") << raw(-1, same) << kManyEntries << "" << 0;
    QTest::newRow("stored entry with a flipped byte, late")
        << raw(1801, [](const RawZipEntry& e) { return e.flipping(700); }) << 1801 << "ZIP bad CRC"
        << corrupt;
    QTest::newRow("deflated entry failing its checksum, early")
        << raw(40, [](const RawZipEntry& e) { return e.withWrongChecksum(); }) << 40
        << "ZIP bad CRC" << corrupt;

    // A link made early, and a name through it far later.
    QTemporaryDir tmp;
    QStringList layout;
    for (int i = 0; i < kManyEntries; ++i) {
        if (i == 10)
            layout << QStringLiteral("l->d0");
        layout << manyName(i) + u'=' + QString::fromLatin1(manyData(i));
        if (i == 1500)
            layout << QStringLiteral("l/x.txt=through");
    }
    QTest::newRow("through a link made long before")
        << writeZip(tmp.path() + QStringLiteral("/l.zip"), layout) << 1501
        << "Cannot extract through symlink" << int(ErrorKind::Refused);
}

// Every entry before a faulty one is written whole, none after it, and the fault is the one
// reported; a whole archive arrives whole.
void UpdateTest::manyEntriesStopAtTheFirstFault() {
    QFETCH(QByteArray, zip);
    QFETCH(int, faulty);
    QFETCH(QString, reason);
    QFETCH(int, kind);
    QTemporaryDir tmp;
    const QString archive = tmp.path() + QStringLiteral("/many.zip");
    testing::writeFile(archive, zip);
    const QString dir = tmp.path() + QStringLiteral("/x");
    QDir().mkpath(dir);

    qint64 last = 0;
    bool ordered = true;
    const Result<> extracted = extractZipArchive(archive, dir, {0, 1}, [&](qint64 done, qint64) {
        ordered = ordered && done == last + 1;
        last = done;
    });
    QVERIFY(ordered);
    if (reason.isEmpty()) {
        QVERIFY2(extracted, qPrintable(extracted ? QString() : extracted.error().context()));
        QCOMPARE(last, qint64(kManyEntries));
    } else {
        QVERIFY(!extracted);
        QVERIFY2(extracted.error().message.contains(reason), qPrintable(extracted.error().message));
        QCOMPARE(int(extracted.error().kind), kind);
        QCOMPARE(extracted.error().exitStatus, kArchiveErrorStatus);
        QVERIFY2(extracted.error().message.contains(QStringLiteral("f%1.txt").arg(faulty)) ||
                     extracted.error().message.startsWith(QStringLiteral("l/x.txt")),
                 qPrintable(extracted.error().message));
    }
    for (int i = 0; i < kManyEntries; ++i) {
        QFile file(dir + u'/' + manyName(i));
        if (i < faulty) {
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(manyName(i)));
            QCOMPARE(file.readAll(), manyData(i));
        } else if (i > faulty) {
            QVERIFY2(!file.exists(), qPrintable(manyName(i)));
        }
    }
    QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/d0/x.txt")));
}

void UpdateTest::noWriteThroughLinks_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("linkBeforehand"); // the directory already holds "pre" -> outside
    QTest::addColumn<QString>("refused");     // the entry refused, and the path it would write

    QTest::newRow("through a link the archive made")
        << QStringList{"a/", "l->a", "l/x.txt"} << false << "l/x.txt|l/x.txt";
    QTest::newRow("spelt with dot and double slash")
        << QStringList{"l->../../outside", ".//l/./x.txt"} << false << ".//l/./x.txt|.//l/./x.txt";
    QTest::newRow("in place of the link itself")
        << QStringList{"l->../../outside", "l=replaced?"} << false << "l|l";
    QTest::newRow("through a link found in the directory")
        << QStringList{"pre/x.txt"} << true << "pre/x.txt|pre/x.txt";
}

// Whether the archive made the link or it was there before, nothing is written through it
// (the outside stays empty).
void UpdateTest::noWriteThroughLinks() {
    QFETCH(QStringList, entries);
    QFETCH(bool, linkBeforehand);
    QFETCH(QString, refused);
    QTemporaryDir tmp;
    const QString outside = tmp.path() + QStringLiteral("/outside");
    const QString dir = tmp.path() + QStringLiteral("/a/b");
    QDir().mkpath(outside);
    QDir().mkpath(dir);
    if (linkBeforehand)
        QVERIFY(QFile::link(outside, dir + QStringLiteral("/pre")));
    const QString zip = tmp.path() + QStringLiteral("/x.zip");
    writeZip(zip, entries);
    const Result<> extracted = extractZipArchive(zip, dir);
    QVERIFY(!extracted);
    QCOMPARE(extracted.error().message,
             refused.section(u'|', 0, 0) + QStringLiteral(": Cannot extract through symlink ") +
                 QFileInfo(dir).canonicalFilePath() + u'/' + refused.section(u'|', 1));
    QCOMPARE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void UpdateTest::macOSXArtifactsAreRemovedDeepestFirst() {
    QTemporaryDir tmp;
    const QString root = tmp.path() + QLatin1Char('/');
    for (const char* name :
         {"__MACOSX/._index.php", "__MACOSX/deep/._x", "index.php", "._index.php", ".htaccess",
          ".DS_Store", "._dir/._inner", "._dir/keep.txt", "sub/__MACOSX", "sub/file.php",
          "sub/.hidden/._y", "_x/__y", "e/._\U0001F600\U0001F600", "e/._abc"})
        testing::writeFile(root + QString::fromUtf8(name), "x");

    // The __MACOSX folder is listed, its contents are not; longer paths (in characters: a
    // character outside the Basic Multilingual Plane counts once) come first.
    QStringList listed = macOSXArtifacts(tmp.path());
    for (qsizetype i = 1; i < listed.size(); ++i)
        QVERIFY2(listed[i - 1].toUcs4().size() >= listed[i].toUcs4().size(),
                 qPrintable(listed.join(u'\n')));
    listed.replaceInStrings(root, QString());
    QVERIFY(listed.indexOf(QStringLiteral("e/._abc")) <
            listed.indexOf(QStringLiteral("e/._\U0001F600\U0001F600")));
    listed.sort();
    QCOMPARE(listed, (QStringList{"._dir", "._dir/._inner", "._index.php", "__MACOSX", "e/._abc",
                                  "e/._\U0001F600\U0001F600", "sub/.hidden/._y", "sub/__MACOSX"}));

    QVERIFY(removeMacOSXArtifacts(tmp.path()));
    QCOMPARE(describe(tmp.path()),
             (QStringList{".DS_Store=x", ".htaccess=x", "_x/", "_x/__y=x", "e/", "index.php=x",
                          "sub/", "sub/.hidden/", "sub/file.php=x"}));
    // Nothing left to remove: the tree stays as it is.
    QVERIFY(macOSXArtifacts(tmp.path()).isEmpty());
    QVERIFY(removeMacOSXArtifacts(tmp.path()));
}
