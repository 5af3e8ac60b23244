// KrevolRegist: the suite's entry point.
#include <QApplication>

#include <string>

#include "app/krevol_regist_app.h"
#include "app/suite_windows.h"
#include "ui/widget_presenter.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The sign-in window ends the run; hiding it after a sign-in must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Lets a Wayland desktop match the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("krevol-pc-suite"));
    krevol::installWidgetPresenter();

    krevol::CKrevolRegistApp shell(argc, argv, [](const std::string& commandLine) {
        krevol::SuiteWindows windows(commandLine);
        return windows.exec();
    });
    return shell.run();
}
