#pragma once

#include <QColor>
#include <QWidget>

// Plain text that wraps over as many lines as it needs and is never cut: lines break at word
// boundaries where possible and anywhere inside a word (a long path) where not. Its height
// follows from its width.
class WrappingLabel : public QWidget {
    Q_OBJECT
public:
    explicit WrappingLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    void setTextColor(const QColor& color);

    // Lines the text takes at a width.
    int lineCountForWidth(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Lays out the text at width; returns the height and the line count.
    std::pair<int, int> measure(int width) const;

    QString m_text;
    QColor m_color;
    mutable int m_cachedWidth = -1;
    mutable std::pair<int, int> m_cached{0, 0};
};
