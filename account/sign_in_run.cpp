// The program's life in the sign-in window: the "Once" and "Twice" modes with the installer
// watch, the event loop of the run, the language switch and the end of the run with its restart.
#include <QEventLoop>
#include <QListWidget>
#include <QTimer>

#include "account/sign_in_dialog.h"
#include "account/sign_in_parts.h"
#include "app/language.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/processes.h"
#include "app/restart.h"
#include "app/settings.h"
#include "app/startup.h"

using namespace krevol::sign_in;

void CKrevolRegistDlg::startProgramLife() {
    if (!hooks_.restartProgram) hooks_.restartProgram = [] { krevol::restartProgram(); };
    if (!hooks_.handleOnce) hooks_.handleOnce = [] { return krevol::handleOnceMode(); };
    if (!hooks_.findInstallerProcess)
        hooks_.findInstallerProcess = [] { return krevol::findInstallerProcess(); };

    // The installer starts the program with "Once": hand over to a "Twice" instance when the
    // installer still runs, and end without showing anything.
    if (commandLine_ == "Once") {
        hooks_.handleOnce();
        ended_ = true;
        return;
    }
    twice_ = commandLine_ == "Twice";
    if (twice_) {
        installerTimer_ = new QTimer(this);
        installerTimer_->setInterval(kInstallerWatchMs);
        connect(installerTimer_, &QTimer::timeout, this, &CKrevolRegistDlg::installerTick);
        installerTimer_->start();
    }
}

int CKrevolRegistDlg::exec() {
    if (ended_) return krevol::kExitSuccess;
    if (twice_) {
        // The watching instance stays out of sight until the installer has gone.
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        setGeometry(0, 5000, 0, 0);
        show();
    } else {
        show();
        raise();
        activateWindow();
    }
    if (ended_) return krevol::kExitSuccess;
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
    return krevol::kExitSuccess;
}

void CKrevolRegistDlg::installerTick() {
    hide();
    if (hooks_.findInstallerProcess()) return;
    installerTimer_->stop();
    if (krevol::showMessage(268, krevol::kBoxYesNo) == krevol::kAnswerFirst) restartOnClose_ = true;
    closeWindow();
}

void CKrevolRegistDlg::returnToSignIn() {
    closeMainWindow();
    setGeometry(homeRect_);
    show();
    raise();
    activateWindow();
    updatePlaceholders();
}

void CKrevolRegistDlg::closeMainWindow() {
    if (hooks_.closeMainWindow) hooks_.closeMainWindow();
}

void CKrevolRegistDlg::closeWindow() {
    if (ended_ || closing_) return;
    closing_ = true;
    if (restartOnClose_) hooks_.restartProgram();
    closeMainWindow();
    endWindow();
}

void CKrevolRegistDlg::endWindow() {
    ended_ = true;
    if (installerTimer_) installerTimer_->stop();
    hide();
    emit ended();
    if (loop_) loop_->quit();
}

void CKrevolRegistDlg::switchLanguage(int index) {
    if (ended_ || busy_) return;
    if (index < 0 || !krevol::languageSwitchNeeded(index, languageIndex_)) {
        closeLanguageList();
        return;
    }
    krevol::writeLang(index);
    restartOnClose_ = true;
    closeWindow();
}
