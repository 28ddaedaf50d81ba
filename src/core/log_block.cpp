#include "core/panel_view_model.h"

QString PanelViewModel::buildLogBlock(const QString& title, const QStringList& entries,
                                      const QStringList& footer) {
    QStringList lines{title};
    for (const QString& entry : entries) {
        if (!entry.isEmpty())
            lines.push_back(entry);
    }
    if (!footer.isEmpty()) {
        lines.push_back(QString());
        for (const QString& line : footer) {
            if (!line.isEmpty())
                lines.push_back(line);
        }
    }
    return lines.join(QLatin1Char('\n'));
}
