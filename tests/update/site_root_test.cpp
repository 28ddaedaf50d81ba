#include "tst_update.h"

#include "update/site_root.h"
#include "update_test_support.h"

#include <QTemporaryDir>
#include <QTest>

using namespace update;

using namespace updatetest;

void UpdateTest::siteRoot_data() {
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<QString>("expected"); // relative to the extraction directory; "": none

    QTest::newRow("site at the top") << QStringList{"index.php", "include/"} << ".";
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
    // Lengths count characters: two outside the Basic Multilingual Plane are shorter than
    // three plain ones, though they take four UTF-16 units.
    QTest::newRow("equal scores: the longer path in characters")
        << QStringList{"\U0001F600\U0001F600/www/index.php", "abc/www/index.php"} << "abc/www";
    QTest::newRow("www without index.php is no candidate")
        << QStringList{"www/include/", "www/LibZelto/"} << "";
    QTest::newRow("WWW is not www") << QStringList{"WWW/index.php"} << "";
    QTest::newRow("index.php without markers stops the descent")
        << QStringList{"index.php", "sub/index.php", "sub/include/"} << "";
    QTest::newRow("two folders and no candidate")
        << QStringList{"a/index.php", "a/include/", "b/"} << "";
    QTest::newRow("five levels down is found")
        << QStringList{"1/2/3/4/5/index.php", "1/2/3/4/5/include/"} << "1/2/3/4/5";
    QTest::newRow("six levels down is too deep")
        << QStringList{"1/2/3/4/5/6/index.php", "1/2/3/4/5/6/include/"} << "";
    QTest::newRow("www in a hidden folder is not seen")
        << QStringList{".site/www/index.php", ".site/www/include/"} << "";
    // $OUT: a complete site outside the tree.
    QTest::newRow("a www link out of the tree is no site") << QStringList{"www->$OUT"} << "";
    QTest::newRow("a www link inside the tree is no site either")
        << QStringList{"pkg/index.php", "pkg/include/", "www->pkg"} << "pkg";
}

void UpdateTest::siteRoot() {
    QFETCH(QStringList, layout);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    QTemporaryDir outside;
    makeTree(outside.path(), {"www/index.php", "www/include/"});
    makeTree(tmp.path(), layout.replaceInStrings(QStringLiteral("$OUT"), outside.path() + "/www"));
    const QString want = expected.isEmpty() ? QString()
                         : expected == u"." ? tmp.path()
                                            : tmp.path() + QLatin1Char('/') + expected;
    QCOMPARE(resolveUpdateWebSource(tmp.path()).value_or(QString()), want);
}

void UpdateTest::completenessScore_data() {
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<int>("score");
    QTest::addColumn<bool>("looksLikeSite");

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
    makeTree(tmp.path(), layout);
    QCOMPARE(wwwCompleteness(tmp.path()), score);
    QCOMPARE(looksLikeWebRoot(tmp.path()), looksLikeSite);
}
