/*
 * zorbel.h - the core time-stamp library libzorbel: token parsing and
 * verification, TSA certificate and TAC extraction, hashing, token creation
 * and a certificate store, on OpenSSL.
 *
 * Every call returns a 32-bit unsigned result; 1 means success.
 *
 * Compiles as C11 and as C++.
 */
#ifndef ZORBEL_H
#define ZORBEL_H

#include "zorbeltypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZORBEL_BUILDING_LIBRARY)
#define ZORBEL_API __attribute__((visibility("default")))
#else
#define ZORBEL_API
#endif

/* ---- Result codes ------------------------------------------------------ */

#define ZORBEL_OK 1u
#define ZORBEL_ERR_PARAM 1001u
#define ZORBEL_ERR_BUFFER_TOO_SMALL 1002u
#define ZORBEL_ERR_MEMORY 1005u

/* ---- Certificate store ------------------------------------------------- */

/* A new empty store; NULL when memory is short. Free with ZORBELFreeCertStore. */
ZORBEL_API ZORBELCertStore* ZORBELCreateCertStore(void);

/* Append a copy of a CA certificate (a trust anchor) or of a CRL to the
 * store. `item->encoding` is 2 (DER) or 3 (PEM); 1 is detected from the
 * bytes. 1; 1001 for a bad store, item or encoding; 1005 when memory is short. */
ZORBEL_API uint32_t ZORBELAddCACert(ZORBELCertStore* store, const ZORBELUCertBlob* item);
ZORBEL_API uint32_t ZORBELAddCRL(ZORBELCertStore* store, const ZORBELUCertBlob* item);

/* Frees the store and every node it holds. 1; 1001 for a bad store. */
ZORBEL_API uint32_t ZORBELFreeCertStore(ZORBELCertStore* store);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZORBEL_H */
