// KrevolRegist: the suite's entry point.
#include <QApplication>

#include <string>

#include "app/diagnostic_log.h"
#include "app/krevol_regist_app.h"
#include "app/suite_windows.h"
#include "app/version.h"
#include "ui/widget_presenter.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The sign-in window ends the run; hiding it after a sign-in must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Lets a Wayland desktop match the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("krevol-pc-suite"));
    krevol::installWidgetPresenter();
    krevol::logEvent("suite", std::string("start, version ") + krevol::kProgramVersion);

    krevol::CKrevolRegistApp shell(argc, argv, [](const std::string& commandLine) {
        krevol::SuiteWindows windows(commandLine);
        return windows.exec();
    });
    const int status = shell.run();
    krevol::logEvent("suite", "end, exit status " + std::to_string(status));
    return status;
}
