// The two top-level windows that a message box disables while it is open.
#pragma once

#include <QPointer>
#include <QWidget>

namespace krevol {

void registerSignInWindow(QWidget* window);
void registerMainWindow(QWidget* window);
QWidget* signInWindow();
QWidget* mainWindow();

}  // namespace krevol
