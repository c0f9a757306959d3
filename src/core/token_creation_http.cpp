// ZORBELHTTP3161CreateTimeStampToken: an RFC 3161 request to a TSA over
// HTTP, and the checks that the answer is the token asked for.
#include "core/token_creation_http.h"

#include "core/ber_to_der.h"
#include "core/boundary.h"
#include "core/timestamp_request.h"
#include "zorbelcomm.h"
#include "x509/ossl_ptr.h"

namespace zorbel {

namespace {

constexpr uint32_t kFirstCapacity = 64u * 1024u;
constexpr uint32_t kMaxAnswer = 8u * 1024u * 1024u;
constexpr int kMaxAttempts = 3;
constexpr const char* kContentType = "application/timestamp-query";

// Posts the request; grows the buffer to the size the communication
// library reports (it keeps the body, so the retry is not a new request).
[[nodiscard]] uint32_t Post(const ZORBELTSAConnection& connection, const std::vector<uint8_t>& body,
                            std::vector<uint8_t>& answer) {
    answer.resize(kFirstCapacity);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        uint32_t length = static_cast<uint32_t>(answer.size());
        const uint32_t rc = ZORBELPRVPostHTTPEx(connection.url, kContentType, body.data(),
                                                static_cast<uint32_t>(body.size()), answer.data(), &length,
                                                connection.timeoutMs, connection.owner);
        if (rc == ZORBELCOMM_OK) {
            answer.resize(length);
            return ZORBEL_OK;
        }
        if (rc != ZORBELCOMM_ERR_BUFFER_TOO_SMALL) return rc;
        if (length <= answer.size() || length > kMaxAnswer) return ZORBEL_ERR_TSA_MISMATCH;
        answer.resize(length);
    }
    return ZORBEL_ERR_TSA_MISMATCH;
}

bool NonceMatches(TS_TST_INFO* tstInfo, const ASN1_INTEGER* sent) {
    const ASN1_INTEGER* received = TS_TST_INFO_get_nonce(tstInfo);
    if (sent == nullptr) return true;
    return received != nullptr && ASN1_INTEGER_cmp(received, sent) == 0;
}

}  // namespace

uint32_t AcceptAnswer(const std::vector<uint8_t>& answer, const ZORBELTimeStampRequest& request,
                      const ASN1_INTEGER* nonce, Token& token) {
    std::vector<uint8_t> der, contentInfo;
    uint32_t status = 0;
    if (answer.empty() || !BerToDer(answer.data(), answer.size(), der) || !ReadResponse(der, status, contentInfo))
        return ZORBEL_ERR_TSA_MISMATCH;
    if (status > TS_STATUS_GRANTED_WITH_MODS) return ZORBEL_ERR_TSA_REJECTED;
    if (contentInfo.empty() || contentInfo.size() > UINT32_MAX) return ZORBEL_ERR_TSA_MISMATCH;
    const ZORBELUBlob blob{contentInfo.data(), static_cast<uint32_t>(contentInfo.size())};
    if (ReadToken(&blob, token) != ZORBEL_OK) return ZORBEL_ERR_TSA_MISMATCH;
    if (!NonceMatches(token.tstInfo.get(), nonce) || !ImprintMatches(token.tstInfo.get(), request))
        return ZORBEL_ERR_TSA_MISMATCH;
    return ZORBEL_OK;
}

namespace {

[[nodiscard]] uint32_t CreateOverHttp(const ZORBELTSAConnection& connection, const ZORBELTimeStampRequest& request,
                                      ZORBELUCertBlob* out) {
    TsReqPtr req;
    Asn1IntPtr nonce;
    if (const uint32_t rc = BuildRequest(request, req, nonce); rc != ZORBEL_OK) return rc;
    unsigned char* encoded = nullptr;
    const int size = i2d_TS_REQ(req.get(), &encoded);
    const OpenSslBytesPtr owned(encoded);
    if (size <= 0) return ZORBEL_ERR_MEMORY;
    const std::vector<uint8_t> body(encoded, encoded + size);
    std::vector<uint8_t> answer;
    if (const uint32_t rc = Post(connection, body, answer); rc != ZORBEL_OK) return rc;
    Token token;
    if (const uint32_t rc = AcceptAnswer(answer, request, nonce.get(), token); rc != ZORBEL_OK) return rc;
    return WriteOutput(out, token.contentInfo.data(), token.contentInfo.size());
}

}  // namespace

}  // namespace zorbel

extern "C" ZORBEL_API uint32_t ZORBELHTTP3161CreateTimeStampToken(uintptr_t value1, const ZORBELTimeStampRequest* request,
                                                                  uintptr_t value2) {
    const auto* connection = reinterpret_cast<const ZORBELTSAConnection*>(value1);
    auto* out = reinterpret_cast<ZORBELUCertBlob*>(value2);
    return zorbel::Guarded([&]() -> uint32_t {
        if (connection == nullptr || connection->url == nullptr || connection->url[0] == '\0' || out == nullptr ||
            !zorbel::IsUsableRequest(request))
            return ZORBEL_ERR_PARAM;
        return zorbel::CreateOverHttp(*connection, *request, out);
    });
}
