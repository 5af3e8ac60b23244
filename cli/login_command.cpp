// krevolctl login EMAIL: the sign-in exactly as the sign-in dialog makes it.
#include <ostream>

#include "account/account_calls.h"
#include "cli/command.h"
#include "cli/password_input.h"
#include "cli/report.h"
#include "net/transport.h"

namespace krevol::cli {

int runLoginCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("login", args, 1, words, out, err)) return *exit;
    const std::string& email = words.positional[0];
    std::string password;
    if (!readPassword(password)) {
        err << "krevolctl: no password could be read\n";
        return kExitLocal;
    }

    Report report;
    AccountSession session;
    bool signedIn = false;
    {
        ReportPresenter presenter(report);
        const CallReply reply = login(email, password);
        const CallOutcome outcome = classifyReply(AccountCall::Login, reply);
        applySignIn(session, email, password, reply, outcome);
        showOutcome(outcome);
        signedIn = outcome.success;
        report.add("result", static_cast<std::int64_t>(reply.result));
        if (reply.result == kResultOk) report.add("status", static_cast<std::int64_t>(outcome.status));
        report.add("answer", reply.answer);
        report.add("signedIn", signedIn);
        if (signedIn) {
            report.add("userId", session.userId);
            report.add("token", session.token);
        }
    }
    report.print(out, words.json);
    return signedIn ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
