// KrevolRegist: the suite's entry point.
#include <QApplication>

#include <string>

#include "account/sign_in_dialog.h"
#include "app/krevol_regist_app.h"
#include "ui/widget_presenter.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The sign-in window ends the run; hiding it after a sign-in must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    krevol::installWidgetPresenter();

    krevol::CKrevolRegistApp shell(argc, argv, [](const std::string& commandLine) {
        CKrevolRegistDlg signIn(commandLine);
        return signIn.exec();
    });
    return shell.run();
}
