// fixture_ossl.h - owning handles for the OpenSSL objects of the fixture
// generator, and the one way it reports an OpenSSL failure.
//
// Internal to the fixture library; tests use fixture_pki.h.
#ifndef ZORBELU_TESTS_SUPPORT_FIXTURE_OSSL_H
#define ZORBELU_TESTS_SUPPORT_FIXTURE_OSSL_H

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/ess.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "x509/ossl_ptr.h"

namespace zorbelu::fixtures::ossl {

// The libraries' own owning handles (x509/ossl_ptr.h), one family for the
// whole project; the fixture names a few more types with the same template.
template <typename T, void (*Free)(T*)>
using Ptr = x509::owned::OsslPtr<T, Free>;
using x509::owned::X509Ptr;
using x509::owned::X509CrlPtr;
using x509::owned::X509NamePtr;
using x509::owned::X509StackPtr;
using x509::owned::PkeyPtr;
using x509::owned::MdCtxPtr;
using x509::owned::BioPtr;
using x509::owned::Asn1IntPtr;
using x509::owned::Asn1TimePtr;
using x509::owned::Asn1ObjPtr;
using x509::owned::BignumPtr;
using x509::owned::DistPointsPtr;
using x509::owned::TsReqPtr;
using x509::owned::TsRespPtr;
using x509::owned::TsRespCtxPtr;
using x509::owned::TsMsgImprintPtr;
using x509::owned::X509AlgorPtr;
using x509::owned::CmsPtr;
using x509::owned::Pkcs7Ptr;
inline void FreeAccessDescs(STACK_OF(ACCESS_DESCRIPTION) * s) {
    sk_ACCESS_DESCRIPTION_pop_free(s, ACCESS_DESCRIPTION_free);
}

using X509RevokedPtr = Ptr<X509_REVOKED, X509_REVOKED_free>;
using X509ExtPtr = Ptr<X509_EXTENSION, X509_EXTENSION_free>;
using PkeyCtxPtr = Ptr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using Asn1OctetPtr = Ptr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1GenTimePtr = Ptr<ASN1_GENERALIZEDTIME, ASN1_GENERALIZEDTIME_free>;
using AccessDescsPtr = Ptr<STACK_OF(ACCESS_DESCRIPTION), FreeAccessDescs>;
using GeneralNamePtr = Ptr<GENERAL_NAME, GENERAL_NAME_free>;
using DistPointPtr = Ptr<DIST_POINT, DIST_POINT_free>;
using AccessDescPtr = Ptr<ACCESS_DESCRIPTION, ACCESS_DESCRIPTION_free>;
using TsTstInfoPtr = Ptr<TS_TST_INFO, TS_TST_INFO_free>;
using TsAccuracyPtr = Ptr<TS_ACCURACY, TS_ACCURACY_free>;
using EssSigningCertPtr = Ptr<ESS_SIGNING_CERT, ESS_SIGNING_CERT_free>;

// Throws std::runtime_error with `what` and the drained OpenSSL error queue.
[[noreturn]] void Fail(const std::string& what);

// Returns p, or throws through Fail(what) when p is null.
template <typename T>
T* Check(T* p, const char* what) {
    if (p == nullptr) Fail(what);
    return p;
}
// Throws through Fail(what) unless rc is positive (OpenSSL's success).
inline void Check(int rc, const char* what) {
    if (rc <= 0) Fail(what);
}

// DER encoding through an i2d function (T may be const); throws on failure.
template <typename T>
std::string ToDer(int (*i2d)(T*, unsigned char**), T* obj, const char* what) {
    const int len = i2d(obj, nullptr);
    if (len <= 0) Fail(what);
    std::string out(static_cast<size_t>(len), '\0');
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    if (i2d(obj, &p) != len) Fail(what);
    return out;
}
// Everything written into a memory BIO, as a string.
std::string BioText(BIO* bio);

}  // namespace zorbelu::fixtures::ossl

#endif
