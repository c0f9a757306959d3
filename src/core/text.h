// Text output for the fixed-size fields of the records: object identifiers
// as dotted text, names as one line, and a copy that cuts safely.
#ifndef ZORBEL_CORE_TEXT_H
#define ZORBEL_CORE_TEXT_H

#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorbel {

// Copies `text` into `field` of `capacity` bytes, always NUL-terminated;
// a text that does not fit is cut before a whole UTF-8 character.
void CopyText(char* field, size_t capacity, std::string_view text);

template <size_t N>
void CopyText(char (&field)[N], std::string_view text) {
    CopyText(field, N, text);
}

// Dotted text of an object identifier ("1.3.14.3.2.26"); empty for NULL.
std::string OidText(const ASN1_OBJECT* oid);
// The same from the DER of an OBJECT IDENTIFIER element.
std::string OidTextFromDer(const uint8_t* der, size_t size);
// A name's attributes in encoded order, "type=value" joined by ", ",
// RFC 2253 escaping, UTF-8. An empty name gives an empty text.
std::string NameText(const X509_NAME* name);
// A GeneralName as text: a directoryName as NameText, DNS/e-mail/URI names
// as their text, the other forms as OpenSSL prints them ("IP:...").
std::string GeneralNameText(const GENERAL_NAME* name);
// The first GeneralName of DER GeneralNames as text; empty when unreadable.
std::string GeneralNamesTextFromDer(const uint8_t* der, size_t size);

}  // namespace zorbel

#endif
