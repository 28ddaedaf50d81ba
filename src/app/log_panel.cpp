#include "app/log_panel.h"

#include "app/cards.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

using namespace theme;

namespace {
// The editor sits this far inside its rounded frame; the document's own margin makes up the
// rest of the text inset, so the scroll bar stays clear of the corners.
constexpr int kFrameMargin = 4;
} // namespace

LogCardLayout makeLogCardLayout(QWidget* card, const QString& title, const QString& subtitle) {
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(metric::logPanelInset, metric::logPanelInset, metric::logPanelInset,
                               metric::logPanelInset);
    column->setSpacing(metric::logPanelGap);
    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(metric::logHeaderGap);
    titles->addWidget(makeLabel(title, fonts::logTitle(), color::white, card));
    titles->addWidget(makeLabel(subtitle, fonts::logSubtitle(), text::logSubtitle(), card));
    header->addLayout(titles);
    header->addStretch(1);
    column->addLayout(header);
    return {column, header};
}

LogPanel::LogPanel(QWidget* parent) : Surface(card::logPanel(), parent) {
    const QString title = qtTrId("panel.logs");
    QVBoxLayout* column = makeLogCardLayout(this, title, qtTrId("panel.logs.sub")).column;

    auto* frame = new Surface(card::logEditor(), this);
    frame->setMinimumHeight(metric::logEditorMinHeight);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(kFrameMargin, kFrameMargin, kFrameMargin, kFrameMargin);
    m_editor = new QPlainTextEdit(frame);
    m_editor->setObjectName(QStringLiteral("logEditor"));
    m_editor->setFrameShape(QFrame::NoFrame);
    m_editor->setFont(fonts::logEditor());
    m_editor->document()->setDocumentMargin(metric::logEditorInset - kFrameMargin);
    m_editor->setTabChangesFocus(true);
    m_editor->setAccessibleName(title);
    m_editor->viewport()->setAutoFillBackground(false);
    QPalette p = m_editor->palette();
    p.setColor(QPalette::Base, color::clear);
    p.setColor(QPalette::Text, text::editor());
    m_editor->setPalette(p);
    m_editor->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    frameLayout->addWidget(m_editor);
    column->addWidget(frame, 1);

    setAccessibleName(title);
    connect(m_editor, &QPlainTextEdit::textChanged, this, &LogPanel::onEditorChanged);
}

void LogPanel::setLogs(const QString& text) {
    if (text == m_shown)
        return;
    m_applying = true;
    if (!m_shown.isEmpty() && text.startsWith(m_shown)) {
        // Text added at the end (a note after a report): insert only the addition so the
        // user's cursor, selection and scroll position stay as they were.
        QTextCursor end(m_editor->document());
        end.movePosition(QTextCursor::End);
        end.insertText(text.mid(m_shown.size()));
    } else {
        const QTextCursor before = m_editor->textCursor();
        const int anchor = before.anchor();
        const int position = before.position();
        const int scroll = m_editor->verticalScrollBar()->value();
        m_editor->setPlainText(text);
        const int last = static_cast<int>(m_editor->document()->characterCount()) - 1;
        if (anchor != 0 || position != 0) {
            QTextCursor after(m_editor->document());
            after.setPosition(std::clamp(anchor, 0, last));
            after.setPosition(std::clamp(position, 0, last), QTextCursor::KeepAnchor);
            m_editor->setTextCursor(after);
            m_editor->verticalScrollBar()->setValue(scroll);
        }
    }
    m_shown = text;
    m_applying = false;
}

void LogPanel::onEditorChanged() {
    if (m_applying)
        return;
    m_shown = m_editor->toPlainText();
    Q_EMIT logsEdited(m_shown);
}
