#pragma once

#include "app/theme.h"

#include <QImage>
#include <QPainterPath>
#include <QRectF>

#include <functional>

class QPainter;

namespace painting {

// A rounded rectangle whose corners blend smoothly into the edges (a "continuous" corner,
// as opposed to a circular arc). A radius larger than the rectangle allows gives a capsule.
QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius);

// Fills and strokes a card: the fill (or diagonal gradient), the overlay, then the 1-pixel
// border drawn inside rect.
void paintCard(QPainter& painter, const QRectF& rect, const theme::CardStyle& style);

// Blurs the alpha channel of mask by a Gaussian of the given blur radius (three box passes)
// and tints it. The result is larger than mask by margin(radius) on every side.
QImage blurredShadow(const QImage& mask, const QColor& color, qreal blurRadius);
int shadowMargin(qreal blurRadius, qreal devicePixelRatio = 1.0);

// Paints a soft shadow below an opaque shape, keeping the blurred image until the shape's
// size changes: shadows are repainted often but rarely resized.
class ShadowPainter {
public:
    // A rounded-rectangle shape occupying rect.
    void paintRoundedRect(QPainter& painter, const QRectF& rect, qreal radius,
                          const theme::Shadow& shadow);
    // The shape of an image's opaque pixels, drawn at rect.
    void paintImage(QPainter& painter, const QRectF& rect, const QImage& source,
                    const theme::Shadow& shadow);

private:
    void paintMask(QPainter& painter, const QRectF& rect, const theme::Shadow& shadow,
                   const QString& key, const std::function<void(QPainter&)>& drawShape);

    QString m_key;
    QImage m_image;
};

} // namespace painting
