// What a failed transfer (result 5) shows, and what it writes to the diagnostic log.
//
// The error box shows the catalogue message for the kind of failure, in the run's language, with
// the code: "text:5". The transport's own description (English, with addresses, byte counts and
// times) goes to the diagnostic log only, never into the box.
#pragma once

#include <string>
#include <string_view>

namespace krevol {

enum class TransportFailure {
    CannotConnect,     // the server refused or could not be reached
    TimedOut,          // no connection or no progress within the time-outs
    HostNotFound,      // the server's (or the proxy's) name did not resolve
    ConnectionBroken,  // reset, closed early, or the answer broke off
    Tls,               // a secure connection could not be set up or verified
    AnswerTooLarge,    // the answer is larger than the program accepts
    Other,             // anything else the transport reports
};

// The kind of failure of a libcurl result code (a CURLcode value).
TransportFailure transportFailureOfCurl(int curlCode);

// The catalogue message of each kind (340-346).
int transportFailureMessageId(TransportFailure failure);

// The catalogue text of the kind, in the run's language.
std::string transportFailureText(TransportFailure failure);

// A short name of the kind for the log ("cannot-connect", ...).
const char* transportFailureName(TransportFailure failure);

// Writes the failure and the transport's description `detail` to the diagnostic log (area
// "transport"), then shows the error box transportFailureText(failure) with the code 5.
void showTransportFailure(TransportFailure failure, std::string_view detail);

}  // namespace krevol
