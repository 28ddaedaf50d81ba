#include "app/painting.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace painting {

namespace {

// One corner of the smooth rounded rectangle, from c + k*r*e1 to c + k*r*e2 (k = 1.52866):
// e1 points back along the edge the path arrives on, e2 along the edge it leaves on.
void addContinuousCorner(QPainterPath& path, QPointF c, QPointF e1, QPointF e2, qreal r) {
    auto p = [&](qreal s, qreal t) { return c + e1 * (s * r) + e2 * (t * r); };
    path.lineTo(p(1.52866483, 0));
    path.cubicTo(p(1.08849323, 0), p(0.86840689, 0), p(0.66993427, 0.06549600));
    path.lineTo(p(0.63149399, 0.07491100));
    path.cubicTo(p(0.37282392, 0.16905899), p(0.16906013, 0.37282401), p(0.07491176, 0.63149399));
    path.cubicTo(p(0, 0.86840701), p(0, 1.08849299), p(0, 1.52866483));
}

constexpr qreal kCornerReach = 1.52866483;

// Box sizes whose three successive passes approximate a Gaussian of deviation sigma.
std::array<int, 3> boxesForGauss(qreal sigma) {
    const int n = 3;
    const qreal wIdeal = std::sqrt(12.0 * sigma * sigma / n + 1.0);
    int wl = static_cast<int>(std::floor(wIdeal));
    if (wl % 2 == 0)
        --wl;
    const int wu = wl + 2;
    const qreal mIdeal =
        (12.0 * sigma * sigma - n * wl * wl - 4.0 * n * wl - 3.0 * n) / (-4.0 * wl - 4.0);
    const int m = static_cast<int>(std::lround(mIdeal));
    std::array<int, 3> sizes{};
    for (int i = 0; i < n; ++i)
        sizes[i] = i < m ? wl : wu;
    return sizes;
}

// One box pass over rows (horizontal) or columns (vertical) of an 8-bit alpha plane.
void boxPass(std::vector<quint8>& src, std::vector<quint8>& dst, int w, int h, int radius,
             bool horizontal) {
    if (radius <= 0) {
        dst = src;
        return;
    }
    const int lines = horizontal ? h : w;
    const int length = horizontal ? w : h;
    const int step = horizontal ? 1 : w;
    const int window = 2 * radius + 1;
    for (int line = 0; line < lines; ++line) {
        const int start = horizontal ? line * w : line;
        int sum = 0;
        // Pixels outside the plane count as transparent.
        for (int i = 0; i <= radius && i < length; ++i)
            sum += src[start + i * step];
        for (int i = 0; i < length; ++i) {
            dst[start + i * step] = static_cast<quint8>((sum + window / 2) / window);
            const int add = i + radius + 1;
            const int drop = i - radius;
            if (add < length)
                sum += src[start + add * step];
            if (drop >= 0)
                sum -= src[start + drop * step];
        }
    }
}

} // namespace

QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius) {
    QPainterPath path;
    const qreal shortSide = std::min(rect.width(), rect.height());
    if (radius <= 0 || shortSide <= 0) {
        path.addRect(rect);
        return path;
    }
    // Too round for smooth corners: the ends become semicircles.
    if (radius * kCornerReach > shortSide / 2) {
        const qreal r = std::min(radius, shortSide / 2);
        path.addRoundedRect(rect, r, r);
        return path;
    }
    const qreal l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    path.moveTo(l + kCornerReach * radius, t);
    addContinuousCorner(path, {r, t}, {-1, 0}, {0, 1}, radius);
    addContinuousCorner(path, {r, b}, {0, -1}, {-1, 0}, radius);
    addContinuousCorner(path, {l, b}, {1, 0}, {0, -1}, radius);
    addContinuousCorner(path, {l, t}, {0, 1}, {1, 0}, radius);
    path.closeSubpath();
    return path;
}

void paintCard(QPainter& painter, const QRectF& rect, const theme::CardStyle& style) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = continuousRoundedRect(rect, style.radius);
    painter.setPen(Qt::NoPen);
    if (!style.fillGradient.isEmpty()) {
        QLinearGradient g(rect.topLeft(), rect.bottomRight());
        g.setStops(style.fillGradient);
        painter.fillPath(shape, g);
    } else if (style.fill.alpha() > 0) {
        painter.fillPath(shape, style.fill);
    }
    if (!style.overlay.isEmpty()) {
        QLinearGradient g(rect.topLeft(), rect.bottomRight());
        g.setStops(style.overlay);
        painter.fillPath(shape, g);
    }
    if (style.border.alpha() > 0) {
        const qreal half = theme::metric::border / 2.0;
        const QRectF inner = rect.adjusted(half, half, -half, -half);
        painter.setPen(QPen(style.border, theme::metric::border));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(continuousRoundedRect(inner, std::max<qreal>(0, style.radius - half)));
    }
    painter.restore();
}

int shadowMargin(qreal blurRadius, qreal devicePixelRatio) {
    return static_cast<int>(std::ceil(1.5 * blurRadius * devicePixelRatio)) + 2;
}

QImage blurredShadow(const QImage& mask, const QColor& color, qreal blurRadius) {
    const int margin = shadowMargin(blurRadius, mask.devicePixelRatio());
    const int w = mask.width() + 2 * margin;
    const int h = mask.height() + 2 * margin;
    std::vector<quint8> a(static_cast<size_t>(w) * h, 0);
    const QImage src = mask.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < src.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < src.width(); ++x)
            a[static_cast<size_t>(y + margin) * w + x + margin] =
                static_cast<quint8>(qAlpha(line[x]));
    }
    // A blur radius spreads a shadow about as far as twice a Gaussian's deviation.
    const qreal sigma = blurRadius * mask.devicePixelRatio() / 2.0;
    if (sigma > 0.1) {
        std::vector<quint8> tmp(a.size());
        for (int size : boxesForGauss(sigma)) {
            const int radius = (size - 1) / 2;
            boxPass(a, tmp, w, h, radius, true);
            boxPass(tmp, a, w, h, radius, false);
        }
    }
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(mask.devicePixelRatio());
    const QRgb premul = qPremultiply(color.rgba());
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int k = a[static_cast<size_t>(y) * w + x];
            line[x] = qRgba(qRed(premul) * k / 255, qGreen(premul) * k / 255,
                            qBlue(premul) * k / 255, qAlpha(premul) * k / 255);
        }
    }
    return out;
}

void ShadowPainter::paintRoundedRect(QPainter& painter, const QRectF& rect, qreal radius,
                                     const theme::Shadow& shadow) {
    const QString key = QStringLiteral("rr:%1").arg(radius);
    paintMask(painter, rect, shadow, key, [&](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(continuousRoundedRect(QRectF(QPointF(0, 0), rect.size()), radius), Qt::black);
    });
}

void ShadowPainter::paintImage(QPainter& painter, const QRectF& rect, const QImage& source,
                               const theme::Shadow& shadow) {
    const QString key = QStringLiteral("img:%1").arg(source.cacheKey());
    paintMask(painter, rect, shadow, key, [&](QPainter& p) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(QPointF(0, 0), rect.size()), source);
    });
}

void ShadowPainter::paintMask(QPainter& painter, const QRectF& rect, const theme::Shadow& shadow,
                              const QString& shapeKey,
                              const std::function<void(QPainter&)>& drawShape) {
    if (rect.isEmpty() || shadow.color.alpha() == 0)
        return;
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QString key = shapeKey + QStringLiteral(":%1x%2@%3:%4:%5")
                                       .arg(rect.width())
                                       .arg(rect.height())
                                       .arg(dpr)
                                       .arg(shadow.radius)
                                       .arg(shadow.color.rgba());
    if (key != m_key || m_image.isNull()) {
        QImage mask(QSize(std::ceil(rect.width() * dpr), std::ceil(rect.height() * dpr)),
                    QImage::Format_ARGB32_Premultiplied);
        mask.setDevicePixelRatio(dpr);
        mask.fill(Qt::transparent);
        {
            QPainter p(&mask);
            drawShape(p);
        }
        m_image = blurredShadow(mask, shadow.color, shadow.radius);
        m_key = key;
    }
    const qreal margin = shadowMargin(shadow.radius, dpr) / dpr;
    painter.drawImage(rect.topLeft() + shadow.offset - QPointF(margin, margin), m_image);
}

} // namespace painting
