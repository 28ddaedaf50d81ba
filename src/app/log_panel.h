#pragma once

#include "app/surface.h"

class QHBoxLayout;
class QPlainTextEdit;
class QVBoxLayout;

// The frame of a card that shows a log: its column, with the house's insets and gaps, and a
// header row already in it with the title and subtitle at the left and a stretch after them,
// for the caller's buttons at the right.
struct LogCardLayout {
    QVBoxLayout* column;
    QHBoxLayout* header;
};
LogCardLayout makeLogCardLayout(QWidget* card, const QString& title, const QString& subtitle);

// The log: a title and an editable, scrolling text bound both ways to the model's log. The
// model's text is shown with setLogs(); every edit by the user is reported whole by
// logsEdited().
class LogPanel : public Surface {
    Q_OBJECT
public:
    explicit LogPanel(QWidget* parent = nullptr);

    // Shows text unless it is already shown; keeps the user's cursor where it can.
    void setLogs(const QString& text);
    QPlainTextEdit* editor() const { return m_editor; }

Q_SIGNALS:
    void logsEdited(const QString& text);

private:
    void onEditorChanged();

    QPlainTextEdit* m_editor;
    QString m_shown;
    bool m_applying = false;
};
