#include "net/transport_failure.h"

#include <curl/curl.h>

#include "app/diagnostic_log.h"
#include "app/message_presenter.h"
#include "app/messages.h"
#include "net/transport.h"

namespace krevol {

TransportFailure transportFailureOfCurl(int curlCode) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_COULDNT_CONNECT:
            return TransportFailure::CannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return TransportFailure::TimedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return TransportFailure::HostNotFound;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return TransportFailure::ConnectionBroken;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
            return TransportFailure::Tls;
        case CURLE_FILESIZE_EXCEEDED:
            return TransportFailure::AnswerTooLarge;
        default:
            return TransportFailure::Other;
    }
}

int transportFailureMessageId(TransportFailure failure) {
    switch (failure) {
        case TransportFailure::CannotConnect:
            return msgId(340);
        case TransportFailure::TimedOut:
            return msgId(341);
        case TransportFailure::HostNotFound:
            return msgId(342);
        case TransportFailure::ConnectionBroken:
            return msgId(343);
        case TransportFailure::Tls:
            return msgId(344);
        case TransportFailure::AnswerTooLarge:
            return msgId(345);
        case TransportFailure::Other:
            break;
    }
    return msgId(346);
}

std::string transportFailureText(TransportFailure failure) {
    return loadText(transportFailureMessageId(failure));
}

const char* transportFailureName(TransportFailure failure) {
    switch (failure) {
        case TransportFailure::CannotConnect:
            return "cannot-connect";
        case TransportFailure::TimedOut:
            return "timed-out";
        case TransportFailure::HostNotFound:
            return "host-not-found";
        case TransportFailure::ConnectionBroken:
            return "connection-broken";
        case TransportFailure::Tls:
            return "tls";
        case TransportFailure::AnswerTooLarge:
            return "answer-too-large";
        case TransportFailure::Other:
            break;
    }
    return "other";
}

void showTransportFailure(TransportFailure failure, std::string_view detail) {
    std::string line = std::string(transportFailureName(failure)) + ", box " +
                       std::to_string(transportFailureMessageId(failure)) + ":" +
                       std::to_string(kResultTransportFailure);
    if (!detail.empty()) line += "; transport: " + withoutUrlQueries(detail);
    logEvent("transport", line);
    showErrorBox(kResultTransportFailure, transportFailureText(failure));
}

}  // namespace krevol
