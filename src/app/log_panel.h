#pragma once

#include "app/surface.h"

class QPlainTextEdit;

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
