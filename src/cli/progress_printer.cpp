#include "cli/progress_printer.h"

#include "core/panel_view_model.h"

#include <QJsonObject>

#include <algorithm>
#include <cmath>

#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {

ProgressPrinter::ProgressPrinter(const PanelViewModel& model, FILE* stream, Style style)
    : m_model(model), m_stream(stream), m_style(style), m_lastLog(model.logs()) {
    connect(&model, &PanelViewModel::changed, this, &ProgressPrinter::onChanged);
}

namespace {

// Columns a character takes on a terminal: two for the wide East Asian ranges.
int columnsOf(uint c) {
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

int terminalColumns(FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

QString ProgressPrinter::fitToColumns(const QString& line, int columns) {
    // The last column stays free, so the cursor never wraps to a new line.
    const QList<uint> characters = line.toUcs4();
    int total = 0;
    for (const uint c : characters)
        total += columnsOf(c);
    if (total <= columns - 1)
        return line;
    QString fitted;
    int used = 0;
    for (const uint c : characters) {
        const int width = columnsOf(c);
        if (used + width > columns - 2) // room for the ellipsis
            break;
        const char32_t character = c;
        fitted += QString::fromUcs4(&character, 1);
        used += width;
    }
    return fitted + QStringLiteral("…");
}

QString ProgressPrinter::bar(double fraction, int width) {
    const int filled = std::clamp(int(std::lround(fraction * width)), 0, width);
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
           QString(width - filled, QLatin1Char('.')) + QLatin1Char(']');
}

void ProgressPrinter::onChanged() {
    // Every publication replaces the log last, after the progress fields.
    if (m_model.logs() == m_lastLog)
        return;
    m_lastLog = m_model.logs();
    const double fraction = m_model.updateProgress();
    const QString text = m_model.updateProgressText();
    if (fraction == m_lastFraction && text == m_lastText)
        return;
    m_lastFraction = fraction;
    m_lastText = text;
    m_steps.append(
        QJsonObject{{QStringLiteral("progress"), fraction}, {QStringLiteral("text"), text}});

    // The same whole percentage as the log shows.
    const QString percent = QStringLiteral("%1%").arg(int(std::trunc(fraction * 100.0)), 3);
    switch (m_style) {
    case Style::Bar:
        // Back to the line's start and clear it, then the bar.
        // A line longer than the terminal would wrap, and the next redraw would clear only
        // its last part.
        write(QStringLiteral("\r\x1b[K") +
              fitToColumns(bar(fraction, 30) + QLatin1Char(' ') + percent + QLatin1Char(' ') + text,
                           terminalColumns(m_stream)));
        m_barDrawn = true;
        break;
    case Style::Lines:
        write(percent + QLatin1Char(' ') + text + QLatin1Char('\n'));
        break;
    case Style::Silent:
        break;
    }
}

void ProgressPrinter::finish() {
    if (m_barDrawn)
        write(QStringLiteral("\n"));
    m_barDrawn = false;
}

void ProgressPrinter::write(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}

} // namespace cli
