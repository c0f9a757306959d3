#include "dialogs/token/display_format.h"

#include <cstring>

#include "frame/resource_text.h"
#include "x509/hex.h"

namespace zorbelu::dialogs {
namespace {

struct AlgorithmName {
    const char* oid;
    uint32_t stringId;
};

// In the order they are compared.
constexpr AlgorithmName kAlgorithmNames[] = {
    {"1.3.14.3.2.26", 5029},          // SHA-1
    {"1.2.840.113549.2.5", 5027},     // MD5
    {"1.2.840.113549.1.1.4", 5028},   // MD5 with RSA Encryption
    {"1.2.840.113549.1.1.5", 5030},   // SHA-1 with RSA Encryption
    {"1.2.840.10040.4.3", 5031},      // DSA with SHA-1 Encryption
    {"2.16.840.1.101.3.4.2.1", 5032}, // SHA-256
    {"2.16.840.1.101.3.4.2.2", 5034}, // SHA-384
    {"2.16.840.1.101.3.4.2.3", 5036}, // SHA-512
    {"1.2.840.113549.1.1.11", 5033},  // SHA-256 with RSA Encryption
    {"1.2.840.113549.1.1.12", 5035},  // SHA-384 with RSA Encryption
    {"1.2.840.113549.1.1.13", 5037},  // SHA-512 with RSA Encryption
};

}  // namespace

void FormatAlgorithmName(const char* oid, std::string& out) {
    out.clear();
    if (oid == nullptr) return;
    uint32_t id = kStringUnknownOid;
    for (const AlgorithmName& name : kAlgorithmNames) {
        if (std::strcmp(oid, name.oid) == 0) {
            id = name.stringId;
            break;
        }
    }
    out = frame::LoadResourceString(id);
}

void FormatHexBlock(const uint8_t* bytes, int32_t count, std::string& out) {
    out.clear();
    if (bytes == nullptr || count <= 0) return;
    // Lines of 64 bytes when there is more than one line.
    for (int32_t line = 0; line < count; line += 64) {
        const int32_t size = count - line < 64 ? count - line : 64;
        out += x509::HexText(bytes + line, static_cast<size_t>(size), x509::HexCase::kUpper);
        if (count > 64 && size == 64) out += "\r\n";
    }
}

std::string FormatHex(const uint8_t* bytes, int32_t count) {
    std::string out;
    if (bytes == nullptr || count <= 0) return out;
    return x509::HexText(bytes, static_cast<size_t>(count), x509::HexCase::kUpper);
}

std::string FormatSerial64(const uint32_t words[2]) {
    if (words == nullptr) return std::string();
    const uint64_t value = (uint64_t{words[0]} << 32) | words[1];
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
    size_t first = 0;  // no leading zero byte, but one byte for zero
    while (first < 7 && bytes[first] == 0) ++first;
    return x509::HexText(bytes + first, 8 - first, x509::HexCase::kUpper);
}

}  // namespace zorbelu::dialogs
