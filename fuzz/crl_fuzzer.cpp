// Arbitrary bytes as a CRL, through each way the library decodes one: the
// CRLs of a core certificate store (the encoding told by the bytes), the
// decoded-once cache of DER CRLs, the compact reader (which must never take
// bytes OpenSSL refuses, nor miss a serial it listed), and the reading of
// nextUpdate that decides whether a cached CRL is fetched again.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdint>

#include "certs/certificate_decoding.h"
#include "certs/crl_cache.h"
#include "fuzz_common.h"
#include "x509/ossl_ptr.h"
#include "platform/stores/decoded_objects.h"
#include "x509/compact_crl.h"

namespace {

X509_CRL* DecodeByEncoding(const uint8_t* data, size_t size) {
    zorbelu::BioPtr bio(BIO_new_mem_buf(data, static_cast<int>(size)));
    if (!bio) return nullptr;
    return zorbelu::certs::DetectEncoding(data, size) == ZORBELU_ENCODING_DER
               ? d2i_X509_CRL_bio(bio.get(), nullptr)
               : PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zorbelu::fuzz::FixClock();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > INT32_MAX) return 0;
    ZORBELCertNode node{const_cast<uint8_t*>(data), static_cast<uint32_t>(size), ZORBELU_ENCODING_DER, nullptr};
    const ZORBELCertStore store{ZORBEL_CERT_STORE_MARK, 0, nullptr, &node};
    zorbelu::X509StorePtr x509Store(X509_STORE_new());
    if (!x509Store) return 0;
    (void)zorbelu::certs::LoadCRLsIntoX509Store(&store, x509Store.get());

    const zorbelu::X509CrlPtr shared{zorbelu::stores::SharedCrl(data, size)};
    if (shared) (void)zorbelu::certs::IsCRLPastNextUpdate(shared.get());
    if (const auto compact = zorbelu::x509::CompactCrl::Parse(data, size)) {
        // A CRL read compactly is used for a verdict only when it needs
        // nothing of the full decoder; such a CRL must be one OpenSSL takes.
        if (!shared && !compact->NeedsFullDecoder()) __builtin_trap();
        for (size_t i = 0; i < compact->EntryCount(); ++i) {
            const zorbel::der::Span serial = compact->Serial(compact->Entry(i));
            if (compact->Find(serial.data, serial.size) == nullptr) __builtin_trap();
        }
    }
    if (zorbelu::X509CrlPtr decoded{DecodeByEncoding(data, size)})
        (void)zorbelu::certs::IsCRLPastNextUpdate(decoded.get());
    ERR_clear_error();
    return 0;
}
