// What the verification tests share: digest records, tokens of the fixture PKI, the trusted stores.
#pragma once

#include <cstring>
#include <string>

#include "support/served_pki.h"
#include "zorbelutil.h"

namespace zorbelu::test {

// The digest of the fixture's data in a plain (ZORBELUDigestInfo) or long record.
template <typename Record = ZORBELUDigestInfo>
Record DigestRecord(const fixtures::FixturePki& pki, fixtures::Digest digest = fixtures::Digest::Sha256) {
    Record record;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.algorithmOid, fixtures::FixturePki::DigestOid(digest));
    const std::string value = pki.DataDigest(digest);
    std::memcpy(record.digest, value.data(), value.size());
    record.digestLength = static_cast<uint32_t>(value.size());
    return record;
}

inline ZORBELUDigestInfoEx DigestRecordEx(const fixtures::FixturePki& pki,
                                          fixtures::Digest digest = fixtures::Digest::Sha256) {
    return DigestRecord<ZORBELUDigestInfoEx>(pki, digest);
}

inline ZORBELUBlob Blob(const std::string& bytes) {
    return ZORBELUBlob{reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
}

// The root and the intermediate as trust anchors of "ROOT", as a host that installed its services' roots has them.
inline void TrustRootAndIntermediate(ServedPki& served) {
    served.pki().InstallInStore(served.storeDir(), fixtures::Store::Root, fixtures::Ca::Root);
    served.pki().InstallInStore(served.storeDir(), fixtures::Store::Root, fixtures::Ca::Intermediate);
}

}  // namespace zorbelu::test
