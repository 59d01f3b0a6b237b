#pragma once
// The application object the user-interface tests share.
class QApplication;

namespace vtest {
// Creates the application on first use (offscreen, Fusion style).
QApplication& UiApp();
}  // namespace vtest
