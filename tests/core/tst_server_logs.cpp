// The servers' logs as the panel reads them: each kind of line marked, the end of a huge log,
// and following a log that grows, is truncated, rotated or deleted.

#include "core/server_logs.h"
#include "test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <unistd.h>

using namespace logs;
using namespace Qt::StringLiterals;

namespace {

QStringList texts(const LogChunk& chunk) {
    QStringList t;
    for (const LogLine& line : chunk.lines)
        t << line.text;
    return t;
}

} // namespace

class ServerLogsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void classify_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("severity");
        QTest::addColumn<QString>("location");
        const int plain = int(Severity::Plain), warning = int(Severity::Warning),
                  error = int(Severity::Error);
        QTest::newRow("fatal")
            << "[Thu Dec 10 18:00:00 2026] PHP Fatal error:  Allowed memory size "
               "exhausted in /srv/www/a.php on line 7"
            << error << "/srv/www/a.php:7";
        QTest::newRow("uncaught") << "PHP Fatal error:  Uncaught Exception: boom in /w/i.php:3"
                                  << error << "/w/i.php:3";
        QTest::newRow("parse") << "PHP Parse error:  syntax error, unexpected end of file in "
                                  "/w/p.php on line 2"
                               << error << "/w/p.php:2";
        QTest::newRow("warning") << "PHP Warning:  Undefined variable $x in /w/w.php on line 4"
                                 << warning << "/w/w.php:4";
        QTest::newRow("a path with spaces")
            << "PHP Warning:  include(): Failed opening 'x' for inclusion in /我的 站点/w.php on "
               "line 5"
            << warning << "/我的 站点/w.php:5";
        QTest::newRow("deprecated") << "PHP Deprecated:  strftime() is deprecated in /w/d.php on "
                                       "line 9"
                                    << warning << "/w/d.php:9";
        QTest::newRow("notice") << "PHP Notice:  Only variables should be passed in /w/n.php on "
                                   "line 1"
                                << warning << "/w/n.php:1";
        QTest::newRow("answer 500")
            << "[Thu Dec 10 18:00:00 2026] 127.0.0.1:51234 [500]: GET /x.php" << error << "";
        QTest::newRow("answer 404")
            << "[Thu Dec 10 18:00:00 2026] 127.0.0.1:51234 [404]: GET /y" << plain << "";
        QTest::newRow("database error")
            << "2026-12-10 18:00:00 0 [ERROR] Can't open the mysql.plugin "
               "table"
            << error << "";
        QTest::newRow("database warning")
            << "2026-12-10 18:00:00 0 [Warning] Aborted connection" << warning << "";
        QTest::newRow("plain") << "2026-12-10 18:00:00 0 [Note] ready for connections" << plain
                               << "";
    }
    void classify() {
        QFETCH(QString, line);
        QFETCH(int, severity);
        QFETCH(QString, location);
        const LogLine classified = classifyLine(line);
        QCOMPARE(int(classified.severity), severity);
        QCOMPARE(classified.location, location);
        QCOMPARE(severityMarker(classified.severity).isEmpty(), severity == int(Severity::Plain));
    }

    // The end of a 2 GB log (sparse) is read from its end; a line not yet ended waits.
    void endOfAHugeLog() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("php-web.log"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(::ftruncate(file.handle(), qint64(2) << 30) == 0);
        }
        testing::appendFile(
            path, "\nfirst\nPHP Warning:  w in /a.php on line 1\nbad \xff byte\nunfinished");
        const LogChunk chunk = readLogEnd(path, 2);
        QCOMPARE(texts(chunk),
                 (QStringList{u"PHP Warning:  w in /a.php on line 1"_s, u"bad \uFFFD byte"_s}));
        QCOMPARE(chunk.lines[0].severity, Severity::Warning);
        QCOMPARE(chunk.next.offset, QFileInfo(path).size() - qint64(strlen("unfinished")));
        // Asked for more lines than there are, only the end is read; the hole before the
        // first break is no line.
        QCOMPARE(readLogEnd(path, 2000).lines.size(), 3);
        // The rest of the unfinished line comes with the next read.
        testing::appendFile(path, " now\n");
        QCOMPARE(texts(readLogSince(path, chunk.next, 100)), QStringList{u"unfinished now"_s});
        QVERIFY(readLogEnd(dir.filePath(QStringLiteral("missing.log")), 10).lines.isEmpty());
    }

    // Following: new lines, then a truncation, a rotation and a deletion, each followed from
    // the file's new start.
    void following() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("site.log"));
        testing::appendFile(path, "a\nb\n");
        LogChunk chunk = readLogEnd(path, 10);
        QCOMPARE(texts(chunk), (QStringList{u"a"_s, u"b"_s}));
        testing::appendFile(path, "c\n");
        chunk = readLogSince(path, chunk.next, 10);
        QCOMPARE(texts(chunk), QStringList{u"c"_s});
        QVERIFY(!chunk.restarted);
        // An uncaught exception's trace keeps its severity, up to the line after it.
        testing::appendFile(path, "PHP Fatal error:  Uncaught Exception: x in /w/i.php:3\n"
                                  "Stack trace:\n#0 {main}\n  thrown in /w/i.php on line 3\n#1\n");
        chunk = readLogSince(path, chunk.next, 10);
        QList<Severity> severities;
        for (const LogLine& line : chunk.lines)
            severities << line.severity;
        QCOMPARE(severities, (QList<Severity>{Severity::Error, Severity::Error, Severity::Error,
                                              Severity::Error, Severity::Plain}));

        QVERIFY(QFile::resize(path, 0)); // truncated in place (the panel's "clear")
        testing::appendFile(path, "d\n");
        chunk = readLogSince(path, chunk.next, 10);
        QCOMPARE(texts(chunk), QStringList{u"d"_s});
        QVERIFY(chunk.restarted);

        QVERIFY(QFile::rename(path, path + u".1"_s)); // rotated
        testing::appendFile(path, "e\nf\n");
        chunk = readLogSince(path, chunk.next, 10);
        QCOMPARE(texts(chunk), (QStringList{u"e"_s, u"f"_s}));
        QVERIFY(chunk.restarted);

        QVERIFY(QFile::remove(path)); // deleted, then written anew
        chunk = readLogSince(path, chunk.next, 10);
        QVERIFY(chunk.lines.isEmpty() && chunk.restarted);
        testing::appendFile(path, "g\n");
        QCOMPARE(texts(readLogSince(path, chunk.next, 10)), QStringList{u"g"_s});
    }
};

QTEST_GUILESS_MAIN(ServerLogsTest)
#include "tst_server_logs.moc"
