// The account flows of the sign-in window: the action of each mode, its local checks, its call
// off the user-interface thread and what its answer changes.
#include <QLineEdit>

#include <utility>

#include "account/sign_in_checks.h"
#include "account/sign_in_dialog.h"
#include "account/sign_in_widgets.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "app/settings.h"
#include "ui/background_task.h"
#include "ui/skin_button.h"

using krevol::AccountCall;
using krevol::CallOutcome;
using krevol::CallReply;
using krevol::FlowAnswer;
using krevol::FlowSteps;
using krevol::msgId;
using krevol::SignInAction;
using krevol::SignInMode;

void CKrevolRegistDlg::setBusy(bool busy) {
    if (busy_ == busy) return;
    busy_ = busy;
    field1_->setReadOnly(busy);
    field2_->setReadOnly(busy);
    if (busy) {
        spinner_->start();
        setCursor(Qt::BusyCursor);
    } else {
        spinner_->stop();
        unsetCursor();
    }
    emit busyChanged(busy);
}

void CKrevolRegistDlg::runFlow(int checkMessage, std::function<FlowAnswer()> work, FlowSteps steps) {
    // Messages of the local checks are shown without a number.
    if (checkMessage != 0) {
        krevol::showMessage(checkMessage);
        return;
    }
    setBusy(true);
    krevol::runInBackground(this, std::move(work), [this, steps = std::move(steps)](FlowAnswer answer) {
        setBusy(false);
        if (ended_) return;
        const CallOutcome outcome = krevol::classifyReply(answer.call, answer.reply);
        if (steps.beforeMessage) steps.beforeMessage(answer, outcome);
        krevol::showOutcome(outcome);
        if (outcome.success && steps.succeeded) steps.succeeded(answer);
    });
}

void CKrevolRegistDlg::runAction() {
    if (busy_ || ended_) return;
    switch (krevol::actionFor(mode_, actionCaptionId_)) {
        case SignInAction::SignIn:
            startSignIn();
            break;
        case SignInAction::SendSignUpCode:
            startSendCode(true, false);
            break;
        case SignInAction::CheckSignUpCode:
            startCheckCode(SignInMode::PasswordSetting, msgId(120), 0);
            break;
        case SignInAction::SetPassword:
            startSetPassword(false);
            break;
        case SignInAction::SendResetCode:
            startSendCode(false, false);
            break;
        case SignInAction::CheckResetCode:
            startCheckCode(SignInMode::NewPasswordSetting, 0, 0);
            break;
        case SignInAction::ResetPassword:
            startSetPassword(true);
            break;
        case SignInAction::ChangePassword:
            startChangePassword();
            break;
        case SignInAction::SendModifyCode:
            startSendCode(false, true);
            break;
        case SignInAction::CheckModifyCode:
            startCheckCode(SignInMode::BindNewMailbox, msgId(107), msgId(201));
            break;
        case SignInAction::SendBindCode:
            startSendCode(true, false);
            break;
        case SignInAction::CheckCodeAndBind:
            startCheckCodeAndBind();
            break;
    }
}

void CKrevolRegistDlg::startSignIn() {
    const std::string email = fieldValue(1);
    const std::string password = fieldValue(2);
    FlowSteps steps;
    // An answer without a readable id or token is a failed sign-in (message 143): a main window
    // without them could make no further call.
    steps.beforeMessage = [this, email, password](const FlowAnswer& answer, const CallOutcome& outcome) {
        if (!outcome.success) return;
        std::string userId;
        std::string token;
        krevol::extractIdAndToken(answer.reply.answer, userId, token);
        session_.userId = userId;
        session_.token = token;
        session_.email = email;
        session_.password = password;
    };
    steps.succeeded = [this](const FlowAnswer&) { afterSignIn(); };
    runFlow(
        krevol::checkSignIn(email, password),
        [email, password] {
            return FlowAnswer{AccountCall::Login, krevol::login(email, password)};
        },
        std::move(steps));
}

void CKrevolRegistDlg::afterSignIn() {
    field2_->clear();
    fieldShowsPlaceholder_[1] = false;
    if (hooks_.showMainWindow) hooks_.showMainWindow(session_);
    krevol::storeSignIn(QString::fromStdString(session_.email));
    hide();
}

void CKrevolRegistDlg::startSendCode(bool signUp, bool toSignedInAddress) {
    const std::string email = fieldValue(1);
    const int check = toSignedInAddress ? krevol::checkSendCodeToSignedInAddress(email, session_.email)
                                        : krevol::checkSendCode(email);
    // The second stage's caption: sign-up verifies with "Sign up", the others with "Submit".
    const int nextCaption = mode_ == SignInMode::SignUp ? msgId(109) : msgId(120);
    FlowSteps steps;
    steps.succeeded = [this, nextCaption](const FlowAnswer&) {
        setActionCaption(nextCaption);
        action_->update();
    };
    runFlow(
        check,
        [email, signUp] {
            return signUp ? FlowAnswer{AccountCall::SendSignUpCode, krevol::sendSignUpCode(email)}
                          : FlowAnswer{AccountCall::SendResetCode, krevol::sendResetCode(email)};
        },
        std::move(steps));
}

void CKrevolRegistDlg::startCheckCode(SignInMode nextMode, int nextCaption, int nextTitle) {
    const std::string email = fieldValue(1);
    const std::string code = fieldValue(2);
    FlowSteps steps;
    steps.succeeded = [this, email, nextMode, nextCaption, nextTitle](const FlowAnswer&) {
        session_.email = email;
        focusAway();
        setMode(nextMode);
        if (nextCaption != 0) setActionCaption(nextCaption);
        if (nextTitle != 0) setTitle(nextTitle);
        update();
        updatePlaceholders();
    };
    runFlow(
        krevol::checkCodeInputs(email, code),
        [email, code] {
            return FlowAnswer{AccountCall::CheckCode, krevol::checkCode(email, code)};
        },
        std::move(steps));
}

void CKrevolRegistDlg::startSetPassword(bool afterRecovery) {
    const std::string email = session_.email;
    const std::string password = fieldValue(1);
    FlowSteps steps;
    steps.succeeded = [this](const FlowAnswer&) {
        field1_->clear();
        field2_->clear();
        fieldShowsPlaceholder_[0] = fieldShowsPlaceholder_[1] = false;
        switchToSignInView();
        updatePlaceholders();
    };
    runFlow(
        krevol::checkNewPassword(email, password, fieldValue(2)),
        [email, password, afterRecovery] {
            return afterRecovery
                       ? FlowAnswer{AccountCall::ResetPassword, krevol::resetPassword(email, password)}
                       : FlowAnswer{AccountCall::SetPassword, krevol::setPassword(email, password)};
        },
        std::move(steps));
}

void CKrevolRegistDlg::startChangePassword() {
    const std::string oldPassword = fieldValue(1);
    const std::string newPassword = fieldValue(2);
    const krevol::AccountSession session = session_;
    FlowSteps steps;
    // The main window goes before the success message: the next sign-in builds a new one.
    steps.beforeMessage = [this](const FlowAnswer&, const CallOutcome& outcome) {
        if (outcome.success) closeMainWindow();
    };
    steps.succeeded = [this](const FlowAnswer&) {
        switchToSignInView();
        updatePlaceholders();
    };
    runFlow(
        krevol::checkPasswordChange(oldPassword, newPassword),
        [session, oldPassword, newPassword] {
            return FlowAnswer{
                AccountCall::ChangePassword,
                krevol::updateUser(session.userId, session.token, session.email, oldPassword, newPassword)};
        },
        std::move(steps));
}

void CKrevolRegistDlg::startCheckCodeAndBind() {
    const std::string email = fieldValue(1);
    const std::string code = fieldValue(2);
    const krevol::AccountSession session = session_;
    FlowSteps steps;
    steps.beforeMessage = [this, email](const FlowAnswer& answer, const CallOutcome& outcome) {
        // The code was verified once the binding was sent, whatever the binding's answer.
        if (answer.call != AccountCall::BindMailbox) return;
        session_.email = email;
        // The main window holds the old address: it goes, and the next sign-in builds a new one.
        if (outcome.success) closeMainWindow();
    };
    steps.succeeded = [this](const FlowAnswer&) {
        switchToSignInView();
        updatePlaceholders();
    };
    runFlow(
        krevol::checkCodeInputs(email, code),
        [session, email, code] {
            const CallReply checked = krevol::checkCode(email, code);
            if (!krevol::classifyReply(AccountCall::CheckCode, checked).success)
                return FlowAnswer{AccountCall::CheckCode, checked};
            // The current password goes as both the old and the new one.
            return FlowAnswer{
                AccountCall::BindMailbox,
                krevol::updateUser(session.userId, session.token, email, session.password, session.password)};
        },
        std::move(steps));
}
