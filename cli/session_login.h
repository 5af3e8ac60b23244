// The sign-in shared by the krevolctl commands that need a session (catalogue, report, install):
// the same call and rules as `krevolctl login`, with the address from "--user EMAIL" (or
// "--user=EMAIL") or else the environment variable KREVOL_USER, and the password from the
// terminal without echo or from the first line of standard input (cli/password_input.h).
//
//   std::string user;
//   if (!takeUserOption(args, user, err)) return kExitUsage;   // before readCommandWords
//   if (!checkSessionAddress(user, err)) return kExitUsage;
//   ...
//   AccountSession session;
//   if (const auto exit = signInForCommand(user, words.json, session, out, err)) return *exit;
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "account/account_calls.h"

namespace krevol::cli {

// Usage text of the option, for the command table: "[--user EMAIL]".
inline constexpr const char* kUserOptionUsage = "[--user EMAIL]";

// Takes "--user EMAIL" and "--user=EMAIL" out of `args` (options end at "--"; the last one given
// counts). False, with a line on `err`, when "--user" has no value.
bool takeUserOption(std::vector<std::string>& args, std::string& user, std::ostream& err);

// The address to sign in with: `userOption` when not empty, otherwise KREVOL_USER (may be empty).
std::string sessionAddress(const std::string& userOption);

// True when there is an address to sign in with; otherwise false with a line on `err`. Lets a
// command refuse its usage before it touches the tool or asks for a password.
bool checkSessionAddress(const std::string& userOption, std::ostream& err);

// Signs in as `login` does. On success `session` holds the address, user id and token and nothing
// is printed (nullopt: the command goes on). Otherwise the exit status: kExitUsage when there is no
// address (a line on `err`), kExitLocal when no password could be read (nothing sent), kExitFailed
// when the server did not sign in; the sign-in's values ("result", "status", "answer",
// "signedIn": false) and its message are then printed on `out` like the command's own output.
std::optional<int> signInForCommand(const std::string& userOption, bool json, AccountSession& session,
                                    std::ostream& out, std::ostream& err);

}  // namespace krevol::cli
