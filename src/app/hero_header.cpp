#include "app/hero_header.h"

#include "app/cards.h"
#include "app/icons.h"
#include "core/panel_view_model.h"
#include "platform/application_identity.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

using namespace theme;

namespace {

// The application's logo at a fixed size; an empty square when the image is missing.
class Logo : public QWidget {
public:
    explicit Logo(QWidget* parent) : QWidget(parent) {
        setFixedSize(metric::logoSize, metric::logoSize);
    }
    const QImage& image() const {
        const qreal dpr = devicePixelRatioF();
        if (m_image.isNull() || !qFuzzyCompare(m_image.devicePixelRatio(), dpr))
            m_image = icons::render(QStringLiteral("start_all"), size(), dpr);
        return m_image;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const QImage& img = image();
        if (img.isNull())
            return;
        QPainter painter(this);
        painter.drawImage(QRectF(rect()), img);
    }

private:
    mutable QImage m_image;
};

} // namespace

QString HeroHeader::localeDisplayName(const QLocale& locale) {
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return {};
    QString language = locale.nativeLanguageName();
    if (language.isEmpty())
        return {};
    const QString territory = locale.nativeTerritoryName();
    if (territory.isEmpty())
        return language;
    const bool fullWidth =
        locale.language() == QLocale::Chinese || locale.language() == QLocale::Japanese;
    return fullWidth ? language + QStringLiteral("（") + territory + QStringLiteral("）")
                     : language + QStringLiteral(" (") + territory + QLatin1Char(')');
}

HeroHeader::HeroHeader(QWidget* parent) : Surface(card::header(), parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(metric::headerInset, metric::headerInset, metric::headerInset,
                            metric::headerInset);
    row->setSpacing(metric::headerGap);

    auto* logo = new Logo(this);
    logo->setToolTip(identity::applicationName() + QLatin1Char(' ') +
                     identity::applicationVersion());
    addImageShadow(
        logo, [logo]() -> QImage { return logo->image(); }, shadow::logo());
    row->addWidget(logo, 0, Qt::AlignVCenter);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(metric::headerTitleGap);
    const QString title = qtTrId("app.title");
    titles->addWidget(makeLabel(title, fonts::appTitle(), color::white, this));
    titles->addWidget(
        makeLabel(qtTrId("app.subtitle"), fonts::appSubtitle(), text::subtitle(), this));
    m_readiness = makeLabel({}, fonts::readiness(), text::ready(), this);
    m_readiness->setObjectName(QStringLiteral("readiness"));
    titles->addWidget(m_readiness);
    row->addLayout(titles);
    row->setAlignment(titles, Qt::AlignVCenter);

    row->addStretch(1);

    auto* right = new QVBoxLayout;
    right->setSpacing(metric::headerRightGap);
    m_locale =
        makeLabel(localeDisplayName(QLocale()), fonts::localeLine(), text::localeLine(), this);
    m_locale->setObjectName(QStringLiteral("localeName"));
    right->addWidget(m_locale, 0, Qt::AlignRight);
    for (const Service service : kServices) {
        Badge* badge = new Badge(qtTrId(serviceInfo(service).titleKey), this);
        m_badges[serviceIndex(service)] = badge;
        right->addWidget(badge, 0, Qt::AlignRight);
    }
    row->addLayout(right);
    row->setAlignment(right, Qt::AlignVCenter);

    setAccessibleName(title);
    setState({}, ServiceStatus{});
}

void HeroHeader::setState(const QString& permissionHint, const ServiceStatus& status) {
    const bool ready = permissionHint.isEmpty();
    m_readiness->setText(ready ? qtTrId("app.ready") : qtTrId("app.attention"));
    setLabelColor(m_readiness, ready ? text::ready() : text::attention());
    for (const Service service : kServices)
        m_badges[serviceIndex(service)]->setOk(status.isRunning(service));
}
