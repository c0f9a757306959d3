#include "certs/core_store_chains.h"

#include <openssl/pem.h>

#include <algorithm>
#include <climits>
#include <new>
#include <vector>

#include "certs/cert_blob_array.h"
#include "certs/certificate_decoding.h"
#include "certs/names.h"

namespace zorbelu::certs {
namespace {

constexpr uint32_t kEncodingDetect = 1;
constexpr uint32_t kEncodingDer = 2;
constexpr uint32_t kEncodingPem = 3;

struct CoreStoreFree {
    void operator()(ZORBELCertStore* store) const noexcept { (void)ZORBELFreeCertStore(store); }
};
using CoreStorePtr = std::unique_ptr<ZORBELCertStore, CoreStoreFree>;

bool UsableStore(const ZORBELCertStore* store) { return store != nullptr && store->size == ZORBEL_CERT_STORE_MARK; }

X509* DecodeBlob(const ZORBELUCertBlob& blob) {
    return DecodeCertificate(blob.data, static_cast<int32_t>(blob.length), blob.encoding);
}

// The DER of a CRL's issuer name; false when it cannot be had.
bool CrlIssuerDer(X509_CRL* crl, const uint8_t** der, size_t* length) {
    const X509_NAME* name = X509_CRL_get_issuer(crl);
    size_t size = 0;
    if (name == nullptr || X509_NAME_get0_der(const_cast<X509_NAME*>(name), der, &size) != 1) return false;
    *length = size;
    return true;
}

// Copies of the first `count` nodes of a list, ended by a zero element.
CertBlobArray CopyNodes(const ZORBELCertNode* head, size_t count) {
    CertBlobArray array(new ZORBELUCertBlob[count + 1]());
    const ZORBELCertNode* node = head;
    for (size_t i = 0; i < count && node != nullptr; ++i, node = node->next) CopyCertBlob(*node, array.get()[i]);
    return array;
}

}  // namespace

X509CrlPtr DecodeCrl(const uint8_t* data, uint32_t length, uint32_t encoding) {
    if (data == nullptr || length == 0 || length > INT_MAX) return nullptr;
    if (encoding == kEncodingDetect) encoding = DetectEncoding(data, length);
    if (encoding != kEncodingDer && encoding != kEncodingPem) return nullptr;
    BioPtr bio(BIO_new_mem_buf(data, static_cast<int>(length)));
    if (!bio) return nullptr;
    return X509CrlPtr(encoding == kEncodingDer ? d2i_X509_CRL_bio(bio.get(), nullptr)
                                               : PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr));
}

uint32_t BuildCAChainForCert(const ZORBELCertStore* store, const ZORBELUCertBlob* cert, ZORBELUCertBlob** out) {
    *out = nullptr;
    if (!UsableStore(store)) return ZORBELU_ERR_CERT_STORE;
    if (cert == nullptr) return ZORBELU_ERR_TSA_CERT;
    const X509Ptr certificate(DecodeBlob(*cert));
    const uint8_t* issuerDer = nullptr;
    size_t issuerLength = 0;
    if (!certificate || !GetIssuerAndSubjectDer(certificate.get(), &issuerDer, &issuerLength))
        return ZORBELU_ERR_CERT_DECODE;
    // The current issuer's bytes belong to the certificate that named it.
    std::vector<uint8_t> current(issuerDer, issuerDer + issuerLength);

    CoreStorePtr scratch;
    std::vector<size_t> taken;
    size_t count = 0;
    bool complete = false;
    try {
        bool restart = true;
        while (restart && !complete) {
            restart = false;
            size_t position = 0;
            for (const ZORBELCertNode* node = store->caCerts; node != nullptr; node = node->next, ++position) {
                if (std::find(taken.begin(), taken.end(), position) != taken.end()) continue;
                const X509Ptr candidate(
                    DecodeCertificate(node->data, static_cast<int32_t>(node->length), node->encoding));
                const uint8_t *issuer = nullptr, *subject = nullptr;
                size_t issuerSize = 0, subjectSize = 0;
                if (!candidate ||
                    !GetIssuerAndSubjectDer(candidate.get(), &issuer, &issuerSize, &subject, &subjectSize))
                    continue;
                if (!NamesEqual(subject, subjectSize, current.data(), current.size())) continue;
                if (!scratch) scratch.reset(ZORBELCreateCertStore());
                if (!scratch) break;
                const ZORBELUCertBlob item{node->data, node->length, node->encoding};
                if (ZORBELAddCACert(scratch.get(), &item) != ZORBELU_OK) break;
                ++count;
                if (NamesEqual(subject, subjectSize, issuer, issuerSize)) {
                    complete = true;
                    break;
                }
                current.assign(issuer, issuer + issuerSize);
                taken.push_back(position);
                restart = true;
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        complete = false;
    }
    if (!complete) return ZORBELU_ERR_CDP;
    *out = CopyNodes(scratch->caCerts, count).release();
    return ZORBELU_OK;
}

uint32_t AddCRLOfIssuer(const ZORBELUCertBlob* cert, const ZORBELCertStore* store, ZORBELCertStore* scratch) {
    if (store == nullptr || scratch == nullptr) return ZORBELU_ERR_CERT_STORE;
    if (cert == nullptr) return ZORBELU_ERR_CERT_DECODE;
    const X509Ptr certificate(DecodeBlob(*cert));
    const uint8_t *issuer = nullptr, *subject = nullptr;
    size_t issuerLength = 0, subjectLength = 0;
    if (!certificate ||
        !GetIssuerAndSubjectDer(certificate.get(), &issuer, &issuerLength, &subject, &subjectLength))
        return ZORBELU_ERR_CERT_DECODE;
    if (NamesEqual(issuer, issuerLength, subject, subjectLength)) return ZORBELU_ERR_CDP;
    for (const ZORBELCertNode* node = store->crls; node != nullptr; node = node->next) {
        const X509CrlPtr crl = DecodeCrl(node->data, node->length, node->encoding);
        const uint8_t* crlIssuer = nullptr;
        size_t crlIssuerLength = 0;
        if (!crl || !CrlIssuerDer(crl.get(), &crlIssuer, &crlIssuerLength) ||
            !NamesEqual(crlIssuer, crlIssuerLength, issuer, issuerLength))
            continue;
        const ZORBELUCertBlob item{node->data, node->length, node->encoding};
        return ZORBELAddCRL(scratch, &item) == ZORBELU_OK ? ZORBELU_OK : ZORBELU_ERR_CDP;
    }
    return ZORBELU_ERR_CDP;
}

uint32_t CollectCRLsForChain(const ZORBELCertStore* store, const ZORBELUCertBlob* cert,
                             const ZORBELUCertBlob* caArray, ZORBELUCertBlob** out) {
    *out = nullptr;
    if (!UsableStore(store)) return ZORBELU_ERR_CERT_STORE;
    if (cert == nullptr) return ZORBELU_ERR_TSA_CERT;
    const CoreStorePtr scratch(ZORBELCreateCertStore());
    if (!scratch) return ZORBELU_ERR_MEMORY;
    if (const uint32_t first = AddCRLOfIssuer(cert, store, scratch.get()); first != ZORBELU_OK) return first;
    size_t count = 1;
    for (const ZORBELUCertBlob* ca = caArray; ca != nullptr && ca->data != nullptr; ++ca) {
        if (AddCRLOfIssuer(ca, store, scratch.get()) != ZORBELU_OK) break;
        ++count;
    }
    *out = CopyNodes(scratch->crls, count).release();
    return ZORBELU_OK;
}

}  // namespace zorbelu::certs
