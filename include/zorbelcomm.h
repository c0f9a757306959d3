/*
 * zorbelcomm.h - the communication library libzorbelcomm: HTTP downloads
 * with the connection settings of ZORBELUProxyInfo, on libcurl.
 *
 * Every call returns a 32-bit unsigned result; 1 means success.
 *
 * Compiles as C11 and as C++.
 */
#ifndef ZORBELCOMM_H
#define ZORBELCOMM_H

#include "zorbeltypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZORBELCOMM_BUILDING_LIBRARY)
#define ZORBELCOMM_API __attribute__((visibility("default")))
#else
#define ZORBELCOMM_API
#endif

/* ---- Result codes ------------------------------------------------------ */

#define ZORBELCOMM_OK 1u
#define ZORBELCOMM_ERR_PARAM 1001u
#define ZORBELCOMM_ERR_TOO_LONG 1003u

/* Takes the connection settings for the downloads that follow: a copy of
 * the proxy mode, the proxy server and the credentials. 1; 1001 for a NULL
 * record or an unknown mode; 1003 for a text without its NUL. */
ZORBELCOMM_API uint32_t ZORBELPRVSetProxy(const ZORBELUProxyInfo* proxy);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZORBELCOMM_H */
