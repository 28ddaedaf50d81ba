#pragma once

#include <QString>
#include <QStringList>

#include "platform/result.h"

class PanelViewModel;

namespace services {

// Texts of the stop-all sequence.

// Published before any work.
QString stopAllStoppingText(const QString& panelRoot);

// The closing report: the title, then the non-empty reports trimmed; no footer.
QString stopAllFinalBlock(const QStringList& reports);

// A stop overtakes the start-all runs pressed before it, in this panel and in others on the
// same runtime: each press of stop writes its time to a marker in the runtime's config, and a
// run asks the marker, while it waits, whether a stop was pressed after its own press.

// The clock of the presses: nanoseconds of the system's wall clock, the same in every process.
qint64 stopRequestClock();
// The marker of the model's runtime.
QString stopRequestPath(const PanelViewModel& model);
// Records a stop pressed at pressedAt.
Result<> recordStopRequest(const QString& markerPath, qint64 pressedAt);
// True when the marker records a stop pressed after pressedAt.
bool stopRequestedSince(const QString& markerPath, qint64 pressedAt);

} // namespace services
