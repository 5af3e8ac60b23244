// The text of the error box that a failed transfer shows (result 5).
//
// The box keeps its form "text:5"; the text is a catalogue message for the kind of failure, in the
// run's language, followed by the transport's own (English) description in parentheses when there
// is one, for support and for the curious.
#pragma once

#include <string>

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

// The catalogue text, then " (detail)" when `detail` is not empty. The detail is cut to 260 bytes.
std::string transportFailureText(TransportFailure failure, const std::string& detail);

}  // namespace krevol
