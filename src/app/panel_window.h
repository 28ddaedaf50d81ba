#pragma once

#include <QAbstractButton>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>

class MainPanel;
class PanelViewModel;
class QWindow;

// One of the three window controls of the title strip, drawn in white.
class WindowControl : public QAbstractButton {
    Q_OBJECT
public:
    enum class Kind { Close, Minimize, Zoom };
    WindowControl(Kind kind, QWidget* parent = nullptr);
    Kind kind() const { return m_kind; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Kind m_kind;
    bool m_hovered = false;
};

// The strip the window draws in place of a system title bar: transparent over the backdrop,
// no visible title, the three window controls on the left. Dragging it moves the window,
// double-clicking it zooms.
class TitleStrip : public QWidget {
    Q_OBJECT
public:
    explicit TitleStrip(QWidget* window);
    WindowControl* control(WindowControl::Kind kind) const;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    WindowControl* m_controls[3];
};

// The panel's window: frameless and always dark, with its own title strip over the main
// panel. Dragging any empty part of the background moves it; its edges resize it. The
// new-window shortcut asks for another window through openNewWindow.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    PanelWindow(std::shared_ptr<PanelViewModel> model, std::function<void()> openNewWindow,
                QWidget* parent = nullptr);
    ~PanelWindow() override;

    MainPanel* panel() const { return m_panel; }
    TitleStrip* titleStrip() const { return m_strip; }

    // Which edges of the window a point (in window coordinates) is close enough to resize.
    Qt::Edges edgesAt(const QPoint& pos) const;
    void toggleZoom();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handleWindowMouse(QEvent* event);
    void updateEdgeCursor(Qt::Edges edges);

    MainPanel* m_panel;
    TitleStrip* m_strip;
    std::function<void()> m_openNewWindow;
    QWindow* m_watchedWindow = nullptr;
    // Moving and resizing by hand where the window system cannot do it for us.
    bool m_manualMove = false;
    QPoint m_moveOffset;
    Qt::Edges m_manualResize;
    QRect m_resizeStartGeometry;
    QPoint m_resizeStartPos;
    Qt::Edges m_cursorEdges;
};
