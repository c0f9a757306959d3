// CMS and time-stamp OIDs as DER contents (without tag and length), for
// comparing with what the bounded DER reader reads.
#ifndef ZORBEL_CORE_CMS_OIDS_H
#define ZORBEL_CORE_CMS_OIDS_H

#include <cstdint>

namespace zorbel {

// id-signedData
inline constexpr uint8_t kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
// id-ct-TSTInfo
inline constexpr uint8_t kTstInfoOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x01, 0x04};

}  // namespace zorbel

#endif
