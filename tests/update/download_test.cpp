#include "tst_update.h"

#include "update/download.h"
#include "update_test_support.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace update;
using namespace updatetest;

void UpdateTest::responsesWithABodyAreStored_data() {
    QTest::addColumn<int>("status");
    for (int status : {200, 400, 401, 403, 404, 407, 418, 500, 301, 302, 303, 307, 308})
        QTest::addRow("%d", status) << status;
}

// Whatever the status, a response that arrived whole is stored; the extraction judges it.
void UpdateTest::responsesWithABodyAreStored() {
    QFETCH(int, status);
    QTemporaryDir tmp;
    const QString path = tmp.path() + QStringLiteral("/zelto-update.zip");
    testing::writeFile(path, "previous archive");
    LocalHttpServer server; // a 3xx without a Location header leads nowhere
    server.response.status = status;
    server.response.body = "<html>status " + QByteArray::number(status) + "</html>";
    Result<> outcome = failure(QStringLiteral("<not run>"));
    QThread* worker =
        QThread::create([&] { outcome = downloadToFile(QUrl(server.archiveUrl()), path, 10); });
    worker->start();
    QVERIFY(testing::waitFor([&] { return worker->isFinished(); }));
    delete worker;
    QVERIFY2(outcome, qPrintable(outcome ? QString() : outcome.error().context()));
    QCOMPARE(testing::readFile(path), server.response.body);
}

void UpdateTest::redirectsAreFollowed() {
    QTemporaryDir tmp;
    const QString path = tmp.path() + QStringLiteral("/zelto-update.zip");
    LocalHttpServer target;
    target.response.body = "the archive";
    LocalHttpServer first;
    first.response.status = 302;
    first.response.body = "moved";
    first.response.headers = "Location: " + target.archiveUrl().toUtf8() + "?t=1\r\n";
    Result<> outcome = failure(QStringLiteral("<not run>"));
    QThread* worker =
        QThread::create([&] { outcome = downloadToFile(QUrl(first.archiveUrl()), path, 10); });
    worker->start();
    QVERIFY(testing::waitFor([&] { return worker->isFinished(); }));
    delete worker;
    QVERIFY2(outcome, qPrintable(outcome ? QString() : outcome.error().context()));
    QCOMPARE(testing::readFile(path), QByteArray("the archive"));
    QCOMPARE(target.requestTargets, QStringList{QStringLiteral("/zelto-update.zip?t=1")});
}
