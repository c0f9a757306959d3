#include "certs/zorbelutil_lib.h"

#include <openssl/crypto.h>

#include <memory>

#include "certs/names.h"
#include "x509/names.h"
#include "x509/decoding.h"
#include "certs/chain_engine.h"
#include "zorbelutil.h"

namespace zorbelu::certs {
namespace {

namespace pf = zorbelu::platform;

// The DER buffer of i2d_X509, released naming this source and line 581, as
// the library always has.
struct DerBufferFree {
    void operator()(unsigned char* der) const noexcept { CRYPTO_free(der, "zorbelutil_lib", 581); }
};

// True when the element's certificate has the subject name `wanted`.
bool SubjectIs(const pf::CERT_CHAIN_ELEMENT& element, const uint8_t* wanted, size_t wantedLength) {
    const pf::CertContext* context = element.pCertContext.get();
    if (context == nullptr) return false;
    const uint8_t* p = context->pbCertEncoded;
    const X509Ptr certificate = x509::DecodeDerCertificateAt(&p, context->cbCertEncoded);
    const unsigned char* subject = nullptr;
    size_t subjectLength = 0;
    return certificate && x509::NameDer(X509_get_subject_name(certificate.get()), &subject, &subjectLength) &&
           NamesEqual(subject, subjectLength, wanted, wantedLength);
}

}  // namespace

uint32_t FetchIssuersWithWindowsChain(X509* certificate, const pf::Deadline& deadline) {
    if (certificate == nullptr) return kChainEngineFailed;
    unsigned char* rawDer = nullptr;
    const int length = i2d_X509(certificate, &rawDer);
    const std::unique_ptr<unsigned char, DerBufferFree> der(rawDer);
    if (length <= 0) return kChainEngineFailed;
    const pf::UniqueCertContext context(pf::CertCreateCertificateContext(
        pf::X509_ASN_ENCODING | pf::PKCS_7_ASN_ENCODING, der.get(), static_cast<uint32_t>(length)));
    if (!context) return kChainEngineFailed;

    pf::CERT_CHAIN_PARA parameters;  // size 16, no requested usage
    parameters.pDeadline = &deadline;
    pf::PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    if (!pf::CertGetCertificateChain(nullptr, context.get(), nullptr, nullptr, &parameters,
                                     pf::CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr, &rawChain))
        return kChainEngineFailed;
    const pf::UniqueCertChain chain(rawChain);
    if (chain->TrustStatus.dwErrorStatus != pf::CERT_TRUST_NO_ERROR) return kChainEngineFailed;

    const uint8_t* issuer = nullptr;
    size_t issuerLength = 0;
    if (!x509::GetIssuerAndSubjectDer(certificate, &issuer, &issuerLength)) return kChainEngineFailed;
    for (const pf::CERT_SIMPLE_CHAIN& simple : chain->rgpChain)
        for (const pf::CERT_CHAIN_ELEMENT& element : simple.rgpElement)
            if (SubjectIs(element, issuer, issuerLength)) return ZORBELU_OK;
    return kChainEngineFailed;
}

}  // namespace zorbelu::certs
