#include "core/panel_view_model.h"

#include <QThread>

#include <utility>

std::shared_ptr<PanelViewModel> PanelViewModel::create(Platform platform, PanelConfig config) {
    std::shared_ptr<Dispatcher> dispatcher = platform.dispatcher;
    auto* model = new PanelViewModel(std::move(platform), std::move(config));
    // A job may drop the last reference on its worker thread; the QObject is still deleted
    // on the main thread. The deletion is owned by the queued call, so that it happens even
    // when the call never runs: a job that ends while the application shuts down queues it
    // after the last turn of the event loop, and the queue is dropped (on the main thread)
    // with the application object.
    return std::shared_ptr<PanelViewModel>(model, [dispatcher](PanelViewModel* m) {
        if (!dispatcher || dispatcher->isMainThread()) {
            delete m;
            return;
        }
        auto owner =
            std::shared_ptr<PanelViewModel>(m, [](PanelViewModel* doomed) { delete doomed; });
        dispatcher->postToMain([owner = std::move(owner)] {});
    });
}

PanelViewModel::PanelViewModel(Platform platform, PanelConfig config)
    : m_platform(std::move(platform)), m_config(std::move(config)),
      m_updateZipBaseURL(m_config.updateZipBaseURL) {}

PanelViewModel::~PanelViewModel() = default;

void PanelViewModel::assertMainThread() const {
    Q_ASSERT_X(!m_platform.dispatcher || m_platform.dispatcher->isMainThread(), "PanelViewModel",
               "published fields are assigned on the main thread only");
}

void PanelViewModel::setLogs(const QString& logs) {
    assertMainThread();
    m_logs = logs;
    Q_EMIT changed();
}

void PanelViewModel::setErrorSummary(const QString& summary) {
    assertMainThread();
    m_errorSummary = summary;
    Q_EMIT changed();
}

void PanelViewModel::setPermissionHint(const QString& hint) {
    assertMainThread();
    m_permissionHint = hint;
    Q_EMIT changed();
}

void PanelViewModel::setUpdateProgress(double progress) {
    assertMainThread();
    m_updateProgress = progress;
    Q_EMIT changed();
}

void PanelViewModel::setUpdateProgressText(const QString& text) {
    assertMainThread();
    m_updateProgressText = text;
    Q_EMIT changed();
}

void PanelViewModel::setServiceRunning(Service service, bool running) {
    assertMainThread();
    m_status.setRunning(service, running);
    Q_EMIT changed();
}

void PanelViewModel::noteOperationBegun() {
    assertMainThread();
    m_operationsRunning += 1;
    Q_EMIT operationsChanged();
}

void PanelViewModel::finish(const OperationOutcome& outcome) {
    assertMainThread();
    m_operationsRunning -= 1;
    Q_EMIT finished(outcome);
    Q_EMIT operationsChanged();
}

namespace {
const QString kSavedRootKey = QStringLiteral("zeltoPanelRoot");
}

QString PanelViewModel::savedRoot() const {
    return m_platform.preferences->string(kSavedRootKey).value_or(QString());
}

void PanelViewModel::setSavedRoot(const QString& root) {
    m_platform.preferences->setString(kSavedRootKey, root);
}

void PanelViewModel::postToMain(std::function<void(PanelViewModel&)> fn) {
    m_platform.dispatcher->postToMain(
        [self = shared_from_this(), fn = std::move(fn)] { fn(*self); });
}

void PanelViewModel::runInBackground(std::function<void(PanelViewModel&)> fn) {
    m_platform.dispatcher->runInBackground(
        [self = shared_from_this(), fn = std::move(fn)] { fn(*self); });
}

void PanelViewModel::runStartStop(
    std::function<void(PanelViewModel&, platform::SerialQueue::Turn)> job) {
    // One queue for the process: the models of one process may share a root, and so a file
    // lock; a run that waited for it on a worker would hold that worker for the length of
    // another run.
    static platform::SerialQueue runs;
    noteOperationBegun();
    runs.enqueueHolding(m_platform.dispatcher,
                        [self = shared_from_this(), job = std::move(job)](
                            platform::SerialQueue::Turn turn) { job(*self, std::move(turn)); });
}
