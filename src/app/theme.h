#pragma once

#include <QColor>
#include <QFont>
#include <QGradientStops>
#include <QPointF>

// The panel's visual vocabulary: every colour, radius, spacing, font and shadow the widgets
// use comes from here. Lengths are device-independent pixels.
namespace theme {

// --- Colours -------------------------------------------------------------------------------

// c at the given opacity (0..1).
inline QColor alpha(QColor c, qreal opacity) {
    c.setAlphaF(static_cast<float>(opacity));
    return c;
}

namespace color {
inline const QColor white{255, 255, 255};
inline const QColor black{0, 0, 0};
inline const QColor red{255, 69, 58};
inline const QColor orange{255, 159, 10};
inline const QColor green{48, 209, 88};
inline const QColor gray{142, 142, 147};
inline const QColor cyan{100, 210, 255};
inline const QColor blue{10, 132, 255};
inline const QColor clear{0, 0, 0, 0};
// The application's accent.
inline const QColor accent{10, 132, 255};
// Secondary text on a dark background.
inline const QColor secondaryLabel{235, 235, 245, 153};

// The window backdrop, top-left to bottom-right.
inline QGradientStops backdrop() {
    return {{0.0, QColor::fromRgbF(0.05f, 0.10f, 0.20f)},
            {0.5, QColor::fromRgbF(0.06f, 0.15f, 0.28f)},
            {1.0, QColor::fromRgbF(0.09f, 0.08f, 0.18f)}};
}
// The header's translucent "material" and the tint laid over it.
inline QColor headerMaterial() {
    return QColor(40, 52, 78, 110);
}
inline QGradientStops headerTint() {
    return {{0.0, alpha(cyan, 0.20)}, {0.5, alpha(blue, 0.08)}, {1.0, clear}};
}
// The progress card's fill.
inline QGradientStops progressFill() {
    return {{0.0, alpha(white, 0.08)}, {1.0, alpha(black, 0.18)}};
}
} // namespace color

// --- Radii ---------------------------------------------------------------------------------

namespace radius {
inline constexpr qreal header = 22;
inline constexpr qreal statCard = 18;
inline constexpr qreal progressCard = 14;
inline constexpr qreal warningCard = 14;
inline constexpr qreal logPanel = 20;
inline constexpr qreal logEditor = 14;
inline constexpr qreal button = 12;
inline constexpr qreal section = 20;
inline constexpr qreal capsule = 999;
inline constexpr qreal windowControl = 7;
inline constexpr qreal toolButton = 8;
} // namespace radius

// --- Spacing and sizes -----------------------------------------------------------------------

namespace metric {
inline constexpr int border = 1;
// The scrolling column.
inline constexpr int columnGap = 18;
inline constexpr int columnInset = 18;
inline constexpr int minContentWidth = 820;
inline constexpr int minContentHeight = 740;
// The strip the window draws in place of a system title bar.
inline constexpr int titleStripHeight = 30;
inline constexpr int windowControlSize = 14;
inline constexpr int windowControlGap = 8;
inline constexpr int titleStripInsetX = 12;
inline constexpr int resizeBorder = 4;
// Header.
inline constexpr int headerInset = 18;
inline constexpr int headerGap = 16;
inline constexpr int headerTitleGap = 6;
inline constexpr int headerRightGap = 10;
inline constexpr int logoSize = 68;
// Badge.
inline constexpr int badgeInsetX = 12;
inline constexpr int badgeInsetY = 7;
// Adaptive grids.
inline constexpr int statusColumnMin = 180;
inline constexpr int statusGap = 12;
inline constexpr int buttonColumnMin = 170;
inline constexpr int buttonGap = 10;
// Cards.
inline constexpr int statCardInset = 14;
inline constexpr int statCardGap = 6;
inline constexpr int progressInset = 12;
inline constexpr int progressGap = 8;
inline constexpr int progressBarHeight = 6;
inline constexpr int warningInset = 12;
inline constexpr int warningGap = 6;
inline constexpr int sectionInset = 14;
inline constexpr int sectionGap = 10;
inline constexpr int sectionHeaderGap = 3;
inline constexpr int logPanelInset = 14;
inline constexpr int logPanelGap = 8;
inline constexpr int logHeaderGap = 2;
inline constexpr int logEditorInset = 10;
inline constexpr int logEditorMinHeight = 220;
// Icon button.
inline constexpr int iconSize = 28;
inline constexpr int buttonIconGap = 10;
inline constexpr int buttonRowMinHeight = 46;
inline constexpr int buttonInsetX = 14;
inline constexpr int buttonInsetY = 10;
inline constexpr qreal buttonTitleMinScale = 0.85;
// The server logs window.
inline constexpr int logsWindowWidth = 980;
inline constexpr int logsWindowHeight = 640;
inline constexpr int toolButtonInsetX = 12;
inline constexpr int toolButtonHeight = 28;
} // namespace metric

// --- Fonts ---------------------------------------------------------------------------------

enum class Design { Standard, Rounded, Monospaced };
// The system font (or its rounded / monospaced design) at a pixel size and weight.
QFont font(qreal pixelSize, QFont::Weight weight = QFont::Normal, Design design = Design::Standard);

namespace fonts {
inline QFont appTitle() {
    return font(28, QFont::Bold, Design::Rounded);
}
inline QFont appSubtitle() {
    return font(14, QFont::Medium);
}
inline QFont readiness() {
    return font(12, QFont::DemiBold);
}
inline QFont localeLine() {
    return font(11, QFont::DemiBold);
}
inline QFont badge() {
    return font(12, QFont::DemiBold);
}
inline QFont statTitle() {
    return font(11, QFont::DemiBold);
}
inline QFont statValue() {
    return font(15, QFont::Bold);
}
inline QFont progressTitle() {
    return font(12, QFont::DemiBold);
}
inline QFont progressLine() {
    return font(11, QFont::Normal, Design::Monospaced);
}
inline QFont warningTitle() {
    return font(12, QFont::DemiBold);
}
inline QFont warningBody() {
    return font(11, QFont::Normal, Design::Monospaced);
}
inline QFont logTitle() {
    return font(12, QFont::DemiBold);
}
inline QFont logSubtitle() {
    return font(11, QFont::Normal);
}
inline QFont logEditor() {
    return font(12, QFont::Normal, Design::Monospaced);
}
inline QFont buttonTitle() {
    return font(13, QFont::DemiBold, Design::Rounded);
}
inline QFont sectionTitle() {
    return font(13, QFont::DemiBold, Design::Rounded);
}
inline QFont sectionSubtitle() {
    return font(11, QFont::Normal);
}
} // namespace fonts

// --- Shadows -------------------------------------------------------------------------------

struct Shadow {
    QColor color;
    qreal radius = 0; // blur radius
    QPointF offset;
};

namespace shadow {
inline Shadow header() {
    return {alpha(color::black, 0.22), 16, {0, 10}};
}
inline Shadow logo() {
    return {alpha(color::black, 0.28), 10, {0, 6}};
}
inline Shadow prominentButton() {
    return {alpha(color::accent, 0.18), 6, {0, 3}};
}
} // namespace shadow

// --- Cards ---------------------------------------------------------------------------------

// A rounded rectangle filled (a colour, or a top-left to bottom-right gradient), optionally
// overlaid by a second gradient, and stroked on top with a 1-pixel border.
struct CardStyle {
    QColor fill = color::clear;
    QGradientStops fillGradient; // replaces fill when not empty
    QGradientStops overlay;      // painted over the fill when not empty
    QColor border = color::clear;
    qreal radius = 0;
};

namespace card {
inline CardStyle header() {
    return {color::headerMaterial(),
            {},
            color::headerTint(),
            alpha(color::white, 0.12),
            radius::header};
}
inline CardStyle badge(bool ok) {
    return {ok ? alpha(color::green, 0.26) : alpha(color::white, 0.10),
            {},
            {},
            alpha(color::white, 0.10),
            radius::capsule};
}
inline CardStyle stat() {
    return {alpha(color::white, 0.06), {}, {}, alpha(color::white, 0.08), radius::statCard};
}
inline CardStyle progress() {
    return {
        color::clear, color::progressFill(), {}, alpha(color::white, 0.08), radius::progressCard};
}
inline CardStyle warning(const QColor& accent) {
    return {alpha(accent, 0.10), {}, {}, alpha(accent, 0.18), radius::warningCard};
}
inline CardStyle logPanel() {
    return {alpha(color::black, 0.20), {}, {}, alpha(color::white, 0.08), radius::logPanel};
}
inline CardStyle logEditor() {
    return {alpha(color::black, 0.34), {}, {}, alpha(color::white, 0.08), radius::logEditor};
}
inline CardStyle section() {
    return {alpha(color::black, 0.18), {}, {}, alpha(color::white, 0.08), radius::section};
}
inline CardStyle button(bool prominent) {
    if (prominent)
        return {alpha(color::accent, 0.96), {}, {}, alpha(color::accent, 0.18), radius::button};
    return {alpha(color::white, 0.08),
            {},
            {},
            alpha(color::secondaryLabel, 0.14 * 0.6),
            radius::button};
}
} // namespace card

namespace text {
inline QColor primary() {
    return color::white;
}
inline QColor subtitle() {
    return alpha(color::white, 0.82);
}
inline QColor localeLine() {
    return alpha(color::white, 0.55);
}
inline QColor cardTitle() {
    return alpha(color::white, 0.78);
}
inline QColor progressLine() {
    return alpha(color::white, 0.72);
}
inline QColor warningBody() {
    return alpha(color::white, 0.94);
}
inline QColor logSubtitle() {
    return alpha(color::white, 0.80);
}
inline QColor button(bool prominent) {
    return prominent ? color::white : alpha(color::white, 0.95);
}
inline QColor ready() {
    return alpha(color::green, 0.95);
}
inline QColor attention() {
    return alpha(color::orange, 0.95);
}
inline QColor editor() {
    return color::white;
}
} // namespace text

// Interaction feedback and the title strip's window controls.
namespace control {
inline QColor pressVeil() {
    return alpha(color::white, 0.10);
}
inline QColor focusRing() {
    return alpha(color::white, 0.55);
}
inline constexpr qreal focusRingWidth = 1.5;
inline QColor windowControlRing() {
    return alpha(color::white, 0.85);
}
inline QColor windowControlFill(bool down, bool hovered) {
    return alpha(color::white, down ? 0.35 : (hovered ? 0.22 : 0.10));
}
inline QColor windowControlGlyph() {
    return color::white;
}
inline QColor progressTrack() {
    return alpha(color::white, 0.14);
}
inline QColor progressChunk() {
    return color::accent;
}
} // namespace control

// The server logs window: a line's colour by its severity (its marker says it in words too),
// the selection, and the small buttons and tabs of its header.
namespace logview {
inline QColor plainLine() {
    return alpha(color::white, 0.86);
}
inline QColor warningLine() {
    return color::orange;
}
inline QColor errorLine() {
    return QColor(255, 105, 97);
}
inline QColor selection() {
    return alpha(color::accent, 0.45);
}
inline QColor toolFill(bool on) {
    return on ? alpha(color::accent, 0.85) : alpha(color::white, 0.08);
}
inline QColor toolFillHover() {
    return alpha(color::white, 0.16);
}
inline QColor toolBorder() {
    return alpha(color::white, 0.14);
}
inline QColor toolTextDisabled() {
    return alpha(color::white, 0.35);
}
} // namespace logview

// The application palette behind standard widgets (dialogs, scroll bars, tool tips).
namespace chrome {
inline QColor window() {
    return QColor(22, 28, 46);
}
inline QColor base() {
    return QColor(14, 18, 30);
}
inline QColor button() {
    return QColor(36, 44, 66);
}
inline QColor placeholder() {
    return alpha(color::white, 0.40);
}
inline QColor scrollHandle() {
    return alpha(color::white, 0.22);
}
inline QColor scrollHandleHover() {
    return alpha(color::white, 0.36);
}
inline QColor toolTipBorder() {
    return alpha(color::white, 0.12);
}
} // namespace chrome

} // namespace theme
