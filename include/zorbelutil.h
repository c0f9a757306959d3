/*
 * zorbelutil.h - public interface of libzorbelutilnd, the RFC 3161
 * time-stamp token utility library.
 *
 * Every call returns a 32-bit unsigned result; 1 (ZORBELU_OK) means success.
 * A verify call returns a verification status (2500..2516) as its success
 * value; tell a status from an error with ZORBELU_IS_STATUS().
 *
 * The library's functions must not run on two threads at once.
 *
 * Compiles as C11 and as C++.
 */
#ifndef ZORBELUTIL_H
#define ZORBELUTIL_H

#include "zorbeltypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZORBELU_BUILDING_LIBRARY)
#define ZORBELU_API __attribute__((visibility("default")))
#else
#define ZORBELU_API
#endif

/* ---- Result codes ------------------------------------------------------ */

#define ZORBELU_OK 1u
#define ZORBELU_ERR_PARAM 1001u            /* invalid argument or unusable token */
#define ZORBELU_ERR_BUFFER_TOO_SMALL 1002u /* buffer too small */
#define ZORBELU_ERR_TOO_LONG 1003u         /* text too long for its field */
#define ZORBELU_ERR_EXCEPTION 1004u        /* exception caught; store or resource failure */
#define ZORBELU_ERR_MEMORY 1005u           /* out of memory; core store not created */
#define ZORBELU_ERR_WINDOW 1006u           /* required pointer or window handle unusable */
#define ZORBELU_ERR_COMM_FAILED 1201u      /* download failed (communication library) */
#define ZORBELU_ERR_COMM_CONNECT 1202u     /* could not connect or resolve */
#define ZORBELU_ERR_COMM_TIMEOUT 1203u     /* download time limit reached */
#define ZORBELU_ERR_COMM_PROXY_AUTH 1204u  /* proxy wants authentication */
#define ZORBELU_ERR_COMM_SERVER_AUTH 1205u /* server wants authentication */
#define ZORBELU_ERR_NO_USER 1206u          /* no credentials configured */
#define ZORBELU_ERR_DIGEST 1401u           /* digest record invalid */
#define ZORBELU_ERR_CRL_ENCODING 1500u     /* CRL encoding code not 1 to 3 */
#define ZORBELU_ERR_CERT_STORE 1600u       /* core certificate store handle invalid */
#define ZORBELU_ERR_CERT_DECODE 1601u      /* certificate cannot be decoded */
#define ZORBELU_ERR_CA_CERT 1603u          /* CA certificate not accepted */
#define ZORBELU_ERR_CRL 1604u              /* CRL cannot be decoded, accepted or obtained */
#define ZORBELU_ERR_CDP 1605u              /* no CRL distribution point */
#define ZORBELU_ERR_TSA_CERT 1700u         /* no TSA certificate in the token */
#define ZORBELU_ERR_NO_TAC 1801u           /* no time attribute certificate in the token */
#define ZORBELU_ERR_TOKEN_INFO 2001u       /* token information cannot be read */
#define ZORBELU_ERR_CRL_CACHE 2600u        /* CRL cache store handle invalid */
#define ZORBELU_ERR_TIME_ZONE 2650u        /* time-zone number or offset not accepted */
#define ZORBELU_ERR_UNKNOWN_SERVICE 2651u  /* policy identifier of no known service */
#define ZORBELU_ROOT_IN_STORE 2700u        /* nothing to do: every certificate present */
#define ZORBELU_ERR_NOT_FOUND 2701u        /* not found */
#define ZORBELU_ERR_CANCELLED 2702u        /* the user declined the store change */
#define ZORBELU_ERR_ACCESS_DENIED 2703u    /* access to the store denied */
#define ZORBELU_ERR_SELF_ISSUED 2704u      /* TSA certificate is self-issued */
#define ZORBELU_ERR_NOT_YET_VALID 2705u    /* certificate not yet valid */
#define ZORBELU_ERR_EXPIRED 2706u          /* certificate expired */

/* ---- Verification statuses and verdicts -------------------------------- */

#define ZORBELU_VS_NOT_VERIFIED 2500u
#define ZORBELU_VS_OK 2501u
#define ZORBELU_VS_CERT_EXPIRED 2502u
#define ZORBELU_VS_CERT_INVALID 2503u
#define ZORBELU_VS_CERT_REVOKED 2504u
#define ZORBELU_VS_CRL_EXPIRED 2505u
#define ZORBELU_VS_REVOCATION_UNKNOWN 2506u
#define ZORBELU_VS_CERT_UNTRUSTED 2507u
#define ZORBELU_VS_DATA_DAMAGED 2508u
#define ZORBELU_VS_DOCUMENT_EDITED 2509u
#define ZORBELU_VS_OK_EXTENDED 2510u
#define ZORBELU_VS_DOCUMENT_EDITED_EXTENDED 2511u
#define ZORBELU_VS_EXTENSION_UNCONFIRMED 2512u
#define ZORBELU_VS_NOT_REVOKED 2513u
#define ZORBELU_VS_CRL_UNAVAILABLE 2514u
#define ZORBELU_VS_CERT_SIGNATURE_OK 2515u
#define ZORBELU_VS_ROOT_UNAVAILABLE 2516u

#define ZORBELU_IS_STATUS(code) ((code) >= 2500u && (code) <= 2516u)

/* Digest algorithm codes. */
#define ZORBELU_ALG_SHA1 1u
#define ZORBELU_ALG_MD5 2u
#define ZORBELU_ALG_SHA256 3u
#define ZORBELU_ALG_SHA384 4u
#define ZORBELU_ALG_SHA512 5u

/* Caller code that the private settings calls require. */
#define ZORBELU_PRIVATE_CALLER_CODE 0x6B2D17C4u

/* ---- Records ------------------------------------------------------------ */

/* CRL buffer owned by the caller; keeps the TSA certificate's CRL between calls. */
typedef struct ZORBELUCRLBuffer {
    uint32_t state;    /* 0 no usable CRL, 1 holds the CRL of a previous call */
    uint8_t* buffer;   /* caller's memory */
    uint32_t bufferSize;
    uint32_t crlLength;
    uint32_t encoding; /* 1 detect, 2 DER, 3 PEM */
} ZORBELUCRLBuffer;

/* One downloaded CRL kept by a CRL cache store. */
typedef struct ZORBELUCRLCacheEntry {
    struct ZORBELUCRLCacheEntry* next;
    char* url;
    uint32_t urlLength;
    uint8_t* data;
    uint32_t dataLength;
    uint32_t downloadTime;
} ZORBELUCRLCacheEntry;

/* CRL cache store; opaque to callers, created and freed by the library. */
typedef struct ZORBELUCRLCacheStore {
    uint32_t size; /* validity mark, always ZORBELU_CRL_CACHE_STORE_MARK */
    uint32_t reserved;
    ZORBELUCRLCacheEntry* first;
} ZORBELUCRLCacheStore;

#define ZORBELU_CRL_CACHE_STORE_MARK 12u

/* Element of the library's certificate list: a chain certificate and its CRL URL. */
typedef struct ZORBELUPRVCertInfo {
    struct x509_st* cert;
    char* crlUrl;
    uint32_t crlPointNo;
} ZORBELUPRVCertInfo;

/* Three verdicts on a TSA certificate; 0 means not decided. */
typedef struct ZORBELUTSACertResult {
    uint32_t validity;   /* 1 or 2502 */
    uint32_t revocation; /* 2513, 2514, 2504, 2505 or 2506 */
    uint32_t chain;      /* 2515, 2516, 2507 or 2503 */
} ZORBELUTSACertResult;

/* A time-stamp service: number, display name, policy identifier, endpoint. */
typedef struct ZORBELUServiceInfo {
    uint32_t serviceId;
    char name[257];
    char policyOid[128];
    char url[256];
} ZORBELUServiceInfo;

/* Time-zone selector: kind 1 is a fixed offset, any other kind a zone number. */
typedef struct ZORBELUTimeZoneSelector {
    uint32_t kind;
    int32_t offset; /* minutes east of UTC, read when kind is 1 */
} ZORBELUTimeZoneSelector;

#define ZORBELU_TIME_ZONE_FIXED_OFFSET 1u

/* A row of the zone table. */
typedef struct ZORBELUTimeZoneInfo {
    uint32_t zoneId;
    char abbreviation[8];
    uint32_t reserved;
    int32_t biasMinutes; /* east positive */
} ZORBELUTimeZoneInfo;

/* A token and the core certificate store shown with it. */
typedef struct ZORBELUTokenRef {
    const ZORBELUBlob* token; /* may be NULL */
    ZORBELCertStore* store;
} ZORBELUTokenRef;

/* One signature shown by the signature properties dialog. */
typedef struct ZORBELUSignatureEntry {
    uint32_t status; /* 2500 to 2512 */
    const ZORBELUTokenRef* tokenRef;
    const ZORBELUTimeZoneSelector* zone; /* may be NULL */
} ZORBELUSignatureEntry;

/* One signature shown by the tabbed signature properties dialog. */
typedef struct ZORBELUSignatureEntryEx {
    uint32_t status;
    uint32_t validityResult;
    uint32_t revocationResult;
    uint32_t rootResult;
    const ZORBELUTokenRef* tokenRef;
    const ZORBELUTimeZoneSelector* zone; /* may be NULL */
} ZORBELUSignatureEntryEx;

/* ---- Library frame and settings ---------------------------------------- */

/* Writes 5, 0 and 101 through the pointers that are not NULL; always 1. */
ZORBELU_API uint32_t ZORBELUGetLibVer(uint32_t* major, uint32_t* minor, uint32_t* build);

/* Selects the language module by its three-letter code, e.g. "DEU". */
ZORBELU_API uint32_t ZORBELUSetLanguage(const char* code);

ZORBELU_API uint32_t ZORBELUPRVSetModuleName(const char* name, uint32_t length, uint32_t callerCode);
ZORBELU_API uint32_t ZORBELUPRVGetModuleName(char* buffer, uint32_t bufferSize, uint32_t callerCode);
ZORBELU_API uint32_t ZORBELUPRVSetResourceDLL(ZORBELU_HINSTANCE module, uint32_t callerCode);
ZORBELU_API ZORBELU_HINSTANCE ZORBELUPRVGetResourceDLL(void);
ZORBELU_API uint32_t ZORBELUPRVSetDoDisplayedTempravoLogo(int32_t flag);
ZORBELU_API int32_t ZORBELUPRVDoDisplayedTempravoLogo(void);
ZORBELU_API uint32_t ZORBELUPRVSetDoDisplayedIssuerInfo(int32_t flag);
ZORBELU_API int32_t ZORBELUPRVDoDisplayedIssuerInfo(void);
ZORBELU_API uint32_t ZORBELUPRVSetMessageDlgTitle(const char* title, uint32_t length, uint32_t callerCode);
ZORBELU_API uint32_t ZORBELUPRVSetVerifiedDlgTitle(const char* title, uint32_t length, uint32_t callerCode);
ZORBELU_API const char* ZORBELUPRVGetVerifiedDlgTitle(void);

/* ---- Verification with a CRL buffer -------------------------------------- */

/* Verifies a token against the digest of the data it covers. The TSA
 * certificate's issuer must be a root of the system store "ROOT"; its CRL is
 * kept in `crlBuffer` (may be NULL) between calls and downloaded again once
 * its nextUpdate has passed. `timeLimit` limits each download in
 * milliseconds (0: 15000). Returns a status 2501 to 2509 or an error code. */
ZORBELU_API uint32_t ZORBELUVerifyTimeStampToken(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                 ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit);

/* The same with connection settings for the downloads (may be NULL). */
ZORBELU_API uint32_t ZORBELUVerifyTimeStampTokenEx(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                   ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit,
                                                   const ZORBELUProxyInfo* proxy);

/* The same, comparing the time-stamped digest with that of the current
 * document: 2509 when the token is valid but the document has changed. */
ZORBELU_API uint32_t ZORBELUPRVVerifyTimeStampTokenEx(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                      const ZORBELUDigestInfo* currentDigest,
                                                      ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit);
ZORBELU_API uint32_t ZORBELUPRVVerifyTimeStampTokenEx2(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                       const ZORBELUDigestInfo* currentDigest,
                                                       ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit,
                                                       const ZORBELUProxyInfo* proxy);

/* ---- Certificate gathering ---------------------------------------------- */

/* Everything a verifier needs besides the token: the TSA certificate, the CA
 * certificates from its issuer up to a root of the system store "ROOT"
 * (issuer first, root last; missing intermediates are fetched through the
 * certificates' caIssuers URLs and kept in the store "CA"), and a current
 * CRL for the TSA certificate and for each intermediate.
 * - `tsaCertOut` points into library memory of the calling thread (DER),
 *   valid until that thread's next call that hands out a TSA certificate
 *   (this one, or a root-store call with a token) or its end; do not free it. Written whatever the
 *   result once the token has been accepted.
 * - `*caOut` and `*crlOut` receive arrays that end with a record of zeros;
 *   release each with ZORBELUFreeCertificates. Written only on success
 *   (and `*caOut` set to NULL for 2704).
 * `timeoutMs` limits each download (0: 15000); `proxy` may be NULL.
 * 1; 1001 (token, NULL output); 1002; 1003, 1006 (connection settings);
 * 1004 (the TSA certificate cannot be read); 1005; 1202 to 1205 (downloads);
 * 1604 (a CRL cannot be obtained); 1605 (a certificate of the chain has no
 * http CRL distribution point); 1700 (no TSA certificate in the token); 2701
 * (no chain to a root of "ROOT"); 2704 (the TSA certificate is self-issued). */
ZORBELU_API uint32_t ZORBELUGetCertificates(const ZORBELUBlob* token, int32_t timeoutMs, const ZORBELUProxyInfo* proxy,
                                            ZORBELUBlob* tsaCertOut, ZORBELUCertBlob** caOut,
                                            ZORBELUCertBlob** crlOut);

/* Releases an array of ZORBELUGetCertificates and the bytes of its records.
 * 1; 1001 for NULL, a NULL array or an array whose first record is the
 * terminator (nothing is freed). `*array` is left as it was. */
ZORBELU_API uint32_t ZORBELUFreeCertificates(ZORBELUCertBlob** array);

/* ---- Verification of the whole certificate path ------------------------- */

/* Verifies a token with the TSA certificate's whole chain, walked through
 * the system stores "CA" and "ROOT" (missing issuers fetched through their
 * caIssuers URL), and a CRL for every certificate of the chain, kept in
 * `crlCache` between calls (may be NULL: a store for this call only).
 * A status 2501 to 2508 or an error code. */
ZORBELU_API uint32_t ZORBELUVerifyTimeStampTokenEx2(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                                    uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
                                                    ZORBELUCRLCacheStore* crlCache);

/* Policies of the by-policy verification. */
#define ZORBELU_POLICY_CHAIN_AND_CRLS 1u /* chain walk and a CRL for every certificate */
#define ZORBELU_POLICY_CHAIN_ONLY 2u     /* chain walk; no CRLs, no downloads */
#define ZORBELU_POLICY_TOKEN_ONLY 3u     /* the token's integrity and its TSA certificate's usage */
#define ZORBELU_POLICY_NONE 4u           /* nothing is checked: 2501 (private call only) */

/* As ZORBELUVerifyTimeStampTokenEx2 with the long digest record (SHA-384
 * and SHA-512 too), doing as much as `policy` (1 to 3) says; 1001 for
 * another policy.
 *
 * WARNING, self-issued TSA certificates: when the token's TSA certificate
 * is self-issued (its subject and issuer names read the same), every policy
 * of the by-policy calls (this one, ZORBELUVerifyTimeStampTokenEx3 and
 * ZORBELUPRVVerifyTimeStampTokenByPolicy) answers from the token's
 * integrity and the certificate's usage alone: no store is looked at, so
 * 2501 does NOT mean that the certificate is trusted. A host that needs
 * trust must check that certificate against its trusted roots itself, e.g.
 * take it with ZORBELGetTSACert and accept it only when the very same
 * certificate (byte for byte) is one of its roots. The full verification
 * (ZORBELUVerifyTimeStampTokenEx2) and the CRL buffer engine answer 2507
 * unless the same certificate is in the system store "ROOT". */
ZORBELU_API uint32_t ZORBELUVerifyTimeStampTokenByPolicy(const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
                                                         uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
                                                         ZORBELUCRLCacheStore* crlCache, uint32_t policy);

/* Policy 1 of the above. */
ZORBELU_API uint32_t ZORBELUVerifyTimeStampTokenEx3(const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
                                                    uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
                                                    ZORBELUCRLCacheStore* crlCache);

/* The by-policy verification comparing the digest of the current document
 * too (2509 when it differs); policy 4 gives 2501 at once. */
ZORBELU_API uint32_t ZORBELUPRVVerifyTimeStampTokenByPolicy(const ZORBELUBlob* token,
                                                            const ZORBELUDigestInfoEx* digest,
                                                            const ZORBELUDigestInfoEx* currentDigest,
                                                            ZORBELUCRLCacheStore* crlCache, uint32_t timeLimit,
                                                            const ZORBELUProxyInfo* proxy, uint32_t policy);

/* ---- TSA certificate verdicts --------------------------------------------- */

/* Judges a TSA certificate now: validity (1 or 2502), revocation (2513,
 * 2514, 2504, 2505, 2506) and chain (2515, 2516, 2507, 2503), with its chain
 * from the system stores and CRLs downloaded (kept in `cache`, may be NULL).
 * Verdicts are no errors: 1 with the record filled; 1202 when the CRL server
 * could not be reached (the record is filled too); or an error code. */
ZORBELU_API uint32_t ZORBELUVerifyTSACertificate(const ZORBELUCertBlob* cert, ZORBELUCRLCacheStore* cache,
                                                 int32_t timeout, const ZORBELUProxyInfo* proxy,
                                                 ZORBELUTSACertResult* result);

/* Judges a TSA certificate at `time` with the CA certificates and CRLs of a
 * core certificate store (e.g. from ZORBELUGetCertificates). 1; 1001; 1500;
 * 1600; 1601; 1605 (CRLs without CA certificates). */
ZORBELU_API uint32_t ZORBELUVerifyTSACertificateAtTime(const ZORBELUCertBlob* cert, const ZORBELCertStore* store,
                                                       int64_t time, ZORBELUTSACertResult* result);

/* ---- Token properties dialog --------------------------------------------- */

/* Shows the token's fields in a modal dialog owned by `owner` (may be NULL),
 * with buttons for its time attribute certificate and TSA certificate; the
 * Ex2 variant adds the CA certificates and CRLs found for the TSA
 * certificate in `store`. 1 after the dialog closed; 1001 token (or store)
 * missing or empty; 2001 token unreadable; 1004 no dialog could be shown or
 * an exception was caught. */
ZORBELU_API uint32_t ZORBELUShowTimeStampTokenProp(ZORBELU_HWND owner, const ZORBELUBlob* token);
ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropEx2(ZORBELU_HWND owner, const ZORBELUBlob* token,
                                                      const ZORBELCertStore* store);

/* ---- Signature properties ----------------------------------------------- */

/* The outcome of a verification as the caller gives it (`status` 2500 to
 * 2509), with the token's time in the computer's zone. The token must carry
 * a TSA certificate and a time attribute certificate. 1 after the dialog
 * closed; 1001 status or token; 2001 token unreadable; 1700 no TSA
 * certificate; 1801 no time attribute certificate; 1004 no dialog could be
 * shown or an exception was caught. */
ZORBELU_API uint32_t ZORBELUPRVShowTimeStampTokenProp(ZORBELU_HWND parent, const ZORBELUBlob* token,
                                                      uint32_t status);

/* The same for a status 2500 to 2512 with the time in `zone` (may be NULL;
 * an offset within -1440 to 1440 minutes or a zone number). For 2500 and
 * 2512 neither token nor zone is tested. 2650 for a zone not accepted. */
ZORBELU_API uint32_t ZORBELUPRVShowTimeStampTokenPropEx(ZORBELU_HWND parent, const ZORBELUBlob* token,
                                                        uint32_t status, const ZORBELUTimeZoneSelector* zone);

/* A chain of `count` (at least 2) time-stamps, each followed by the one that
 * extends its validity: one dialog after another while the user asks for
 * the next. Every entry is checked before anything is shown: 1006 for a
 * NULL token reference, else as above. */
ZORBELU_API uint32_t ZORBELUPRVShowSignaturePropEx2(ZORBELU_HWND parent, const ZORBELUSignatureEntry* entries,
                                                    uint32_t count);

/* The tabbed form: the overall status (2500, 2501 or 2508 to 2512) and the
 * result of each certificate check on a line of its own, with comparison
 * and export of the token; a chain of `count` (at least 1) entries. */
ZORBELU_API uint32_t ZORBELUPRVShowSignaturePropEx3(ZORBELU_HWND parent, const ZORBELUSignatureEntryEx* entries,
                                                    uint32_t count);

/* Verify, then show (`verifyFlag` 1), or show unverified with status 2500
 * (`verifyFlag` 0). The status shown (2500 to 2509) once the dialog closed,
 * else an error code and no dialog. The Ex2 and Ex3 forms need a `zone`
 * (offset -720 to 840 minutes, or a zone number; else 2650). */
ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropWithVerification(ZORBELU_HWND parent, int32_t verifyFlag,
                                                                   const ZORBELUBlob* token,
                                                                   const ZORBELUDigestInfo* digest,
                                                                   ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit);
ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropWithVerificationEx(ZORBELU_HWND parent, int32_t verifyFlag,
                                                                     const ZORBELUBlob* token,
                                                                     const ZORBELUDigestInfo* digest,
                                                                     ZORBELUCRLBuffer* crlBuffer, uint32_t timeLimit,
                                                                     const ZORBELUProxyInfo* proxy);
ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropWithVerificationEx2(
    ZORBELU_HWND parent, int32_t verifyFlag, const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
    const ZORBELUTimeZoneSelector* zone, uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
    ZORBELUCRLCacheStore* crlCache);
ZORBELU_API uint32_t ZORBELUShowTimeStampTokenPropWithVerificationEx3(
    ZORBELU_HWND parent, int32_t verifyFlag, const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
    const ZORBELUTimeZoneSelector* zone, uint32_t timeLimit, const ZORBELUProxyInfo* proxy,
    ZORBELUCRLCacheStore* crlCache);

/* ---- CRLs --------------------------------------------------------------- */

/* A new, empty CRL cache store for a series of verifications; each CRL is
 * downloaded once and again only after its nextUpdate. 1; 1005 for a NULL
 * out pointer or when memory is short. */
ZORBELU_API uint32_t ZORBELUCreateCRLCacheStore(ZORBELUCRLCacheStore** store);

/* Frees the store and everything it holds. 1; 1001 for NULL; 2600 when the
 * handle is no CRL cache store (nothing is freed). */
ZORBELU_API uint32_t ZORBELUFreeCRLCacheStore(ZORBELUCRLCacheStore* store);

/* The first http:// or https:// CRL distribution point URL of a certificate,
 * written without a NUL; *capacity is the buffer's size on entry and the
 * URL's length on return. 1; 1001; 1500 (encoding); 1002 (too small, nothing
 * written); 2503 (certificate does not decode); 2701 (no such URL). */
ZORBELU_API uint32_t ZORBELUGetCDP(const ZORBELUCertBlob* cert, char* buffer, int32_t* capacity);

/* ---- Root certificates of the time-stamp services ----------------------
 * The library carries the root and intermediate CA certificates of the five
 * services (docs/roots.md) and adds them to, looks for them in and deletes
 * them from the current user's stores: self-issued roots in "ROOT", CA
 * certificates in "CA". Adding to "ROOT" asks the user first.
 * Results: 1 done (add: at least one certificate added; delete: at least one
 * removed); 1001 bad service number (add and test 0..4, delete 0..2) or
 * token; 1004 a certificate resource, its fingerprint or a store failed;
 * 1006; 2651 the token's policy belongs to no service; 2700 every
 * certificate is already present; 2701 (test) one is missing, (delete)
 * none was there; 2702 the user declined; 2703 (delete) access denied.
 * The token forms work on the rows of the token's service that lie on the
 * chain of its TSA certificate. */
ZORBELU_API uint32_t ZORBELUAddRootCertificateToStore(uint32_t serviceId);
ZORBELU_API uint32_t ZORBELUIsRootCertificateInStore(uint32_t serviceId);
ZORBELU_API uint32_t ZORBELUDeleteRootCertificateFromStore(uint32_t serviceId);
ZORBELU_API uint32_t ZORBELUAddRootCertificateOfTimeStampToStore(const ZORBELUBlob* token);
ZORBELU_API uint32_t ZORBELUIsRootCertificateOfTimeStampInStore(const ZORBELUBlob* token);

/* ---- Time-stamp services ------------------------------------------------ */

#define ZORBELU_SERVICE_COUNT 5u

/* The name, policy identifier and request URL of service 0 to 4, in the
 * selected language. 1; 1001 for a NULL record or a number above 4 (the
 * record is left zeroed). */
ZORBELU_API uint32_t ZORBELUGetKovraServiceInfo(uint32_t serviceId, ZORBELUServiceInfo* info);

/* The service whose policy identifier is exactly `policyOid`. 1; 1001 for a
 * NULL text or out pointer or a length of 0; 2651 for no known service. */
ZORBELU_API uint32_t ZORBELUGetServiceId(const char* policyOid, int32_t length, uint32_t* serviceId);

/* The service of a token, by the policy identifier in its TSTInfo.
 * 1; 1001; 1004 (the token cannot be read); 2651. */
ZORBELU_API uint32_t ZORBELUGetServiceIdFromTimeStampToken(const ZORBELUBlob* token, uint32_t* serviceId);

/* ---- Token creation ------------------------------------------------------ */

/* Creates a token for `digest` through the core library (see zorbel.h,
 * ZORBELCreateTimeStampTokenEx: value1 the local TSA, value2 the options,
 * value3 the output), asking for the TSA certificate and a nonce. 1001 for a
 * NULL digest; otherwise the core library's result, unchanged. */
ZORBELU_API uint32_t ZORBELUCreateTimeStampToken(uintptr_t value1, uintptr_t value2,
                                                 const ZORBELUDigestInfoEx* digest, uintptr_t value3);

/* Asks an RFC 3161 TSA over HTTP (see zorbel.h,
 * ZORBELHTTP3161CreateTimeStampToken: value1 the connection, value2 the
 * output). 1001 for a NULL digest; otherwise the core library's result. */
ZORBELU_API uint32_t ZORBELUHTTP3161CreateTimeStampToken(uintptr_t value1, const ZORBELUDigestInfoEx* digest,
                                                         uintptr_t value2);

/* ---- Time, time zones and identifiers ---------------------------------- */

/* Seconds since the epoch (UTC) of a GeneralizedTime text
 * "YYYYMMDDhhmmss[.fff]Z"; -1 for any other text and for times before 1970
 * or after the year 3000. May be called at any time, from any thread. */
ZORBELU_API int64_t ZORBELUGeneralizedTimeToTimeT(const char* text);

/* Whether a certificate is valid at `time` (seconds since the epoch, above
 * 0); both ends of the validity period count as valid. 1; 2705 not yet
 * valid; 2706 expired; 1001; 1500 (encoding); 2503 (does not decode). */
ZORBELU_API uint32_t ZORBELUIsValidity(const ZORBELUCertBlob* cert, int64_t time);

/* The row of a named zone (2 to 23): 1; 1001 for a NULL record; 2650 for a
 * number that names no zone. */
ZORBELU_API uint32_t ZORBELUGetTimeZoneInfo(uint32_t zoneId, ZORBELUTimeZoneInfo* out);

/* The code (ZORBELU_ALG_...) of a digest algorithm identifier given with the
 * exact length of its text: 1; 1001 for any other identifier or length; 1006
 * for a NULL text or out pointer. */
ZORBELU_API uint32_t ZORBELUGetOIDValueToOID(const char* oid, int32_t length, uint32_t* code);

#ifdef __cplusplus
} /* extern "C" */
#endif

ZORBEL_STATIC_ASSERT(sizeof(ZORBELUServiceInfo) == 648, "ZORBELUServiceInfo is 648 bytes");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELUServiceInfo, name) == 4, "name at 4");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELUServiceInfo, policyOid) == 261, "policyOid at 261");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELUServiceInfo, url) == 389, "url at 389");
ZORBEL_STATIC_ASSERT(sizeof(ZORBELUTimeZoneInfo) == 20, "ZORBELUTimeZoneInfo is 20 bytes");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELUTimeZoneInfo, reserved) == 12, "reserved at 12");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELUTimeZoneInfo, biasMinutes) == 16, "biasMinutes at 16");
ZORBEL_STATIC_ASSERT(sizeof(ZORBELUTSACertResult) == 12, "ZORBELUTSACertResult is 12 bytes");
ZORBEL_STATIC_ASSERT(sizeof(ZORBELUTimeZoneSelector) == 8, "ZORBELUTimeZoneSelector is 8 bytes");

#endif /* ZORBELUTIL_H */
