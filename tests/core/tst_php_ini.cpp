// The PHP servers' ini directories and the phpMyAdmin loopback guard, read by the real PHP of
// the assembled runtime; the per-user grant of a low port, tried with an unprivileged user.

#include "core/database_files.h"
#include "core/php_ini.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

// The first PHP interpreter of the assembled runtime, or nothing.
QString runtimePhp() {
    const QString runtime = qEnvironmentVariable("ZELTO_RUNTIME_DIR");
    const QDir phpDir(runtime + QStringLiteral("/php"));
    for (const QString& version : phpDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString php = phpDir.filePath(version + QStringLiteral("/bin/php"));
        if (isExecutableFile(php))
            return php;
    }
    return {};
}

struct PhpRun {
    int exitCode = -1;
    QByteArray output;
};

PhpRun runPhp(const QString& php, const QStringList& args, const QString& workingDirectory,
              const QStringList& environment) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("PHP_INI_SCAN_DIR"));
    for (const QString& entry : environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workingDirectory);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(php, args);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitCode(), p.readAll()};
}

} // namespace

class PhpIniTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        m_php = runtimePhp();
        if (m_php.isEmpty())
            QSKIP("no assembled runtime with a PHP interpreter (build the zelto_runtime target)");
    }

    // The guard itself, run by the PHP interpreter with the client address a server would set.
    void guardDecision_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
        QTest::newRow("127.255.255.254") << "127.255.255.254" << true;
        QTest::newRow("::1") << "::1" << true;
        QTest::newRow("::1 written out") << "0:0:0:0:0:0:0:1" << true;
        QTest::newRow("mapped loopback") << "::ffff:127.0.0.1" << true;
        QTest::newRow("mapped loopback, hex") << "::FFFF:7f00:2" << true;
        QTest::newRow("LAN") << "192.168.1.20" << false;
        QTest::newRow("10/8") << "10.0.0.1" << false;
        QTest::newRow("128.0.0.1") << "128.0.0.1" << false;
        QTest::newRow("126.255.255.255") << "126.255.255.255" << false;
        QTest::newRow("unspecified") << "0.0.0.0" << false;
        QTest::newRow("::") << "::" << false;
        QTest::newRow("::2") << "::2" << false;
        QTest::newRow("IPv4-compatible 127") << "::127.0.0.1" << false;
        QTest::newRow("mapped LAN") << "::ffff:192.168.1.20" << false;
        QTest::newRow("NAT64 of 127") << "64:ff9b::7f00:1" << false;
        QTest::newRow("link-local with zone") << "fe80::1%eth0" << false;
        QTest::newRow("global IPv6") << "2001:db8::1" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("host name") << "localhost" << false;
        QTest::newRow("with port") << "127.0.0.1:900" << false;
        QTest::newRow("leading space") << " 127.0.0.1" << false;
        QTest::newRow("127 prefix of a name") << "127.0.0.1.example.org" << false;
        QTest::newRow("markup") << "<script>alert(1)</script>" << false;
    }

    void guardDecision() {
        QFETCH(QString, address);
        QFETCH(bool, allowed);
        QTemporaryDir dir;
        const QString guard = phpLoopbackGuardPath(dir.path());
        QVERIFY(writePhpServerIniFiles(dir.path()));
        // The guard ends a refused request before anything after it runs.
        const QString script = dir.filePath(QStringLiteral("page.php"));
        testing::writeFile(script, "<?php require $argv[1]; echo 'PAGE RAN';");
        const PhpRun run = runPhp(m_php, {QStringLiteral("-n"), script, guard}, dir.path(),
                                  {QStringLiteral("REMOTE_ADDR=") + address});
        QCOMPARE(run.exitCode, 0);
        if (allowed) {
            QCOMPARE(run.output, QByteArray("PAGE RAN"));
        } else {
            QVERIFY2(run.output.contains("403 Forbidden") && !run.output.contains("PAGE RAN"),
                     run.output.constData());
            QVERIFY(run.output.contains("phpMyAdmin 只允许在本机访问"));
            QVERIFY(!run.output.contains("<script>"));
        }
    }

    // Every launch writes the files: one that already holds its text is left alone (no flush
    // to disk on every start), and one that does not is replaced whole.
    void unchangedFilesAreNotRewritten() {
        QTemporaryDir dir;
        const QString guard = phpLoopbackGuardPath(dir.path());
        const auto inodeOf = [](const QString& path) {
            struct stat st {};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
        };
        QVERIFY(writePhpServerIniFiles(dir.path()));
        const QByteArray text = testing::readFile(guard);
        const auto first = inodeOf(guard);
        QVERIFY(first != 0);
        QVERIFY(writePhpServerIniFiles(dir.path()));
        QCOMPARE(inodeOf(guard), first);

        testing::writeFile(guard, text.left(text.size() - 1) + "#");
        QVERIFY(writePhpServerIniFiles(dir.path()));
        QCOMPARE(testing::readFile(guard), text);
        QVERIFY(inodeOf(guard) != first);

        // The mirror of the distribution's directory: Xdebug's file left out, a link that
        // stays is not remade (the other server may be reading it), one that went is removed.
        QTemporaryDir distribution;
        for (const char* name : {"10-opcache.ini", "20-xdebug.ini", "20-zip.ini"})
            testing::writeFile(distribution.filePath(QString::fromLatin1(name)), "; ini");
        const PhpIniOptions options{distribution.path(), false};
        const QString mirror = dir.filePath(QStringLiteral("config/php/distribution"));
        const auto linkInode = [](const QString& path) {
            struct stat st {};
            return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
        };
        QVERIFY(writePhpServerIniFiles(dir.path(), options));
        QCOMPARE(QDir(mirror).entryList(QDir::Files | QDir::System),
                 QStringList({"10-opcache.ini", "20-zip.ini"}));
        QCOMPARE(QFileInfo(mirror + QStringLiteral("/20-zip.ini")).symLinkTarget(),
                 distribution.filePath(QStringLiteral("20-zip.ini")));
        const auto zip = linkInode(mirror + QStringLiteral("/20-zip.ini"));
        QVERIFY(QFile::remove(distribution.filePath(QStringLiteral("10-opcache.ini"))));
        QVERIFY(writePhpServerIniFiles(dir.path(), options));
        QCOMPARE(QDir(mirror).entryList(QDir::Files | QDir::System), QStringList({"20-zip.ini"}));
        QCOMPARE(linkInode(mirror + QStringLiteral("/20-zip.ini")), zip);
    }

    // Whatever a runtime path holds, PHP reads back exactly the value the panel wrote.
    void quotedValuesReadBack_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "/home/u/Zelto-panel/runtime";
        QTest::newRow("spaces, Chinese") << "/home/u/我的 站点/runtime";
        QTest::newRow("double quotes") << "/a\"b\"/c";
        QTest::newRow("single quote") << "/it's/here";
        QTest::newRow("backslashes") << "/a\\b\\\\c\\";
        QTest::newRow("environment reference") << "/x/${HOME}/$PATH/$";
        QTest::newRow("ini syntax") << "/a;b=c[d]{e}|f&g~h!i^j()";
        QTest::newRow("line breaks") << "/a\nauto_prepend_file=/evil\n/b\r\nc";
        QTest::newRow("control characters") << QString::fromUtf8("/a\x01\x1b[0m\tb\x7f");
        QTest::newRow("colon") << "/a:b/c";
    }

    void quotedValuesReadBack() {
        QFETCH(QString, value);
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("php.ini"));
        const QList<PhpIniSetting> settings = {{PhpIniScope::Both, "user_agent", value},
                                               {PhpIniScope::Both, "from", "after"}};
        testing::writeFile(ini, phpIniText(settings, PhpIniScope::Both).toUtf8());
        const PhpRun run =
            runPhp(m_php,
                   {QStringLiteral("-c"), ini, QStringLiteral("-r"),
                    QStringLiteral("echo ini_get('user_agent'), '|', ini_get('from'), '|', "
                                   "ini_get('auto_prepend_file');")},
                   dir.path(), {});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QString::fromUtf8(run.output), value + QStringLiteral("|after|"));
    }

    // The launch environment gives each server its directories after the distribution's own,
    // from a panel root whose path holds a colon and other awkward characters.
    void serverReadsItsDirectories_data() {
        QTest::addColumn<int>("server");
        QTest::addColumn<bool>("guarded");
        QTest::addColumn<QString>("revalidateFrequency");
        QTest::addColumn<bool>("debugging");
        QTest::addColumn<QString>("debugger");
        // An edited site file is served changed on the next request, and every error of the
        // site goes to its log rather than into its pages; phpMyAdmin keeps PHP's defaults.
        // Xdebug, which the distribution turns on, is loaded only by the site server while
        // debugging is on.
        QTest::newRow("site") << int(PhpServer::Site) << false << "0|1|32767|0" << false
                              << "no xdebug";
        QTest::newRow("phpMyAdmin")
            << int(PhpServer::PhpMyAdmin) << true << "2" << false << "no xdebug";
        QTest::newRow("site, debugging") << int(PhpServer::Site) << false << "0|1|32767|0" << true
                                         << "debug,develop trigger 127.0.0.1:9003";
        QTest::newRow("phpMyAdmin, debugging")
            << int(PhpServer::PhpMyAdmin) << true << "2" << true << "no xdebug";
    }

    void serverReadsItsDirectories() {
        QFETCH(int, server);
        QFETCH(bool, guarded);
        QFETCH(QString, revalidateFrequency);
        QFETCH(bool, debugging);
        QFETCH(QString, debugger);
        QTemporaryDir dir;
        const QString root = dir.filePath(QStringLiteral("a:b \"我\" $x;y"));
        const QString runtime = root + QStringLiteral("/runtime");
        const PhpIniOptions options{phpDistributionIniDir(m_php), debugging};
        QVERIFY2(!options.distributionDir.isEmpty(), "the runtime names no ini directory");
        QVERIFY(writePhpServerIniFiles(runtime, options));
        const QStringList env = phpServerEnvironment(PhpServer(server), true, 8000, 4, 0, {}, {});
        QVERIFY(env.contains(QStringLiteral("PHP_CLI_SERVER_WORKERS=4")));
        PhpRun run = runPhp(
            m_php,
            {QStringLiteral("-r"),
             QStringLiteral(
                 "echo extension_loaded('mysqli') && extension_loaded('pdo_mysql') && "
                 "extension_loaded('mbstring') ? 'ext' : 'no ext', '|', "
                 "ini_get('auto_prepend_file'), '|', ini_get('mysqli.default_socket'), "
                 "'|', ini_get('pdo_mysql.default_socket'), '|', "
                 "ini_get('opcache.revalidate_freq'); if (ini_get('opcache.revalidate_freq') "
                 "=== '0') echo '|', ini_get('log_errors'), '|', error_reporting(), "
                 "'|', ini_get('display_errors'); echo '#', extension_loaded('xdebug') ? "
                 "ini_get('xdebug.mode') . ' ' . ini_get('xdebug.start_with_request') . ' ' . "
                 "ini_get('xdebug.client_host') . ':' . ini_get('xdebug.client_port') : 'no "
                 "xdebug';")},
            root, env);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output.mid(run.output.lastIndexOf('#') + 1), debugger.toUtf8());
        run.output.truncate(run.output.lastIndexOf('#'));
        // Both servers take "localhost" to be the runtime database's socket.
        const QString socket = mysqlSocketPathFor(runtime + QStringLiteral("/mysql"));
        QVERIFY(socket.startsWith(runtime));
        QCOMPARE(QString::fromUtf8(run.output),
                 QStringLiteral("ext|") + (guarded ? phpLoopbackGuardPath(runtime) : QString()) +
                     QLatin1Char('|') + socket + QLatin1Char('|') + socket + QLatin1Char('|') +
                     revalidateFrequency);
    }

    void workerCount_data() {
        QTest::addColumn<unsigned>("processors");
        QTest::addColumn<int>("workers");
        QTest::newRow("unknown") << 0U << 4;
        QTest::newRow("1") << 1U << 4;
        QTest::newRow("2") << 2U << 4;
        QTest::newRow("3") << 3U << 6;
        QTest::newRow("8") << 8U << 16;
        QTest::newRow("64") << 64U << 16;
        QTest::newRow("huge") << 4000000000U << 16;
    }

    void workerCount() {
        QFETCH(unsigned, processors);
        QFETCH(int, workers);
        QCOMPARE(phpServerWorkerCount(processors), workers);
        // One worker is none: PHP would fork nothing, so nothing is asked of it.
        QVERIFY(!phpServerEnvironment(PhpServer::Site, true, 8000, 1, 0, {}, {})
                     .join(QLatin1Char(' '))
                     .contains(QStringLiteral("WORKERS")));
    }

    // authbind's grant for one port and one user: with the launch environment the panel gives
    // a server on a port below 1024, an unprivileged user's PHP binds it and keeps its plain
    // command line; without it, it cannot.
    void privilegedPortUnderGrant() {
        const QString preload = SystemTools::debian().privilegedPortPreload;
        if (::geteuid() != 0)
            QSKIP("needs root to write a grant and to run PHP as another user");
        if (!QFileInfo::exists(preload) || !isExecutableFile(QStringLiteral("/usr/bin/setpriv")))
            QSKIP("authbind or setpriv is not installed");
        // A free port in authbind's 512-1023 range, whose grant file is named "!PORT".
        int port = 0;
        QString grant;
        for (int candidate = 1023; candidate >= 950 && port == 0; --candidate) {
            QTcpServer probe;
            grant = QStringLiteral("/etc/authbind/byport/!%1").arg(candidate);
            if (!QFileInfo::exists(grant) && probe.listen(QHostAddress::Any, quint16(candidate)))
                port = candidate;
        }
        if (port == 0)
            QSKIP("no free port between 950 and 1023 without a grant");
        const uid_t nobody = 65534;
        QVERIFY(QFile(grant).open(QIODevice::WriteOnly));
        struct RemoveGrant {
            QString path;
            ~RemoveGrant() { QFile::remove(path); }
        } removeGrant{grant};
        QVERIFY(::chown(QFile::encodeName(grant).constData(), nobody, nobody) == 0);
        QVERIFY(::chmod(QFile::encodeName(grant).constData(), 0500) == 0);

        QTemporaryDir docroot;
        QVERIFY(QFile::setPermissions(docroot.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ReadOther |
                                                          QFile::ExeOther));
        testing::writeFile(docroot.filePath(QStringLiteral("index.php")),
                           "<?php echo 'preload:', getenv('LD_PRELOAD') === false ? 'none' : "
                           "getenv('LD_PRELOAD');");
        const QString address = QStringLiteral("0.0.0.0:%1").arg(port);
        // The interpreter by its real path: the runtime's link may sit in a directory that
        // the other user cannot enter (a clone under /root, say).
        const QString php = QFileInfo(m_php).canonicalFilePath();
        auto serve = [&](const QStringList& env) {
            QStringList args = {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                QStringLiteral("--clear-groups"), QStringLiteral("--"),
                                QStringLiteral("/usr/bin/env")};
            args << env << php << QStringLiteral("-S") << address << QStringLiteral("-t")
                 << docroot.path();
            return spawnDetached(QStringLiteral("/usr/bin/setpriv"), args, QStringLiteral("/"));
        };
        auto answers = [&] {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
            return socket.waitForConnected(200);
        };

        // Without the preload the kernel refuses the port and PHP ends.
        const Result<pid_t> refused = serve({});
        QVERIFY(refused);
        QVERIFY(testing::waitFor([&] { return !isProcessAlive(*refused); }, 30000));
        QVERIFY(!answers());

        const QStringList env =
            phpServerEnvironment(PhpServer::PhpMyAdmin, false, port, 0, nobody, preload, {});
        const Result<pid_t> granted = serve(env);
        QVERIFY(granted);
        struct Stop {
            pid_t pid;
            ~Stop() { (void)sendSignal(pid, SIGTERM); }
        } stop{*granted};
        QVERIFY(testing::waitFor(answers, 30000));
        QCOMPARE(processCommandLine(*granted).value_or(QString()),
                 php + QStringLiteral(" -S ") + address + QStringLiteral(" -t ") + docroot.path());
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1").arg(*granted)).ownerId(), nobody);
        // The grant is the server's only: the library took itself out of the environment that
        // the server's scripts and their children see.
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET / HTTP/1.0\r\n\r\n");
        QByteArray response;
        while (socket.waitForReadyRead(10000))
            response += socket.readAll();
        QVERIFY2(response.endsWith("preload:none"), response.constData());
    }

private:
    QString m_php;
};

QTEST_GUILESS_MAIN(PhpIniTest)
#include "tst_php_ini.moc"
