// Shots of the message box: one and two buttons, a one-line text and a wrapped one.
#include <memory>
#include <string>

#include "app/message_presenter.h"
#include "app/messages.h"
#include "shot_registry.h"
#include "ui/box_dialog.h"

namespace {

using krevol::shots::registerShot;

std::unique_ptr<QWidget> box(const std::string& text, int type) {
    auto dialog = std::make_unique<krevol::CKrevolBoxDlg>(QString::fromStdString(text), type);
    dialog->move(0, 0);
    return dialog;
}

const bool registered =
    registerShot({"box_ok_short", [] { return box(krevol::loadText(224), krevol::kBoxOk); }}) &&
    registerShot({"box_ok_error_code",
                  [] { return box(krevol::errorBoxText(5, krevol::loadText(127)), krevol::kBoxOk); }}) &&
    registerShot({"box_ok_wrapped", [] { return box(krevol::loadText(135), krevol::kBoxOk); }}) &&
    registerShot({"box_ok_line_breaks",
                  [] {
                      const std::string text = krevol::formatText(212, "4.3.0", "4.4.0");
                      return box(text, krevol::kBoxOk);
                  }}) &&
    registerShot({"box_yesno_short", [] { return box(krevol::loadText(271), krevol::kBoxYesNo); }}) &&
    registerShot({"box_suite_no_installer", [] { return box(krevol::loadText(520), krevol::kBoxOk); }}) &&
    registerShot({"box_suite_not_started", [] { return box(krevol::loadText(521), krevol::kBoxOk); }}) &&
    registerShot(
        {"box_formatted_awaits_reinstall", [] { return box(krevol::loadText(522), krevol::kBoxOk); }}) &&
    registerShot({"box_yesno_wrapped", [] { return box(krevol::loadText(225), krevol::kBoxYesNo); }});

}  // namespace
