#include "cli_support.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/resource_table.h"
#include "zorbelutil.h"

namespace zorbelu::cli {
namespace {

const ZorbeluStringResource kEnglish[] = {
#define ZORBELU_STRING(id, text) {id, text},
#include "strings/strings_en.inc"
#undef ZORBELU_STRING
};

const char* FindIn(const ZorbeluStringResource* strings, size_t count, uint32_t id) {
    for (size_t i = 0; i < count; ++i)
        if (strings[i].id == id) return strings[i].text;
    return nullptr;
}

// The language module beside the library, as the library finds it.
const ZorbeluResourceTable* LanguageTable(const std::string& language) {
    static std::map<std::string, const ZorbeluResourceTable*> loaded;
    if (auto it = loaded.find(language); it != loaded.end()) return it->second;
    const ZorbeluResourceTable* table = nullptr;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ZORBELUGetLibVer), &info) != 0 && info.dli_fname != nullptr) {
        std::string path = info.dli_fname;
        const size_t so = path.find(".so", path.rfind('/') + 1);
        if (so != std::string::npos) {
            path = path.substr(0, so) + language + ".so";
            if (void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); module != nullptr)
                table = static_cast<const ZorbeluResourceTable*>(dlsym(module, "zorbelu_resource_table"));
        }
    }
    loaded[language] = table;
    return table;
}

}  // namespace

Arguments ParseArguments(int argc, char** argv, int first, const std::vector<std::string>& flags) {
    Arguments args;
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) != 0 || word == "--") {
            args.positional.push_back(word);
            continue;
        }
        const std::string name = word.substr(2);
        if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
            args.options[name] = "";
        } else if (i + 1 < argc) {
            args.options[name] = argv[++i];
        } else {
            throw UsageError("option --" + name + " needs a value");
        }
    }
    return args;
}

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string Hex(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

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
    if (!language.empty()) {
        if (const ZorbeluResourceTable* table = LanguageTable(language); table != nullptr)
            if (const char* text = FindIn(table->strings, table->stringCount, id)) return text;
    }
    const char* text = FindIn(kEnglish, sizeof kEnglish / sizeof kEnglish[0], id);
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

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace zorbelu::cli
