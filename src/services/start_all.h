#pragma once

#include <QString>
#include <QStringList>

namespace services {

// Texts of the start-all sequence.

// Published before any work.
QString startAllPreparingText(const QString& panelRoot);

// Published after a stage: the reports produced so far, raw and one per line (an empty one
// still takes its line), then the service about to be started.
QString startAllStageText(const QStringList& reports, const QString& nextService,
                          const QString& panelRoot);

// The closing report: the non-empty reports trimmed, then the addresses of the services, the
// interpreter shown to the user and the panel root. Its title says whether a stop overtook
// the run.
QString startAllFinalBlock(const QStringList& reports, const QString& phpBinDisplay,
                           const QString& panelRoot, bool stopped = false);

} // namespace services
