#include "platform/stores/store_files.h"

#include <openssl/asn1.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/stores/decoded_objects.h"
#include "platform/unique_fd.h"
#include "x509/decoding.h"

namespace zorbelu::stores::files {
namespace {

namespace fs = std::filesystem;
using platform::UniqueFd;

// Coarser than any file system's time stamps we expect to store on.
constexpr time_t kTimeResolutionMargin = 2;
// Files whose certificates are remembered; beyond that the memory starts over.
constexpr size_t kMemoizedFiles = 4096;

// The size of the DER element at the start of `bytes` (definite length),
// or 0 when there is none.
size_t ElementSize(const std::vector<uint8_t>& bytes) {
    const unsigned char* p = bytes.data();
    long length = 0;
    int tag = 0, xclass = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &xclass, static_cast<long>(bytes.size()));
    if ((flags & 0x80) != 0 || flags == 0x21) return 0;  // an error, or an indefinite length
    return static_cast<size_t>(p - bytes.data()) + static_cast<size_t>(length);
}

// A store file is read again after every change, and the same certificates
// come back; a chain walk decodes them too: each is decoded (and so checked)
// once per process, where it can be.
X509Ptr DecodeShared(const unsigned char* der, size_t size) {
    if (X509* shared = SharedCertificate(der, size)) return X509Ptr(shared);
    return x509::DecodeDerCertificateAt(&der, size);
}

// As PEM_read_bio_X509 in a loop, which reads each block and decodes it.
void AppendPemCertificates(const std::vector<uint8_t>& bytes, std::vector<DerCertificate>& out) {
    (void)x509::ForEachPemCertificateDer(bytes.data(), bytes.size(), SIZE_MAX, [&](const uint8_t* block, size_t size) {
        const X509Ptr certificate = DecodeShared(block, size);
        if (!certificate) return false;
        unsigned char* der = nullptr;
        const int encoded = i2d_X509(certificate.get(), &der);
        const OpenSslBytesPtr owned(der);
        if (encoded > 0) out.emplace_back(der, der + encoded);
        return true;
    });
}

void AppendDerCertificate(const std::vector<uint8_t>& bytes, std::vector<DerCertificate>& out) {
    // The certificate is the first element; bytes after it do not matter.
    const size_t size = ElementSize(bytes);
    if (size > 0 && size <= bytes.size()) {
        const X509Ptr shared(SharedCertificate(bytes.data(), size));
        if (shared) {
            out.emplace_back(bytes.data(), bytes.data() + size);
            return;
        }
    }
    const uint8_t* p = bytes.data();
    const X509Ptr certificate = x509::DecodeDerCertificateAt(&p, bytes.size());
    if (certificate) out.emplace_back(bytes.data(), p);
}

std::vector<DerCertificate> ReadFileCertificates(const fs::path& file, std::uintmax_t limit) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBounded(file, limit, bytes)) return {};
    return CertificatesIn(bytes);
}

struct ReadFileMemo {
    Stamp stamp;
    bool settled;
    std::vector<DerCertificate> certificates;
};

std::atomic<time_t> realTimeOffset{0};

}  // namespace

bool operator==(const Stamp& a, const Stamp& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
           a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
}

std::optional<Stamp> StampOf(const fs::path& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::nullopt;
    return StampOfStat(info);
}

Stamp StampOfStat(const struct stat& info) {
    return Stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool Before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool HasCertificateExtension(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot != 4) return false;
    for (const char* extension : {".cer", ".crt", ".der", ".pem"})
        if (strncasecmp(name.data() + dot, extension, 4) == 0) return true;
    return false;
}

timespec RealTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec += realTimeOffset.load(std::memory_order_relaxed);
    return now;
}

void SetRealTimeOffsetForTesting(time_t seconds) { realTimeOffset.store(seconds, std::memory_order_relaxed); }

bool Settled(const std::optional<Stamp>& stamp, const timespec& lookedAt) {
    if (!stamp) return true;  // absent: whatever appears later has a stamp
    const timespec limit{lookedAt.tv_sec - kTimeResolutionMargin, lookedAt.tv_nsec};
    return Before(stamp->modified, limit) && Before(stamp->changed, limit);
}

std::vector<fs::path> CertificateFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && HasCertificateExtension(it->path().filename().native())) files.push_back(it->path());
    }
    // Byte order of the file names, as the store promises.
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    return files;
}

bool ReadFileBounded(const fs::path& file, std::uintmax_t limit, std::vector<uint8_t>& bytes) {
    // Not blocking: a FIFO put in a store folder must not hold the reader.
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uintmax_t>(info.st_size) > limit)
        return false;
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::vector<DerCertificate> CertificatesIn(const std::vector<uint8_t>& bytes) {
    std::vector<DerCertificate> certificates;
    if (x509::HoldsPemBlock(bytes.data(), bytes.size()))
        AppendPemCertificates(bytes, certificates);
    else
        AppendDerCertificate(bytes, certificates);
    return certificates;
}

std::vector<DerCertificate> FileCertificates(const fs::path& file, std::uintmax_t limit) {
    static std::mutex mutex;
    static std::map<std::string, ReadFileMemo> memo;
    const timespec lookedAt = RealTimeNow();
    const std::optional<Stamp> stamp = StampOf(file);
    if (!stamp) return {};
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto it = memo.find(file.string());
        if (it != memo.end() && it->second.settled && it->second.stamp == *stamp) return it->second.certificates;
    }
    std::vector<DerCertificate> certificates = ReadFileCertificates(file, limit);
    const std::lock_guard<std::mutex> lock(mutex);
    if (memo.size() >= kMemoizedFiles) memo.clear();
    memo[file.string()] = ReadFileMemo{*stamp, Settled(stamp, lookedAt), certificates};
    return certificates;
}

}  // namespace zorbelu::stores::files
