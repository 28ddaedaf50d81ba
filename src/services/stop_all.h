#pragma once

#include <QString>
#include <QStringList>

namespace services {

// Texts of the stop-all sequence.

// Published before any work.
QString stopAllStoppingText(const QString& panelRoot);

// The closing report: the title, then the non-empty reports trimmed; no footer.
QString stopAllFinalBlock(const QStringList& reports);

} // namespace services
