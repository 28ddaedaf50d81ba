#include "cli/progress_printer.h"

#include "core/panel_view_model.h"

#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace cli {

ProgressPrinter::ProgressPrinter(const PanelViewModel& model, FILE* stream, Style style)
    : m_model(model), m_stream(stream), m_style(style), m_lastLog(model.logs()) {
    connect(&model, &PanelViewModel::changed, this, &ProgressPrinter::onChanged);
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
        write(QStringLiteral("\r\x1b[K") + bar(fraction, 30) + QLatin1Char(' ') + percent +
              QLatin1Char(' ') + text);
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
