#include "platform/stores/system_store.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace zorbelu::stores {

namespace {

namespace fs = std::filesystem;

// A certificate file is small; the bundle holds some hundred certificates.
constexpr std::uintmax_t kMaxCertificateFile = 1u << 20;
constexpr std::uintmax_t kMaxBundleFile = 16u << 20;

struct BioFree {
    void operator()(BIO* b) const noexcept { BIO_free(b); }
};
struct X509Free {
    void operator()(X509* x) const noexcept { X509_free(x); }
};

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
    return upper;
}

bool HasCertificateExtension(const fs::path& file) {
    const std::string extension = Upper(file.extension().string());
    return extension == ".CER" || extension == ".CRT" || extension == ".DER" || extension == ".PEM";
}

bool ReadFile(const fs::path& file, std::uintmax_t limit, std::vector<uint8_t>& bytes) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error || size == 0 || size > limit) return false;
    std::ifstream in(file, std::ios::binary);
    bytes.resize(static_cast<size_t>(size));
    return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)));
}

bool LooksLikePem(const std::vector<uint8_t>& bytes) {
    static constexpr char kBegin[] = "-----BEGIN";
    return std::search(bytes.begin(), bytes.end(), kBegin, kBegin + sizeof kBegin - 1) != bytes.end();
}

void AppendPemCertificates(const std::vector<uint8_t>& bytes, std::vector<DerCertificate>& out) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (!bio) return;
    for (;;) {
        std::unique_ptr<X509, X509Free> certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!certificate) break;
        unsigned char* der = nullptr;
        const int size = i2d_X509(certificate.get(), &der);
        if (size > 0) out.emplace_back(der, der + size);
        OPENSSL_free(der);
    }
}

void AppendDerCertificate(const std::vector<uint8_t>& bytes, std::vector<DerCertificate>& out) {
    const unsigned char* p = bytes.data();
    std::unique_ptr<X509, X509Free> certificate(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
    if (certificate) out.emplace_back(bytes.data(), p);
}

void AppendFile(const fs::path& file, std::uintmax_t limit, std::vector<DerCertificate>& out) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(file, limit, bytes)) return;
    if (LooksLikePem(bytes))
        AppendPemCertificates(bytes, out);
    else
        AppendDerCertificate(bytes, out);
}

std::vector<fs::path> CertificateFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && HasCertificateExtension(it->path())) files.push_back(it->path());
    }
    // Byte order of the file names, as the store promises.
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    return files;
}

bool SystemRootsShown() {
    const char* value = std::getenv("ZORBELU_SYSTEM_ROOTS");
    return value == nullptr || std::strcmp(value, "0") != 0;
}

}  // namespace

fs::path StoreRootFolder() {
    if (const char* dir = std::getenv("ZORBELU_STORE_DIR"); dir != nullptr && *dir != '\0') return dir;
    fs::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0')
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        data = fs::path(home) / ".local" / "share";
    else
        data = fs::path("/tmp");  // no home at all: a place that exists, never written unasked
    return data / "zorbelutilnd" / "stores";
}

std::optional<SystemStore> SystemStore::Open(std::string_view name) {
    const std::string upper = Upper(name);
    if (upper != "ROOT" && upper != "CA") return std::nullopt;
    return SystemStore(upper, StoreRootFolder() / upper, upper == "ROOT" && SystemRootsShown());
}

std::vector<DerCertificate> SystemStore::Certificates() const {
    std::vector<DerCertificate> certificates;
    for (const fs::path& file : CertificateFiles(folder_)) AppendFile(file, kMaxCertificateFile, certificates);
    if (withBundle_) AppendFile(kSystemBundle, kMaxBundleFile, certificates);
    return certificates;
}

bool SystemStore::Contains(const uint8_t* der, size_t size) const {
    if (der == nullptr || size == 0) return false;
    for (const DerCertificate& certificate : Certificates())
        if (certificate.size() == size && std::memcmp(certificate.data(), der, size) == 0) return true;
    return false;
}

}  // namespace zorbelu::stores
