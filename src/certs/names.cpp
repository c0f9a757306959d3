#include "certs/names.h"

#include <map>
#include <mutex>

#include "certs/openssl_ptr.h"
#include "platform/cert_names.h"

namespace zorbelu::certs {

bool NamesEqual(const uint8_t* first, size_t firstLength, const uint8_t* second, size_t secondLength) {
    const auto firstText = platform::CertNameToStrSimple(first, firstLength);
    const auto secondText = platform::CertNameToStrSimple(second, secondLength);
    return firstText && secondText && *firstText == *secondText;
}

std::optional<std::string> SubjectTextOf(const uint8_t* der, size_t length) {
    constexpr size_t kRemembered = 4096;
    static std::mutex mutex;
    static std::map<std::string, std::optional<std::string>> remembered;
    std::string key(reinterpret_cast<const char*>(der), length);
    const std::lock_guard<std::mutex> lock(mutex);
    if (auto it = remembered.find(key); it != remembered.end()) return it->second;
    const unsigned char* p = der;
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(length)));
    std::optional<std::string> text;
    if (cert) text = platform::CertNameToStrSimple(X509_get_subject_name(cert.get()));
    if (remembered.size() >= kRemembered) remembered.clear();
    remembered.emplace(std::move(key), text);
    return text;
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
