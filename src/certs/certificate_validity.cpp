// ZORBELUIsValidity: whether a certificate is within its validity at a moment.
#include <openssl/x509.h>

#include "certs/certificate_decoding.h"
#include "x509/ossl_ptr.h"
#include "frame/module_state.h"
#include "util/generalized_time.h"
#include "zorbelutil.h"

namespace zorbelu::certs {
namespace {

uint32_t IsValidity(const ZORBELUCertBlob* cert, int64_t time) {
    if (cert == nullptr || time <= 0 || cert->data == nullptr || cert->length == 0) return ZORBELU_ERR_PARAM;
    if (cert->encoding < ZORBELU_ENCODING_DETECT || cert->encoding > ZORBELU_ENCODING_PEM)
        return ZORBELU_ERR_CRL_ENCODING;
    X509Ptr x509(DecodeCertificate(cert->data, static_cast<int32_t>(cert->length), cert->encoding));
    if (!x509) return ZORBELU_VS_CERT_INVALID;
    // Both ends count as valid.
    if (time < util::Asn1TimeToTimeT(X509_get0_notBefore(x509.get()))) return ZORBELU_ERR_NOT_YET_VALID;
    if (time > util::Asn1TimeToTimeT(X509_get0_notAfter(x509.get()))) return ZORBELU_ERR_EXPIRED;
    return ZORBELU_OK;
}

}  // namespace
}  // namespace zorbelu::certs

extern "C" ZORBELU_API uint32_t ZORBELUIsValidity(const ZORBELUCertBlob* cert, int64_t time) {
    return zorbelu::frame::GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return zorbelu::certs::IsValidity(cert, time); });
}
