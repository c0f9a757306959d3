// Distinguished names as simple text: the values alone, without attribute
// types, in encoded order; RDNs joined by ", ", the parts of a multi-valued
// RDN by " + "; every string type as UTF-8. A value holding , + = " < > # ;
// a line break, or leading or trailing blanks is put in double quotes with
// inner quotes doubled. Two names that differ only in string type or
// encoding therefore read the same.
#ifndef ZORBELU_X509_NAMES_H
#define ZORBELU_X509_NAMES_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <openssl/x509.h>

namespace zorbelu::x509 {

// The simple text of a DER name; nothing when the bytes are not one whole name.
std::optional<std::string> CertNameToStrSimple(const uint8_t* der, size_t length);

// The simple text of a decoded name.
std::optional<std::string> CertNameToStrSimple(const X509_NAME* name);

// The DER of a name; the bytes belong to the name. False when it has none.
bool NameDer(const X509_NAME* name, const uint8_t** der, size_t* length);

// The DER issuer name of `cert` and, when asked for, its subject name; the
// bytes belong to the certificate. False on failure.
bool GetIssuerAndSubjectDer(X509* cert, const uint8_t** issuer, size_t* issuerLength,
                            const uint8_t** subject = nullptr, size_t* subjectLength = nullptr);

}  // namespace zorbelu::x509

#endif
