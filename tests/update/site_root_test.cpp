#include "tst_update.h"

#include "update/site_root.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Creates the layout below root: names ending in "/" are directories, others files.
void build(const QString& root, const QStringList& layout) {
    for (const QString& entry : layout) {
        if (entry.endsWith(QLatin1Char('/')))
            QDir().mkpath(root + QLatin1Char('/') + entry);
        else
            testing::writeFile(root + QLatin1Char('/') + entry, "<?php");
    }
}

const QString kNone = QStringLiteral("<none>");

} // namespace

void UpdateTest::siteRoot_data() {
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<QString>("expected"); // relative to the extraction directory

    QTest::newRow("site at the top") << QStringList{"index.php", "include/"} << ".";
    QTest::newRow("lower-case data marks a site") << QStringList{"index.php", "data/"} << ".";
    QTest::newRow("one wrapper folder")
        << QStringList{"site-1.0/index.php", "site-1.0/Data/"} << "site-1.0";
    QTest::newRow("wrapper with loose files beside it")
        << QStringList{"README.txt", "pkg/index.php", "pkg/LibZelto/"} << "pkg";
    QTest::newRow("hidden folder beside the wrapper is not counted")
        << QStringList{".git/config", "pkg/index.php", "pkg/data/"} << "pkg";
    QTest::newRow("www anywhere wins")
        << QStringList{"site-1.0/www/index.php", "site-1.0/index.php", "site-1.0/include/"}
        << "site-1.0/www";
    QTest::newRow("higher score wins")
        << QStringList{"a/www/index.php", "b/www/index.php", "b/www/install/index.php"} << "b/www";
    QTest::newRow("higher score wins over depth")
        << QStringList{"www/index.php", "www/include/", "x/y/www/index.php"} << "www";
    QTest::newRow("equal scores: the deeper www")
        << QStringList{"www/index.php", "www/vendor/lib/www/index.php"} << "www/vendor/lib/www";
    QTest::newRow("www without index.php is no candidate")
        << QStringList{"www/include/", "www/LibZelto/"} << kNone;
    QTest::newRow("WWW is not www") << QStringList{"WWW/index.php"} << kNone;
    QTest::newRow("index.php without markers stops the descent")
        << QStringList{"index.php", "sub/index.php", "sub/include/"} << kNone;
    QTest::newRow("two folders and no candidate")
        << QStringList{"a/index.php", "a/include/", "b/"} << kNone;
    QTest::newRow("five levels down is found")
        << QStringList{"1/2/3/4/5/index.php", "1/2/3/4/5/include/"} << "1/2/3/4/5";
    QTest::newRow("six levels down is too deep")
        << QStringList{"1/2/3/4/5/6/index.php", "1/2/3/4/5/6/include/"} << kNone;
    QTest::newRow("www in a hidden folder is not seen")
        << QStringList{".site/www/index.php", ".site/www/include/"} << kNone;
    QTest::newRow("empty archive") << QStringList{} << kNone;
}

void UpdateTest::siteRoot() {
    QFETCH(QStringList, layout);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    const QString root = tmp.path() + QStringLiteral("/update-extract");
    QDir().mkpath(root);
    build(root, layout);

    const std::optional<QString> found = resolveUpdateWebSource(root);
    if (expected == kNone) {
        QVERIFY2(!found, qPrintable(found.value_or(QString())));
    } else {
        const QString want =
            expected == QStringLiteral(".") ? root : root + QLatin1Char('/') + expected;
        QVERIFY(found);
        QCOMPARE(*found, want);
    }
}

void UpdateTest::completenessScore_data() {
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<int>("score");
    QTest::addColumn<bool>("looksLikeSite");

    QTest::newRow("index only") << QStringList{"index.php"} << 0 << false;
    QTest::newRow("installer") << QStringList{"index.php", "install/index.php"} << 800 << false;
    QTest::newRow("installer folder without its index")
        << QStringList{"index.php", "install/"} << 0 << false;
    QTest::newRow("include") << QStringList{"index.php", "include/"} << 200 << true;
    QTest::newRow("LibZelto as a file") << QStringList{"index.php", "LibZelto"} << 200 << true;
    QTest::newRow("Data") << QStringList{"index.php", "Data/"} << 50 << true;
    QTest::newRow("Data and data count once")
        << QStringList{"index.php", "Data/", "data/"} << 50 << true;
    QTest::newRow("everything") << QStringList{"index.php", "install/index.php", "include/",
                                               "LibZelto/", "data/"}
                                << 1250 << true;
    QTest::newRow("markers without index.php") << QStringList{"include/", "Data/"} << 250 << false;
}

void UpdateTest::completenessScore() {
    QFETCH(QStringList, layout);
    QFETCH(int, score);
    QFETCH(bool, looksLikeSite);
    QTemporaryDir tmp;
    build(tmp.path(), layout);
    QCOMPARE(wwwCompleteness(tmp.path()), score);
    QCOMPARE(looksLikeWebRoot(tmp.path()), looksLikeSite);
}
