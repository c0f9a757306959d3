// What the commands of zorbelu share: reading files, arguments, texts of
// the library's string table, JSON output, hex.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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

// Parses argv from `first`; `flags` take no value. Throws UsageError.
Arguments ParseArguments(int argc, char** argv, int first, const std::vector<std::string>& flags);

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::optional<std::string> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);

std::string Hex(const uint8_t* bytes, size_t length);
std::optional<std::string> FromHex(const std::string& hex);

// Text of the library's string table (English, or the language module of
// `language` beside the library), "" when none.
std::string LibraryText(uint32_t id, const std::string& language);

// The string id of a verification status's message, 0 when it has none.
uint32_t StatusMessageId(uint32_t status);

// A short explanation of an error code the library returns.
std::string ErrorText(uint32_t code);

std::string JsonString(const std::string& text);

}  // namespace zorbelu::cli
