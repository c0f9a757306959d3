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
#define ZORBELCOMM_ERR_BUFFER_TOO_SMALL 1002u /* body larger than the capacity; kept for the retry */
#define ZORBELCOMM_ERR_TOO_LONG 1003u
#define ZORBELCOMM_ERR_FAILED 1201u         /* bad URL, refused scheme, other HTTP status, ... */
#define ZORBELCOMM_ERR_CONNECT 1202u        /* could not connect or resolve */
#define ZORBELCOMM_ERR_TIMEOUT 1203u        /* the time limit was reached */
#define ZORBELCOMM_ERR_PROXY_AUTH 1204u     /* the proxy wants authentication (407) */
#define ZORBELCOMM_ERR_SERVER_AUTH 1205u    /* the server wants authentication (401) */
#define ZORBELCOMM_ERR_NO_USER 1206u        /* no credentials configured */

/* Limits of a download. */
#define ZORBELCOMM_DEFAULT_TIMEOUT_MS 15000u           /* a time limit of 0 means this */
#define ZORBELCOMM_MAX_BODY_BYTES (64u * 1024u * 1024u) /* a larger body fails with 1201 */

/* Takes the connection settings for the downloads that follow: a copy of
 * the proxy mode, the proxy server and the credentials. 1; 1001 for a NULL
 * record or an unknown mode; 1003 for a text without its NUL.
 *   proxyMode 0: no proxy, whatever the environment says.
 *   proxyMode 1: the system's settings, i.e. the http_proxy, https_proxy,
 *                all_proxy and no_proxy environment variables; nothing but
 *                the mode is taken from the record (so no credentials).
 *   proxyMode 2: every request goes through proxyServer ("host:port").
 * Credentials (credentialMode 0: user, password, domain) are sent only in
 * answer to a challenge: to the proxy (407) in mode 2, to the server (401)
 * in mode 0. A non-empty domain makes the user name "domain\user".
 * Settings also drop any body kept for a retry. */
ZORBELCOMM_API uint32_t ZORBELPRVSetProxy(const ZORBELUProxyInfo* proxy);

/* Downloads `url` (http:// or https://, redirects followed) into `buffer`.
 * `*length` is the capacity on entry and the number of bytes received on
 * return (0 after a failure). `buffer` may be NULL with a capacity of 0.
 * `timeoutMs` limits the whole transfer, redirects included (0 means
 * ZORBELCOMM_DEFAULT_TIMEOUT_MS). `owner` is the window that owns whatever
 * the download shows (may be NULL); downloads show nothing at present.
 * 1 body of an HTTP 200 answer received; 1002 body larger than the capacity
 * (`*length` is set to the body's size; the body is kept so that retries of
 * the same URL are served without a second request until one fits);
 * 1001 NULL url or length, or NULL buffer with a capacity; 1201..1205 as
 * above. */
ZORBELCOMM_API uint32_t ZORBELPRVGetHTTPFileEx(const char* url, uint8_t* buffer, uint32_t* length,
                                              uint32_t timeoutMs, ZORBELU_HWND owner);

/* Sends `body` with an HTTP POST and receives the answer like
 * ZORBELPRVGetHTTPFileEx (same buffer rules and results). `contentType` NULL
 * or empty means application/octet-stream; one with a line break is 1001.
 * A kept body serves only a retry with the same URL, content type and body. */
ZORBELCOMM_API uint32_t ZORBELPRVPostHTTPEx(const char* url, const char* contentType, const uint8_t* body,
                                           uint32_t bodyLength, uint8_t* buffer, uint32_t* length,
                                           uint32_t timeoutMs, ZORBELU_HWND owner);

/* Writes the user name of the configured credentials (NUL-terminated, at
 * most size - 1 characters). 1; 1001 for a NULL buffer or size 0; 1206 when
 * no credentials are configured. */
ZORBELCOMM_API uint32_t ZORBELPRVGetCredentialUser(char* buffer, uint32_t size);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZORBELCOMM_H */
