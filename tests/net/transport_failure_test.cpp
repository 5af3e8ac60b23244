// The error box of a failed transfer: the common failures in the catalogue's words, the transport's
// own text after them in parentheses.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "app/messages.h"
#include "net/transport_failure.h"

namespace krevol {
namespace {

TEST(TransportFailure, CurlCodesAndTheirTexts) {
    const struct {
        int code;  // a CURLcode
        TransportFailure kind;
        int messageId;
        const char* english;
    } cases[] = {
        {CURLE_COULDNT_CONNECT, TransportFailure::CannotConnect, 340,
         "Cannot connect to the server. Please check the network connection and try again."},
        {CURLE_OPERATION_TIMEDOUT, TransportFailure::TimedOut, 341,
         "The server did not answer in time. Please try again."},
        {CURLE_COULDNT_RESOLVE_HOST, TransportFailure::HostNotFound, 342,
         "The server's address cannot be found. Please check the network connection."},
        {CURLE_COULDNT_RESOLVE_PROXY, TransportFailure::HostNotFound, 342, nullptr},
        {CURLE_RECV_ERROR, TransportFailure::ConnectionBroken, 343,
         "The connection to the server was interrupted. Please try again."},
        {CURLE_SEND_ERROR, TransportFailure::ConnectionBroken, 343, nullptr},
        {CURLE_GOT_NOTHING, TransportFailure::ConnectionBroken, 343, nullptr},
        {CURLE_PARTIAL_FILE, TransportFailure::ConnectionBroken, 343, nullptr},
        {CURLE_SSL_CONNECT_ERROR, TransportFailure::Tls, 344,
         "A secure connection to the server cannot be set up."},
        {CURLE_PEER_FAILED_VERIFICATION, TransportFailure::Tls, 344, nullptr},
        {CURLE_SSL_CACERT_BADFILE, TransportFailure::Tls, 344, nullptr},
        {CURLE_FILESIZE_EXCEEDED, TransportFailure::AnswerTooLarge, 345, "The server's answer is too large."},
        {CURLE_WRITE_ERROR, TransportFailure::Other, 346, "The connection to the server failed."},
        {CURLE_OUT_OF_MEMORY, TransportFailure::Other, 346, nullptr},
        {9999, TransportFailure::Other, 346, nullptr},  // a code of a later libcurl
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(transportFailureOfCurl(c.code), c.kind);
        EXPECT_EQ(transportFailureMessageId(c.kind), c.messageId);
        if (c.english != nullptr) {
            EXPECT_EQ(loadText(c.messageId, kLanguageEnglish), c.english);
        }
        EXPECT_FALSE(loadText(c.messageId, kLanguageChinese).empty());
    }
}

TEST(TransportFailure, TextInTheRunsLanguageWithTheDetailInParentheses) {
    setUiLanguage(kLanguageChinese);
    EXPECT_EQ(transportFailureText(TransportFailure::CannotConnect, "Connection refused"),
              loadText(340, kLanguageChinese) + " (Connection refused)");
    setUiLanguage(kLanguageEnglish);
    EXPECT_EQ(transportFailureText(TransportFailure::TimedOut, ""), loadText(341, kLanguageEnglish));

    // A long detail is cut to 260 bytes, never inside a UTF-8 character.
    const std::string longDetail = std::string(259, 'x') + "\xE4\xB8\xAD" + "tail";
    const std::string text = transportFailureText(TransportFailure::Other, longDetail);
    EXPECT_EQ(text, loadText(346) + " (" + std::string(259, 'x') + ")");
}

}  // namespace
}  // namespace krevol
