// The system chain engine step of the chain walk: lets the engine build the
// certificate's chain, which brings missing intermediate certificates (from
// caIssuers URLs) into the system store "CA".
#pragma once

#include <openssl/x509.h>

#include <cstdint>

#include "platform/deadline.h"

namespace zorbelu::certs {

// The result of FetchIssuersWithWindowsChain when the engine gives no
// trusted chain (or the certificate cannot be handed to it).
inline constexpr uint32_t kChainEngineFailed = 1000;

// 1 when the engine builds a chain without any error bit (trusted root,
// signatures, times, the certificate's revocation) and the chain holds the
// certificate's issuer; else kChainEngineFailed. Callers walk the system
// stores once more after a 1. Every download of the engine ends by the
// calling verification's `deadline`.
[[nodiscard]] uint32_t FetchIssuersWithWindowsChain(X509* certificate, const platform::Deadline& deadline);

}  // namespace zorbelu::certs
