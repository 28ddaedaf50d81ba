#include "app/adaptive_grid_layout.h"

#include <QWidget>

#include <algorithm>

AdaptiveGridLayout::AdaptiveGridLayout(int minColumnWidth, int horizontalSpacing,
                                       int verticalSpacing, QWidget* parent)
    : QLayout(parent), m_minColumnWidth(minColumnWidth), m_hSpacing(horizontalSpacing),
      m_vSpacing(verticalSpacing) {
    setContentsMargins(0, 0, 0, 0);
}

AdaptiveGridLayout::~AdaptiveGridLayout() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

int AdaptiveGridLayout::columnCountFor(int width, int minColumnWidth, int spacing) {
    if (minColumnWidth <= 0)
        return 1;
    return std::max(1, (width + spacing) / (minColumnWidth + spacing));
}

int AdaptiveGridLayout::columnCount(int width) const {
    return columnCountFor(width, m_minColumnWidth, m_hSpacing);
}

void AdaptiveGridLayout::addItem(QLayoutItem* item) {
    m_items.append(item);
    invalidate();
}

QLayoutItem* AdaptiveGridLayout::itemAt(int index) const {
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem* AdaptiveGridLayout::takeAt(int index) {
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

void AdaptiveGridLayout::invalidate() {
    m_cachedWidth = -1;
    QLayout::invalidate();
}

QList<QLayoutItem*> AdaptiveGridLayout::visibleItems() const {
    QList<QLayoutItem*> items;
    for (QLayoutItem* item : m_items) {
        if (!item->isEmpty())
            items.append(item);
    }
    return items;
}

int AdaptiveGridLayout::heightForWidth(int width) const {
    if (width != m_cachedWidth) {
        m_cachedHeight = doLayout(QRect(0, 0, width, 0), false);
        m_cachedWidth = width;
    }
    return m_cachedHeight;
}

QSize AdaptiveGridLayout::minimumSize() const {
    // One column at its narrowest and one row: the real height follows from the width
    // (heightForWidth), and a larger minimum here would make scroll areas reserve it.
    int height = 0;
    for (QLayoutItem* item : visibleItems())
        height = std::max(height, item->minimumSize().height());
    const QMargins m = contentsMargins();
    return QSize(m_minColumnWidth + m.left() + m.right(), height + m.top() + m.bottom());
}

QSize AdaptiveGridLayout::sizeHint() const {
    const QList<QLayoutItem*> items = visibleItems();
    const int columns = std::max<int>(1, static_cast<int>(items.size()));
    const int width = columns * m_minColumnWidth + (columns - 1) * m_hSpacing;
    const QMargins m = contentsMargins();
    return QSize(width + m.left() + m.right(), heightForWidth(width + m.left() + m.right()));
}

void AdaptiveGridLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    doLayout(rect, true);
}

int AdaptiveGridLayout::doLayout(const QRect& rect, bool apply) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    const QList<QLayoutItem*> items = visibleItems();
    const int columns = columnCount(area.width());
    if (apply)
        const_cast<AdaptiveGridLayout*>(this)->m_lastColumns = columns;
    if (items.isEmpty())
        return contentsMargins().top() + contentsMargins().bottom();
    const qreal columnWidth =
        std::max<qreal>(0, (area.width() - (columns - 1) * m_hSpacing) / qreal(columns));

    auto itemHeight = [](QLayoutItem* item, int width) {
        const int h =
            item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
        return std::clamp(h, item->minimumSize().height(), item->maximumSize().height());
    };

    int y = area.top();
    for (qsizetype rowStart = 0; rowStart < items.size(); rowStart += columns) {
        const qsizetype rowEnd = std::min<qsizetype>(rowStart + columns, items.size());
        int rowHeight = 0;
        for (qsizetype i = rowStart; i < rowEnd; ++i) {
            const int w = std::min(static_cast<int>(columnWidth), items[i]->maximumSize().width());
            rowHeight = std::max(rowHeight, itemHeight(items[i], w));
        }
        if (apply) {
            for (qsizetype i = rowStart; i < rowEnd; ++i) {
                const int column = static_cast<int>(i - rowStart);
                const int left = area.left() + qRound(column * (columnWidth + m_hSpacing));
                const int right =
                    area.left() + qRound(column * (columnWidth + m_hSpacing) + columnWidth);
                const int cellWidth = right - left;
                const int w = std::min(cellWidth, items[i]->maximumSize().width());
                const int h = itemHeight(items[i], w);
                items[i]->setGeometry(
                    QRect(left + (cellWidth - w) / 2, y + (rowHeight - h) / 2, w, h));
            }
        }
        y += rowHeight;
        if (rowEnd < items.size())
            y += m_vSpacing;
    }
    return y - area.top() + contentsMargins().top() + contentsMargins().bottom();
}
