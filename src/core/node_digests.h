// The SHA-256 of each node a core store holds, made once when the node is
// added. The verdict of a chain check is keyed by the digests of the store's
// nodes; a CRL of 200,000 entries is 8 MB, and hashing it on every
// verification would cost more than the verification.
//
// A node is the store's own copy, written by ZORBELAddCACert or ZORBELAddCRL
// and freed only by ZORBELFreeCertStore, which forgets its digest. A node
// the caller built by hand (or one whose bytes or length no longer are those
// the digest was made of) is hashed again.
#ifndef ZORBEL_CORE_NODE_DIGESTS_H
#define ZORBEL_CORE_NODE_DIGESTS_H

#include "platform/stores/content_digest.h"
#include "zorbel.h"

namespace zorbel {

// Remembers the digest of a node just made; false when memory is short.
[[nodiscard]] bool RememberNodeDigest(const ZORBELCertNode* node) noexcept;
void ForgetNodeDigest(const ZORBELCertNode* node) noexcept;

// The digest of the node's bytes.
zorbelu::stores::ContentDigest NodeDigest(const ZORBELCertNode* node);

}  // namespace zorbel

#endif
