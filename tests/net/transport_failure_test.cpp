// The error box of a failed transfer: the common failures in the catalogue's words; the transport's
// own text in the diagnostic log.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "app/messages.h"
#include "net/transport_failure.h"
#include "support/log_capture.h"
#include "support/recording_presenter.h"

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

// The box says what happened in the catalogue's words, in the run's language, with the code; the
// transport's own English text (byte counts, addresses, times) goes to the diagnostic log only.
TEST(TransportFailure, TheBoxShowsTheCatalogueTextAndTheLogTheTransportsText) {
    const std::string raw = "transfer closed with 1440214 bytes remaining to read after 0 ms";
    for (const int language : {kLanguageEnglish, kLanguageChinese}) {
        SCOPED_TRACE(language);
        setUiLanguage(language);
        test::LogCapture log;
        test::RecordingPresenter presenter;

        showTransportFailure(TransportFailure::ConnectionBroken, raw);

        const auto shown = presenter.shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].code, 5);
        EXPECT_EQ(shown[0].text, loadText(343, language) + ":5");
        EXPECT_EQ(transportFailureText(TransportFailure::ConnectionBroken), loadText(343, language));
        EXPECT_NE(log.text().find("] transport: connection-broken, box 343:5; transport: " + raw + "\n"),
                  std::string::npos)
            << log.text();
    }
    setUiLanguage(kLanguageEnglish);
}

}  // namespace
}  // namespace krevol
