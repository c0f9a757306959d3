// What the commands of zorbelu share: reading files, arguments, texts of
// the library's string table, JSON output, hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "json_text.h"
#include "x509/hex.h"

namespace zorbelu::cli {

// Exit statuses a script can rely on.
inline constexpr int kExitValid = 0;       // 2501: the token is valid and the data unchanged
inline constexpr int kExitStatus = 1;      // any other verification status or verdict
inline constexpr int kExitUsage = 2;       // wrong arguments
inline constexpr int kExitError = 3;       // an error code instead of a status

// Options as given: "--name value" or "--flag"; the rest are positional.
struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool has(const std::string& name) const { return options.count(name) != 0; }
    std::string get(const std::string& name, const std::string& fallback = "") const {
        auto it = options.find(name);
        return it == options.end() ? fallback : it->second;
    }
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The library is linked into the program: names to it the library file of
// the program's library folder ("lib" beside "bin" in the build tree, the
// configured library folder once installed), beside which its language
// modules and dialog backend are found. First thing in main().
void NameLibraryFileOfProgram();

// The option `name` as a whole number of digits alone, at most `max`;
// `fallback` when it is not given. Throws UsageError.
uint32_t NumberOption(const Arguments& args, const std::string& name, uint32_t fallback, uint32_t max);
// --timeout MS, each download's limit (0: the library's default).
uint32_t TimeoutOption(const Arguments& args);

// A file named on the command line that zorbelu will not use (missing, a
// directory, too large, or an output file already there): exit status 2,
// the message as it is.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The largest token, certificate or CRL file zorbelu reads; a larger one is
// refused after reading one byte more than this, so that a device or an
// endless file ends at once with bounded memory.
inline constexpr size_t kMaxInputFileBytes = 16u << 20;
inline constexpr const char* kMaxInputFileText = "16 MiB";

// A file opened for reading, never a directory; "-" is standard input.
// Throws FileError.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Up to `size` bytes; 0 at the end. Throws FileError.
    size_t Read(char* buffer, size_t size);
    // The size of a regular file; nothing for a device, a pipe and the like.
    std::optional<size_t> RegularSize() const { return regularSize_; }

private:
    std::string path_;
    int fd_ = -1;
    std::optional<size_t> regularSize_;
};

// The whole file, at most kMaxInputFileBytes; "-" reads standard input.
// Throws FileError.
std::string ReadFile(const std::string& path);

// The DER inside PEM text (x509::BeginsWithPemBlock, any label); `bytes` as
// they are when they are not PEM. Throws FileError for PEM that cannot be decoded.
std::string DerOfPemOrDer(const std::string& bytes, const std::string& path);

// --verbose: notes on stderr of what is fetched and decided.
void SetVerbose(bool on);
bool Verbose();
void Note(const std::string& text);

// The answer every command gives with --json shares these keys: "command",
// "code" (the library's result, 0 for a usage or file error), "kind"
// ("status", "error", "usage" or "ok"), "message", "valid" (true only for
// the command's good answer, exit status 0), "reason" (why, "" when there
// is nothing more to say), "exitStatus". Commands add their own keys.
nlohmann::ordered_json AnswerJson(const std::string& command, uint32_t code, const std::string& message, int exitStatus,
                          const std::string& reason = "");
// Prints `answer` as one line, valid UTF-8 whatever bytes its texts hold.
void PrintJson(const nlohmann::ordered_json& answer);

// Writes `bytes` as the file `path` without ever following a symbolic link:
// a new file only, or with `replace` a temporary file in the same folder
// renamed over the directory entry (an entry that is a link is replaced,
// never its target). Throws FileError when the file exists and `replace`
// is false, std::runtime_error when writing fails.
void WriteNewFile(const std::filesystem::path& path, const std::string& bytes, bool replace = false);

// Hex text goes the other way with x509::HexText (x509/hex.h).
std::optional<std::string> FromHex(const std::string& hex);

// Text of the library's string table (English, or the language module of
// `language` beside the library), "" when none.
std::string LibraryText(uint32_t id, const std::string& language);

// The string id of a verification status's message, 0 when it has none.
uint32_t StatusMessageId(uint32_t status);

// A short explanation of an error code the library returns.
std::string ErrorText(uint32_t code);

}  // namespace zorbelu::cli
