#include "app_test_support.h"
#include "tst_components.h"
#include "tst_panel.h"

#include <QApplication>
#include <QTest>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    apptest::configureTestApplication();
    int failures = 0;
    {
        TestComponents components;
        failures += QTest::qExec(&components, argc, argv);
    }
    {
        TestPanel panel;
        failures += QTest::qExec(&panel, argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
