#include "certs/names.h"

#include "certs/openssl_ptr.h"
#include "certs/cert_names.h"
#include "platform/stores/bounded_cache.h"

namespace zorbelu::certs {

std::optional<std::string> NameText(const uint8_t* der, size_t length) {
    // Every verification compares the same few names (its TSA's, its CAs').
    static stores::BoundedCache<std::string, std::optional<std::string>> remembered(kMaxRememberedNames,
                                                                                   kMaxRememberedNameBytes);
    if (der == nullptr || length == 0) return std::nullopt;
    std::string key(reinterpret_cast<const char*>(der), length);
    if (std::optional<std::optional<std::string>> text = remembered.Find(key)) return *text;
    std::optional<std::string> text = platform::CertNameToStrSimple(der, length);
    const size_t weight = key.size() + (text ? text->size() : 0);
    return remembered.Insert(std::move(key), std::move(text), weight);
}

bool NamesEqual(const uint8_t* first, size_t firstLength, const uint8_t* second, size_t secondLength) {
    const auto firstText = NameText(first, firstLength);
    const auto secondText = NameText(second, secondLength);
    return firstText && secondText && *firstText == *secondText;
}

namespace {

bool NameDer(const X509_NAME* name, const uint8_t** der, size_t* length) {
    const unsigned char* bytes = nullptr;
    size_t size = 0;
    if (name == nullptr || X509_NAME_get0_der(const_cast<X509_NAME*>(name), &bytes, &size) != 1) return false;
    *der = bytes;
    *length = size;
    return true;
}

}  // namespace

bool GetIssuerAndSubjectDer(X509* cert, const uint8_t** issuer, size_t* issuerLength, const uint8_t** subject,
                            size_t* subjectLength) {
    if (cert == nullptr || issuer == nullptr || issuerLength == nullptr) return false;
    if (!NameDer(X509_get_issuer_name(cert), issuer, issuerLength)) return false;
    if (subject == nullptr || subjectLength == nullptr) return true;
    return NameDer(X509_get_subject_name(cert), subject, subjectLength);
}

}  // namespace zorbelu::certs
