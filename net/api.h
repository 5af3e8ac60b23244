// The API server's calls: URL layout, request envelope, the text-search readers of answers and
// the message convention every caller of an API call follows.
//
// A call is made in three steps:
//
//   if (missingArgument({email, password})) -> result kResultMissingArgument, nothing sent
//   body = fillTemplate(requestBody({"\"username\": \"%s\"", "\"password\" : \"%s\""}),
//                       {jsonText(email), jsonText(password)});
//   result = postJson(apiUrl("user/login"), body, answer);
//
// and its answer is turned into at most one message with the call's ApiMessages:
//
//   static const ApiMessages kMessages{msgId(131), {{1, msgId(129)}}, msgId(130)};
//   ApiOutcome outcome = classifyApiReply(result, answer, kMessages);
//   showApiOutcome(outcome);
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "net/json_text.h"

namespace krevol {

// Program result values beside the transport codes.
constexpr int kResultMissingArgument = 888;  // a required text argument was empty; nothing was sent
constexpr int kStatusUnreadable = 165;       // the answer holds no readable "statuscode"

constexpr int kApiPort = 9092;
inline constexpr std::string_view kApiRoot = "/krevol-manager-api/";

// "host:port" of the API server: the environment variable KREVOL_API_HOST ("host" or
// "host:port", for the sandbox and tests) when set and not empty, otherwise the build-time
// KREVOL_DEFAULT_API_HOST; the port is 9092 unless the variable names one.
std::string apiHostPort();

// "http://" + apiHostPort() + "/krevol-manager-api/" + path, e.g. apiUrl("user/login").
std::string apiUrl(const std::string& path);

// The envelope of every request body.
inline constexpr std::string_view kEnvelopeHead =
    "{\"statuscode\": 0,\r\n\t\t\"message\": \"\",\r\n\t\t\"data\" : {\r\n\t\t";
inline constexpr std::string_view kMemberSeparator = ",\r\n\t\t";
inline constexpr std::string_view kEnvelopeTail = "\r\n\t\t}}";

// The template of a body: the head, the members joined by the separator, the tail.
std::string requestBody(std::initializer_list<std::string_view> members);

// Replaces each "%s" and "%d" of `pattern` in order by the next value, inserted as it is
// ("%%" gives "%"). Text values placed inside quotes must be passed through jsonText(); the
// user id and token of the sign-in answer are passed bare. A missing value leaves its
// conversion empty.
std::string fillTemplate(std::string_view pattern, std::initializer_list<std::string_view> values);

// True when one of the required text arguments is empty (the call then returns 888 unsent).
bool missingArgument(std::initializer_list<std::string_view> arguments);

// A number as the server's numeric members are read: leading white space, an optional sign, digits
// up to the first other character; no digits gives 0. Values beyond 32 bits saturate.
int decimalPrefix(std::string_view text);

// The answer's status: the text after the first "\"statuscode\":" up to the first comma after
// it, read as a decimal integer (leading white space, an optional sign, digits; no digits gives
// 0). 165 when the key is missing, nothing follows it, or no comma follows.
int parseStatusCode(std::string_view answer);

// The bare value of the first "\"key\":" in the text: everything up to the next comma, quotes and
// spaces kept. False when the key is missing, nothing follows it, or no comma follows.
bool readRawValue(std::string_view text, std::string_view key, std::string& value);

// The quoted value of the first "\"key\":\"" in the text: everything up to the next double
// quote. `remainder` is the text after the opening quote, for reading further members in order.
// False when the key is missing or the value has no closing quote.
bool readQuotedValue(std::string_view text, std::string_view key, std::string& value, std::string& remainder);
// The same without the remainder (no copy of the rest of the text: for readers that search many
// keys in a long answer).
bool readQuotedValue(std::string_view text, std::string_view key, std::string& value);

// The same two readers for callers that must tell a missing key from a value that does not end
// (the device list reports them with different codes). `value` is set only when Found.
enum class ValueRead { Found, KeyMissing, EndMissing };
ValueRead findRawValue(std::string_view text, std::string_view key, std::string& value);
ValueRead findQuotedValue(std::string_view text, std::string_view key, std::string& value);

// ---- Message convention ----

// A status code that the call knows, with its message (shown without a number; 0 for none).
struct StatusMessage {
    int status = 0;
    int messageId = 0;
};

// What a call shows for its answers.
struct ApiMessages {
    int successMessageId = 0;          // status 200; 0 shows nothing
    std::vector<StatusMessage> known;  // statuses with their own message
    int failureMessageId = 0;          // any other status
    bool failureWithCode = true;       // append the status to the failure message ("%s:%d")
};

// The message chosen for one answer.
struct ApiOutcome {
    bool success = false;  // result 200 and status 200
    int result = 0;        // the call's result (200, a transport code or 888)
    int status = 0;        // parseStatusCode of the answer; 0 when the result was not 200
    int messageId = 0;     // message to show, 0 for none
    int code = 0;          // number appended to the message, 0 for none
};

// 1. result not 200: message 127 with the result appended;
// 2. status 165: message 224 without a number;
// 3. status 200: the success message (if any), without a number;
// 4. a known status: its message, without a number;
// 5. any other status: the failure message, with the status appended when failureWithCode.
ApiOutcome classifyApiReply(int result, std::string_view answer, const ApiMessages& messages);

// True for message 127 with the code 5. A transfer that broke off (result 5) has shown the
// transport's error box, which says what went wrong with the connection; message 127 with the same
// code would be a second box for one failure, so it is not shown (the outcome still records it).
bool repeatsTransportBox(int messageId, int code);

// Shows the outcome's message through the presenter (with its code when it has one); shows
// nothing when it has no message or when it repeats the transport's box (repeatsTransportBox). Returns the
// box's answer, 0 when nothing was shown.
int showApiOutcome(const ApiOutcome& outcome);

}  // namespace krevol
