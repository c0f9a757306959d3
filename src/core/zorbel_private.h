/*
 * Calls of libzorbel that only libzorbelutilnd makes; not part of the public
 * interface (include/zorbel.h). A whole verification reads its token once:
 * the public calls each read the token again, and reading it is a good part
 * of what a verification costs.
 */
#ifndef ZORBEL_CORE_ZORBEL_PRIVATE_H
#define ZORBEL_CORE_ZORBEL_PRIVATE_H

#include "zorbel.h"

#ifdef __cplusplus
extern "C" {
#endif

struct x509_st;
struct X509_crl_st;

/* A token read by ZORBELPRVReadToken; free it with ZORBELPRVFreeToken. */
typedef struct ZORBELPRVToken ZORBELPRVToken;

/* Reads `token` as ZORBELGetTSACert and ZORBELVerifyTimeStampToken read it:
 * 1, or what those calls answer for a token that cannot be read. */
ZORBEL_API uint32_t ZORBELPRVReadToken(const ZORBELUBlob* token, ZORBELPRVToken** out);

ZORBEL_API void ZORBELPRVFreeToken(ZORBELPRVToken* token);

/* ZORBELGetTSACert of the token read. */
ZORBEL_API uint32_t ZORBELPRVGetTokenTSACert(const ZORBELPRVToken* token, ZORBELUCertBlob* out);

/* The same certificate decoded: a new reference in *out (X509_free it),
 * shared with other callers, so read it and never change it. 1; 1001; 1700. */
ZORBEL_API uint32_t ZORBELPRVGetTokenTSAX509(const ZORBELPRVToken* token, struct x509_st** out);

/* ZORBELVerifyTimeStampToken(Ex) of the token read, without the reserved
 * argument. */
ZORBEL_API uint32_t ZORBELPRVVerifyToken(ZORBELPRVToken* token, const ZORBELUDigestInfo* digest,
                                         const ZORBELCertStore* store);
ZORBEL_API uint32_t ZORBELPRVVerifyTokenEx(ZORBELPRVToken* token, const ZORBELUDigestInfoEx* digest,
                                           const ZORBELCertStore* store);

/* The certificate or CRL that `der` (exactly one DER object) decodes to,
 * decoded once per process: a new reference in *out (free it), shared with
 * other callers, so read it and never change it; *out is NULL when the bytes
 * are no such object. 1; 1005 out of memory. The directory stores of every
 * library and program of the process decode through these
 * (platform/stores/decoded_objects.h). */
ZORBEL_API uint32_t ZORBELPRVSharedCertificate(const uint8_t* der, size_t size, struct x509_st** out);
ZORBEL_API uint32_t ZORBELPRVSharedCrl(const uint8_t* der, size_t size, struct X509_crl_st** out);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
