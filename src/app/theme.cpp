#include "app/theme.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace theme {

namespace {

// Han characters take their shapes from the simplified-Chinese face when the default face
// has none, whatever the user's locale.
void addCjkFallback(QFont& f, const QString& cjkFamily) {
    QStringList families = f.families();
    if (families.isEmpty())
        families << f.family();
    if (!families.contains(cjkFamily))
        families << cjkFamily;
    f.setFamilies(families);
}

} // namespace

QFont font(qreal pixelSize, QFont::Weight weight, Design design) {
    QFont f = design == Design::Monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                                           : QGuiApplication::font();
    if (design == Design::Monospaced) {
        f.setStyleHint(QFont::Monospace);
        addCjkFallback(f, QStringLiteral("Noto Sans Mono CJK SC"));
    } else {
        // No rounded face ships with the system; the standard one stands in for it.
        addCjkFallback(f, QStringLiteral("Noto Sans CJK SC"));
    }
    f.setPixelSize(qRound(pixelSize));
    f.setWeight(weight);
    return f;
}

} // namespace theme
