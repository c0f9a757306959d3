// What the verification tests share: digest records and tokens from the
// fixture PKI, and the stores a verification trusts.
#pragma once

#include <cstring>
#include <string>

#include "support/served_pki.h"
#include "zorbelutil.h"

namespace zorbelu::test {

inline ZORBELUDigestInfo DigestRecord(const fixtures::FixturePki& pki, fixtures::Digest digest = fixtures::Digest::Sha256) {
    ZORBELUDigestInfo record;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.algorithmOid, fixtures::FixturePki::DigestOid(digest));
    const std::string value = pki.DataDigest(digest);
    std::memcpy(record.digest, value.data(), value.size());
    record.digestLength = static_cast<uint32_t>(value.size());
    return record;
}

inline ZORBELUDigestInfoEx DigestRecordEx(const fixtures::FixturePki& pki,
                                          fixtures::Digest digest = fixtures::Digest::Sha256) {
    ZORBELUDigestInfoEx record;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.algorithmOid, fixtures::FixturePki::DigestOid(digest));
    const std::string value = pki.DataDigest(digest);
    std::memcpy(record.digest, value.data(), value.size());
    record.digestLength = static_cast<uint32_t>(value.size());
    return record;
}

inline ZORBELUBlob Blob(const std::string& bytes) {
    return ZORBELUBlob{reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
}

// The root and the intermediate as trust anchors of "ROOT", as a host that
// installed its services' roots has them.
inline void TrustRootAndIntermediate(ServedPki& served) {
    served.pki().InstallInStore(served.storeDir(), fixtures::Store::Root, fixtures::Ca::Root);
    served.pki().InstallInStore(served.storeDir(), fixtures::Store::Root, fixtures::Ca::Intermediate);
}

}  // namespace zorbelu::test
