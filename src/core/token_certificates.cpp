#include "core/token_certificates.h"

#include "core/token_reader.h"

namespace zorbel {

namespace {

void Append(std::vector<uint8_t>& out, const der::Span& span) { out.insert(out.end(), span.data, span.data + span.size); }

void AppendWrapped(std::vector<uint8_t>& out, uint8_t identifier, const std::vector<uint8_t>& contents) {
    der::AppendHeader(out, identifier, contents.size());
    out.insert(out.end(), contents.begin(), contents.end());
}

// Splits the certificate set: X.509 certificates (a plain SEQUENCE) go to
// `certificates`, every other choice stays in `rest`.
bool SplitSet(const der::Tlv& set, std::vector<der::Span>& certificates, std::vector<uint8_t>& rest) {
    der::Reader choices = der::Inside(set);
    der::Tlv choice;
    while (!choices.AtEnd()) {
        if (!choices.Next(choice)) return false;
        if (choice.Is(der::kSequence))
            certificates.push_back(choice.whole);
        else
            Append(rest, choice.whole);
    }
    return true;
}

// SignedData with the X.509 certificates left out of its certificate set.
bool RebuildSignedData(const der::Tlv& signedData, CertificatesTakenOut& out, std::vector<uint8_t>& rebuilt) {
    der::Reader fields = der::Inside(signedData);
    der::Tlv version, digestAlgorithms, encapsulated, certificates, rest;
    if (!fields.Expect(der::kInteger, version) || !fields.Expect(der::kSet, digestAlgorithms) ||
        !fields.Expect(der::kSequence, encapsulated))
        return false;
    std::vector<uint8_t> contents;
    Append(contents, version.whole);
    Append(contents, digestAlgorithms.whole);
    Append(contents, encapsulated.whole);
    if (fields.NextIf(der::ContextConstructed(0), certificates)) {
        std::vector<uint8_t> kept;
        if (!SplitSet(certificates, out.certificates, kept)) return false;
        if (!kept.empty()) AppendWrapped(contents, der::ContextConstructed(0), kept);
    }
    while (!fields.AtEnd()) {  // crls and signerInfos, unchanged
        if (!fields.Next(rest)) return false;
        Append(contents, rest.whole);
    }
    AppendWrapped(rebuilt, der::kSequence, contents);
    return true;
}

}  // namespace

bool TakeOutCertificates(const std::vector<uint8_t>& contentInfo, CertificatesTakenOut& out) {
    der::Tlv type, signedData;
    if (!ReadSignedDataContentInfo({contentInfo.data(), contentInfo.size()}, type, signedData)) return false;
    std::vector<uint8_t> rebuilt;
    if (!RebuildSignedData(signedData, out, rebuilt)) return false;
    std::vector<uint8_t> content;
    AppendWrapped(content, der::ContextConstructed(0), rebuilt);
    std::vector<uint8_t> contents;
    Append(contents, type.whole);
    contents.insert(contents.end(), content.begin(), content.end());
    out.contentInfo.clear();
    AppendWrapped(out.contentInfo, der::kSequence, contents);
    return true;
}

}  // namespace zorbel
