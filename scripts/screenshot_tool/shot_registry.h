// The screenshot tool's list of windows. Each window family adds its shots from a source file
// of its own in this folder (box_shots.cpp, signin_shots.cpp, ...), for example:
//
//   namespace {
//   const bool registered = krevol::shots::registerShot({
//       "box_ok_short",
//       [] { return std::make_unique<krevol::CKrevolBoxDlg>(text, krevol::kBoxOk); },
//   });
//   }  // namespace
//
// The tool runs every shot once per language (English, then Chinese) after setUiLanguage,
// shows the window off screen, runs `prepare` if given, lets pending events run, grabs the
// window and writes "<name>_en.png" / "<name>_zh.png" (or "<name>.png" when the shot is the
// same in both languages).
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace krevol::shots {

struct Shot {
    QString name;                                    // file name without language and extension
    std::function<std::unique_ptr<QWidget>()> make;  // builds the window in the run's language
    std::function<void(QWidget&)> prepare = {};      // optional, after the window is shown
    bool perLanguage = true;                         // false: one picture for both languages
};

// Adds a shot; returns true so that it can initialise a namespace-scope constant.
bool registerShot(Shot shot);
const std::vector<Shot>& registeredShots();

// Lets the window settle: runs pending events (layouts, posted updates) a few times.
void settle();

}  // namespace krevol::shots
