// Reading the files of a directory store: which files a folder holds, the
// certificates in one file, and how a file or folder was when it was looked
// at, so that what was read is read again only after a change.
#ifndef ZORBELU_PLATFORM_STORES_STORE_FILES_H
#define ZORBELU_PLATFORM_STORES_STORE_FILES_H

#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/stores/system_store.h"

namespace zorbelu::stores::files {

// A certificate file is small; the bundle holds some hundred certificates.
constexpr std::uintmax_t kMaxCertificateFile = 1u << 20;
constexpr std::uintmax_t kMaxBundleFile = 16u << 20;

// A file's or folder's identity, size and times of change. Any change of
// the file (rewritten in place, replaced, renamed over) changes its stamp,
// unless it happens within the resolution of the file system's clock.
struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
};
bool operator==(const Stamp& a, const Stamp& b);
inline bool operator!=(const Stamp& a, const Stamp& b) { return !(a == b); }

// Nothing when the path does not exist (or cannot be looked at).
std::optional<Stamp> StampOf(const std::filesystem::path& path);
Stamp StampOfStat(const struct stat& info);

// a earlier than b.
bool Before(const timespec& a, const timespec& b);

// A certificate file's name: a stem, then .cer, .crt, .der or .pem in any
// letter case.
bool HasCertificateExtension(std::string_view name);

// The real time, for Settled(): file times are real times, whatever the
// library's clock says.
timespec RealTimeNow();

// For tests only: RealTimeNow() runs `seconds` ahead, so that what a test
// has just written (and dated back) counts as settled.
void SetRealTimeOffsetForTesting(time_t seconds);

// True when a change made after `lookedAt` cannot leave the same stamp: the
// last change is older than the coarsest resolution of file times we allow
// for (two seconds). Something read while its stamp was not settled yet is
// read again next time, however equal its stamp looks.
bool Settled(const std::optional<Stamp>& stamp, const timespec& lookedAt);

// The certificate files (*.cer, *.crt, *.der, *.pem, any letter case) of
// the folder, in byte order of their names; none when there is no folder.
std::vector<std::filesystem::path> CertificateFiles(const std::filesystem::path& folder);

// The whole file when it is a regular file of 1 to `limit` bytes.
[[nodiscard]] bool ReadFileBounded(const std::filesystem::path& file, std::uintmax_t limit, std::vector<uint8_t>& bytes);

// Every certificate of `bytes` as DER: PEM gives each of its blocks, DER
// its first element.
std::vector<DerCertificate> CertificatesIn(const std::vector<uint8_t>& bytes);

// Every certificate of the file as DER: a DER file gives its one
// certificate, a PEM file each of its own; unreadable files and files over
// `limit` bytes give none. Remembered per file until its stamp changes.
std::vector<DerCertificate> FileCertificates(const std::filesystem::path& file, std::uintmax_t limit);

}  // namespace zorbelu::stores::files

#endif
