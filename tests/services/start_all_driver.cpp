// Presses start-all once in a process of its own, as a second panel would, and prints the
// final report.
//
//   start_all_driver PANEL_ROOT
//
// The panel root is the user's pick (no runtime is shipped). Exits 0 once the final report is
// out, 1 when it does not come within the time limit.

#include "test_support.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    TestSandbox box;
    box.noResourcePath = true;
    box.machineDatabasePort = true; // a second panel on this machine: the database's own port
    box.preferences->setString(QStringLiteral("zeltoPanelRoot"), QString::fromLocal8Bit(argv[1]));
    auto model = box.makeModel();
    const std::optional<OperationOutcome> outcome =
        testing::runToEnd(*model, &PanelViewModel::startAll, 180000);
    std::printf("%s\n", model->logs().toUtf8().constData());
    return outcome ? 0 : 1;
}
