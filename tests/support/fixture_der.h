// fixture_der.h - the few DER edits the fixture makes on a finished time-stamp token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorbelu::fixtures::der {

// One TLV inside a byte string; single-byte tags and definite lengths only.
struct Element {
    size_t start = 0;
    size_t headerLength = 0;
    size_t length = 0;
    uint8_t tag = 0;
    size_t contentStart() const { return start + headerLength; }
    size_t end() const { return start + headerLength + length; }
};

// The element at `pos`, ending by `limit`; throws std::runtime_error on malformed input.
Element Read(const std::string& der, size_t pos, size_t limit);
std::vector<Element> Children(const std::string& der, const Element& parent);
std::string Encode(uint8_t tag, const std::string& content);  // tag, DER length, content
std::vector<Element> SignedDataFields(const std::string& token);  // of a ContentInfo; throws unless one

// Appends each DER attribute certificate to the certificate set as [tag]; SignedData version and signature stay valid.
std::string InsertAttributeCertificates(const std::string& token,
                                        const std::vector<std::string>& attributeCertificates,
                                        int tag);

// Flips one bit of the middle byte of the first SignerInfo's signature value.
std::string FlipSignatureByte(const std::string& token);

}  // namespace zorbelu::fixtures::der
