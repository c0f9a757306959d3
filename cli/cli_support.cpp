#include "cli_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>

#include "platform/module.h"
#include "platform/unique_fd.h"
#include "x509/decoding.h"
#include "zorbelutil.h"

namespace zorbelu::cli {
namespace {

// The language module beside the library, found by the library's own rule;
// NULL when there is none.
const ZorbeluResourceTable* LanguageTable(const std::string& language) {
    static std::map<std::string, const ZorbeluResourceTable*> loaded;
    if (auto it = loaded.find(language); it != loaded.end()) return it->second;
    const ZorbeluResourceTable* table = nullptr;
    char library[4096] = {};
    if (platform::GetModuleFileNameA(platform::OwnModuleHandle(), library, sizeof library) > 0) {
        const std::string path = platform::LanguageModulePathOf(library, language.c_str());
        table = platform::ResourceTableOf(platform::LoadLibraryA(path.c_str()));
    }
    loaded[language] = table;
    return table;
}

}  // namespace

void NameLibraryFileOfProgram() {
    platform::SetOwnFilePathSource([]() -> std::string {
        char self[4096];
        const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (length <= 0) return {};
        std::string folder(self, static_cast<size_t>(length));
        folder.erase(folder.rfind('/') + 1);
        const std::string installed = folder + ZORBELU_LIBDIR_FROM_BINDIR "/" ZORBELU_LIBRARY_FILE;
        const std::string buildTree = folder + "../lib/" ZORBELU_LIBRARY_FILE;
        const bool inBuildTree = ::access(installed.c_str(), F_OK) != 0 && ::access(buildTree.c_str(), F_OK) == 0;
        return inBuildTree ? buildTree : installed;
    });
}

uint32_t NumberOption(const Arguments& args, const std::string& name, uint32_t fallback, uint32_t max) {
    if (!args.has(name)) return fallback;
    const std::string text = args.get(name);
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > max) break;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digitsOnly || value > max)
        throw UsageError("--" + name + " takes a whole number up to " + std::to_string(max));
    return static_cast<uint32_t>(value);
}

uint32_t TimeoutOption(const Arguments& args) { return NumberOption(args, "timeout", 0, INT32_MAX); }

InputFile::InputFile(const std::string& path) : path_(path == "-" ? "standard input" : path) {
    fd_ = path == "-" ? dup(STDIN_FILENO) : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) throw FileError("cannot read " + path_ + ": " + std::strerror(errno));
    struct stat info {};
    if (fstat(fd_, &info) != 0) {
        const int error = errno;
        close(fd_);
        throw FileError("cannot read " + path + ": " + std::strerror(error));
    }
    if (S_ISDIR(info.st_mode)) {
        close(fd_);
        throw FileError(path + " is a directory, not a file");
    }
    if (S_ISREG(info.st_mode)) regularSize_ = static_cast<size_t>(info.st_size);
}

InputFile::~InputFile() { close(fd_); }

size_t InputFile::Read(char* buffer, size_t size) {
    for (;;) {
        const ssize_t got = read(fd_, buffer, size);
        if (got >= 0) return static_cast<size_t>(got);
        if (errno != EINTR) throw FileError("cannot read " + path_ + ": " + std::strerror(errno));
    }
}

std::string ReadFile(const std::string& path) {
    InputFile file(path);
    const std::string tooLarge = (path == "-" ? "standard input" : path) + " is larger than " + kMaxInputFileText;
    if (file.RegularSize() && *file.RegularSize() > kMaxInputFileBytes) throw FileError(tooLarge);
    // One byte more than the bound tells a file that is too large; the
    // buffer never grows beyond that.
    constexpr size_t kLimit = kMaxInputFileBytes + 1;
    std::string bytes(std::min(file.RegularSize().value_or(0) + 1, kLimit), '\0');
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled == kLimit) throw FileError(tooLarge);
            bytes.resize(std::min(std::max<size_t>(2 * filled, 1u << 16), kLimit));
        }
        const size_t got = file.Read(&bytes[filled], bytes.size() - filled);
        if (got == 0) break;
        filled += got;
    }
    bytes.resize(filled);
    return bytes;
}

namespace {

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
    if (!platform::WriteAll(fd, bytes.data(), bytes.size()))
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

// A new file in `folder` that nobody else can have made or linked:
// ".zorbelu-XXXXXXXX.tmp" created exclusively. Its descriptor.
int CreateTemporary(const std::filesystem::path& folder, std::filesystem::path* temporary) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".zorbelu-%08x.tmp", static_cast<unsigned>(random()));
        *temporary = folder / name;
        const int fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

void ReplaceFile(const std::filesystem::path& path, const std::string& bytes) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::filesystem::path temporary;
    const int fd = CreateTemporary(folder, &temporary);
    if (fd < 0) throw std::runtime_error("cannot write in " + folder.string() + ": " + std::strerror(errno));
    try {
        WriteAll(fd, bytes, temporary.string());
        if (fsync(fd) != 0) throw std::runtime_error("cannot write " + temporary.string() + ": " + std::strerror(errno));
    } catch (...) {
        close(fd);
        unlink(temporary.c_str());
        throw;
    }
    close(fd);
    // rename() replaces the entry itself: a link there is replaced, its
    // target left alone.
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        throw std::runtime_error("cannot replace " + path.string() + ": " + std::strerror(error));
    }
}

}  // namespace

void WriteNewFile(const std::filesystem::path& path, const std::string& bytes, bool replace) {
    if (replace) return ReplaceFile(path, bytes);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) throw FileError(path.string() + " exists already (--force replaces it)");
    if (fd < 0) throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
    try {
        WriteAll(fd, bytes, path.string());
    } catch (...) {
        close(fd);
        throw;
    }
    if (close(fd) != 0) throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
}

std::string DerOfPemOrDer(const std::string& bytes, const std::string& path) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (!x509::BeginsWithPemBlock(data, bytes.size())) return bytes;
    std::vector<uint8_t> der;
    if (!x509::FirstPemBlockDer(data, bytes.size(), &der))
        throw FileError(path + " holds PEM text that cannot be decoded");
    return std::string(der.begin(), der.end());
}

namespace {
bool verbose = false;
}  // namespace

void SetVerbose(bool on) { verbose = on; }
bool Verbose() { return verbose; }
void Note(const std::string& text) {
    if (verbose) std::fprintf(stderr, "zorbelu: %s\n", ValidUtf8(text).c_str());
}

nlohmann::ordered_json AnswerJson(const std::string& command, uint32_t code, const std::string& message, int exitStatus,
                          const std::string& reason) {
    const char* kind = exitStatus == kExitUsage ? "usage"
                       : ZORBELU_IS_STATUS(code) ? "status"
                       : code == ZORBELU_OK || code == ZORBELU_ROOT_IN_STORE ? "ok"
                                                                             : "error";
    return {{"command", command}, {"code", code},     {"kind", kind},         {"message", message},
            {"valid", exitStatus == kExitValid}, {"reason", reason}, {"exitStatus", exitStatus}};
}

void PrintJson(const nlohmann::ordered_json& answer) { std::printf("%s\n", JsonText(answer).c_str()); }

std::optional<std::string> FromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = std::isxdigit(static_cast<unsigned char>(hex[i])) ? std::stoi(hex.substr(i, 1), nullptr, 16) : -1;
        const int low =
            std::isxdigit(static_cast<unsigned char>(hex[i + 1])) ? std::stoi(hex.substr(i + 1, 1), nullptr, 16) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::string LibraryText(uint32_t id, const std::string& language) {
    if (!language.empty())
        if (const char* text = platform::FindString(LanguageTable(language), id)) return text;
    // The library's own English table, compiled into this program too.
    const char* text = platform::FindString(&zorbelu_builtin_resources, id);
    return text != nullptr ? text : "";
}

uint32_t StatusMessageId(uint32_t status) {
    static const std::map<uint32_t, uint32_t> ids = {
        {2500, 5001}, {2501, 5002}, {2502, 5003}, {2503, 5004}, {2504, 5005}, {2505, 5006}, {2506, 5007},
        {2507, 5008}, {2508, 5009}, {2509, 5010}, {2510, 6013}, {2511, 6014}, {2512, 6022}, {2513, 5058},
        {2514, 5060}, {2515, 5063}, {2516, 5065},
    };
    auto it = ids.find(status);
    return it == ids.end() ? 0 : it->second;
}

std::string ErrorText(uint32_t code) {
    static const std::map<uint32_t, const char*> texts = {
        {1001, "invalid argument or unusable token"},
        {1002, "buffer too small"},
        {1003, "text too long for its field"},
        {1004, "unexpected failure of a store or resource"},
        {1005, "out of memory, or a certificate store cannot be created"},
        {1006, "unusable window handle or pointer"},
        {1201, "the download failed"},
        {1202, "could not connect to the server"},
        {1203, "the download took longer than the time limit"},
        {1204, "the proxy wants authentication"},
        {1205, "the server wants authentication"},
        {1401, "the digest does not fit its algorithm"},
        {1500, "unknown CRL encoding"},
        {1600, "invalid certificate store"},
        {1601, "the certificate cannot be decoded"},
        {1603, "a CA certificate was not accepted"},
        {1604, "a CRL cannot be decoded, accepted or obtained"},
        {1605, "no CRL distribution point"},
        {1700, "the token carries no TSA certificate"},
        {1801, "the token carries no time attribute certificate"},
        {2001, "the token cannot be read"},
        {2600, "invalid CRL cache store"},
        {2650, "unknown time zone"},
        {2651, "the policy belongs to no known service"},
        {2700, "every certificate is already present"},
        {2701, "not found"},
        {2702, "the change was declined"},
        {2703, "access to the certificate store was denied"},
        {2704, "the TSA certificate is self-issued"},
        {2705, "the certificate is not yet valid"},
        {2706, "the certificate has expired"},
    };
    auto it = texts.find(code);
    return it == texts.end() ? "error" : it->second;
}

}  // namespace zorbelu::cli
