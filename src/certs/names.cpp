#include "certs/names.h"

#include "x509/ossl_ptr.h"
#include "x509/names.h"
#include "platform/stores/bounded_cache.h"

namespace zorbelu::certs {

std::optional<std::string> NameText(const uint8_t* der, size_t length) {
    // Every verification compares the same few names (its TSA's, its CAs').
    static stores::BoundedCache<std::string, std::optional<std::string>> remembered(kMaxRememberedNames,
                                                                                   kMaxRememberedNameBytes);
    if (der == nullptr || length == 0) return std::nullopt;
    std::string key(reinterpret_cast<const char*>(der), length);
    if (std::optional<std::optional<std::string>> text = remembered.Find(key)) return *text;
    std::optional<std::string> text = x509::CertNameToStrSimple(der, length);
    const size_t weight = key.size() + (text ? text->size() : 0);
    return remembered.Insert(std::move(key), std::move(text), weight);
}

bool NamesEqual(const uint8_t* first, size_t firstLength, const uint8_t* second, size_t secondLength) {
    const auto firstText = NameText(first, firstLength);
    const auto secondText = NameText(second, secondLength);
    return firstText && secondText && *firstText == *secondText;
}

}  // namespace zorbelu::certs
