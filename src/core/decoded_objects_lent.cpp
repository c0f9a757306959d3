// libzorbel lends its caches of decoded certificates and CRLs to the rest of
// the process (platform/stores/decoded_objects.h): libzorbelutilnd and the
// zorbelu program link their own copy of the directory stores, and without
// these each would decode the same certificates again.
#include "core/boundary.h"
#include "core/zorbel_private.h"
#include "platform/stores/decoded_objects.h"

ZORBEL_API uint32_t ZORBELPRVSharedCertificate(const uint8_t* der, size_t size, X509** out) {
    return zorbel::Guarded([&] {
        *out = zorbelu::stores::OwnCachedCertificate(der, size);
        return ZORBEL_OK;
    });
}

ZORBEL_API uint32_t ZORBELPRVSharedCrl(const uint8_t* der, size_t size, X509_CRL** out) {
    return zorbel::Guarded([&] {
        *out = zorbelu::stores::OwnCachedCrl(der, size);
        return ZORBEL_OK;
    });
}
