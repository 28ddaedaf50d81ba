#include "app/icons.h"

#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace icons {

QString resourcePath(const QString& name) {
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}

QImage render(const QString& name, const QSize& size, qreal devicePixelRatio) {
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid() || size.isEmpty())
        return {};
    const QSize pixels(std::lround(size.width() * devicePixelRatio),
                       std::lround(size.height() * devicePixelRatio));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSizeF drawn =
        renderer.defaultSize().isEmpty() ? QSizeF(pixels) : QSizeF(renderer.defaultSize());
    drawn.scale(QSizeF(pixels), Qt::KeepAspectRatio);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(QPointF((pixels.width() - drawn.width()) / 2,
                                                 (pixels.height() - drawn.height()) / 2),
                                         drawn));
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

} // namespace icons
