// fixture_der.cpp - DER edits on finished time-stamp tokens.
#include "support/fixture_der.h"

#include <algorithm>
#include <stdexcept>

namespace zorbelu::fixtures::der {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kContext0 = 0xA0;

[[noreturn]] void Malformed(const char* what) { throw std::runtime_error(std::string("fixture DER: ") + what); }

std::string Slice(const std::string& der, const Element& e) { return der.substr(e.start, e.end() - e.start); }

}  // namespace

Element Read(const std::string& der, size_t pos, size_t limit) {
    if (limit > der.size() || pos + 2 > limit) Malformed("element header past the end");
    Element e;
    e.start = pos;
    e.tag = static_cast<uint8_t>(der[pos]);
    if ((e.tag & 0x1F) == 0x1F) Malformed("multi-byte tag");
    const auto first = static_cast<uint8_t>(der[pos + 1]);
    size_t header = 2;
    size_t length = 0;
    if (first < 0x80) {
        length = first;
    } else {
        const size_t count = first & 0x7Fu;
        if (count == 0 || count > 4 || pos + 2 + count > limit) Malformed("length form");
        for (size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<uint8_t>(der[pos + 2 + i]);
        header += count;
    }
    e.headerLength = header;
    e.length = length;
    if (length > limit - pos - header) Malformed("content past the end");
    return e;
}

std::vector<Element> SignedDataFields(const std::string& token) {
    const Element contentInfo = Read(token, 0, token.size());
    const auto top = Children(token, contentInfo);
    if (contentInfo.tag != kSequence || contentInfo.end() != token.size() || top.size() != 2 ||
        top[1].tag != kContext0)
        Malformed("ContentInfo");
    const Element signedData = Read(token, top[1].contentStart(), top[1].end());
    const auto fields = Children(token, signedData);
    if (signedData.tag != kSequence || fields.size() < 4 || fields[0].tag != kInteger || fields.back().tag != kSet)
        Malformed("SignedData fields");
    return fields;
}

std::vector<Element> Children(const std::string& der, const Element& parent) {
    std::vector<Element> out;
    for (size_t pos = parent.contentStart(); pos < parent.end();) {
        out.push_back(Read(der, pos, parent.end()));
        pos = out.back().end();
    }
    return out;
}

std::string Encode(uint8_t tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    const size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        std::string bytes;
        for (size_t v = n; v != 0; v >>= 8) bytes.insert(bytes.begin(), static_cast<char>(v & 0xFF));
        out += static_cast<char>(0x80 | bytes.size());
        out += bytes;
    }
    return out + content;
}

std::string InsertAttributeCertificates(const std::string& token,
                                        const std::vector<std::string>& attributeCertificates,
                                        int tag) {
    if (tag != 1 && tag != 2) Malformed("attribute certificate tag must be 1 or 2");
    const std::vector<Element> fields = SignedDataFields(token);
    std::string certificates;
    size_t next = 3;  // version, digestAlgorithms, encapContentInfo
    if (fields[next].tag == kContext0) {
        certificates = token.substr(fields[next].contentStart(), fields[next].length);
        ++next;
    }
    for (const std::string& ac : attributeCertificates) {
        const Element e = Read(ac, 0, ac.size());
        if (e.tag != kSequence || e.end() != ac.size()) Malformed("attribute certificate");
        std::string tagged = ac;
        tagged[0] = static_cast<char>(0xA0 | tag);
        certificates += tagged;
    }

    // RFC 5652 5.1: version 4 with v2 attribute certificates, at least 3 with v1.
    const Element& version = fields[0];
    if (version.length != 1) Malformed("SignedData version");
    const int wanted = tag == 2 ? 4 : 3;
    const int present = static_cast<uint8_t>(token[version.contentStart()]);
    std::string content = Encode(kInteger, std::string(1, static_cast<char>(std::max(present, wanted))));
    content += Slice(token, fields[1]) + Slice(token, fields[2]) + Encode(kContext0, certificates);
    for (size_t i = next; i < fields.size(); ++i) content += Slice(token, fields[i]);
    const Element oid = Children(token, Read(token, 0, token.size())).at(0);
    return Encode(kSequence, Slice(token, oid) + Encode(kContext0, Encode(kSequence, content)));
}

std::string FlipSignatureByte(const std::string& token) {
    const auto signerInfos = Children(token, SignedDataFields(token).back());
    if (signerInfos.empty()) Malformed("no SignerInfo");
    for (const Element& field : Children(token, signerInfos.front())) {
        if (field.tag == kOctetString && field.length > 0) {
            std::string out = token;
            out[field.contentStart() + field.length / 2] ^= 0x01;
            return out;
        }
    }
    Malformed("SignerInfo without a signature");
}

}  // namespace zorbelu::fixtures::der
