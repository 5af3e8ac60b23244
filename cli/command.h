// The commands of krevolctl. Each command lives in its own file and is one entry of the table in
// command_table.cpp; adding a command is one line there and its source in cli/CMakeLists.txt.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krevol::cli {

// Exit statuses shared by every command.
constexpr int kExitOk = 0;      // the call succeeded (result 200; login: signed in)
constexpr int kExitFailed = 1;  // the call was made and did not succeed
constexpr int kExitUsage = 2;   // wrong arguments; usage on standard error
constexpr int kExitLocal = 3;   // a local input (file, terminal) could not be read; nothing sent

// `args` are the words after the command's name (options such as "--json" included).
using CommandFunction = int (*)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

struct Command {
    const char* name;       // "login"
    const char* arguments;  // "EMAIL", shown in the usage
    const char* summary;    // one line for the usage
    CommandFunction run;
};

const std::vector<Command>& commands();

// The commands of this folder.
int runLoginCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runPostCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runDownloadCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runDetectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runCatalogueCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runContentCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runInstallCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runUnpackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runUploadLogsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runFormatCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runEjectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runSuiteVersionCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The words of a command: positional arguments and the common options.
struct CommandWords {
    std::vector<std::string> positional;
    bool json = false;
    bool help = false;
    std::string unknownOption;  // the first option no command knows, empty when none
};

// "--json", "-h"/"--help"; "--" ends the options; a lone "-" is positional.
CommandWords splitWords(const std::vector<std::string>& args);

// Takes a command's own switch (such as "--yes") out of `args`, every time it stands before "--";
// true when it was given.
bool takeFlag(std::vector<std::string>& args, std::string_view flag);

// Prints "usage: krevolctl NAME ARGUMENTS" and the summary.
void printCommandUsage(const Command& command, std::ostream& out);

// Splits the words of the command `name`, which takes `positionals` positional arguments, into
// `words`. Answers the exit status when the command ends there: -h/--help prints the usage on
// `out` (kExitOk); an unknown option or another count of positional arguments prints it on `err`
// (kExitUsage). Nothing when the command goes on.
std::optional<int> readCommandWords(const std::string& name, const std::vector<std::string>& args,
                                    std::size_t positionals, CommandWords& words, std::ostream& out,
                                    std::ostream& err);
const Command* findCommand(const std::string& name);

}  // namespace krevol::cli
