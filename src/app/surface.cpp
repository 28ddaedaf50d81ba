#include "app/surface.h"

#include <QPainter>

Surface::Surface(QWidget* parent) : QWidget(parent) {}

Surface::Surface(const theme::CardStyle& style, QWidget* parent)
    : QWidget(parent), m_style(style) {}

void Surface::setCardStyle(const std::optional<theme::CardStyle>& style) {
    m_style = style;
    update();
}

void Surface::addRoundedShadow(QWidget* child, qreal radius, const theme::Shadow& shadow) {
    m_shadows.push_back({child, radius, {}, shadow, {}});
}

void Surface::addImageShadow(QWidget* child, std::function<QImage()> image,
                             const theme::Shadow& shadow) {
    m_shadows.push_back({child, 0, std::move(image), shadow, {}});
}

void Surface::paintEvent(QPaintEvent*) {
    if (!m_style && m_shadows.empty())
        return;
    QPainter painter(this);
    if (m_style)
        painting::paintCard(painter, QRectF(rect()), *m_style);
    for (ChildShadow& s : m_shadows) {
        if (!s.child || s.child->isHidden() || s.child->parentWidget() != this)
            continue;
        const QRectF r(s.child->geometry());
        if (s.image)
            s.painter.paintImage(painter, r, s.image(), s.shadow);
        else
            s.painter.paintRoundedRect(painter, r, s.radius, s.shadow);
    }
}
