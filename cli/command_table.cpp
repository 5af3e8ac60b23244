#include <ostream>

#include "cli/command.h"

namespace krevol::cli {

const std::vector<Command>& commands() {
    static const std::vector<Command> table{
        {"login", "EMAIL",
         "sign in; the password is read from the terminal without echo, or from standard input",
         &runLoginCommand},
        {"post", "PATH BODYFILE",
         "post the bytes of BODYFILE (\"-\": standard input) to the API path PATH (or a full http:// URL)",
         &runPostCommand},
        {"download", "URL FOLDER", "download URL into FOLDER as the upgrade does", &runDownloadCommand},
        {"detect", "",
         "find the tool's drive and serial as the main window does (KREVOL_VOLUMES: a folder of drives)",
         &runDetectCommand},
        {"catalogue", "[--user EMAIL]",
         "sign in and list the detected tool's software as the upgrade page loads it", &runCatalogueCommand},
        {"report", "[--user EMAIL] ID",
         "sign in and report the latest version of the tool's catalogue entry ID as installed",
         &runReportCommand},
        {"content", "", "write the tool's content file obdtool/sys/dev from the server", &runContentCommand},
        {"install", "[--user EMAIL] [--all] [--reinstall] [NAME...]",
         "sign in and install the named software (--all: every upgrade on offer) onto the detected tool",
         &runInstallCommand},
        {"pack", "FOLDER ARCHIVE", "pack FOLDER and all below it into ARCHIVE", &runPackCommand},
        {"unpack", "ARCHIVE FOLDER", "unpack ARCHIVE into FOLDER, safely", &runUnpackCommand},
        {"upload-logs", "", "pack and upload the detected tool's log folder as the main window does",
         &runUploadLogsCommand},
        {"format", "[--user EMAIL] [--yes]",
         "save the tool's software into the reset cache, then format its card (FAT32, 32 KiB clusters)",
         &runFormatCommand},
        {"eject", "[MOUNTPOINT]", "unmount and power off the tool's drive (default: the detected one)",
         &runEjectCommand},
        {"suite-version", "",
         "ask the server for the newest PC suite: its version, address and whether it is newer",
         &runSuiteVersionCommand},
    };
    return table;
}

const Command* findCommand(const std::string& name) {
    for (const Command& c : commands())
        if (name == c.name) return &c;
    return nullptr;
}

void printCommandUsage(const Command& command, std::ostream& out) {
    out << "usage: krevolctl " << command.name << " [--json] " << command.arguments << "\n  "
        << command.summary << "\n";
}

CommandWords splitWords(const std::vector<std::string>& args) {
    CommandWords words;
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && a == "--json") {
            words.json = true;
        } else if (options && (a == "-h" || a == "--help")) {
            words.help = true;
        } else if (options && a.size() > 1 && a[0] == '-') {
            if (words.unknownOption.empty()) words.unknownOption = a;
        } else {
            words.positional.push_back(a);
        }
    }
    return words;
}

bool takeFlag(std::vector<std::string>& args, std::string_view flag) {
    bool given = false;
    bool options = true;
    std::vector<std::string> rest;
    rest.reserve(args.size());
    for (std::string& a : args) {
        if (options && a == "--") options = false;
        if (options && a == flag)
            given = true;
        else
            rest.push_back(std::move(a));
    }
    args = std::move(rest);
    return given;
}

std::optional<int> readCommandWords(const std::string& name, const std::vector<std::string>& args,
                                    std::size_t positionals, CommandWords& words, std::ostream& out,
                                    std::ostream& err) {
    const Command& self = *findCommand(name);
    words = splitWords(args);
    if (words.help) {
        printCommandUsage(self, out);
        return kExitOk;
    }
    if (!words.unknownOption.empty() || words.positional.size() != positionals) {
        if (!words.unknownOption.empty()) err << "krevolctl: unknown option " << words.unknownOption << "\n";
        printCommandUsage(self, err);
        return kExitUsage;
    }
    return std::nullopt;
}

}  // namespace krevol::cli
