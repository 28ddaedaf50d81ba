#pragma once

#include <QJsonArray>
#include <QObject>
#include <QString>

#include <cstdio>

class PanelViewModel;

namespace cli {

// Shows the published steps of an update: on a terminal one bar, redrawn in place, with the
// step text; elsewhere one line per step. A step is taken at each publication (each time the
// log is replaced) with the progress fields of that moment; a publication that repeats the
// previous step is not shown again.
class ProgressPrinter : public QObject {
public:
    enum class Style { Bar, Lines, Silent };

    ProgressPrinter(const PanelViewModel& model, FILE* stream, Style style);
    // Ends the bar's line.
    void finish();
    // The steps seen, as {"progress": fraction, "text": step text}.
    const QJsonArray& steps() const { return m_steps; }

    // The bar for a fraction, width characters between brackets.
    static QString bar(double fraction, int width);
    // line cut (with an ellipsis) so that it takes fewer than columns terminal columns, wide
    // East Asian characters counting two.
    static QString fitToColumns(const QString& line, int columns);

private:
    void onChanged();
    void write(const QString& text);

    const PanelViewModel& m_model;
    FILE* m_stream;
    Style m_style;
    QString m_lastLog;
    double m_lastFraction = -1.0;
    QString m_lastText;
    bool m_barDrawn = false;
    QJsonArray m_steps;
};

} // namespace cli
