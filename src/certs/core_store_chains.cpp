#include "certs/core_store_chains.h"

#include <algorithm>
#include <new>
#include <vector>

#include "certs/cert_blob_array.h"
#include "certs/certificate_decoding.h"
#include "certs/names.h"
#include "x509/names.h"
#include "x509/ossl_ptr.h"

namespace zorbelu::certs {
namespace {

struct CoreStoreFree {
    void operator()(ZORBELCertStore* store) const noexcept { (void)ZORBELFreeCertStore(store); }
};
using CoreStorePtr = std::unique_ptr<ZORBELCertStore, CoreStoreFree>;

bool UsableStore(const ZORBELCertStore* store) { return store != nullptr && store->size == ZORBEL_CERT_STORE_MARK; }

X509* DecodeBlob(const ZORBELUCertBlob& blob) {
    return DecodeCertificate(blob.data, static_cast<int32_t>(blob.length), blob.encoding);
}

// Copies of the first `count` nodes of a list, ended by a zero element.
CertBlobArray CopyNodes(const ZORBELCertNode* head, size_t count) {
    CertBlobArray array(new ZORBELUCertBlob[count + 1]());
    const ZORBELCertNode* node = head;
    for (size_t i = 0; i < count && node != nullptr; ++i, node = node->next) CopyCertBlob(*node, array.get()[i]);
    return array;
}

}  // namespace

uint32_t BuildCAChainForCert(const ZORBELCertStore* store, const ZORBELUCertBlob* cert, ZORBELUCertBlob** out) {
    *out = nullptr;
    if (!UsableStore(store)) return ZORBELU_ERR_CERT_STORE;
    if (cert == nullptr) return ZORBELU_ERR_TSA_CERT;
    const X509Ptr certificate(DecodeBlob(*cert));
    const uint8_t* issuerDer = nullptr;
    size_t issuerLength = 0;
    if (!certificate || !x509::GetIssuerAndSubjectDer(certificate.get(), &issuerDer, &issuerLength))
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
                    !x509::GetIssuerAndSubjectDer(candidate.get(), &issuer, &issuerSize, &subject, &subjectSize))
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
        !x509::GetIssuerAndSubjectDer(certificate.get(), &issuer, &issuerLength, &subject, &subjectLength))
        return ZORBELU_ERR_CERT_DECODE;
    if (NamesEqual(issuer, issuerLength, subject, subjectLength)) return ZORBELU_ERR_CDP;
    for (const ZORBELCertNode* node = store->crls; node != nullptr; node = node->next) {
        const X509CrlPtr crl = DecodeCrl(node->data, node->length, node->encoding);
        const uint8_t* crlIssuer = nullptr;
        size_t crlIssuerLength = 0;
        if (!crl || !x509::NameDer(X509_CRL_get_issuer(crl.get()), &crlIssuer, &crlIssuerLength) ||
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
