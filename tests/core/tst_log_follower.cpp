// A server's log followed as the window shows it: real files in a temporary directory, read on
// the real dispatcher's workers.

#include "core/log_follower.h"
#include "platform/dispatcher.h"
#include "test_support.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace logs;
using namespace Qt::StringLiterals;

namespace {

QStringList texts(const LogFollower& follower) {
    QStringList t;
    for (const LogLine& line : follower.lines())
        t << line.text;
    return t;
}

QByteArray numberedLines(int from, int to) {
    QByteArray bytes;
    for (int i = from; i <= to; ++i)
        bytes += "line " + QByteArray::number(i) + '\n';
    return bytes;
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// A read every 250 ms: what is written shows within a second.
bool shows(const LogFollower& follower, const QStringList& expected) {
    return testing::waitFor([&] { return texts(follower) == expected; }, 1000);
}

} // namespace

class LogFollowerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<LogFollower> m_follower;

    void follow() {
        m_follower = std::make_unique<LogFollower>(platform::qtDispatcher(),
                                                   [path = m_path] { return path; });
        m_follower->start();
    }

private Q_SLOTS:
    void init() {
        m_path = m_dir.filePath(u"php-web.log"_s);
        QFile::remove(m_path);
        QFile::remove(m_path + u".1"_s);
    }
    void cleanup() { m_follower.reset(); }

    // What happens to the log while it is followed, and the lines then shown.
    void follows_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("appended") << u"append"_s
                                  << QStringList{u"old"_s,
                                                 u"PHP Warning:  w in /w/a.php on line 3"_s,
                                                 u"new"_s};
        QTest::newRow("truncated") << u"truncate"_s << QStringList{u"new"_s};
        QTest::newRow("rotated") << u"rotate"_s << QStringList{u"new"_s};
        QTest::newRow("deleted") << u"delete"_s << QStringList{u"new"_s};
    }
    void follows() {
        QFETCH(QString, change);
        QFETCH(QStringList, shown);
        testing::appendFile(m_path, "old\nPHP Warning:  w in /w/a.php on line 3\n");
        follow();
        QVERIFY(shows(*m_follower, {u"old"_s, u"PHP Warning:  w in /w/a.php on line 3"_s}));
        QCOMPARE(m_follower->lines()[1].severity, Severity::Warning);
        QCOMPARE(m_follower->data(m_follower->index(1), Qt::DisplayRole).toString(),
                 u"[警告] /w/a.php:3 · PHP Warning:  w in /w/a.php on line 3"_s);
        if (change == u"truncate")
            QVERIFY(QFile::resize(m_path, 0));
        else if (change == u"rotate")
            QVERIFY(QFile::rename(m_path, m_path + u".1"_s));
        else if (change == u"delete")
            QVERIFY(QFile::remove(m_path));
        if (change == u"delete") // seen as gone before the server writes anew
            QVERIFY(shows(*m_follower, {}));
        testing::appendFile(m_path, "new\n");
        QVERIFY(shows(*m_follower, shown));
    }

    // Only the last lines are kept, the oldest going first.
    void keepsTheLastLines() {
        testing::appendFile(m_path, numberedLines(1, 2500));
        follow();
        QVERIFY(testing::waitFor([&] { return m_follower->rowCount() == LogFollower::kMaxLines; }));
        QCOMPARE(m_follower->lines().front().text, u"line 501"_s);
        testing::appendFile(m_path, numberedLines(2501, 2510));
        QVERIFY(
            testing::waitFor([&] { return m_follower->lines().back().text == u"line 2510"_s; }));
        QCOMPARE(m_follower->rowCount(), LogFollower::kMaxLines);
        QCOMPARE(m_follower->lines().front().text, u"line 511"_s);
    }

    // A 2 GB log (sparse) opens with its end: the line written right after the hole too.
    void opensTheEndOfAHugeLog() {
        {
            QFile file(m_path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(2) << 30));
        }
        testing::appendFile(m_path, "2026-12-10 0 [ERROR] disk full\nlast \xfe\n");
        follow();
        QVERIFY(shows(*m_follower, {u"2026-12-10 0 [ERROR] disk full"_s, u"last \uFFFD"_s}));
        QCOMPARE(m_follower->lines()[0].severity, Severity::Error);
    }

    // Clearing empties the same file, so the server's open descriptor writes on into it; the
    // list follows.
    void clearsInPlace() {
        testing::appendFile(m_path, "before\n");
        const int server = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND);
        QVERIFY(server >= 0);
        const ino_t inode = inodeOf(m_path);
        follow();
        QVERIFY(shows(*m_follower, {u"before"_s}));
        QSignalSpy cleared(m_follower.get(), &LogFollower::cleared);
        m_follower->clearLog();
        QVERIFY(cleared.wait(5000));
        QCOMPARE(cleared.first().first().toString(), QString());
        QCOMPARE(m_follower->rowCount(), 0);
        QCOMPARE(QFile(m_path).size(), 0);
        QCOMPARE(inodeOf(m_path), inode);
        QCOMPARE(::write(server, "after\n", 6), 6);
        ::close(server);
        QVERIFY(shows(*m_follower, {u"after"_s}));
        QCOMPARE(testing::readFile(m_path), QByteArray("after\n"));
    }
};

QTEST_GUILESS_MAIN(LogFollowerTest)
#include "tst_log_follower.moc"
