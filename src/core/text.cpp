#include "core/text.h"

#include <cstring>

#include "x509/ossl_ptr.h"

namespace zorbel {

namespace {

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 && data != nullptr ? std::string(data, static_cast<size_t>(size)) : std::string();
}

std::string Ia5Text(const ASN1_IA5STRING* s) {
    if (s == nullptr || s->data == nullptr || s->length <= 0) return {};
    return std::string(reinterpret_cast<const char*>(s->data), static_cast<size_t>(s->length));
}

}  // namespace

void CopyText(char* field, size_t capacity, std::string_view text) {
    if (field == nullptr || capacity == 0) return;
    size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    // Never leave half a UTF-8 character: step back over continuation bytes.
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    if (n != 0) std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

std::string OidText(const ASN1_OBJECT* oid) {
    if (oid == nullptr) return {};
    char buffer[256];
    const int n = OBJ_obj2txt(buffer, sizeof buffer, oid, 1);
    if (n <= 0) return {};
    if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
    std::string text(static_cast<size_t>(n) + 1, '\0');  // an identifier longer than 255 characters
    OBJ_obj2txt(text.data(), n + 1, oid, 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string OidTextFromDer(const uint8_t* der, size_t size) {
    const unsigned char* p = der;
    Asn1ObjPtr oid(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(size)));
    return OidText(oid.get());
}

std::string NameText(const X509_NAME* name) {
    if (name == nullptr || X509_NAME_entry_count(name) == 0) return {};
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    const unsigned long flags = (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) | XN_FLAG_SEP_CPLUS_SPC |
                                XN_FLAG_FN_SN | XN_FLAG_DUMP_UNKNOWN_FIELDS;
    if (X509_NAME_print_ex(bio.get(), name, 0, flags) < 0) return {};
    return BioText(bio.get());
}

std::string GeneralNameText(const GENERAL_NAME* name) {
    if (name == nullptr) return {};
    switch (name->type) {
        case GEN_DIRNAME:
            return NameText(name->d.directoryName);
        case GEN_DNS:
        case GEN_EMAIL:
        case GEN_URI:
            return Ia5Text(name->d.ia5);
        default: {
            BioPtr bio(BIO_new(BIO_s_mem()));
            if (!bio || GENERAL_NAME_print(bio.get(), const_cast<GENERAL_NAME*>(name)) <= 0) return {};
            return BioText(bio.get());
        }
    }
}

std::string GeneralNamesTextFromDer(const uint8_t* der, size_t size) {
    const unsigned char* p = der;
    GeneralNamesPtr names(d2i_GENERAL_NAMES(nullptr, &p, static_cast<long>(size)));
    if (!names || sk_GENERAL_NAME_num(names.get()) == 0) return {};
    return GeneralNameText(sk_GENERAL_NAME_value(names.get(), 0));
}

}  // namespace zorbel
