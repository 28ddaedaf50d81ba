#pragma once

#include "app/painting.h"
#include "app/theme.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

// A widget that paints a card behind its children (when given a style) and the soft
// shadows of those children that cast one. A child's shadow is painted by its parent because
// it spills beyond the child's own rectangle.
class Surface : public QWidget {
    Q_OBJECT
public:
    explicit Surface(QWidget* parent = nullptr);
    Surface(const theme::CardStyle& style, QWidget* parent = nullptr);

    void setCardStyle(const std::optional<theme::CardStyle>& style);
    const std::optional<theme::CardStyle>& cardStyle() const { return m_style; }

    // child (a direct child) casts a rounded-rectangle shadow while it is visible.
    void addRoundedShadow(QWidget* child, qreal radius, const theme::Shadow& shadow);
    // child casts the shadow of the image's opaque pixels, drawn over its whole rectangle.
    void addImageShadow(QWidget* child, std::function<QImage()> image, const theme::Shadow& shadow);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct ChildShadow {
        QPointer<QWidget> child;
        qreal radius = 0;
        std::function<QImage()> image;
        theme::Shadow shadow;
        painting::ShadowPainter painter;
    };

    std::optional<theme::CardStyle> m_style;
    std::vector<ChildShadow> m_shadows;
};
