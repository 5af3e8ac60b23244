#include "ui/window_registry.h"

namespace krevol {

namespace {
// Read and written on the user-interface thread only. A window that is destroyed simply
// drops out (QPointer), so nobody is left holding a dangling pointer.
QPointer<QWidget> g_signInWindow;
QPointer<QWidget> g_mainWindow;
}  // namespace

void registerSignInWindow(QWidget* window) {
    g_signInWindow = window;
}
void registerMainWindow(QWidget* window) {
    g_mainWindow = window;
}
QWidget* signInWindow() {
    return g_signInWindow.data();
}
QWidget* mainWindow() {
    return g_mainWindow.data();
}

}  // namespace krevol
