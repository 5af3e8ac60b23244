// The PC suite's own version: asking the API server for the newest suite, reading its reply and
// comparing versions. Nothing here shows anything; the main window and krevolctl present the
// outcome (message, page text, action link).
#pragma once

#include <string>
#include <string_view>

#include "app/version.h"

namespace krevol {

// API path and body template of the suite version query (phone type "0" for the PC suite).
inline constexpr std::string_view kSuiteVersionPath = "pctool/selectUpgradeTool";
inline constexpr std::string_view kSuitePhoneType = "0";

// The reply's values: the package's download address and the server's newest version text.
struct SuiteReply {
    std::string packageUrl;
    std::string serverVersion;  // may be empty
};

// Reads "packagePath" (must be there and not empty: false otherwise) and then "versionId" in the
// text after the opening quote of the address. A missing "versionId" leaves the version empty.
bool parseSuiteReply(std::string_view answer, SuiteReply& reply);

// True when `serverVersion` is a later version than `runningVersion`. Versions are dotted parts
// compared left to right: two parts that are both decimal numbers compare by value (4.10.0 is
// later than 4.3.0); any other pair compares as text, byte by byte. A missing part counts as "0"
// (4.3 equals 4.3.0). Blanks around either version are ignored. An empty server version is never
// newer.
bool isNewerSuite(std::string_view serverVersion, std::string_view runningVersion = kProgramVersion);

// What one query found.
struct SuiteVersionQuery {
    bool ok = false;     // reply read: the versions were compared
    int result = 0;      // transport result of the post
    int status = 0;      // the reply's statuscode (result 200 only)
    int messageId = 0;   // failure message to show (127, 224, 167), 0 when ok
    int code = 0;        // number appended to it, 0 for none
    SuiteReply reply;    // set when ok
    bool newer = false;  // the server's suite is later than the running one
};

// Posts the query and reads the reply; blocking (run it off the user-interface thread).
//   transport result not 200 → 127 with the result; statuscode 165 → 224; another statuscode but
//   200 → 167 with the status; no package address → 224 with code 1.
SuiteVersionQuery querySuiteVersion(std::string_view runningVersion = kProgramVersion);

// The texts that page 7 shows for a query that ended.
struct SuiteVersionTexts {
    std::string text;  // 212 (newer), 210 (latest), or 262 (failed)
    int linkId = 0;    // caption of the action link: 206 "Upgrade" when newer, else 207 "Complete"
};
SuiteVersionTexts suiteVersionTexts(const SuiteVersionQuery& query,
                                    std::string_view runningVersion = kProgramVersion);

}  // namespace krevol
