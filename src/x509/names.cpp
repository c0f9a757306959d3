#include "x509/names.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>

#include "x509/decoding.h"

namespace zorbelu::x509 {
namespace {

bool NeedsQuotes(const std::string& value) {
    if (value.empty()) return false;
    if (value.front() == ' ' || value.back() == ' ') return true;
    return value.find_first_of(",+=\"<>#;\r\n") != std::string::npos;
}

std::string Quoted(const std::string& value) {
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::optional<std::string> ValueText(const X509_NAME_ENTRY* entry) {
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
    if (length < 0) return std::nullopt;
    std::string value(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return NeedsQuotes(value) ? Quoted(value) : value;
}

}  // namespace

std::optional<std::string> CertNameToStrSimple(const X509_NAME* name) {
    if (name == nullptr) return std::nullopt;
    std::string text;
    int previousSet = -1;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        const std::optional<std::string> value = ValueText(entry);
        if (!value) return std::nullopt;
        const int set = X509_NAME_ENTRY_set(entry);
        if (i > 0) text += set == previousSet ? " + " : ", ";
        text += *value;
        previousSet = set;
    }
    return text;
}

std::optional<std::string> CertNameToStrSimple(const uint8_t* der, size_t length) {
    if (der == nullptr || length == 0 || length > LONG_MAX) return std::nullopt;
    const unsigned char* p = der;
    X509NamePtr name = DecodeDerNameAt(&p, length);
    if (!name || p != der + length) return std::nullopt;
    return CertNameToStrSimple(name.get());
}

bool NameDer(const X509_NAME* name, const uint8_t** der, size_t* length) {
    const unsigned char* bytes = nullptr;
    size_t size = 0;
    if (name == nullptr || X509_NAME_get0_der(const_cast<X509_NAME*>(name), &bytes, &size) != 1) return false;
    *der = bytes;
    *length = size;
    return true;
}

bool GetIssuerAndSubjectDer(X509* cert, const uint8_t** issuer, size_t* issuerLength, const uint8_t** subject,
                            size_t* subjectLength) {
    if (cert == nullptr || issuer == nullptr || issuerLength == nullptr) return false;
    if (!NameDer(X509_get_issuer_name(cert), issuer, issuerLength)) return false;
    if (subject == nullptr || subjectLength == nullptr) return true;
    return NameDer(X509_get_subject_name(cert), subject, subjectLength);
}

}  // namespace zorbelu::x509
