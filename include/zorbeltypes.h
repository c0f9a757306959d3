/*
 * zorbeltypes.h - records shared by zorbelutilnd and its two companion
 * libraries (the core time-stamp library libzorbel and the communication
 * library libzorbelcomm).
 *
 * Records without pointers keep their exact byte layout on every platform;
 * the layout is checked at compile time at the end of this file. Records
 * that hold pointers or window handles keep their field order with natural
 * alignment.
 *
 * Compiles as C11 and as C++.
 */
#ifndef ZORBELTYPES_H
#define ZORBELTYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque window handle: NULL or a live window of the library's dialog runtime. */
typedef struct ZORBELU_HWND__* ZORBELU_HWND;

/* Resource module handle: the handle dlopen() returned for a resource module. */
typedef void* ZORBELU_HINSTANCE;

/* Encoding codes of certificate and CRL bytes. */
#define ZORBELU_ENCODING_DETECT 1u
#define ZORBELU_ENCODING_DER 2u
#define ZORBELU_ENCODING_PEM 3u

/* A byte range: the DER time-stamp token of every verify and display call. */
typedef struct ZORBELUBlob {
    const uint8_t* data;
    uint32_t length;
} ZORBELUBlob;

/* Encoded certificate or CRL bytes with their encoding code (1 detect, 2 DER, 3 PEM). */
typedef struct ZORBELUCertBlob {
    uint8_t* data;
    uint32_t length;
    uint32_t encoding;
} ZORBELUCertBlob;

/* Digest of the time-stamped data: SHA-1, MD5 or SHA-256. */
typedef struct ZORBELUDigestInfo {
    char algorithmOid[128];
    uint8_t digest[40];
    uint32_t digestLength;
} ZORBELUDigestInfo;

/* Digest of the time-stamped data with room for SHA-384 and SHA-512. */
typedef struct ZORBELUDigestInfoEx {
    char algorithmOid[128];
    uint8_t digest[128];
    uint32_t digestLength;
} ZORBELUDigestInfoEx;

/* Proxy modes and credential modes of ZORBELUProxyInfo. */
#define ZORBELU_PROXY_DIRECT 0u
#define ZORBELU_PROXY_SYSTEM 1u
#define ZORBELU_PROXY_SERVER 2u
#define ZORBELU_CREDENTIALS_GIVEN 0u
#define ZORBELU_CREDENTIALS_NONE 1u

/* Connection settings for downloads, and the window that owns what they show. */
typedef struct ZORBELUProxyInfo {
    uint32_t proxyMode;      /* 0 direct, 1 system settings, 2 proxyServer */
    char proxyServer[128];   /* "host:port", proxyMode 2 only */
    uint32_t credentialMode; /* 0 credentials below, 1 none */
    char credential1[256];   /* user */
    char credential2[256];   /* password */
    char credential3[256];   /* domain, may be empty */
    ZORBELU_HWND ownerWindow;
} ZORBELUProxyInfo;

/* Token information, filled by ZORBELGetTimeStampInfoEx from the TSTInfo. */
typedef struct ZORBELTimeStampInfo {
    uint32_t size; /* 1044, set by the caller */
    int32_t version;
    char policyOid[128];
    char hashAlgorithmOid[128];
    uint8_t hashValue[128];
    uint32_t hashLength;
    uint8_t serialNumber[40];
    uint32_t serialNumberLength;
    char genTime[32]; /* GeneralizedTime text, e.g. "20240102030405.123Z" */
    int32_t accuracySeconds;
    int32_t accuracyMillis;
    int32_t accuracyMicros;
    int32_t ordering; /* 1 = true */
    uint8_t reserved[44];
    char tsaName[512];
} ZORBELTimeStampInfo;

#define ZORBEL_TIMESTAMP_INFO_SIZE 1044u

/* Time attribute certificate (TAC) of a token: the certificate's own fields. */
typedef struct ZORBELTACCertInfo {
    int32_t version;
    char holder[512];
    char holderHashAlgorithmOid[128];
    uint8_t holderHashValue[40];
    uint32_t holderHashLength;
    char issuer[512];
    uint32_t serialNumber[2]; /* high 32 bits, then low 32 bits */
    char notBefore[32];
    char notAfter[32];
    char signatureAlgorithmOid[128];
    uint8_t signatureValue[1024];
    uint32_t signatureLength;
} ZORBELTACCertInfo;

/* The TAC's timing-metrics attribute. */
typedef struct ZORBELTACTimingMetrics {
    char auditedTime[32];
    float offset; /* seconds */
    float delay;  /* seconds */
    char expiration[32];
} ZORBELTACTimingMetrics;

/* The TAC's timing-policy attribute. */
typedef struct ZORBELTACTimingPolicy {
    char policyOid[128];
    float offset; /* seconds */
    float delay;  /* seconds */
} ZORBELTACTimingPolicy;

/* One certificate or CRL held by a core certificate store. */
typedef struct ZORBELCertNode {
    uint8_t* data;
    uint32_t length;
    uint32_t encoding; /* 2 DER, 3 PEM */
    struct ZORBELCertNode* next;
} ZORBELCertNode;

/* The core certificate store: CA certificates (trust anchors) and CRLs. */
typedef struct ZORBELCertStore {
    uint32_t size; /* validity mark, always ZORBEL_CERT_STORE_MARK */
    uint32_t reserved;
    ZORBELCertNode* caCerts;
    ZORBELCertNode* crls;
} ZORBELCertStore;

#define ZORBEL_CERT_STORE_MARK 16u

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Layout checks: these records are shared byte for byte with other modules. */
#ifdef __cplusplus
#define ZORBEL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZORBEL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

ZORBEL_STATIC_ASSERT(sizeof(ZORBELUDigestInfo) == 172, "ZORBELUDigestInfo is 172 bytes");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELUDigestInfo, digest) == 128, "digest at 128");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELUDigestInfo, digestLength) == 168, "digestLength at 168");
ZORBEL_STATIC_ASSERT(sizeof(ZORBELUDigestInfoEx) == 260, "ZORBELUDigestInfoEx is 260 bytes");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELUDigestInfoEx, digestLength) == 256, "digestLength at 256");

ZORBEL_STATIC_ASSERT(sizeof(ZORBELTimeStampInfo) == 1044, "ZORBELTimeStampInfo is 1044 bytes");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, version) == 4, "version at 4");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, policyOid) == 8, "policyOid at 8");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, hashAlgorithmOid) == 136, "hashAlgorithmOid at 136");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, hashValue) == 264, "hashValue at 264");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, hashLength) == 392, "hashLength at 392");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, serialNumber) == 396, "serialNumber at 396");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, serialNumberLength) == 436, "serialNumberLength at 436");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, genTime) == 440, "genTime at 440");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, accuracySeconds) == 472, "accuracySeconds at 472");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, accuracyMillis) == 476, "accuracyMillis at 476");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, accuracyMicros) == 480, "accuracyMicros at 480");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, ordering) == 484, "ordering at 484");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTimeStampInfo, tsaName) == 532, "tsaName at 532");

ZORBEL_STATIC_ASSERT(sizeof(ZORBELTACCertInfo) == 2428, "ZORBELTACCertInfo is 2428 bytes");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, holder) == 4, "holder at 4");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, holderHashAlgorithmOid) == 516, "holder hash alg at 516");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, holderHashValue) == 644, "holder hash at 644");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, holderHashLength) == 684, "holder hash length at 684");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, issuer) == 688, "issuer at 688");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, serialNumber) == 1200, "serialNumber at 1200");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, notBefore) == 1208, "notBefore at 1208");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, notAfter) == 1240, "notAfter at 1240");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, signatureAlgorithmOid) == 1272, "sig alg at 1272");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, signatureValue) == 1400, "signature at 1400");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACCertInfo, signatureLength) == 2424, "signature length at 2424");

ZORBEL_STATIC_ASSERT(sizeof(ZORBELTACTimingMetrics) == 72, "ZORBELTACTimingMetrics is 72 bytes");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACTimingMetrics, offset) == 32, "offset at 32");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACTimingMetrics, delay) == 36, "delay at 36");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACTimingMetrics, expiration) == 40, "expiration at 40");

ZORBEL_STATIC_ASSERT(sizeof(ZORBELTACTimingPolicy) == 136, "ZORBELTACTimingPolicy is 136 bytes");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACTimingPolicy, offset) == 128, "offset at 128");
ZORBEL_STATIC_ASSERT(offsetof(ZORBELTACTimingPolicy, delay) == 132, "delay at 132");

#endif /* ZORBELTYPES_H */
