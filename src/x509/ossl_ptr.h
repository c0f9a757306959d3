// Owning handles for every OpenSSL object the libraries hold: each lives in
// a std::unique_ptr with its own free function, so no error path can leak
// one. This is the only place that names OpenSSL's free functions for them.
#ifndef ZORBELU_X509_OSSL_PTR_H
#define ZORBELU_X509_OSSL_PTR_H

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace zorbelu::x509::owned {

template <typename T, void (*Free)(T*)>
struct OsslDeleter {
    void operator()(T* p) const noexcept { Free(p); }
};
template <typename T, void (*Free)(T*)>
using OsslPtr = std::unique_ptr<T, OsslDeleter<T, Free>>;

inline void FreeX509Stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
inline void FreeCrlStack(STACK_OF(X509_CRL) * s) { sk_X509_CRL_pop_free(s, X509_CRL_free); }
inline void FreeDistPoints(STACK_OF(DIST_POINT) * s) { sk_DIST_POINT_pop_free(s, DIST_POINT_free); }
// BIO_free_all, not BIO_free: a BIO we own is either a lone memory or file
// BIO, where both do the same, or the head of a chain we pushed together,
// which owns the BIOs below it. We never own a BIO that sits inside a chain
// someone else frees, the one case where BIO_free_all would free too much.
inline void FreeBio(BIO* b) { BIO_free_all(b); }
inline void FreeOpenSslText(char* text) { OPENSSL_free(text); }
inline void FreeOpenSslBytes(unsigned char* bytes) { OPENSSL_free(bytes); }

using X509Ptr = OsslPtr<X509, X509_free>;
using X509CrlPtr = OsslPtr<X509_CRL, X509_CRL_free>;
using X509NamePtr = OsslPtr<X509_NAME, X509_NAME_free>;
using X509ExtensionPtr = OsslPtr<X509_EXTENSION, X509_EXTENSION_free>;
using X509StackPtr = OsslPtr<STACK_OF(X509), FreeX509Stack>;
using X509StorePtr = OsslPtr<X509_STORE, X509_STORE_free>;
using X509StoreCtxPtr = OsslPtr<X509_STORE_CTX, X509_STORE_CTX_free>;
using ExtKeyUsagePtr = OsslPtr<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>;
using DistPointsPtr = OsslPtr<STACK_OF(DIST_POINT), FreeDistPoints>;
using AuthorityInfoAccessPtr = OsslPtr<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_free>;
using PkeyPtr = OsslPtr<EVP_PKEY, EVP_PKEY_free>;
using MdCtxPtr = OsslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using BioPtr = OsslPtr<BIO, FreeBio>;
using BufMemPtr = OsslPtr<BUF_MEM, BUF_MEM_free>;
using Asn1ObjPtr = OsslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;
using Asn1IntPtr = OsslPtr<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1TimePtr = OsslPtr<ASN1_TIME, ASN1_TIME_free>;
using Asn1GeneralizedTimePtr = OsslPtr<ASN1_GENERALIZEDTIME, ASN1_GENERALIZEDTIME_free>;
using BignumPtr = OsslPtr<BIGNUM, BN_free>;
using CmsPtr = OsslPtr<CMS_ContentInfo, CMS_ContentInfo_free>;
using Pkcs7Ptr = OsslPtr<PKCS7, PKCS7_free>;
using TstInfoPtr = OsslPtr<TS_TST_INFO, TS_TST_INFO_free>;
using TsReqPtr = OsslPtr<TS_REQ, TS_REQ_free>;
using TsRespPtr = OsslPtr<TS_RESP, TS_RESP_free>;
using TsStatusInfoPtr = OsslPtr<TS_STATUS_INFO, TS_STATUS_INFO_free>;
using TsRespCtxPtr = OsslPtr<TS_RESP_CTX, TS_RESP_CTX_free>;
using TsMsgImprintPtr = OsslPtr<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>;
using X509AlgorPtr = OsslPtr<X509_ALGOR, X509_ALGOR_free>;
using GeneralNamesPtr = OsslPtr<GENERAL_NAMES, GENERAL_NAMES_free>;
using OpenSslTextPtr = OsslPtr<char, FreeOpenSslText>;
using OpenSslBytesPtr = OsslPtr<unsigned char, FreeOpenSslBytes>;

}  // namespace zorbelu::x509::owned

// The core (namespace zorbel) and the libraries above it (namespace zorbelu)
// name these handles unqualified; only the handles are brought in.
namespace zorbelu {
using namespace x509::owned;
}
namespace zorbel {
using namespace zorbelu::x509::owned;
}

#endif
