#include "test_support.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>

using namespace testing;

class TestModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initialState();
    void eachAssignmentSignalsOnce();
    void updateAddressIsFixedAtConstruction();
    void jobKeepsModelAliveAndBlocksRunInOrder();
};

void TestModel::initialState() {
    TestSandbox box;
    auto model = box.makeModel();
    QCOMPARE(model->logs(), QString());
    QCOMPARE(model->errorSummary(), QString());
    QCOMPARE(model->permissionHint(), QString());
    QCOMPARE(model->updateProgress(), 0.0);
    QCOMPARE(model->updateProgressText(), QString());
    QVERIFY(!model->status().isRunning(Service::Database));
    QVERIFY(!model->status().isRunning(Service::Site));
    QVERIFY(!model->status().isRunning(Service::PhpMyAdmin));
    QCOMPARE(model->savedRoot(), QString());
    // Construction touches no file: nothing was installed.
    QVERIFY(!QFileInfo::exists(box.installedRoot()));
}

void TestModel::eachAssignmentSignalsOnce() {
    TestSandbox box;
    auto model = box.makeModel();
    QSignalSpy spy(model.get(), &PanelViewModel::changed);
    model->setLogs(QStringLiteral("a"));
    model->setLogs(QStringLiteral("a")); // same value: still an assignment
    model->setErrorSummary(QStringLiteral("b"));
    model->setPermissionHint(QStringLiteral("c"));
    model->setUpdateProgress(0.5);
    model->setUpdateProgressText(QStringLiteral("d"));
    model->setServiceRunning(Service::Database, true);
    model->setServiceRunning(Service::Site, true);
    model->setServiceRunning(Service::PhpMyAdmin, true);
    QCOMPARE(spy.count(), 9);
    // The preference is no published field.
    model->setSavedRoot(QStringLiteral("/x"));
    QCOMPARE(spy.count(), 9);
    QCOMPARE(model->property("logs").toString(), QStringLiteral("a"));
    QCOMPARE(model->property("updateProgress").toDouble(), 0.5);
}

void TestModel::updateAddressIsFixedAtConstruction() {
    TestSandbox box;
    auto model = box.makeModel();
    const QUrl url = model->updateZipBaseURL();
    QCOMPARE(url.scheme(), QStringLiteral("https"));
    QCOMPARE(url.path(), QStringLiteral("/zelto-update.zip"));
    QVERIFY(!url.hasQuery());
    QVERIFY(!url.host().isEmpty());
    PanelConfig local;
    local.updateZipBaseURL = QUrl(QStringLiteral("http://127.0.0.1:1/zelto-update.zip"));
    QCOMPARE(box.makeModel(local)->updateZipBaseURL(), local.updateZipBaseURL);
}

void TestModel::jobKeepsModelAliveAndBlocksRunInOrder() {
    TestSandbox box;
    auto model = box.makeModel();
    QPointer<PanelViewModel> watcher(model.get());
    std::atomic<bool> release{false};
    QStringList seen;
    QThread* deletedOn = nullptr;
    QObject::connect(model.get(), &QObject::destroyed,
                     [&] { deletedOn = QThread::currentThread(); });
    model->postToMain([&](PanelViewModel& m) { m.setLogs(QStringLiteral("opening")); });
    model->runInBackground([&](PanelViewModel& m) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (int i = 1; i <= 3; ++i)
            m.postToMain([&, i](PanelViewModel& mm) {
                seen << mm.logs();
                mm.setLogs(QStringLiteral("stage %1").arg(i));
            });
    });
    // The window goes away while the job works.
    model.reset();
    QVERIFY(!watcher.isNull());
    release = true;
    QVERIFY(waitFor([&] { return watcher.isNull(); }, 10000));
    QCOMPARE(seen, (QStringList{"opening", "stage 1", "stage 2"}));
    QCOMPARE(deletedOn, QThread::currentThread());
}

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
