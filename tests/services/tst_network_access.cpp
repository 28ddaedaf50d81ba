// Who reaches the panel's two PHP servers: the real site and phpMyAdmin servers of the
// assembled runtime on the ports 8000 and 900, asked from this machine and from a client in a
// network namespace of the test's own, joined to this machine by a veth pair whose addresses
// exist only inside that pair.

#include "core/process_helpers.h"
#include "platform/files.h"
#include "platform/process.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

using namespace platform;

namespace {

using testing::portAnswers;

constexpr int kSitePort = 8000;
constexpr int kAdminPort = 900;

QByteArray httpGet(const QString& host, int port, const QByteArray& path) {
    QTcpSocket socket;
    socket.connectToHost(host, quint16(port));
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
        response += socket.readAll();
    return response + socket.readAll();
}

// The exit status and output of a program (status -1 when it could not start).
std::pair<int, QByteArray> run(const QString& program, const QStringList& args) {
    ChildOptions options;
    options.out = StdStream::Capture;
    options.err = StdStream::Merge;
    options.timeout = std::chrono::seconds(60);
    const Result<ChildExit> r = runChild(program, args, options);
    if (!r)
        return {-1, r.error().message.toUtf8()};
    return {r->signalled ? -1 : r->exitStatus, r->output};
}

const QString kIp = QStringLiteral("/usr/sbin/ip");
// From the benchmarking range, which no real network uses (documentation ranges do turn up
// on virtual machines' own links).
const QString kHostAddress = QStringLiteral("198.18.237.1");
const QString kClientAddress = QStringLiteral("198.18.237.2");

// A network namespace with one veth pair to this machine; removed again whatever happens.
struct ClientNamespace {
    QString name = QStringLiteral("zelto-test-%1").arg(::getpid());
    QString hostLink = QStringLiteral("zt%1h").arg(::getpid());
    QString clientLink = QStringLiteral("zt%1c").arg(::getpid());
    QString failure; // why it could not be made; empty when it is up

    ClientNamespace() {
        if (run(kIp, {QStringLiteral("-o"), QStringLiteral("addr")})
                .second.contains("198.18.237.")) {
            failure = QStringLiteral("198.18.237.0/30 is in use on this machine");
            return;
        }
        const QList<QStringList> steps = {
            {"netns", "add", name},
            {"link", "add", hostLink, "type", "veth", "peer", "name", clientLink, "netns", name},
            {"addr", "add", kHostAddress + "/30", "dev", hostLink},
            {"link", "set", hostLink, "up"},
            {"-n", name, "addr", "add", kClientAddress + "/30", "dev", clientLink},
            {"-n", name, "link", "set", clientLink, "up"},
            {"-n", name, "link", "set", "lo", "up"},
        };
        for (const QStringList& step : steps) {
            const auto [status, output] = run(kIp, step);
            if (status != 0) {
                failure = QStringLiteral("ip ") + step.join(QLatin1Char(' ')) +
                          QStringLiteral(": ") + QString::fromUtf8(output).trimmed();
                return;
            }
        }
    }
    ~ClientNamespace() {
        // Deleting the namespace deletes the pair; the host end goes too if the pair was
        // made but never moved.
        (void)run(kIp, {QStringLiteral("netns"), QStringLiteral("del"), name});
        (void)run(kIp, {QStringLiteral("link"), QStringLiteral("del"), hostLink});
    }

    // The status code and body of a request from inside the namespace.
    std::pair<QString, QByteArray> get(int port, const QString& path) const {
        const QByteArray output =
            run(kIp, {QStringLiteral("netns"), QStringLiteral("exec"), name,
                      QStringLiteral("/usr/bin/curl"), QStringLiteral("-sS"),
                      QStringLiteral("--max-time"), QStringLiteral("30"), QStringLiteral("-w"),
                      QStringLiteral("\n%{http_code}"),
                      QStringLiteral("http://%1:%2%3").arg(kHostAddress).arg(port).arg(path)})
                .second;
        const qsizetype cut = output.lastIndexOf('\n');
        return {QString::fromUtf8(output.mid(cut + 1)), output.left(cut)};
    }
};

} // namespace

class NetworkAccessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const testing::EndToEndSetup setup =
            testing::endToEndSetup(QStringLiteral("phpmyadmin"), {kSitePort, kAdminPort});
        if (!setup.skip.isEmpty())
            QSKIP(qPrintable(setup.skip));
        if (!setup.failure.isEmpty())
            QFAIL(qPrintable(setup.failure));
        const QString runtime = setup.runtime;
        QVERIFY(QDir().mkpath(m_box.resourceDir()));
        QVERIFY(copyTree(runtime, m_box.resourceDir() + QStringLiteral("/runtime")));
        m_model = m_box.makeModel();
        m_model->refreshStatus(); // installs the runtime into the panel root
        QCOMPARE(m_model->startPhpWeb(), QString());
        QCOMPARE(m_model->startPhpMyAdmin(), QString());
        QVERIFY(testing::waitFor([] { return portAnswers(kSitePort) && portAnswers(kAdminPort); },
                                 30000));
    }

    void cleanupTestCase() {
        m_client.reset();
        if (!m_model)
            return;
        m_model->stopPhpWeb();
        m_model->stopPhpMyAdmin();
        testing::waitFor([] { return !portAnswers(kSitePort) && !portAnswers(kAdminPort); }, 30000);
        const SystemTools tools = SystemTools::debian();
        (void)runChild(tools.pkill, {QStringLiteral("-KILL"), QStringLiteral("-f"),
                                     core::escapeExtendedRegex(m_box.base())});
    }

    // From this machine both servers answer: phpMyAdmin with its login page.
    void loopbackClients_data() {
        QTest::addColumn<QString>("host");
        QTest::newRow("127.0.0.1") << "127.0.0.1";
        QTest::newRow("127.0.0.1 by name") << "localhost";
    }

    void loopbackClients() {
        QFETCH(QString, host);
        const QByteArray login = httpGet(host, kAdminPort, "/");
        QVERIFY2(login.startsWith("HTTP/1.0 200") && login.contains("input_username") &&
                     login.contains("input_password"),
                 login.left(2000).constData());
        QVERIFY(httpGet(host, kSitePort, "/").contains("data-state="));
    }

    // From another machine: the site answers, phpMyAdmin's scripts never run.
    void otherMachine_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("marker");
        QTest::newRow("site") << kSitePort << "/"
                              << "200" << QByteArray("data-state=");
        QTest::newRow("phpMyAdmin start") << kAdminPort << "/"
                                          << "403" << QByteArray("403 Forbidden");
        QTest::newRow("phpMyAdmin route") << kAdminPort << "/index.php?route=/server/databases"
                                          << "403" << kClientAddress.toUtf8();
        QTest::newRow("phpMyAdmin script") << kAdminPort << "/show_config_errors.php"
                                           << "403" << QByteArray("只允许在本机访问");
        QTest::newRow("phpMyAdmin config") << kAdminPort << "/config.inc.php"
                                           << "403" << QByteArray("403 Forbidden");
        QTest::newRow("phpMyAdmin unknown path") << kAdminPort << "/no/such/page"
                                                 << "403" << QByteArray("403 Forbidden");
    }

    void otherMachine() {
        QFETCH(int, port);
        QFETCH(QString, path);
        QFETCH(QString, status);
        QFETCH(QByteArray, marker);
        if (::geteuid() != 0 || !isExecutableFile(kIp) ||
            !isExecutableFile(QStringLiteral("/usr/bin/curl")))
            QSKIP("a client on another address needs root, ip and curl to make a network "
                  "namespace; the guard's decision is tested directly in tst_php_ini");
        if (!m_client)
            m_client = std::make_unique<ClientNamespace>();
        if (!m_client->failure.isEmpty())
            QSKIP(qPrintable(QStringLiteral("this machine does not let the test make a network "
                                            "namespace and veth pair (") +
                             m_client->failure +
                             QStringLiteral("); the guard's decision is "
                                            "tested directly in tst_php_ini")));
        const auto [code, body] = m_client->get(port, path);
        QVERIFY2(code == status && body.contains(marker),
                 qPrintable(code + QLatin1Char(' ') + QString::fromUtf8(body.left(2000))));
        QVERIFY(!body.contains("input_password"));
    }

private:
    TestSandbox m_box;
    std::shared_ptr<PanelViewModel> m_model;
    std::unique_ptr<ClientNamespace> m_client;
};

QTEST_GUILESS_MAIN(NetworkAccessTest)
#include "tst_network_access.moc"
