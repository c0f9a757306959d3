// Arbitrary bytes as a certificate in each encoding (and PEM to DER), whose URLs
// are read: the CRL distribution points (the first plain-HTTP one, and
// ZORBELUGetCDP, which takes https too) and
// the caIssuers URLs; and the same bytes as the answer of a caIssuers download.
// Every URL handed out has the scheme promised.
#include <openssl/err.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "certs/ca_issuers.h"
#include "certs/certificate_decoding.h"
#include "certs/chain_engine.h"
#include "certs/crl_distribution_points.h"
#include "x509/ossl_ptr.h"
#include "zorbelutil.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() > prefix.size() && text.substr(0, prefix.size()) == prefix;
}

void ReadUrls(X509* certificate) {
    char* url = nullptr;
    uint32_t pointNo = 0;
    if (zorbelu::certs::GetFirstCrlUrl(certificate, &url, &pointNo) == ZORBELU_OK) {
        if (!StartsWith(url, "http://") || pointNo == 0) __builtin_trap();
        std::free(url);
    }
    const std::vector<std::string> issuers = zorbelu::platform::CaIssuerUrls(certificate);
    if (issuers.size() > zorbelu::platform::kMaxIssuerUrls) __builtin_trap();
    for (const std::string& issuer : issuers)
        if (!StartsWith(issuer, "http://")) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT32_MAX) return 0;
    for (uint32_t encoding : {ZORBELU_ENCODING_DER, ZORBELU_ENCODING_PEM})
        X509_free(zorbelu::certs::DecodeCertificate(data, static_cast<int32_t>(size), encoding));
    uint8_t der[15000];
    uint32_t derCapacity = sizeof der;
    (void)zorbelu::certs::PemCertToDer(data, static_cast<uint32_t>(size), der, &derCapacity);
    if (zorbelu::X509Ptr certificate{
            zorbelu::certs::DecodeCertificate(data, static_cast<int32_t>(size), ZORBELU_ENCODING_DETECT)})
        ReadUrls(certificate.get());

    ZORBELUCertBlob blob{const_cast<uint8_t*>(data), static_cast<uint32_t>(size), ZORBELU_ENCODING_DETECT};
    char buffer[512];
    int32_t capacity = sizeof buffer;
    if (size > 0 && ZORBELUGetCDP(&blob, buffer, &capacity) == ZORBELU_OK) {
        if (capacity < 0 || capacity > static_cast<int32_t>(sizeof buffer)) __builtin_trap();
        const std::string_view url(buffer, static_cast<size_t>(capacity));
        if (!StartsWith(url, "http://") && !StartsWith(url, "https://")) __builtin_trap();
    }

    const std::vector<zorbelu::X509Ptr> downloaded =
        zorbelu::platform::CaIssuerCertificates(std::vector<uint8_t>(data, data + size));
    if (downloaded.size() > zorbelu::platform::kMaxIssuerCertificatesPerDownload) __builtin_trap();
    ERR_clear_error();
    return 0;
}
