#include "core/pem_or_der.h"

#include <openssl/pem.h>

#include <algorithm>
#include <cstring>

namespace zorbel {

namespace {

bool IsPem(const uint8_t* data, uint32_t length) {
    static constexpr char kBegin[] = "-----BEGIN";
    return std::search(data, data + length, kBegin, kBegin + sizeof kBegin - 1) != data + length;
}

BioPtr MemoryBio(const uint8_t* data, uint32_t length) {
    return BioPtr(BIO_new_mem_buf(data, static_cast<int>(length)));
}

}  // namespace

PkeyPtr DecodePrivateKey(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0 || length > INT32_MAX) return nullptr;
    if (IsPem(data, length)) {
        BioPtr bio = MemoryBio(data, length);
        return PkeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    }
    const unsigned char* p = data;
    return PkeyPtr(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(length)));
}

X509Ptr DecodeCertificate(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0 || length > INT32_MAX) return nullptr;
    if (IsPem(data, length)) {
        BioPtr bio = MemoryBio(data, length);
        return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    }
    const unsigned char* p = data;
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(length)));
}

bool DecodeCertificates(const uint8_t* data, uint32_t length, STACK_OF(X509) * out) {
    if (data == nullptr || length == 0 || length > INT32_MAX) return false;
    if (IsPem(data, length)) {
        BioPtr bio = MemoryBio(data, length);
        if (!bio) return false;
        int count = 0;
        for (X509Ptr c(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)); c;
             c.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)), ++count) {
            if (!sk_X509_push(out, c.get())) return false;
            c.release();
        }
        return count > 0;
    }
    const unsigned char* p = data;
    const unsigned char* end = data + length;
    while (p < end) {
        X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(end - p)));
        if (!certificate || !sk_X509_push(out, certificate.get())) return false;
        certificate.release();
    }
    return true;
}

}  // namespace zorbel
