// The trust anchors of the time-stamp services: the library carries them as
// "CERT" resources and adds them to, looks for them in, and removes them
// from the current user's system stores, roots to "ROOT" and intermediate
// CA certificates to "CA".
#pragma once

#include <array>
#include <cstdint>

#include "platform/module.h"
#include "zorbelutil.h"

namespace zorbelu::certs {

enum class RootOperation : uint32_t { Test = 0, Add = 1, Delete = 2 };

// One row of the service root table: a certificate resource of a service and
// the SHA-1 fingerprint its bytes must have.
struct ServiceRoot {
    uint32_t service;
    uint32_t resourceId;
    std::array<uint8_t, 20> sha1;
};

inline constexpr size_t kServiceRootCount = 10;
extern const ServiceRoot kServiceRoots[kServiceRootCount];

// Services 0 to 4 may be added and tested; only 0 to 2 may be deleted.
inline constexpr uint32_t kLastDeletableService = 2;

// The worker behind the five exports. Walks the table rows of `service` in
// order and, for each row used (with a token: only the rows on the chain of
// the token's TSA certificate), loads the certificate from `module`, checks
// its fingerprint and tests, adds or deletes it in "ROOT" (self-issued) or
// "CA". Results: 1, 1001, 1004, 2700, 2701, 2702, 2703 (zorbelutil.h).
// `operation` is the raw operation code (0 test, 1 add, 2 delete).
[[nodiscard]] uint32_t ManageServiceRootCertificates(platform::HINSTANCE module, uint32_t service,
                                                     uint32_t operation, const ZORBELUBlob* token);

// The exports' bodies, run under the module-state guard by the exports.
[[nodiscard]] uint32_t ManageRootsOfService(uint32_t service, RootOperation operation);
[[nodiscard]] uint32_t ManageRootsOfToken(const ZORBELUBlob* token, RootOperation operation);

}  // namespace zorbelu::certs
