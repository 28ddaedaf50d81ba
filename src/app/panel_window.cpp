#include "app/panel_window.h"

#include "app/main_panel.h"
#include "app/theme.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QWindow>

using namespace theme;

// --- Window controls -------------------------------------------------------------------------

WindowControl::WindowControl(Kind kind, QWidget* parent) : QAbstractButton(parent), m_kind(kind) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
    switch (kind) {
    case Kind::Close:
        setAccessibleName(qtTrId("window.close"));
        break;
    case Kind::Minimize:
        setAccessibleName(qtTrId("window.minimize"));
        break;
    case Kind::Zoom:
        setAccessibleName(qtTrId("window.zoom"));
        break;
    }
}

QSize WindowControl::sizeHint() const {
    return QSize(metric::windowControlSize, metric::windowControlSize);
}

void WindowControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(control::windowControlRing(), metric::border));
    painter.setBrush(control::windowControlFill(isDown(), m_hovered));
    painter.drawEllipse(r);

    // The glyph, white, inside the circle.
    const QPointF c = r.center();
    const qreal g = r.width() * 0.22;
    painter.setPen(QPen(control::windowControlGlyph(), 1.3, Qt::SolidLine, Qt::RoundCap));
    switch (m_kind) {
    case Kind::Close:
        painter.drawLine(c + QPointF(-g, -g), c + QPointF(g, g));
        painter.drawLine(c + QPointF(-g, g), c + QPointF(g, -g));
        break;
    case Kind::Minimize:
        painter.drawLine(c + QPointF(-g * 1.2, 0), c + QPointF(g * 1.2, 0));
        break;
    case Kind::Zoom:
        painter.drawLine(c + QPointF(-g * 1.2, 0), c + QPointF(g * 1.2, 0));
        painter.drawLine(c + QPointF(0, -g * 1.2), c + QPointF(0, g * 1.2));
        break;
    }
}

void WindowControl::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void WindowControl::leaveEvent(QEvent* event) {
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// --- Title strip -----------------------------------------------------------------------------

TitleStrip::TitleStrip(QWidget* window) : QWidget(window) {
    setObjectName(QStringLiteral("titleStrip"));
    setFixedHeight(metric::titleStripHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(metric::titleStripInsetX, 0, metric::titleStripInsetX, 0);
    row->setSpacing(metric::windowControlGap);
    const WindowControl::Kind kinds[3] = {WindowControl::Kind::Close, WindowControl::Kind::Minimize,
                                          WindowControl::Kind::Zoom};
    for (int i = 0; i < 3; ++i) {
        m_controls[i] = new WindowControl(kinds[i], this);
        row->addWidget(m_controls[i], 0, Qt::AlignVCenter);
    }
    row->addStretch(1);
    connect(m_controls[0], &QAbstractButton::clicked, window, &QWidget::close);
    connect(m_controls[1], &QAbstractButton::clicked, window, &QWidget::showMinimized);
    connect(m_controls[2], &QAbstractButton::clicked, window, [window] {
        if (auto* w = qobject_cast<PanelWindow*>(window))
            w->toggleZoom();
    });
}

WindowControl* TitleStrip::control(WindowControl::Kind kind) const {
    return m_controls[static_cast<int>(kind)];
}

void TitleStrip::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (auto* w = qobject_cast<PanelWindow*>(window()))
            w->toggleZoom();
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

// --- Window ----------------------------------------------------------------------------------

PanelWindow::PanelWindow(std::shared_ptr<PanelViewModel> model, std::function<void()> openNewWindow,
                         QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_openNewWindow(std::move(openNewWindow)) {
    setAttribute(Qt::WA_DeleteOnClose);
    // The title names the window to the desktop (task bar, window lists); the strip shows none.
    setWindowTitle(QStringLiteral("ZELTO 本地调试助手"));
    // The smallest content size holds below the title strip.
    setMinimumSize(metric::minContentWidth, metric::minContentHeight + metric::titleStripHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_panel = new MainPanel(std::move(model), this);
    m_panel->setTopInset(metric::titleStripHeight);
    layout->addWidget(m_panel);

    m_strip = new TitleStrip(this);
    m_strip->raise();

    auto* newWindow = new QShortcut(QKeySequence::New, this);
    connect(newWindow, &QShortcut::activated, this, [this] {
        if (m_openNewWindow)
            m_openNewWindow();
    });
}

PanelWindow::~PanelWindow() {
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_strip->setGeometry(0, 0, width(), metric::titleStripHeight);
}

void PanelWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Pointer events near the edges are seen on the native window, before any child widget
    // can take them.
    if (QWindow* handle = windowHandle(); handle && handle != m_watchedWindow) {
        handle->installEventFilter(this);
        m_watchedWindow = handle;
    }
}

void PanelWindow::toggleZoom() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

Qt::Edges PanelWindow::edgesAt(const QPoint& pos) const {
    Qt::Edges edges;
    if (isMaximized() || isFullScreen())
        return edges;
    const int b = metric::resizeBorder;
    if (pos.x() < b)
        edges |= Qt::LeftEdge;
    if (pos.x() >= width() - b)
        edges |= Qt::RightEdge;
    if (pos.y() < b)
        edges |= Qt::TopEdge;
    if (pos.y() >= height() - b)
        edges |= Qt::BottomEdge;
    return edges;
}

void PanelWindow::updateEdgeCursor(Qt::Edges edges) {
    if (edges == m_cursorEdges)
        return;
    m_cursorEdges = edges;
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical) {
        const bool mainDiagonal =
            edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
        setCursor(mainDiagonal ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
    } else if (horizontal) {
        setCursor(Qt::SizeHorCursor);
    } else if (vertical) {
        setCursor(Qt::SizeVerCursor);
    } else {
        unsetCursor();
    }
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_watchedWindow && handleWindowMouse(event))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool PanelWindow::handleWindowMouse(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (m_manualResize) {
            const QPoint delta = me->globalPosition().toPoint() - m_resizeStartPos;
            QRect g = m_resizeStartGeometry;
            if (m_manualResize & Qt::LeftEdge)
                g.setLeft(std::min(g.left() + delta.x(), g.right() - minimumWidth() + 1));
            if (m_manualResize & Qt::RightEdge)
                g.setRight(g.right() + delta.x());
            if (m_manualResize & Qt::TopEdge)
                g.setTop(std::min(g.top() + delta.y(), g.bottom() - minimumHeight() + 1));
            if (m_manualResize & Qt::BottomEdge)
                g.setBottom(g.bottom() + delta.y());
            setGeometry(g);
            return true;
        }
        if (me->buttons() == Qt::NoButton)
            updateEdgeCursor(edgesAt(me->position().toPoint()));
        return false;
    }
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton)
            return false;
        const Qt::Edges edges = edgesAt(me->position().toPoint());
        if (!edges)
            return false;
        if (!m_watchedWindow->startSystemResize(edges)) {
            m_manualResize = edges;
            m_resizeStartGeometry = geometry();
            m_resizeStartPos = me->globalPosition().toPoint();
        }
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (m_manualResize) {
            m_manualResize = {};
            return true;
        }
        return false;
    case QEvent::Leave:
        updateEdgeCursor({});
        return false;
    default:
        return false;
    }
}

void PanelWindow::mousePressEvent(QMouseEvent* event) {
    // Presses that no child took (labels, cards, the backdrop) move the window.
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_manualMove = true;
    m_moveOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void PanelWindow::mouseMoveEvent(QMouseEvent* event) {
    if (m_manualMove && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_moveOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void PanelWindow::mouseReleaseEvent(QMouseEvent* event) {
    m_manualMove = false;
    QWidget::mouseReleaseEvent(event);
}
