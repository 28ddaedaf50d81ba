#include "app/main_panel.h"

#include "app/adaptive_grid_layout.h"
#include "app/cards.h"
#include "app/hero_header.h"
#include "app/icon_button.h"
#include "app/log_panel.h"
#include "app/surface.h"
#include "app/theme.h"
#include "core/panel_view_model.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

using namespace theme;

namespace {

struct ButtonSpec {
    int grid;
    const char* titleKey;
    const char* icon;
    // Empty for the buttons the panel answers itself: restore pops up the menu of snapshots,
    // server logs opens the logs window.
    std::function<void(PanelViewModel&)> action;
    bool prominent;
};

// The four grids' buttons, in order.
const ButtonSpec kButtons[] = {
    {0, QT_TRID_NOOP("action.start_all"), "start_all", &PanelViewModel::startAll, true},
    {0, QT_TRID_NOOP("action.stop_all"), "stop_all", &PanelViewModel::stopAll, false},
    {0, QT_TRID_NOOP("action.refresh_status"), "refresh_status",
     &PanelViewModel::refreshStatusInBackground, false},
    // A switch, on or off as the model says (see render()); its mark takes the icon's place.
    {0, QT_TRID_NOOP("action.php_debugging"), "",
     [](PanelViewModel& m) { m.setPhpDebugging(!m.phpDebugging()); }, false},
    {1, QT_TRID_NOOP("action.choose_directory"), "choose_directory",
     &PanelViewModel::choosePanelRootInBackground, false},
    {1, QT_TRID_NOOP("action.open_directory"), "open_directory",
     &PanelViewModel::openRuntimeDirectory, false},
    {1, QT_TRID_NOOP("action.privacy_settings"), "privacy_settings",
     &PanelViewModel::openPrivacySettings, false},
    {2, QT_TRID_NOOP("action.open_website"), "open_website", &PanelViewModel::openSite, false},
    {2, QT_TRID_NOOP("action.database_admin"), "database_admin",
     &PanelViewModel::openPhpMyAdminInBackground, false},
    {2, QT_TRID_NOOP("action.start_phpmyadmin"), "phpmyadmin_start",
     &PanelViewModel::openPhpMyAdminInBackground, false},
    {2, QT_TRID_NOOP("action.update_repair"), "update_repair", &PanelViewModel::updateOrRepairFiles,
     false},
    {2, QT_TRID_NOOP("action.undo_update"), "undo_update", &PanelViewModel::undoLastUpdate, false},
    {2, QT_TRID_NOOP("action.copy_logs"), "copy_logs", &PanelViewModel::copyLogs, false},
    {2, QT_TRID_NOOP("action.server_logs"), "server_logs", {}, false},
    {3, QT_TRID_NOOP("action.backup_database"), "backup_database", &PanelViewModel::backupDatabase,
     false},
    {3, QT_TRID_NOOP("action.restore_database"), "restore_database", {}, false},
    {3, QT_TRID_NOOP("action.open_backups"), "open_directory",
     &PanelViewModel::openBackupsDirectory, false},
};

// Why a snapshot was taken, in the window's language.
QString reasonTitle(backup::Reason reason) {
    switch (reason) {
    case backup::Reason::BeforeUpdate:
        return qtTrId("backup.reason.before_update");
    case backup::Reason::BeforeUndo:
        return qtTrId("backup.reason.before_undo");
    case backup::Reason::BeforeRestore:
        return qtTrId("backup.reason.before_restore");
    case backup::Reason::ByHand:
        break;
    }
    return qtTrId("backup.reason.by_hand");
}

// A snapshot as the restore menu and the last-backup line name it.
QString snapshotWhen(const backup::SnapshotInfo& s) {
    return s.created.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) +
           QStringLiteral(" · ") + reasonTitle(s.reason);
}

// If the window is never painted (hidden behind others on some compositors), the first
// status is asked for this long after it was shown.
constexpr int kFirstStatusFallbackMs = 400;

} // namespace

MainPanel::MainPanel(std::shared_ptr<PanelViewModel> model, QWidget* parent)
    : QWidget(parent), m_model(std::move(model)) {
    setMinimumSize(metric::minContentWidth, metric::minContentHeight);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // The keyboard moves between the buttons and the log; the area scrolls to each of them.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setAutoFillBackground(false);
    outer->addWidget(m_scroll);

    m_column = new Surface;
    m_column->setObjectName(QStringLiteral("panelColumn"));
    auto* column = new QVBoxLayout(m_column);
    column->setContentsMargins(metric::columnInset, metric::columnInset, metric::columnInset,
                               metric::columnInset);
    column->setSpacing(metric::columnGap);

    m_header = new HeroHeader(m_column);
    m_column->addRoundedShadow(m_header, radius::header, shadow::header());
    column->addWidget(m_header);

    m_strip = new StatusStrip(m_column);
    column->addWidget(m_strip);

    const char* sectionKeys[kSectionCount][2] = {
        {QT_TRID_NOOP("panel.service_control"), QT_TRID_NOOP("panel.service_control.sub")},
        {QT_TRID_NOOP("panel.directory_permission"),
         QT_TRID_NOOP("panel.directory_permission.sub")},
        {QT_TRID_NOOP("panel.site_logs"), QT_TRID_NOOP("panel.site_logs.sub")},
        {QT_TRID_NOOP("panel.database_backups"), QT_TRID_NOOP("panel.database_backups.sub")},
    };
    for (int i = 0; i < kSectionCount; ++i) {
        m_sections[i] =
            new GroupedPanel(qtTrId(sectionKeys[i][0]), qtTrId(sectionKeys[i][1]), m_column);
        m_grids[i] =
            new AdaptiveGridLayout(metric::buttonColumnMin, metric::buttonGap, metric::buttonGap);
        m_sections[i]->contentLayout()->addLayout(m_grids[i]);
        column->addWidget(m_sections[i]);
    }
    buildButtons();

    m_progress = new ProgressCard(m_sections[2]);
    m_progress->setVisible(false);
    m_sections[2]->contentLayout()->addWidget(m_progress);
    m_permissionNotice =
        new WarningCard(qtTrId("warning.permission"), color::orange, m_sections[2]);
    m_permissionNotice->setVisible(false);
    m_sections[2]->contentLayout()->addWidget(m_permissionNotice);

    m_lastBackup = makeLabel(QString(), fonts::sectionSubtitle(), text::cardTitle(), m_sections[3]);
    m_lastBackup->setObjectName(QStringLiteral("backup.last"));
    m_sections[3]->contentLayout()->addWidget(m_lastBackup);

    m_restoreMenu = new QMenu(this);
    m_restoreMenu->setAccessibleName(qtTrId("action.restore_database"));
    m_dropOthers = new QAction(qtTrId("backup.drop_others"), this);
    m_dropOthers->setCheckable(true);
    connect(m_restoreMenu, &QMenu::aboutToShow, this, &MainPanel::fillRestoreMenu);

    m_errorNotice = new WarningCard(qtTrId("warning.errors"), color::red, m_column);
    m_errorNotice->setVisible(false);
    column->addWidget(m_errorNotice);

    m_log = new LogPanel(m_column);
    m_log->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    column->addWidget(m_log, 1);

    m_scroll->setWidget(m_column);
    // The backdrop shows through the column (setWidget turns background filling on).
    m_column->setAutoFillBackground(false);

    connect(m_model.get(), &PanelViewModel::changed, this, &MainPanel::scheduleRender);
    connect(m_log, &LogPanel::logsEdited, this,
            [this](const QString& text) { m_model->setLogs(text); });
    render();
}

MainPanel::~MainPanel() = default;

void MainPanel::buildButtons() {
    for (const ButtonSpec& spec : kButtons) {
        GroupedPanel* section = m_sections[spec.grid];
        auto* button = new IconButton(QString::fromLatin1(spec.icon), qtTrId(spec.titleKey),
                                      spec.prominent, section);
        button->setObjectName(QString::fromLatin1(spec.titleKey));
        m_grids[spec.grid]->addWidget(button);
        if (spec.prominent)
            section->addRoundedShadow(button, radius::button, shadow::prominentButton());
        if (const auto action = spec.action)
            connect(button, &QAbstractButton::clicked, this, [this, action] { action(*m_model); });
        else if (QLatin1String(spec.titleKey) == QLatin1String("action.server_logs"))
            connect(button, &QAbstractButton::clicked, this, &MainPanel::showServerLogs);
        else
            connect(button, &QAbstractButton::clicked, this,
                    [this, button] { popUpRestoreMenu(button); });
        m_buttons.push_back(button);
        // Shown only while there is an update to undo.
        if (QLatin1String(spec.titleKey) == QLatin1String("action.undo_update")) {
            m_undoButton = button;
            button->setVisible(false);
        }
        if (QLatin1String(spec.titleKey) == QLatin1String("action.php_debugging")) {
            m_debuggingSwitch = button;
            button->setCheckable(true);
        }
    }
}

void MainPanel::setTopInset(int inset) {
    layout()->setContentsMargins(0, inset, 0, 0);
    // The smallest size is the content's, below the inset.
    setMinimumSize(metric::minContentWidth, metric::minContentHeight + inset);
}

void MainPanel::scheduleRender() {
    // A single operation publishes several fields in a row; they are shown together.
    if (m_renderPending)
        return;
    m_renderPending = true;
    QMetaObject::invokeMethod(this, &MainPanel::render, Qt::QueuedConnection);
}

void MainPanel::render() {
    m_renderPending = false;
    const PanelViewModel& m = *m_model;
    const ServiceStatus status = m.status();
    m_header->setState(m.permissionHint(), status);
    std::array<QDateTime, kServices.size()> stoppedAt;
    for (const Service service : kServices) {
        if (const std::optional<UnexpectedStop> stop = m.unexpectedStop(service))
            stoppedAt[serviceIndex(service)] = stop->at;
    }
    m_strip->setStatus(status, m.phpDebugging(), stoppedAt);

    const double progress = m.updateProgress();
    const bool showProgress = ProgressCard::showsFor(progress);
    if (showProgress)
        m_progress->setProgress(progress, m.updateProgressText());
    m_progress->setVisible(showProgress);

    const QString hint = m.permissionHint();
    m_permissionNotice->setBody(hint);
    m_permissionNotice->setVisible(!hint.isEmpty());

    const QString errors = m.errorSummary();
    m_errorNotice->setBody(errors);
    m_errorNotice->setVisible(!errors.isEmpty());

    m_log->setLogs(m.logs());
    m_undoButton->setVisible(m.undoAvailable());
    m_debuggingSwitch->setChecked(m.phpDebugging());

    const QList<backup::SnapshotInfo>& snapshots = m.snapshots();
    m_lastBackup->setText(snapshots.isEmpty()
                              ? qtTrId("backup.never")
                              : qtTrId("backup.last").arg(snapshotWhen(snapshots.front())));
    m_lastBackup->setAccessibleName(m_lastBackup->text());
}

void MainPanel::showServerLogs() {
    // One window per panel, made on first use; pressed again, it comes to the front.
    if (!m_serverLogs)
        m_serverLogs = new ServerLogsWindow(m_model, this);
    m_serverLogs->show();
    m_serverLogs->raise();
    m_serverLogs->activateWindow();
}

void MainPanel::popUpRestoreMenu(IconButton* under) {
    // Not exec(): the menu runs in the window's own event loop.
    m_restoreMenu->popup(under->mapToGlobal(QPoint(0, under->height())));
}

void MainPanel::fillRestoreMenu() {
    // The drop-others item belongs to the panel, so clear() keeps it and its state.
    m_restoreMenu->clear();
    const QList<backup::SnapshotInfo>& snapshots = m_model->snapshots();
    if (snapshots.isEmpty()) {
        m_restoreMenu->addAction(qtTrId("backup.none"))->setEnabled(false);
        return;
    }
    for (const backup::SnapshotInfo& s : snapshots) {
        QAction* item = m_restoreMenu->addAction(snapshotWhen(s) + QStringLiteral(" · ") +
                                                 backup::sizeText(s.fileBytes));
        connect(item, &QAction::triggered, this, [this, name = s.name] {
            // Dropping databases is asked for each time anew.
            const bool dropOthers = m_dropOthers->isChecked();
            m_dropOthers->setChecked(false);
            m_model->restoreDatabase(name, dropOthers);
        });
    }
    m_restoreMenu->addSeparator();
    m_restoreMenu->addAction(m_dropOthers);
}

void MainPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient backdrop(QPointF(0, 0), QPointF(width(), height()));
    backdrop.setStops(color::backdrop());
    painter.fillRect(rect(), backdrop);
    // The first status is asked for once the first frame is on screen, so the window appears
    // at once even when the probe (or the first installation of the runtime) takes a while.
    if (!m_statusRequested)
        QMetaObject::invokeMethod(this, &MainPanel::requestFirstStatus, Qt::QueuedConnection);
}

void MainPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The status follows the services by itself while the panel is on screen.
    m_model->setLiveStatus(true);
    if (!m_statusRequested)
        QTimer::singleShot(kFirstStatusFallbackMs, this, &MainPanel::requestFirstStatus);
}

void MainPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_model->setLiveStatus(false);
}

void MainPanel::requestFirstStatus() {
    if (m_statusRequested)
        return;
    m_statusRequested = true;
    // Off the main thread: the first resolution of the root may install the runtime.
    m_model->refreshStatusInBackground();
    m_model->refreshSnapshotsInBackground();
}
