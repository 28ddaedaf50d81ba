#include "app/server_logs_window.h"

#include "app/cards.h"
#include "app/log_panel.h"
#include "app/surface.h"
#include "app/theme.h"
#include "core/log_follower.h"
#include "core/panel_view_model.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace theme;

namespace {

// The frame of the list sits this far inside its rounded card.
constexpr int kFrameMargin = 4;

struct LogTab {
    Service service;
    const char* titleKey;
};
// In the order the tabs show them.
constexpr LogTab kTabs[] = {
    {Service::Site, QT_TRID_NOOP("logs.tab.site")},
    {Service::PhpMyAdmin, QT_TRID_NOOP("logs.tab.phpmyadmin")},
    {Service::Database, QT_TRID_NOOP("logs.tab.database")},
};

// The database's log belongs to the database server, which rewrites it as it likes; only the
// web servers' logs are the panel's to empty.
bool clearable(Service service) {
    return service != Service::Database;
}

QString rgba(const QColor& c) {
    return c.name(QColor::HexArgb);
}

// Colours each line by its severity; the text (with its marker) is the model's.
class SeverityDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        QColor ink = logview::plainLine();
        switch (logs::Severity(index.data(logs::LogFollower::SeverityRole).toInt())) {
        case logs::Severity::Error:
            ink = logview::errorLine();
            break;
        case logs::Severity::Warning:
            ink = logview::warningLine();
            break;
        case logs::Severity::Plain:
            break;
        }
        option->palette.setColor(QPalette::Text, ink);
        option->palette.setColor(QPalette::HighlightedText, ink.lighter(115));
    }
};

QPushButton* makeToolButton(const QString& title, QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setAccessibleName(title);
    button->setFont(fonts::buttonTitle());
    button->setMinimumHeight(metric::toolButtonHeight);
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3; "
                       "border-radius: %4px; padding: 0 %5px; }"
                       "QPushButton:hover { background: %6; }"
                       "QPushButton:checked { background: %7; }"
                       "QPushButton:disabled { color: %8; background: %2; }")
            .arg(rgba(text::button(false)), rgba(logview::toolFill(false)),
                 rgba(logview::toolBorder()), QString::number(radius::toolButton),
                 QString::number(metric::toolButtonInsetX), rgba(logview::toolFillHover()),
                 rgba(logview::toolFill(true)), rgba(logview::toolTextDisabled())));
    return button;
}

QString tabBarStyle() {
    return QStringLiteral("QTabWidget::pane { border: none; }"
                          "QTabBar::tab { color: %1; background: %2; border: 1px solid %3; "
                          "border-radius: %4px; padding: 4px %5px; margin-right: 6px; }"
                          "QTabBar::tab:selected { color: %6; background: %7; }"
                          "QTabBar::tab:hover:!selected { background: %8; }")
        .arg(rgba(text::cardTitle()), rgba(logview::toolFill(false)), rgba(logview::toolBorder()),
             QString::number(radius::toolButton), QString::number(metric::toolButtonInsetX),
             rgba(text::primary()), rgba(logview::toolFill(true)), rgba(logview::toolFillHover()));
}

} // namespace

// --- Filter ----------------------------------------------------------------------------------

void ErrorsOnlyFilter::setErrorsOnly(bool on) {
    if (on == m_errorsOnly)
        return;
    m_errorsOnly = on;
    invalidateRowsFilter();
}

bool ErrorsOnlyFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (!m_errorsOnly)
        return true;
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    return logs::Severity(index.data(logs::LogFollower::SeverityRole).toInt()) !=
           logs::Severity::Plain;
}

// --- One log ---------------------------------------------------------------------------------

ServerLogPage::ServerLogPage(Service service, const std::shared_ptr<PanelViewModel>& model,
                             QWidget* parent)
    : QWidget(parent), m_service(service) {
    m_follower = new logs::LogFollower(
        model->platform().dispatcher,
        // Asked on a worker: resolving the root may look at the disk.
        [model, service] { return model->serviceLogPath(service); }, this);
    m_follower->setSeverityMarkers(qtTrId("logs.marker.error") + QLatin1Char(' '),
                                   qtTrId("logs.marker.warning") + QLatin1Char(' '));
    m_filter = new ErrorsOnlyFilter(this);
    m_filter->setSourceModel(m_follower);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, metric::logPanelGap, 0, 0);
    auto* frame = new Surface(card::logEditor(), this);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(kFrameMargin, kFrameMargin, kFrameMargin, kFrameMargin);
    m_list = new QListView(frame);
    m_list->setObjectName(QStringLiteral("serverLogLines"));
    m_list->setModel(m_filter);
    m_list->setItemDelegate(new SeverityDelegate(m_list));
    // Every line is one row of the same height: adding a batch lays out no line anew.
    m_list->setUniformItemSizes(true);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setWordWrap(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setFont(fonts::logEditor());
    m_list->viewport()->setAutoFillBackground(false);
    QPalette p = m_list->palette();
    p.setColor(QPalette::Base, color::clear);
    p.setColor(QPalette::Highlight, logview::selection());
    m_list->setPalette(p);
    frameLayout->addWidget(m_list);
    layout->addWidget(frame);

    // Following the end: while the user is at the bottom, new lines scroll into view.
    QScrollBar* bar = m_list->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!m_changing)
            m_followEnd = value >= bar->maximum();
    });
    const auto changing = [this] { m_changing = true; };
    connect(m_follower, &QAbstractItemModel::modelAboutToBeReset, this, changing);
    connect(m_follower, &QAbstractItemModel::rowsAboutToBeInserted, this, changing);
    connect(m_follower, &QAbstractItemModel::rowsAboutToBeRemoved, this, changing);
    connect(m_follower, &logs::LogFollower::linesChanged, this, [this] {
        if (m_followEnd)
            m_list->scrollToBottom();
        m_changing = false;
    });
}

QString ServerLogPage::copiedText() const {
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    if (rows.isEmpty()) {
        for (int row = 0; row < m_filter->rowCount(); ++row)
            lines << m_filter->index(row, 0).data().toString();
    } else {
        for (const QModelIndex& index : rows)
            lines << index.data().toString();
    }
    return lines.join(QLatin1Char('\n'));
}

void ServerLogPage::setErrorsOnly(bool on) {
    const bool followEnd = m_followEnd;
    m_changing = true;
    m_filter->setErrorsOnly(on);
    if (followEnd)
        m_list->scrollToBottom();
    m_changing = false;
}

void ServerLogPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_follower->start();
}

void ServerLogPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_follower->stop();
}

// --- Window ----------------------------------------------------------------------------------

ServerLogsWindow::ServerLogsWindow(std::shared_ptr<PanelViewModel> model, QWidget* parent)
    : QWidget(parent, Qt::Window), m_model(std::move(model)) {
    const QString title = qtTrId("action.server_logs");
    setWindowTitle(title);
    setAccessibleName(title);
    resize(metric::logsWindowWidth, metric::logsWindowHeight);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(metric::columnInset, metric::columnInset, metric::columnInset,
                              metric::columnInset);
    auto* card = new Surface(card::logPanel(), this);
    outer->addWidget(card);
    auto [column, header] = makeLogCardLayout(card, title, qtTrId("logs.sub"));
    m_errorsOnly = makeToolButton(qtTrId("logs.errors_only"), card);
    m_errorsOnly->setObjectName(QStringLiteral("logs.errors_only"));
    m_errorsOnly->setCheckable(true);
    m_copy = makeToolButton(qtTrId("logs.copy"), card);
    m_copy->setObjectName(QStringLiteral("logs.copy"));
    m_clear = makeToolButton(qtTrId("logs.clear"), card);
    m_clear->setObjectName(QStringLiteral("logs.clear"));
    for (QPushButton* button : {m_errorsOnly, m_copy, m_clear})
        header->addWidget(button, 0, Qt::AlignVCenter);

    m_tabs = new QTabWidget(card);
    m_tabs->setDocumentMode(true);
    m_tabs->tabBar()->setDrawBase(false);
    m_tabs->setStyleSheet(tabBarStyle());
    for (const LogTab& tab : kTabs) {
        const QString name = qtTrId(tab.titleKey);
        const int index = m_tabs->addTab(new ServerLogPage(tab.service, m_model), name);
        m_tabs->tabBar()->setAccessibleTabName(index, name);
        page(index)->list()->setAccessibleName(name);
        // The copy key copies as the button does (the lines shown, with their markers), not
        // the list's current row alone.
        auto* copy = new QAction(page(index)->list());
        copy->setShortcut(QKeySequence::Copy);
        copy->setShortcutContext(Qt::WidgetShortcut);
        page(index)->list()->addAction(copy);
        connect(copy, &QAction::triggered, this, &ServerLogsWindow::copyLines);
    }
    column->addWidget(m_tabs, 1);

    m_notice = makeLabel(QString(), fonts::sectionSubtitle(), text::attention(), card);
    m_notice->setVisible(false);
    column->addWidget(m_notice);

    connect(m_errorsOnly, &QPushButton::toggled, this, [this](bool on) {
        for (int i = 0; i < m_tabs->count(); ++i)
            page(i)->setErrorsOnly(on);
    });
    connect(m_copy, &QPushButton::clicked, this, &ServerLogsWindow::copyLines);
    connect(m_clear, &QPushButton::clicked, this, &ServerLogsWindow::clearLog);
    connect(m_tabs, &QTabWidget::currentChanged, this, &ServerLogsWindow::onCurrentChanged);
    for (int i = 0; i < m_tabs->count(); ++i) {
        connect(page(i)->follower(), &logs::LogFollower::cleared, this, [this](const QString& e) {
            m_notice->setText(e.isEmpty() ? QString() : qtTrId("logs.clear_failed").arg(e));
            m_notice->setVisible(!e.isEmpty());
        });
    }
    onCurrentChanged();
}

ServerLogPage* ServerLogsWindow::page(int index) const {
    return static_cast<ServerLogPage*>(m_tabs->widget(index));
}

ServerLogPage* ServerLogsWindow::currentPage() const {
    return page(m_tabs->currentIndex());
}

void ServerLogsWindow::copyLines() {
    m_model->platform().desktop->setClipboardText(currentPage()->copiedText());
}

void ServerLogsWindow::clearLog() const {
    ServerLogPage* shown = currentPage();
    if (clearable(shown->service()))
        shown->follower()->clearLog();
}

void ServerLogsWindow::onCurrentChanged() {
    m_clear->setEnabled(clearable(currentPage()->service()));
    m_notice->setVisible(false);
}

void ServerLogsWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient backdrop(QPointF(0, 0), QPointF(width(), height()));
    backdrop.setStops(color::backdrop());
    painter.fillRect(rect(), backdrop);
}
