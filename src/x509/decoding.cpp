#include "x509/decoding.h"

#include <openssl/pem.h>

#include <algorithm>

#include "x509/a_d2i_fp_kovra.h"

namespace zorbelu::x509 {
namespace {

bool Usable(const uint8_t* data, size_t length) { return data != nullptr && length != 0 && length <= kMaxEncodedSize; }

// A read-only memory BIO over the bytes; NULL for bytes we do not decode.
BioPtr MemoryBio(const uint8_t* data, size_t length) {
    return Usable(data, length) ? BioPtr(BIO_new_mem_buf(data, static_cast<int>(length))) : nullptr;
}

template <typename T, T* (*D2i)(T**, const unsigned char**, long), void (*Free)(T*)>
OsslPtr<T, Free> DerAt(const uint8_t** p, size_t length) {
    if (p == nullptr || !Usable(*p, length)) return nullptr;
    return OsslPtr<T, Free>(D2i(nullptr, p, static_cast<long>(length)));
}

template <typename T, T* (*Read)(BIO*, T**, pem_password_cb*, void*), void (*Free)(T*)>
size_t ForEachPem(const uint8_t* data, size_t length, size_t limit,
                  const std::function<bool(OsslPtr<T, Free>)>& take) {
    BioPtr bio = MemoryBio(data, length);
    size_t handed = 0;
    while (bio && handed < limit) {
        OsslPtr<T, Free> object(Read(bio.get(), nullptr, nullptr, nullptr));
        if (!object) break;
        ++handed;
        if (!take(std::move(object))) break;
    }
    return handed;
}

}  // namespace

Encoding DetectEncoding(const uint8_t* data, size_t length) {
    const size_t looked = std::min<size_t>(length, 3);
    for (size_t i = 0; i < looked; ++i)
        if (data[i] >= 0x80) return Encoding::kDer;
    return Encoding::kPem;
}

bool HoldsPemBlock(const uint8_t* data, size_t length) {
    static constexpr char kBegin[] = "-----BEGIN";
    if (data == nullptr) return false;
    return std::search(data, data + length, kBegin, kBegin + sizeof kBegin - 1) != data + length;
}

bool BeginsWithPemBlock(const uint8_t* data, size_t length) {
    static constexpr char kBegin[] = "-----BEGIN ";
    static constexpr size_t kBeginLength = sizeof kBegin - 1;
    if (data == nullptr) return false;
    const uint8_t* end = data + length;
    const uint8_t* text = std::find_if(data, end, [](uint8_t c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; });
    return static_cast<size_t>(end - text) >= kBeginLength && std::equal(kBegin, kBegin + kBeginLength, text);
}

X509Ptr DecodeDerCertificateAt(const uint8_t** p, size_t length) { return DerAt<X509, d2i_X509, X509_free>(p, length); }

X509CrlPtr DecodeDerCrlAt(const uint8_t** p, size_t length) {
    return DerAt<X509_CRL, d2i_X509_CRL, X509_CRL_free>(p, length);
}

X509NamePtr DecodeDerNameAt(const uint8_t** p, size_t length) {
    return DerAt<X509_NAME, d2i_X509_NAME, X509_NAME_free>(p, length);
}

X509Ptr DecodeWholeDerCertificate(const uint8_t* data, size_t length) {
    const uint8_t* p = data;
    X509Ptr certificate = DecodeDerCertificateAt(&p, length);
    return certificate && p == data + length ? std::move(certificate) : nullptr;
}

X509Ptr ReadDerCertificate(const uint8_t* data, size_t length) {
    BioPtr bio = MemoryBio(data, length);
    return bio ? X509Ptr(der_x509_d2i_bio(bio.get(), nullptr)) : nullptr;
}

X509Ptr DecodePemCertificate(const uint8_t* data, size_t length) {
    BioPtr bio = MemoryBio(data, length);
    return bio ? X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) : nullptr;
}

X509CrlPtr DecodePemCrl(const uint8_t* data, size_t length) {
    BioPtr bio = MemoryBio(data, length);
    return bio ? X509CrlPtr(PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr)) : nullptr;
}

PkeyPtr DecodePemPrivateKey(const uint8_t* data, size_t length) {
    BioPtr bio = MemoryBio(data, length);
    return bio ? PkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)) : nullptr;
}

PkeyPtr DecodeDerPrivateKey(const uint8_t* data, size_t length) {
    if (!Usable(data, length)) return nullptr;
    const unsigned char* p = data;
    return PkeyPtr(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(length)));
}

size_t ForEachPemCertificate(const uint8_t* data, size_t length, size_t limit,
                             const std::function<bool(X509Ptr)>& take) {
    return ForEachPem<X509, PEM_read_bio_X509, X509_free>(data, length, limit, take);
}

size_t ForEachPemCrl(const uint8_t* data, size_t length, size_t limit, const std::function<bool(X509CrlPtr)>& take) {
    return ForEachPem<X509_CRL, PEM_read_bio_X509_CRL, X509_CRL_free>(data, length, limit, take);
}

size_t ForEachPemCertificateDer(const uint8_t* data, size_t length, size_t limit,
                                const std::function<bool(const uint8_t*, size_t)>& take) {
    BioPtr bio = MemoryBio(data, length);
    size_t handed = 0;
    while (bio && handed < limit) {
        unsigned char* block = nullptr;
        long blockSize = 0;
        if (PEM_bytes_read_bio(&block, &blockSize, nullptr, PEM_STRING_X509, bio.get(), nullptr, nullptr) != 1)
            break;
        const OpenSslBytesPtr owned(block);
        ++handed;
        if (!take(block, static_cast<size_t>(blockSize))) break;
    }
    return handed;
}

bool FirstPemBlockDer(const uint8_t* data, size_t length, std::vector<uint8_t>* der) {
    const BioPtr bio = MemoryBio(data, length);
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* block = nullptr;
    long blockSize = 0;
    if (!bio || PEM_read_bio(bio.get(), &name, &header, &block, &blockSize) != 1) return false;
    const OpenSslTextPtr ownedName(name), ownedHeader(header);
    const OpenSslBytesPtr owned(block);
    der->assign(block, block + blockSize);
    return true;
}

X509Ptr DecodeCertificate(const uint8_t* data, size_t length, Encoding encoding) {
    if (encoding == Encoding::kPem) return DecodePemCertificate(data, length);
    return DecodeDerCertificateAt(&data, length);
}

X509CrlPtr DecodeCrl(const uint8_t* data, size_t length, Encoding encoding) {
    if (encoding == Encoding::kPem) return DecodePemCrl(data, length);
    return DecodeDerCrlAt(&data, length);
}

}  // namespace zorbelu::x509
