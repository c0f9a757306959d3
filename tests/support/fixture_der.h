// fixture_der.h - the few DER edits the fixture generator makes on a finished
// time-stamp token (a CMS ContentInfo holding SignedData). Internal to the
// fixture library; tests use fixture_pki.h.
#ifndef ZORBELU_TESTS_SUPPORT_FIXTURE_DER_H
#define ZORBELU_TESTS_SUPPORT_FIXTURE_DER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorbelu::fixtures::der {

// One TLV inside a byte string: where it starts, its tag byte and the sizes
// of its header and content. Only single-byte tags and definite lengths,
// which is all DER from OpenSSL ever holds.
struct Element {
    size_t start = 0;
    size_t headerLength = 0;
    size_t length = 0;
    uint8_t tag = 0;
    size_t contentStart() const { return start + headerLength; }
    size_t end() const { return start + headerLength + length; }
};

// Reads the element at `pos`, which must end at or before `limit`; throws
// std::runtime_error on malformed input.
Element Read(const std::string& der, size_t pos, size_t limit);
// The elements inside a constructed element, in order.
std::vector<Element> Children(const std::string& der, const Element& parent);
// tag, DER length, content.
std::string Encode(uint8_t tag, const std::string& content);
// The fields of the SignedData inside a ContentInfo (throws unless it is one).
std::vector<Element> SignedDataFields(const std::string& token);

// Appends each AttributeCertificate (a DER SEQUENCE) to the SignedData
// certificate set of `token` as CertificateChoices [1] v1AttrCert (tag 1) or
// [2] v2AttrCert (tag 2), creating the set when it is absent, and raises the
// SignedData version to 3 or 4 as RFC 5652 asks. The signature covers the
// signed attributes only, so it stays valid.
std::string InsertAttributeCertificates(const std::string& token,
                                        const std::vector<std::string>& attributeCertificates,
                                        int tag);

// Flips one bit of the middle byte of the first SignerInfo's signature value.
std::string FlipSignatureByte(const std::string& token);

}  // namespace zorbelu::fixtures::der

#endif
