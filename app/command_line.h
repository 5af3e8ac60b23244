// The command line of a run and the mode it selects.
//
// The command line is the argument text after the program name, taken as one string: it is not
// split into words and quotes are not removed. On Linux the arguments argv[1..] are joined by
// single blanks. Every test on it is an exact, case-sensitive byte comparison.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace krevol {

// The words understood on the command line.
inline constexpr std::string_view kUninstallWord = "Uninstall";
inline constexpr std::string_view kOnceWord = "Once";
inline constexpr std::string_view kTwiceWord = "Twice";

enum class StartMode {
    Normal,       // clean up, take the single-instance lock, run the sign-in dialog
    UpgradeStep,  // this run is a new copy of the program: copy it over the path given, end
    Uninstall,    // run the uninstall command, end
};

// argv[1..argc-1] joined by single blanks; empty when there are no arguments.
std::string joinCommandLine(int argc, const char* const* argv);
std::string joinCommandLine(const std::vector<std::string>& arguments);

// ".exe" somewhere after the first character → upgrade step; otherwise exactly "Uninstall" →
// uninstall; otherwise a normal run.
StartMode chooseStartMode(std::string_view commandLine);

}  // namespace krevol
