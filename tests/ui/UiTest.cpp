#include "tests/ui/UiTest.h"

#include <QApplication>
#include <QStyleFactory>

namespace vtest {

QApplication& UiApp() {
    static int argc = 1;
    static char name[] = "test_ui";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        // One style everywhere, so pixels do not depend on the desktop.
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        return a;
    }();
    return *app;
}

}  // namespace vtest
