#pragma once

#include "app/surface.h"
#include "core/service_table.h"

#include <QColor>
#include <QDateTime>
#include <QString>

#include <array>

class AdaptiveGridLayout;
class QLabel;
class QProgressBar;
class QVBoxLayout;
class WrappingLabel;

// A one-line label in one of the theme's fonts and colours.
QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color,
                  QWidget* parent = nullptr);
void setLabelColor(QLabel* label, const QColor& color);
QColor labelColor(const QLabel* label);

// "running"/"stopped" in the current language.
QString runningText(bool running);

// A capsule naming a service and whether it runs.
class Badge : public Surface {
    Q_OBJECT
public:
    explicit Badge(const QString& label, QWidget* parent = nullptr);
    void setOk(bool ok);
    bool ok() const { return m_ok; }
    QString text() const;

private:
    QString m_label;
    QLabel* m_text;
    bool m_ok = false;
};

// A small card with a title and a coloured value.
class StatCard : public Surface {
    Q_OBJECT
public:
    explicit StatCard(QWidget* parent = nullptr);
    void setContent(const QString& title, const QString& value, const QColor& color);
    QString title() const;
    QString value() const;
    QColor valueColor() const;

private:
    QLabel* m_title;
    QLabel* m_value;
};

// The three services' cards in a grid of adaptive columns.
class StatusStrip : public QWidget {
    Q_OBJECT
public:
    explicit StatusStrip(QWidget* parent = nullptr);
    // debugging: the site server loads the step debugger (its card says so).
    // A service stopped by itself shows when, in red, until its next start.
    void setStatus(const ServiceStatus& status, bool debugging = false,
                   const std::array<QDateTime, kServices.size()>& stoppedUnexpectedlyAt = {});
    StatCard* card(int index) const { return m_cards[index]; }
    AdaptiveGridLayout* grid() const { return m_grid; }

private:
    AdaptiveGridLayout* m_grid;
    StatCard* m_cards[kServices.size()];
};

// The update's progress: a title, a bar and the step text with the whole percentage.
class ProgressCard : public Surface {
    Q_OBJECT
public:
    explicit ProgressCard(QWidget* parent = nullptr);
    void setProgress(double progress, const QString& stepText);
    QString lineText() const;
    QProgressBar* bar() const { return m_bar; }

    // progress × 100 with the fraction dropped (toward zero).
    static qint64 percent(double progress);
    // The step text, a space, the percentage and "%".
    static QString line(const QString& stepText, double progress);
    // Whether the card is shown at all: strictly between 0 and 1.
    static bool showsFor(double progress);

private:
    QProgressBar* m_bar;
    WrappingLabel* m_line;
};

// A notice in an accent colour: a title over a body that wraps and is never cut.
class WarningCard : public Surface {
    Q_OBJECT
public:
    WarningCard(const QString& title, const QColor& accent, QWidget* parent = nullptr);
    void setBody(const QString& body);
    QString title() const;
    QString body() const;
    WrappingLabel* bodyLabel() const { return m_body; }

private:
    QLabel* m_title;
    WrappingLabel* m_body;
};

// A titled section; callers add its content to contentLayout().
class GroupedPanel : public Surface {
    Q_OBJECT
public:
    GroupedPanel(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
    QVBoxLayout* contentLayout() const { return m_content; }
    QString title() const;

private:
    QLabel* m_title;
    QVBoxLayout* m_content;
};
