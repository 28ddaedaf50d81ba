#include "app/cards.h"

#include "app/adaptive_grid_layout.h"
#include "app/wrapping_label.h"
#include "core/panel_view_model.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QVBoxLayout>

#include <cmath>

using namespace theme;

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    setLabelColor(label, color);
    return label;
}

void setLabelColor(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    if (p.color(QPalette::WindowText) == color)
        return;
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

QColor labelColor(const QLabel* label) {
    return label->palette().color(QPalette::WindowText);
}

QString runningText(bool running) {
    return running ? qtTrId("common.running") : qtTrId("common.stopped");
}

// --- Accessibility -------------------------------------------------------------------------

namespace {

// A badge or a status card is one piece of text to a screen reader: its accessible name holds
// all it shows, and the labels inside it are not offered again as children.
class SummaryAccessible : public QAccessibleWidget {
public:
    explicit SummaryAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::StaticText) {}
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
};

QAccessibleInterface* summaryAccessibleFactory(const QString& className, QObject* object) {
    if ((className == QLatin1String("Badge") || className == QLatin1String("StatCard")) && object &&
        object->isWidgetType())
        return new SummaryAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

void installSummaryAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(summaryAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

// --- Badge ---------------------------------------------------------------------------------

Badge::Badge(const QString& label, QWidget* parent)
    : Surface(card::badge(false), parent), m_label(label) {
    installSummaryAccessibility();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(metric::badgeInsetX, metric::badgeInsetY, metric::badgeInsetX,
                               metric::badgeInsetY);
    m_text = makeLabel({}, fonts::badge(), color::white, this);
    layout->addWidget(m_text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_ok = true; // force the first update
    setOk(false);
}

void Badge::setOk(bool ok) {
    if (ok == m_ok)
        return;
    m_ok = ok;
    m_text->setText(m_label + QStringLiteral("  ") + runningText(ok));
    setAccessibleName(m_text->text());
    setCardStyle(card::badge(ok));
}

QString Badge::text() const {
    return m_text->text();
}

// --- Status cards --------------------------------------------------------------------------

StatCard::StatCard(QWidget* parent) : Surface(card::stat(), parent) {
    installSummaryAccessibility();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(metric::statCardInset, metric::statCardInset, metric::statCardInset,
                               metric::statCardInset);
    layout->setSpacing(metric::statCardGap);
    m_title = makeLabel({}, fonts::statTitle(), text::cardTitle(), this);
    m_value = makeLabel({}, fonts::statValue(), color::gray, this);
    layout->addWidget(m_title);
    layout->addWidget(m_value);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StatCard::setContent(const QString& title, const QString& value, const QColor& color) {
    m_title->setText(title);
    m_value->setText(value);
    setLabelColor(m_value, color);
    setAccessibleName(title + QLatin1Char(' ') + value);
}

QString StatCard::title() const {
    return m_title->text();
}
QString StatCard::value() const {
    return m_value->text();
}
QColor StatCard::valueColor() const {
    return labelColor(m_value);
}

StatusStrip::StatusStrip(QWidget* parent) : QWidget(parent) {
    m_grid =
        new AdaptiveGridLayout(metric::statusColumnMin, metric::statusGap, metric::statusGap, this);
    for (StatCard*& card : m_cards) {
        card = new StatCard(this);
        m_grid->addWidget(card);
    }
    setStatus(ServiceStatus{});
}

void StatusStrip::setStatus(const ServiceStatus& status, bool debugging,
                            const std::array<QDateTime, kServices.size()>& stoppedUnexpectedlyAt) {
    for (const Service service : kServices) {
        const bool running = status.isRunning(service);
        const QString state = runningText(running);
        const QDateTime& stoppedAt = stoppedUnexpectedlyAt[serviceIndex(service)];
        QString value = state;
        QColor valueColor = running ? color::green : color::gray;
        if (debugging && service == Service::Site) {
            value = qtTrId("status.debugging").arg(state);
        } else if (!running && stoppedAt.isValid()) {
            value = qtTrId("status.stopped_unexpectedly")
                        .arg(state, QLocale().toString(stoppedAt.toLocalTime().time(),
                                                       QLocale::ShortFormat));
            valueColor = color::red;
        }
        m_cards[serviceIndex(service)]->setContent(qtTrId(serviceInfo(service).titleKey), value,
                                                   valueColor);
    }
}

// --- Progress ------------------------------------------------------------------------------

namespace {
constexpr int kBarResolution = 10000;
}

ProgressCard::ProgressCard(QWidget* parent) : Surface(card::progress(), parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(metric::progressInset, metric::progressInset, metric::progressInset,
                               metric::progressInset);
    layout->setSpacing(metric::progressGap);
    const QString title = qtTrId("update.progress");
    layout->addWidget(makeLabel(title, fonts::progressTitle(), text::cardTitle(), this));
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("updateProgressBar"));
    m_bar->setRange(0, kBarResolution);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(metric::progressBarHeight);
    m_bar->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: none; border-radius: %3px; }"
                       "QProgressBar::chunk { background: %2; border-radius: %3px; }")
            .arg(control::progressTrack().name(QColor::HexArgb), control::progressChunk().name(),
                 QString::number(metric::progressBarHeight / 2)));
    m_bar->setAccessibleName(title);
    layout->addWidget(m_bar);
    // A long step text wraps rather than widening the page.
    m_line = new WrappingLabel(this);
    m_line->setFont(fonts::progressLine());
    m_line->setTextColor(text::progressLine());
    layout->addWidget(m_line);
    setAccessibleName(title);
}

qint64 ProgressCard::percent(double progress) {
    if (!std::isfinite(progress))
        return 0;
    return static_cast<qint64>(std::trunc(progress * 100.0));
}

QString ProgressCard::line(const QString& stepText, double progress) {
    return stepText + QLatin1Char(' ') + QString::number(percent(progress)) + QLatin1Char('%');
}

bool ProgressCard::showsFor(double progress) {
    return progress > 0.0 && progress < 1.0; // NaN fails both
}

void ProgressCard::setProgress(double progress, const QString& stepText) {
    const double clamped = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    m_bar->setValue(static_cast<int>(std::lround(clamped * kBarResolution)));
    m_line->setText(line(stepText, progress));
    setAccessibleDescription(m_line->text());
}

QString ProgressCard::lineText() const {
    return m_line->text();
}

// --- Notices -------------------------------------------------------------------------------

WarningCard::WarningCard(const QString& title, const QColor& accent, QWidget* parent)
    : Surface(card::warning(accent), parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(metric::warningInset, metric::warningInset, metric::warningInset,
                               metric::warningInset);
    layout->setSpacing(metric::warningGap);
    m_title = makeLabel(title, fonts::warningTitle(), accent, this);
    layout->addWidget(m_title);
    m_body = new WrappingLabel(this);
    m_body->setFont(fonts::warningBody());
    m_body->setTextColor(text::warningBody());
    layout->addWidget(m_body);
    setAccessibleName(title);
}

void WarningCard::setBody(const QString& body) {
    m_body->setText(body);
    setAccessibleDescription(body);
}

QString WarningCard::title() const {
    return m_title->text();
}
QString WarningCard::body() const {
    return m_body->text();
}

// --- Sections ------------------------------------------------------------------------------

GroupedPanel::GroupedPanel(const QString& title, const QString& subtitle, QWidget* parent)
    : Surface(card::section(), parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(metric::sectionInset, metric::sectionInset, metric::sectionInset,
                               metric::sectionInset);
    layout->setSpacing(metric::sectionGap);
    auto* header = new QVBoxLayout;
    header->setSpacing(metric::sectionHeaderGap);
    m_title = makeLabel(title, fonts::sectionTitle(), color::white, this);
    header->addWidget(m_title);
    header->addWidget(makeLabel(subtitle, fonts::sectionSubtitle(), text::cardTitle(), this));
    layout->addLayout(header);
    m_content = new QVBoxLayout;
    m_content->setSpacing(metric::sectionGap);
    layout->addLayout(m_content);
    setAccessibleName(title);
    setAccessibleDescription(subtitle);
}

QString GroupedPanel::title() const {
    return m_title->text();
}
