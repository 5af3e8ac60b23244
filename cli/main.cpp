// krevolctl: the command-line companion of the PC suite. It makes the program's own server calls
// and prints what the program sees, for scripts, the sandbox and support.
//
// Output: one "key: value" line each, starting with "result: N" (the transport result: 200, a
// transport code 1-8 or 77, or 888 for an empty argument), then for example "status: N" (the
// answer's statuscode, only when the result is 200), "answer: ..." or "path: ...", and last one
// "message: ..." line for every message the program would have shown. With --json the same
// values are printed as one JSON object on one line, "message" being an array of texts.
//
// Exit status:
//   0  success: the result is 200 (login: the sign-in succeeded)
//   1  the call was made and did not succeed (result not 200; login: any failed sign-in)
//   2  usage error: unknown command or option, wrong number of arguments
//   3  a local input could not be read (body file, password); nothing was sent
//
// Environment: KREVOL_API_HOST ("host" or "host:port") replaces the API server's build-time host;
// KREVOL_USER is the account of the commands that sign in first (catalogue, report; "--user EMAIL"
// wins); KREVOL_VOLUMES=folder stands for the removable drives (detect and the commands that work
// on the tool); the usual proxy variables (http_proxy, no_proxy, ...) are honoured.
#include <iostream>
#include <string>
#include <vector>

#include "app/diagnostic_log.h"
#include "app/version.h"
#include "cli/command.h"

namespace {

void printUsage(std::ostream& out) {
    using krevol::cli::commands;
    out << "usage: krevolctl [--json] COMMAND [ARGUMENTS]\n"
           "\n"
           "Makes the PC suite's server calls and prints what the program sees.\n"
           "\n"
           "commands:\n";
    for (const auto& c : commands()) {
        std::string head = std::string(c.name) + " " + c.arguments;
        if (head.size() < 24) head.resize(24, ' ');
        out << "  " << head << "  " << c.summary << "\n";
    }
    out << "\n"
           "options:\n"
           "  --json                    print the values as one JSON object\n"
           "  -h, --help                this text; \"krevolctl COMMAND --help\" for one command\n"
           "\n"
           "output: one \"key: value\" line each, starting with \"result: N\", then e.g. \"status: N\",\n"
           "\"answer: ...\" or \"path: ...\", and a \"message: ...\" line for each message shown.\n"
           "\n"
           "exit status: 0 success (result 200; login: signed in), 1 the call did not succeed,\n"
           "2 usage error, 3 a local input could not be read (nothing sent).\n"
           "\n"
           "environment: KREVOL_API_HOST=host[:port] selects the API server; KREVOL_USER=EMAIL is the\n"
           "account of the commands that sign in first (--user EMAIL wins; the password is read from\n"
           "the terminal without echo, or from standard input); KREVOL_VOLUMES=folder stands for the\n"
           "removable drives.\n";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace krevol::cli;
    std::vector<std::string> words(argv + 1, argv + argc);

    // Options before the command apply to it.
    bool json = false;
    std::size_t i = 0;
    for (; i < words.size() && !words[i].empty() && words[i][0] == '-'; ++i) {
        if (words[i] == "--json") {
            json = true;
        } else if (words[i] == "-h" || words[i] == "--help") {
            printUsage(std::cout);
            return kExitOk;
        } else {
            std::cerr << "krevolctl: unknown option " << words[i] << "\n";
            printUsage(std::cerr);
            return kExitUsage;
        }
    }
    if (i == words.size()) {
        printUsage(std::cerr);
        return kExitUsage;
    }
    if (words[i] == "help") {
        if (i + 1 < words.size()) {
            if (const Command* c = findCommand(words[i + 1])) {
                printCommandUsage(*c, std::cout);
                return kExitOk;
            }
        }
        printUsage(std::cout);
        return kExitOk;
    }
    const Command* command = findCommand(words[i]);
    if (command == nullptr) {
        std::cerr << "krevolctl: unknown command " << words[i] << "\n";
        printUsage(std::cerr);
        return kExitUsage;
    }
    std::vector<std::string> args(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end());
    if (json) args.insert(args.begin(), "--json");
    // The command's name only: its arguments may name an account.
    krevol::logEvent("cli",
                     std::string("krevolctl ") + krevol::kProgramVersion + " " + command->name + ": start");
    const int status = command->run(args, std::cout, std::cerr);
    krevol::logEvent("cli",
                     std::string("krevolctl ") + command->name + ": exit status " + std::to_string(status));
    return status;
}
