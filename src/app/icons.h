#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace icons {

// The resource path of a named image: ":/icons/<name>.svg".
QString resourcePath(const QString& name);
// The named image scaled to fit size (keeping its proportions, centred), at the device pixel
// ratio. A null image when the resource is missing: the caller leaves the space empty.
QImage render(const QString& name, const QSize& size, qreal devicePixelRatio);

} // namespace icons
