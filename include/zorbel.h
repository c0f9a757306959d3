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
#define ZORBEL_ERR_PARAM 1001u            /* a NULL or malformed argument, a record with a wrong size */
#define ZORBEL_ERR_BUFFER_TOO_SMALL 1002u /* output too small; its length is set to the size needed */
#define ZORBEL_ERR_INTERNAL 1004u         /* an unexpected failure inside the library */
#define ZORBEL_ERR_MEMORY 1005u
#define ZORBEL_ERR_NO_USER 1206u          /* ZORBELGetUser: no credentials are configured */
#define ZORBEL_ERR_NO_TSA_CERT 1700u      /* the token carries no certificate of its signer */
#define ZORBEL_ERR_NO_TAC 1801u           /* the token carries no attribute certificate */
#define ZORBEL_ERR_TAC_FORMAT 1802u       /* the attribute certificate is not readable */
#define ZORBEL_ERR_TAC_NO_ATTRIBUTE 1803u /* it lacks the timing-metrics or timing-policy attribute */
#define ZORBEL_ERR_TSA_REJECTED 1901u     /* token creation: the TSA's answer is not "granted" */
#define ZORBEL_ERR_TSA_MISMATCH 1902u     /* token creation: the answer is unreadable or does not
                                             match the request (nonce, imprint) */
#define ZORBEL_ERR_TSA_SIGNER 1903u       /* local creation: the key or certificate is unusable */

/* Verification results (ZORBELVerifyTimeStampToken and ...Ex). Each failure
 * has its own code; the checks run in this order and the first failure is
 * the result. 2001-2005 say the token or the data is damaged, 2010-2015 say
 * what is wrong with the TSA certificate; 2006-2008 are handed to the host
 * unchanged by the callers, so they name conditions a person can act on.
 * The reading calls (info, TSA certificate, TAC) answer 2001 for a token
 * they cannot read. */
#define ZORBEL_VERIFY_STRUCTURE 2001u        /* not a readable token: bad BER/DER, not SignedData with
                                                one SignerInfo and signed attributes, content not a
                                                TSTInfo, or a TimeStampResp whose status is not granted */
#define ZORBEL_VERIFY_SIGNATURE 2002u        /* signature, messageDigest or content-type attribute wrong */
#define ZORBEL_VERIFY_ESS_BINDING 2003u      /* signing-certificate (v1/v2) attribute missing or naming
                                                another certificate than the signer's */
#define ZORBEL_VERIFY_IMPRINT_ALGORITHM 2004u /* imprint algorithm differs from the digest's */
#define ZORBEL_VERIFY_IMPRINT_VALUE 2005u    /* imprint value differs from the digest */
#define ZORBEL_VERIFY_NO_SIGNER_CERT 2006u   /* the signer's certificate is neither in the token nor
                                                among the store's certificates */
#define ZORBEL_VERIFY_UNSUPPORTED 2007u      /* a digest or signature algorithm this library cannot use */
#define ZORBEL_VERIFY_BAD_STORE_ENTRY 2008u  /* a certificate or CRL of the store cannot be decoded */
/* 2009 is reserved. */
#define ZORBEL_VERIFY_CERT_INVALID 2010u     /* TSA certificate unfit: extended key usage missing, not
                                                critical or not only timeStamping; or a certificate of
                                                the chain is broken (signature, CA flags, path length) */
#define ZORBEL_VERIFY_CERT_EXPIRED 2011u     /* TSA (or chain) certificate expired or not yet valid */
#define ZORBEL_VERIFY_CERT_REVOKED 2012u     /* the TSA certificate is revoked by a CRL of the store */
#define ZORBEL_VERIFY_UNTRUSTED 2013u        /* the chain ends at a root the store does not hold (or the
                                                store holds no CA certificate); a self-issued TSA
                                                certificate that is not in the system "ROOT" store */
#define ZORBEL_VERIFY_CRL_EXPIRED 2014u      /* the CRL is past its nextUpdate or not yet valid */
#define ZORBEL_VERIFY_INCOMPLETE 2015u       /* an issuer of the chain is missing, no CRL for the TSA
                                                certificate's issuer, or the CRL's signature or issuer
                                                cannot be trusted */

/* ---- Reading a token ----------------------------------------------------
 * A token is a DER (or BER) TimeStampToken: a ContentInfo holding SignedData
 * whose content is a TSTInfo. A whole TimeStampResp is read too when its
 * status is granted (0) or grantedWithMods (1); any other status is 2001.
 * BER is turned into DER once, on input (nesting depth and size capped);
 * bytes after the token are ignored. NULL record, NULL data or length 0 is
 * 1001. Texts that do not fit their field are cut (never inside a UTF-8
 * character) and always NUL-terminated. */

/* Fills `info` from the TSTInfo. `info->size` must be 1044 (else 1001).
 * - version: the TSTInfo version; policyOid, hashAlgorithmOid: dotted text.
 * - hashValue/hashLength: the imprint (at most 128 bytes kept).
 * - serialNumber: the INTEGER's content octets exactly as encoded, two's
 *   complement, most significant first: 0x00 0x80 stays two bytes, a
 *   negative serial keeps its sign bit (-0x21524111 is DE AD BE EF). A
 *   serial longer than 40 octets keeps its 40 least significant octets.
 * - genTime: the GeneralizedTime text as encoded, fraction included
 *   ("20050310105843.933Z").
 * - accuracySeconds/Millis/Micros: the accuracy's three parts, 0 when absent.
 * - ordering: 1 when ordering is TRUE, else 0.
 * - tsaName: the tsa GeneralName as text; a directoryName as its attributes
 *   in encoded order, "type=value" joined by ", " (RFC 2253 escaping, UTF-8,
 *   e.g. "C=US, O=Example, CN=TSA"); DNS, e-mail and URI names as their text;
 *   other forms as "IP:...", "othername:..." and so on; empty when absent or
 *   when the name is empty.
 * 1; 1001; 2001 for an unreadable token; 1005. */
ZORBEL_API uint32_t ZORBELGetTimeStampInfoEx(const ZORBELUBlob* token, ZORBELTimeStampInfo* info);

/* Writes the signer's (TSA's) certificate as DER; out->length is the
 * capacity on entry and the byte count on return; out->encoding is set to 2.
 * The signer is the certificate named by the first entry of the ESS
 * signing-certificate attribute (v2 checked before v1; hash, and issuer and
 * serial when given); when the attribute is absent or names no certificate
 * of the token, the one matching the SignerInfo's identifier (issuer and
 * serial, or subject key identifier). Never by position or by name.
 * 1; 1001; 1002 too small (out->length set to the size needed; out->data
 * may then be NULL); 1700 no such certificate in the token; 2001; 1005. */
ZORBEL_API uint32_t ZORBELGetTSACert(const ZORBELUBlob* token, ZORBELUCertBlob* out);

/* ---- Time attribute certificate (TAC) ----------------------------------
 * ZORBELGetTAC writes the first attribute certificate of the SignedData
 * certificate set (tag [1] or [2]) re-tagged as a plain SEQUENCE, so that it
 * stands alone; same buffer rules as ZORBELGetTSACert; 1801 when there is
 * none. The other three calls read such a TAC (docs/tac.md gives the ASN.1,
 * the mapping to the records and an example):
 * - ZORBELGetTACCertInfo: version as named (v2 is 2), holder (entityName, or
 *   the baseCertificateID's issuer) and issuer as text like tsaName, holder
 *   objectDigestInfo algorithm and bytes (at most 40), serial as a 64-bit
 *   two's-complement value (high word, low word; a negative serial keeps its
 *   sign bits, a longer one gives its 64 low-order bits), validity as the
 *   GeneralizedTime texts, signature algorithm and bytes (at most 1024).
 * - ZORBELGetTACTimingMetrics: auditedTime and expiration as
 *   "YYYYMMDDhhmmss[.ffffff]Z" from the NTP time pairs; offset (signed) and
 *   delay in seconds.
 * - ZORBELGetTACTimingPolicy: the policy identifier and the maximum offset
 *   and delay in seconds.
 * 1; 1001; 1802 not a readable TAC; 1803 the attribute is missing. */
ZORBEL_API uint32_t ZORBELGetTAC(const ZORBELUBlob* token, ZORBELUCertBlob* out);
ZORBEL_API uint32_t ZORBELGetTACCertInfo(const ZORBELUBlob* tac, ZORBELTACCertInfo* info);
ZORBEL_API uint32_t ZORBELGetTACTimingMetrics(const ZORBELUBlob* tac, ZORBELTACTimingMetrics* metrics);
ZORBEL_API uint32_t ZORBELGetTACTimingPolicy(const ZORBELUBlob* tac, ZORBELTACTimingPolicy* policy);

/* ---- Verification -------------------------------------------------------
 * Checks, in this order, the first failure being the result (codes above):
 * structure (2001); the signer's certificate (2006); the signature over the
 * signed attributes, the messageDigest attribute against the content and the
 * content-type attribute (2002, 2007); the ESS signing-certificate binding
 * (2003); the imprint algorithm and value against `digest` (2004, 2005); the
 * TSA certificate's extended key usage: present, critical, timeStamping only
 * (2010). With a NULL store that is all: the integrity of the token.
 * With a store, then: the TSA certificate's validity at the current time
 * (2011); a self-issued TSA certificate is trusted only when the very same
 * certificate is in the system "ROOT" store (2013), and is then checked for
 * its own signature and validity only; any other TSA certificate must chain
 * to one of the store's CA certificates, each of them a trust anchor even
 * when it is not a root; the token's certificates serve as intermediates
 * (2010, 2011, 2013, 2015); when the store holds CRLs the TSA certificate's
 * revocation is checked against them (2012, 2014, 2015); the CA
 * certificates themselves are not checked for revocation, since the callers
 * fetch the TSA certificate's CRL only. The signer's certificate is looked
 * for in the token, then among the store's CA certificates.
 * `digest`: algorithmOid NUL-terminated, digestLength 1..40 (Ex: 1..128);
 * else 1001. `reserved` must be NULL (else 1001). 1 when valid; 1005. */
ZORBEL_API uint32_t ZORBELVerifyTimeStampToken(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                               const void* reserved, const ZORBELCertStore* store);
ZORBEL_API uint32_t ZORBELVerifyTimeStampTokenEx(const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
                                                 const void* reserved, const ZORBELCertStore* store);

/* ---- Hashing ----------------------------------------------------------- */

#define ZORBEL_HASH_SHA1 1u
#define ZORBEL_HASH_MD5 2u
#define ZORBEL_HASH_SHA256 3u
#define ZORBEL_HASH_SHA384 4u
#define ZORBEL_HASH_SHA512 5u

typedef struct ZORBELHashHandle ZORBELHashHandle;

/* Starts a digest with one of the algorithm codes above. 1; 1001 for a NULL
 * handle pointer or an unknown code; 1005. */
ZORBEL_API uint32_t ZORBELHashInitEx(ZORBELHashHandle** handle, uint32_t algorithm);
/* Adds bytes (data may be NULL when length is 0). 1; 1001. */
ZORBEL_API uint32_t ZORBELHashUpdateEx(ZORBELHashHandle* handle, const void* data, uint32_t length);
/* Writes algorithmOid (dotted), digest and digestLength, and frees the
 * handle, whatever the result. 1; 1001 for a NULL handle or output (the
 * handle is freed all the same). */
ZORBEL_API uint32_t ZORBELHashFinalEx(ZORBELHashHandle* handle, ZORBELUDigestInfoEx* out);
/* Frees a handle without a result (a digest given up). 1; 1001 for NULL. */
ZORBEL_API uint32_t ZORBELHashFreeEx(ZORBELHashHandle* handle);

/* ---- Token creation ---------------------------------------------------- */

/* What a token is asked for. */
typedef struct ZORBELTimeStampRequest {
    ZORBELUDigestInfoEx digest; /* the imprint: SHA-1, MD5, SHA-256, -384 or -512 with its length */
    char policyOid[128];        /* requested policy, dotted; empty: the TSA's default */
    uint32_t certReq;           /* 1: the token carries the TSA certificate; 0: it does not */
    uint32_t nonce;             /* 1: send a random 64-bit nonce (checked in the answer) */
} ZORBELTimeStampRequest;

/* A local TSA: the signing key and certificate the caller holds. */
typedef struct ZORBELTSASigner {
    const uint8_t* privateKey; /* PEM or DER, not encrypted */
    uint32_t privateKeyLength;
    const uint8_t* certificate; /* PEM or DER; critical extended key usage timeStamping */
    uint32_t certificateLength;
    const uint8_t* extraCertificates; /* optional: PEM certificates, or DER ones back to back */
    uint32_t extraCertificatesLength;
    const uint8_t* attributeCertificate; /* optional: a TAC (DER) put into the certificate set */
    uint32_t attributeCertificateLength;
    char defaultPolicyOid[128]; /* used when the request names none; required then */
    uint64_t serialNumber;      /* the token's serial; 0: a random positive 63-bit serial */
    uint32_t signerDigest;      /* hash code for the signature; 0: SHA-256 */
    uint32_t essCertIdDigest;   /* 0 or 1: signing-certificate v1 (SHA-1); 3, 4, 5: v2 with that hash */
    uint32_t accuracySeconds;   /* accuracy; all three 0: none */
    uint32_t accuracyMillis;
    uint32_t accuracyMicros;
    uint32_t ordering;          /* 1: ordering TRUE */
} ZORBELTSASigner;

/* Options of ZORBELCreateTimeStampTokenEx (value2). */
#define ZORBEL_CREATE_TOKEN 0u        /* write the TimeStampToken (ContentInfo) */
#define ZORBEL_CREATE_RESPONSE 1u     /* write the whole TimeStampResp */

/* Creates a token locally.
 * value1: address of a ZORBELTSASigner; value2: ZORBEL_CREATE_TOKEN or
 * ZORBEL_CREATE_RESPONSE; value3: address of a ZORBELUCertBlob that receives
 * the DER (length: capacity in, byte count out; encoding set to 2).
 * The time is the current time; the imprint algorithm must match its length.
 * 1; 1001 bad arguments or request; 1002 too small (length set to the size
 * needed); 1903 key or certificate unusable (no critical timeStamping
 * extended key usage, key not matching); 1901 the request was refused;
 * 1005. */
ZORBEL_API uint32_t ZORBELCreateTimeStampTokenEx(uintptr_t value1, uintptr_t value2,
                                                 const ZORBELTimeStampRequest* request, uintptr_t value3);

/* Where an RFC 3161 TSA is reached over HTTP. */
typedef struct ZORBELTSAConnection {
    const char* url;    /* http:// or https:// */
    uint32_t timeoutMs; /* whole transfer; 0: the communication library's default */
    ZORBELU_HWND owner; /* window that owns what the transfer shows; may be NULL */
} ZORBELTSAConnection;

/* Asks an RFC 3161 TSA for a token over HTTP (POST, content type
 * application/timestamp-query, through the communication library with its
 * connection settings). value1: address of a ZORBELTSAConnection; value2:
 * address of a ZORBELUCertBlob for the token (ContentInfo DER; length
 * capacity in, byte count out; encoding set to 2).
 * The answer must have status granted (0 or 1), carry a token whose TSTInfo
 * has the nonce sent (when asked) and the requested imprint.
 * 1; 1001; 1002 too small (length set to the size needed); 1901 the TSA
 * refused (status 2..5); 1902 the answer is unreadable or does not match;
 * 1201..1205 the transfer's result, unchanged; 1005. */
ZORBEL_API uint32_t ZORBELHTTP3161CreateTimeStampToken(uintptr_t value1, const ZORBELTimeStampRequest* request,
                                                       uintptr_t value2);

/* ---- Credentials --------------------------------------------------------- */

/* Writes the user name of the configured connection credentials into
 * `buffer` (520 bytes, NUL-terminated). 1; 1001 for NULL; 1206 when none
 * are configured. */
ZORBEL_API uint32_t ZORBELGetUser(char* buffer);

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
