// Certificates and CRLs from bytes in memory, DER or PEM, into OpenSSL
// objects; and the core certificate store's contents into an X509_STORE.
#pragma once

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdint>

#include "x509/ossl_ptr.h"
#include "zorbelutil.h"

namespace zorbelu::certs {

// 2 (DER) when one of the first three bytes (of those there are) is 0x80 or
// above, else 3 (PEM). Later bytes never matter.
uint32_t DetectEncoding(const uint8_t* data, size_t length = 3);

// A new certificate owned by the caller, or NULL. Encoding 1 is detected;
// DER goes through the streaming reader, PEM through OpenSSL's PEM reader;
// any other encoding gives NULL without reading the data.
X509* DecodeCertificate(const uint8_t* data, int32_t length, uint32_t encoding);

// A CRL in DER or PEM, encoding 1 detected from the bytes; NULL for any
// other encoding or bytes that do not decode. A DER CRL is decoded once per
// process (platform/stores/decoded_objects.h). `*used` gets 2 or 3.
X509CrlPtr DecodeCrl(const uint8_t* data, size_t length, uint32_t encoding, uint32_t* used = nullptr);

// A PEM certificate as DER: 1, 1002 when it does not fit `*capacity` (the
// output is left untouched), 1005 when it does not decode.
[[nodiscard]] uint32_t PemCertToDer(const uint8_t* pem, uint32_t length, uint8_t* out, uint32_t* capacity);

// Adds the store's CA certificates (nodes that do not decode are skipped):
// 1, or 1603 when the X509_STORE refuses one.
[[nodiscard]] uint32_t LoadCACertsIntoX509Store(const ZORBELCertStore* store, X509_STORE* x509Store);

// Adds the store's CRLs, their encoding detected from the bytes: 1, or 1604
// when one does not decode or is refused.
[[nodiscard]] uint32_t LoadCRLsIntoX509Store(const ZORBELCertStore* store, X509_STORE* x509Store);

}  // namespace zorbelu::certs
