#include "app/wrapping_label.h"

#include <QEvent>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace {

QTextOption wrapOption() {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// Lays out each paragraph of text at width, calling draw for every line when given.
template <typename Draw>
std::pair<int, int> layoutText(const QString& text, const QFont& font, int width, Draw&& draw) {
    qreal y = 0;
    int lines = 0;
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    for (const QString& paragraph : paragraphs) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(wrapOption());
        layout.setCacheEnabled(true);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(1, width));
            line.setPosition(QPointF(0, y));
            y += line.height();
            ++lines;
        }
        layout.endLayout();
        draw(layout);
    }
    return {static_cast<int>(std::ceil(y)), lines};
}

} // namespace

WrappingLabel::WrappingLabel(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappingLabel::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    m_cachedWidth = -1;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void WrappingLabel::setTextColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

std::pair<int, int> WrappingLabel::measure(int width) const {
    if (width != m_cachedWidth) {
        m_cached = layoutText(m_text, font(), width, [](const QTextLayout&) {});
        m_cachedWidth = width;
    }
    return m_cached;
}

int WrappingLabel::lineCountForWidth(int width) const {
    return measure(width).second;
}

int WrappingLabel::heightForWidth(int width) const {
    return measure(width).first;
}

QSize WrappingLabel::sizeHint() const {
    // As wide as the longest paragraph wants, within reason; the height follows the width.
    const QFontMetrics fm(font());
    int width = 0;
    for (const QString& paragraph : m_text.split(QLatin1Char('\n')))
        width = std::max(width, fm.horizontalAdvance(paragraph));
    width = std::min(width + 1, 600);
    return QSize(width, heightForWidth(width));
}

QSize WrappingLabel::minimumSizeHint() const {
    return QSize(QFontMetrics(font()).averageCharWidth() * 4, QFontMetrics(font()).height());
}

void WrappingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(m_color.isValid() ? m_color : palette().color(QPalette::WindowText));
    layoutText(m_text, font(), width(),
               [&](const QTextLayout& layout) { layout.draw(&painter, QPointF(0, 0)); });
}

void WrappingLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_cachedWidth = -1;
        updateGeometry();
    }
    QWidget::changeEvent(event);
}
