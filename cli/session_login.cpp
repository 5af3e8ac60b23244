#include "cli/session_login.h"

#include <cstdlib>
#include <ostream>

#include "cli/command.h"
#include "cli/password_input.h"
#include "cli/report.h"
#include "net/transport.h"

namespace krevol::cli {

bool takeUserOption(std::vector<std::string>& args, std::string& user, std::ostream& err) {
    constexpr std::string_view kOption = "--user";
    std::vector<std::string> rest;
    rest.reserve(args.size());
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") options = false;
        if (options && a == kOption) {
            if (i + 1 >= args.size()) {
                err << "krevolctl: --user needs an e-mail address\n";
                return false;
            }
            user = args[++i];
        } else if (options && a.rfind(std::string(kOption) + "=", 0) == 0) {
            user = a.substr(kOption.size() + 1);
        } else {
            rest.push_back(a);
        }
    }
    args = std::move(rest);
    return true;
}

std::string sessionAddress(const std::string& userOption) {
    if (!userOption.empty()) return userOption;
    const char* env = std::getenv("KREVOL_USER");
    return env != nullptr ? std::string(env) : std::string();
}

bool checkSessionAddress(const std::string& userOption, std::ostream& err) {
    if (!sessionAddress(userOption).empty()) return true;
    err << "krevolctl: no account: give --user EMAIL or set KREVOL_USER\n";
    return false;
}

std::optional<int> signInForCommand(const std::string& userOption, bool json, AccountSession& session,
                                    std::ostream& out, std::ostream& err) {
    if (!checkSessionAddress(userOption, err)) return kExitUsage;
    const std::string email = sessionAddress(userOption);
    std::string password;
    if (!readPassword(password)) {
        err << "krevolctl: no password could be read\n";
        return kExitLocal;
    }

    Report report;
    {
        ReportPresenter presenter(report);
        const CallReply reply = login(email, password);
        const CallOutcome outcome = classifyReply(AccountCall::Login, reply);
        applySignIn(session, email, password, reply, outcome);
        if (outcome.success) return std::nullopt;
        showOutcome(outcome);
        report.add("result", static_cast<std::int64_t>(reply.result));
        if (reply.result == kResultOk) report.add("status", static_cast<std::int64_t>(outcome.status));
        report.add("answer", reply.answer);
        report.add("signedIn", false);
    }
    report.print(out, json);
    return kExitFailed;
}

}  // namespace krevol::cli
