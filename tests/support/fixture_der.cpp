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

[[noreturn]] void Malformed(const char* what) {
    throw std::runtime_error(std::string("fixture DER: ") + what);
}

Element Expect(const std::string& der, size_t pos, size_t limit, uint8_t tag, const char* what) {
    Element e = Read(der, pos, limit);
    if (e.tag != tag) Malformed(what);
    return e;
}

std::string Slice(const std::string& der, const Element& e) {
    return der.substr(e.start, e.end() - e.start);
}

// The SignedData SEQUENCE inside a ContentInfo, and its fields.
struct SignedDataView {
    Element contentInfo;
    Element oid;
    Element explicitTag;
    Element signedData;
    std::vector<Element> fields;
};

SignedDataView View(const std::string& token) {
    SignedDataView v;
    v.contentInfo = Expect(token, 0, token.size(), kSequence, "ContentInfo");
    if (v.contentInfo.end() != token.size()) Malformed("bytes after ContentInfo");
    auto top = Children(token, v.contentInfo);
    if (top.size() != 2 || top[1].tag != kContext0) Malformed("ContentInfo fields");
    v.oid = top[0];
    v.explicitTag = top[1];
    v.signedData = Expect(token, v.explicitTag.contentStart(), v.explicitTag.end(), kSequence,
                          "SignedData");
    v.fields = Children(token, v.signedData);
    if (v.fields.size() < 4 || v.fields[0].tag != kInteger || v.fields.back().tag != kSet)
        Malformed("SignedData fields");
    return v;
}

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
        if (count == 0 || count > 4) Malformed("length form");
        if (pos + 2 + count > limit) Malformed("length past the end");
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | static_cast<uint8_t>(der[pos + 2 + i]);
        header += count;
    }
    e.headerLength = header;
    e.length = length;
    if (length > limit - pos - header) Malformed("content past the end");
    return e;
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
    const SignedDataView v = View(token);

    std::string certificates;
    size_t next = 3;  // version, digestAlgorithms, encapContentInfo
    if (next < v.fields.size() && v.fields[next].tag == kContext0) {
        const Element& set = v.fields[next];
        certificates = token.substr(set.contentStart(), set.length);
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
    const Element& version = v.fields[0];
    if (version.length != 1) Malformed("SignedData version");
    const int wanted = tag == 2 ? 4 : 3;
    const int present = static_cast<uint8_t>(token[version.contentStart()]);
    std::string content = Encode(kInteger, std::string(1, static_cast<char>(std::max(present, wanted))));
    content += Slice(token, v.fields[1]) + Slice(token, v.fields[2]);
    content += Encode(kContext0, certificates);
    for (size_t i = next; i < v.fields.size(); ++i) content += Slice(token, v.fields[i]);

    const std::string signedData = Encode(kSequence, content);
    return Encode(kSequence, Slice(token, v.oid) + Encode(kContext0, signedData));
}

std::string FlipSignatureByte(const std::string& token) {
    const SignedDataView v = View(token);
    const auto signerInfos = Children(token, v.fields.back());
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
