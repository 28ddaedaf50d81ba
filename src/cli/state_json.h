#pragma once

#include <QJsonObject>

class PanelViewModel;

namespace cli {

// The model's state as the JSON output shows it: the resolved and the saved panel root, the
// permission hint, the error summary, the report in the log, and per service whether it runs,
// its port, its address and its process id where one is known.
QJsonObject stateJson(const PanelViewModel& model);

} // namespace cli
