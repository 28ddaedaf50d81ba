#pragma once

#include <QAbstractButton>
#include <QImage>

// The panel's action button: an icon and a one-line title on a rounded card. The whole card
// is clickable; it takes focus from the keyboard only (Tab), shows it with a ring, and then
// activates with Space, Enter or Return. A title
// that does not fit is first shrunk (down to 85 %) and then elided: it never wraps.
class IconButton : public QAbstractButton {
    Q_OBJECT
public:
    IconButton(const QString& iconName, const QString& title, bool prominent,
               QWidget* parent = nullptr);

    QString iconName() const { return m_iconName; }
    bool isProminent() const { return m_prominent; }
    void setTitle(const QString& title);

    // How the title is drawn in a given width of the whole button.
    struct TitleFit {
        QString text; // what is drawn: the title, or its elided form
        qreal scale = 1.0;
        bool elided = false;
    };
    TitleFit fitTitle(int buttonWidth) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    const QImage& iconImage(qreal dpr) const;

    QString m_iconName;
    bool m_prominent;
    bool m_keyboardFocus = false;
    mutable QImage m_icon;
};
