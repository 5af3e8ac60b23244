// One account flow of the sign-in window: what its worker brings back and what the window does
// with it on the user-interface thread (CKrevolRegistDlg::runFlow).
#pragma once

#include <functional>

#include "account/account_calls.h"

namespace krevol {

// The answer of a flow's worker and the call whose outcome table reads it (a flow of two calls
// names the one that decided it).
struct FlowAnswer {
    AccountCall call = AccountCall::Login;
    CallReply reply;
};

struct FlowSteps {
    // Once the answer is read, before its message is shown; success or not.
    std::function<void(const FlowAnswer& answer, const CallOutcome& outcome)> beforeMessage;
    // After the message, only when the call succeeded.
    std::function<void(const FlowAnswer& answer)> succeeded;
};

}  // namespace krevol
