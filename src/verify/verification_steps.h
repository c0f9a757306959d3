// The steps every verification shares: connection settings, the TSA
// certificate out of the token, its names, the root lookup, the mapping of
// the core library's answer and the final digest comparison. The engines
// differ only in how they gather certificates and CRLs.
#pragma once

#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "x509/ossl_ptr.h"
#include "core/zorbel_private.h"
#include "frame/app.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::verify {

inline constexpr uint32_t kDefaultTimeLimitMs = 15000;

// 0 selects the default time limit. The calls with a signed time-out
// (ZORBELUVerifyTSACertificate, ZORBELUGetCertificates) take a negative one
// as the default too; an unsigned limit is never negative.
uint32_t EffectiveTimeLimit(uint32_t timeLimit);
uint32_t EffectiveTimeLimit(int32_t timeout);

struct CoreStoreFree {
    void operator()(ZORBELCertStore* store) const { ZORBELFreeCertStore(store); }
};
using CoreStorePtr = std::unique_ptr<ZORBELCertStore, CoreStoreFree>;

// Validates `proxy` (when given) and copies it into `copy`: every text within
// its field and NUL-terminated, the credentials only when they are used.
// Without a record the copy has no credentials and `defaultOwner` as owner.
[[nodiscard]] uint32_t CopyConnectionSettings(const ZORBELUProxyInfo* proxy, ZORBELU_HWND defaultOwner,
                                              ZORBELUProxyInfo* copy);

// Hands the copied settings (without the owner window) to the communication
// library; its answer other than 1 ends the verification.
[[nodiscard]] uint32_t HandSettingsToCommunication(const ZORBELUProxyInfo& copy);

struct CoreTokenFree {
    void operator()(ZORBELPRVToken* token) const { ZORBELPRVFreeToken(token); }
};
using CoreTokenPtr = std::unique_ptr<ZORBELPRVToken, CoreTokenFree>;

// The token, read by the core library once for the whole verification: 1,
// or what ExtractTsaCertificate answers for a token that cannot be read.
[[nodiscard]] uint32_t ReadCoreToken(const ZORBELUBlob* token, CoreTokenPtr* read);

// The token's TSA certificate, in the thread's scratch buffer (for calls
// that hand it out) or in a buffer of the call (10,000 bytes when it has
// none yet), grown 10,000 bytes at a time over at most six attempts. 1;
// 1002; 1005; 1700; 2508 for any other answer of the core library.
[[nodiscard]] uint32_t ExtractTsaCertificate(const ZORBELUBlob* token, ZORBELUCertBlob* certificate);
[[nodiscard]] uint32_t ExtractTsaCertificate(const ZORBELPRVToken* token, frame::ScratchBuffer& buffer,
                                             ZORBELUCertBlob* certificate);

// The decoded TSA certificate with its DER names (pointing into it).
struct TsaCertificate {
    X509Ptr cert;
    const uint8_t* issuer = nullptr;
    size_t issuerLength = 0;
    const uint8_t* subject = nullptr;
    size_t subjectLength = 0;
    bool selfIssued = false;
};

// The token's TSA certificate, decoded from the token read, with its
// names: 1, or 2503.
[[nodiscard]] uint32_t TsaCertificateOf(const ZORBELPRVToken* token, TsaCertificate* tsa);

// Finds the certificate whose subject is `name` in the system store "ROOT"
// and adds it to the core store as a trust anchor: 1, or 2507.
[[nodiscard]] uint32_t AddRootCertificateNamed(ZORBELCertStore* store, const uint8_t* name, size_t nameLength);

// The verification status for the core library's answer; 1 stays 1 (go on).
uint32_t MapCoreResult(uint32_t coreResult);

// 2501 when the current document's digest is that of the time-stamped data
// (or no current digest is given), else 2509.
uint32_t CompareDigests(const uint8_t* stamped, const uint8_t* current, uint32_t length);

}  // namespace zorbelu::verify
