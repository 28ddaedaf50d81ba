#include "app/icon_button.h"

#include "app/icons.h"
#include "app/painting.h"
#include "app/theme.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

using namespace theme;

namespace {

// Width of the title area inside a button of the given width.
// A switch shows its on/off mark, a pill with a knob, in the place of the icon.
constexpr qreal kMarkHeight = 16;

int titleWidthFor(int buttonWidth) {
    return buttonWidth - 2 * metric::buttonInsetX - metric::iconSize - metric::buttonIconGap;
}

} // namespace

IconButton::IconButton(const QString& iconName, const QString& title, bool prominent,
                       QWidget* parent)
    : QAbstractButton(parent), m_iconName(iconName), m_prominent(prominent) {
    // Focus comes from the keyboard only: a click leaves none behind, so a later Space or
    // Return cannot run the operation again unseen.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setFont(fonts::buttonTitle());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setTitle(title);
}

void IconButton::setTitle(const QString& title) {
    setText(title);
    setAccessibleName(title);
    updateGeometry();
    update();
}

IconButton::TitleFit IconButton::fitTitle(int buttonWidth) const {
    TitleFit fit;
    const int available = std::max(0, titleWidthFor(buttonWidth));
    const QFontMetricsF fm(font());
    const qreal natural = fm.horizontalAdvance(text());
    if (natural <= available) {
        fit.text = text();
        return fit;
    }
    fit.scale = std::max(metric::buttonTitleMinScale, available / natural);
    if (natural * fit.scale <= available) {
        fit.text = text();
        return fit;
    }
    // At the smallest size the title still overflows: cut it with an ellipsis, measured in
    // unscaled units since the painter scales the text.
    fit.text = fm.elidedText(text(), Qt::ElideRight, available / fit.scale);
    fit.elided = true;
    return fit;
}

QSize IconButton::sizeHint() const {
    const int textWidth = QFontMetrics(font()).horizontalAdvance(text());
    return QSize(2 * metric::buttonInsetX + metric::iconSize + metric::buttonIconGap + textWidth,
                 metric::buttonRowMinHeight + 2 * metric::buttonInsetY);
}

QSize IconButton::minimumSizeHint() const {
    return QSize(2 * metric::buttonInsetX + metric::iconSize + metric::buttonIconGap +
                     QFontMetrics(font()).averageCharWidth() * 3,
                 metric::buttonRowMinHeight + 2 * metric::buttonInsetY);
}

const QImage& IconButton::iconImage(qreal dpr) const {
    if (m_icon.isNull() || !qFuzzyCompare(m_icon.devicePixelRatio(), dpr))
        m_icon = icons::render(m_iconName, QSize(metric::iconSize, metric::iconSize), dpr);
    return m_icon;
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    painting::paintCard(painter, bounds, card::button(m_prominent));
    if (isDown()) {
        // While pressed, a light veil over the card.
        painter.fillPath(painting::continuousRoundedRect(bounds, radius::button),
                         control::pressVeil());
    }
    if (m_keyboardFocus && hasFocus()) {
        const qreal w = control::focusRingWidth;
        painter.setPen(QPen(control::focusRing(), w));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(
            painting::continuousRoundedRect(bounds.adjusted(w, w, -w, -w), radius::button - w));
    }

    // The icon and title are centred together in the row.
    const TitleFit fit = fitTitle(width());
    const QFontMetricsF fm(font());
    const qreal textWidth = fm.horizontalAdvance(fit.text) * fit.scale;
    const qreal contentWidth = metric::iconSize + metric::buttonIconGap + textWidth;
    qreal x = std::max<qreal>(metric::buttonInsetX, (width() - contentWidth) / 2);
    const qreal centreY = height() / 2.0;

    if (isCheckable()) {
        // On: green with the knob at the right; off: grey with the knob at the left.
        const QRectF mark(x, centreY - kMarkHeight / 2.0, metric::iconSize, kMarkHeight);
        painter.setPen(Qt::NoPen);
        painter.setBrush(isChecked() ? color::green : color::gray.darker(140));
        painter.drawRoundedRect(mark, kMarkHeight / 2.0, kMarkHeight / 2.0);
        const qreal knob = kMarkHeight - 4;
        const qreal knobX = isChecked() ? mark.right() - 2 - knob : mark.left() + 2;
        painter.setBrush(color::white);
        painter.drawEllipse(QRectF(knobX, mark.top() + 2, knob, knob));
    } else if (const QImage& icon = iconImage(devicePixelRatioF()); !icon.isNull()) {
        painter.drawImage(
            QRectF(x, centreY - metric::iconSize / 2.0, metric::iconSize, metric::iconSize), icon);
    }
    x += metric::iconSize + metric::buttonIconGap;

    painter.save();
    painter.setPen(text::button(m_prominent));
    painter.translate(x, centreY);
    painter.scale(fit.scale, fit.scale);
    const qreal baseline = (fm.ascent() - fm.descent()) / 2.0;
    painter.drawText(QPointF(0, baseline), fit.text);
    painter.restore();
}

namespace {

bool isActivationKey(int key) {
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

void IconButton::keyPressEvent(QKeyEvent* event) {
    // Focus the user cannot see (given with the window rather than by Tab) runs nothing.
    if (isActivationKey(event->key()) && !m_keyboardFocus) {
        event->ignore();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void IconButton::keyReleaseEvent(QKeyEvent* event) {
    if (isActivationKey(event->key()) && !m_keyboardFocus) {
        event->ignore();
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}

void IconButton::focusInEvent(QFocusEvent* event) {
    // The focus ring shows only for keyboard navigation. Focus that returns with the window
    // keeps whatever it was when the window lost it.
    switch (event->reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        m_keyboardFocus = true;
        break;
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
        break;
    default:
        m_keyboardFocus = false;
        break;
    }
    update();
    QAbstractButton::focusInEvent(event);
}

void IconButton::focusOutEvent(QFocusEvent* event) {
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        m_keyboardFocus = false;
    update();
    QAbstractButton::focusOutEvent(event);
}
