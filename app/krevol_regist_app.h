// The application object: start-up of every run.
//
// run() fixes the user-interface language from the stored `Lang` (English for 1 or a missing
// value, Chinese otherwise), chooses the mode from the command line and does its work with the
// real operations of this system (systemStartupPlatform()); the normal run calls the sign-in
// dialog runner given here. The program ends when run() returns; its result is the exit code.
// A QApplication must exist (the settings store and the message boxes need it).
#pragma once

#include <functional>
#include <string>

#include "app/startup.h"

namespace krevol {

class CKrevolRegistApp {
  public:
    // Runs the sign-in dialog modally with the run's command line; returns the exit code.
    using SignInDialogRunner = std::function<int(const std::string& commandLine)>;

    CKrevolRegistApp(int argc, const char* const* argv, SignInDialogRunner runSignInDialog);

    int run();

    // The arguments after the program name, joined by single blanks.
    const std::string& commandLine() const { return commandLine_; }
    // The operations run() uses; replaceable before run().
    StartupPlatform& platform() { return platform_; }

  private:
    std::string commandLine_;
    StartupPlatform platform_;
};

}  // namespace krevol
