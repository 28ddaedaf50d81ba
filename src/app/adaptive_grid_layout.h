#pragma once

#include <QLayout>
#include <QList>

// A grid of adaptive columns: as many columns as fit the width, each at least minColumnWidth
// wide and all equally wide, items filling the cells left to right and top to bottom. Items
// take their column's width (up to their maximum width) and are centred in their cell; a row
// is as tall as its tallest item. Columns that no item reaches stay empty: a short list never
// stretches over the whole row.
class AdaptiveGridLayout : public QLayout {
public:
    AdaptiveGridLayout(int minColumnWidth, int horizontalSpacing, int verticalSpacing,
                       QWidget* parent = nullptr);
    ~AdaptiveGridLayout() override;

    // How many columns a width holds (at least one).
    static int columnCountFor(int width, int minColumnWidth, int spacing);
    int columnCount(int width) const;
    // The column count of the current geometry.
    int currentColumnCount() const { return m_lastColumns; }

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(m_items.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;

    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;
    void invalidate() override;

private:
    int doLayout(const QRect& rect, bool apply) const;
    QList<QLayoutItem*> visibleItems() const;

    QList<QLayoutItem*> m_items;
    int m_minColumnWidth;
    int m_hSpacing;
    int m_vSpacing;
    mutable int m_cachedWidth = -1;
    mutable int m_cachedHeight = 0;
    int m_lastColumns = 0;
};
