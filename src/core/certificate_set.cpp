#include "core/certificate_set.h"

#include "x509/der.h"

namespace zorbel {

namespace {

// RFC 5652: SignedData with v2 attribute certificates is version 4.
constexpr uint8_t kVersionWithAttributeCertificates = 4;

void Append(std::vector<uint8_t>& out, const der::Span& span) { out.insert(out.end(), span.data, span.data + span.size); }

void AppendWrapped(std::vector<uint8_t>& out, uint8_t identifier, const std::vector<uint8_t>& contents) {
    der::AppendHeader(out, identifier, contents.size());
    out.insert(out.end(), contents.begin(), contents.end());
}

// SignedData with the attribute certificate added to its certificate set.
[[nodiscard]] bool RebuildSignedData(const der::Tlv& signedData, const std::vector<uint8_t>& attributeCertificate,
                                     std::vector<uint8_t>& out) {
    der::Reader fields = der::Inside(signedData);
    der::Tlv version, digestAlgorithms, encapsulated, certificates;
    if (!fields.Expect(der::kInteger, version) || !fields.Expect(der::kSet, digestAlgorithms) ||
        !fields.Expect(der::kSequence, encapsulated))
        return false;
    std::vector<uint8_t> set;
    if (fields.NextIf(der::ContextConstructed(0), certificates)) Append(set, certificates.contents);
    set.insert(set.end(), attributeCertificate.begin(), attributeCertificate.end());
    set[set.size() - attributeCertificate.size()] = der::ContextConstructed(2);
    std::vector<uint8_t> contents = {der::kInteger, 1, kVersionWithAttributeCertificates};
    Append(contents, digestAlgorithms.whole);
    Append(contents, encapsulated.whole);
    AppendWrapped(contents, der::ContextConstructed(0), set);
    der::Tlv rest;
    while (!fields.AtEnd()) {  // crls and signerInfos, unchanged
        if (!fields.Next(rest)) return false;
        Append(contents, rest.whole);
    }
    AppendWrapped(out, der::kSequence, contents);
    return true;
}

}  // namespace

bool AddAttributeCertificate(const std::vector<uint8_t>& contentInfo, const std::vector<uint8_t>& attributeCertificate,
                             std::vector<uint8_t>& out) {
    der::Reader top({contentInfo.data(), contentInfo.size()});
    der::Tlv ci, type, explicitContent, signedData;
    if (attributeCertificate.empty() || attributeCertificate[0] != der::kSequence) return false;
    if (!top.Expect(der::kSequence, ci)) return false;
    der::Reader inCi = der::Inside(ci);
    if (!inCi.Expect(der::kOid, type) || !inCi.Expect(der::ContextConstructed(0), explicitContent)) return false;
    der::Reader inContent = der::Inside(explicitContent);
    if (!inContent.Expect(der::kSequence, signedData)) return false;
    std::vector<uint8_t> rebuilt;
    if (!RebuildSignedData(signedData, attributeCertificate, rebuilt)) return false;
    std::vector<uint8_t> content;
    AppendWrapped(content, der::ContextConstructed(0), rebuilt);
    std::vector<uint8_t> contents;
    Append(contents, type.whole);
    contents.insert(contents.end(), content.begin(), content.end());
    out.clear();
    AppendWrapped(out, der::kSequence, contents);
    return true;
}

bool ReplaceResponseToken(const std::vector<uint8_t>& response, const std::vector<uint8_t>& contentInfo,
                          std::vector<uint8_t>& out) {
    der::Reader top({response.data(), response.size()});
    der::Tlv outer, status;
    if (!top.Expect(der::kSequence, outer)) return false;
    der::Reader inside = der::Inside(outer);
    if (!inside.Expect(der::kSequence, status)) return false;
    std::vector<uint8_t> contents;
    Append(contents, status.whole);
    contents.insert(contents.end(), contentInfo.begin(), contentInfo.end());
    out.clear();
    AppendWrapped(out, der::kSequence, contents);
    return true;
}

}  // namespace zorbel
