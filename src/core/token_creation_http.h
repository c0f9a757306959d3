// Token creation over HTTP: the check of the TSA's answer, on its own so
// that it can be exercised without a transfer.
#ifndef ZORBEL_CORE_TOKEN_CREATION_HTTP_H
#define ZORBEL_CORE_TOKEN_CREATION_HTTP_H

#include <cstdint>
#include <vector>

#include "core/token_reader.h"

namespace zorbel {

// The answer must be a granted TimeStampResp with the token asked for: its
// TSTInfo carries `nonce` (when one was sent) and the request's imprint.
// 1 with `token` read; 1901 when the TSA refused; 1902 otherwise.
[[nodiscard]] uint32_t AcceptAnswer(const std::vector<uint8_t>& answer, const ZORBELTimeStampRequest& request,
                                    const ASN1_INTEGER* nonce, Token& token);

}  // namespace zorbel

#endif
