#include "reasons.h"

#include <openssl/bn.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "cli_support.h"
#include "trust_check.h"
#include "x509/decoding.h"
#include "x509/der.h"
#include "x509/ossl_ptr.h"
#include "x509/urls.h"
#include "zorbel.h"

namespace zorbelu::cli {
namespace {

struct FreeStore {
    void operator()(ZORBELCertStore* store) const { (void)ZORBELFreeCertStore(store); }
};

X509Ptr DecodeDer(const std::string& der) {
    const auto* cursor = reinterpret_cast<const uint8_t*>(der.data());
    return x509::DecodeDerCertificateAt(&cursor, der.size());
}

// "C=DE, O=Example, CN=TSA", UTF-8 as it is.
std::string NameText(const X509_NAME* name) {
    const BioPtr bio(BIO_new(BIO_s_mem()));
    constexpr unsigned long kFlags = XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB;
    if (!bio || name == nullptr || X509_NAME_print_ex(bio.get(), name, 0, kFlags) < 0) return "(unreadable name)";
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string Subject(const X509* cert) { return NameText(X509_get_subject_name(cert)); }

std::string TimeText(const ASN1_TIME* time) {
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || time == nullptr || ASN1_TIME_print(bio.get(), time) != 1) return "(unreadable time)";
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string Joined(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

std::string UrlsText(const std::vector<std::string>& urls) { return urls.empty() ? "(no URL)" : Joined(urls, " "); }

// The TSA certificate of the token, decoded; null when there is none.
X509Ptr TsaCertificate(const ZORBELUBlob& token) {
    const std::optional<std::string> der = TsaCertificateOf(token);
    return der ? DecodeDer(*der) : nullptr;
}

// The length the SEQUENCE at the start of `bytes` declares, whether or not
// that much follows (long forms of up to four octets, not necessarily the
// shortest), and the size of its header; false when there is no such header.
bool SequenceHeader(const uint8_t* bytes, size_t size, size_t* header, size_t* declared) {
    if (size < 2 || bytes[0] != zorbel::der::kSequence) return false;
    const uint8_t* p = bytes + 1;
    if (!zorbel::der::ReadDeclaredLength(p, bytes + size, *declared, zorbel::der::LengthRule::kBer)) return false;
    *header = static_cast<size_t>(p - bytes);
    return true;
}

// A TimeStampResp whose status is neither granted nor grantedWithMods: the
// status and the TSA's texts. Read by hand, as OpenSSL refuses a refusal
// that still carries a token.
std::string RefusalReason(const ZORBELUBlob& token) {
    size_t inner = 0, declared = 0;
    if (!SequenceHeader(token.data, token.length, &inner, &declared)) return "";
    const unsigned char* cursor = token.data + inner;
    const TsStatusInfoPtr info(d2i_TS_STATUS_INFO(nullptr, &cursor, static_cast<long>(token.length - inner)));
    if (!info) return "";
    const long status = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(info.get()));
    if (status <= 1) return "";
    static const char* const kNames[] = {"granted", "grantedWithMods", "rejection", "waiting",
                                         "revocationWarning", "revocationNotification"};
    std::string text = "not a granted response: the TSA answered status " + std::to_string(status) +
                       (status < 6 ? std::string(" (") + kNames[status] + ")" : "");
    const STACK_OF(ASN1_UTF8STRING)* texts = TS_STATUS_INFO_get0_text(info.get());
    for (int i = 0; i < sk_ASN1_UTF8STRING_num(texts); ++i) {
        const ASN1_UTF8STRING* line = sk_ASN1_UTF8STRING_value(texts, i);
        text += std::string(i == 0 ? ": \"" : " \"") +
                std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(line)), ASN1_STRING_length(line)) +
                "\"";
    }
    return text;
}

// Why bytes that the core cannot read as a token are not one: a TSA's
// refusal, a truncated file, or something else altogether.
std::string NotATokenReason(const ZORBELUBlob& token) {
    if (std::string refusal = RefusalReason(token); !refusal.empty()) return refusal;
    // The outer DER header: a SEQUENCE whose length says how much must follow.
    const size_t size = token.length;
    if (size < 2 || token.data[0] != zorbel::der::kSequence)
        return "not a time-stamp token: the file does not begin with a DER SEQUENCE";
    size_t header = 0, length = 0;
    if (!SequenceHeader(token.data, size, &header, &length)) return "not a time-stamp token: the DER length is unreadable";
    if (header + length > size)
        return "truncated: the token declares " + std::to_string(header + length) + " bytes, the file holds " +
               std::to_string(size);
    return "not a time-stamp token: DER, but not a SignedData holding a TSTInfo";
}

std::string UsageReason(const ZORBELUBlob& token) {
    const X509Ptr cert = TsaCertificate(token);
    if (!cert) return "the TSA certificate is unfit for time-stamping";
    int critical = 0;
    const ExtKeyUsagePtr usage(
        static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(cert.get(), NID_ext_key_usage, &critical, nullptr)));
    const std::string who = "the TSA certificate " + Subject(cert.get());
    if (!usage) return who + " has no extended key usage";
    if (sk_ASN1_OBJECT_num(usage.get()) != 1 || OBJ_obj2nid(sk_ASN1_OBJECT_value(usage.get(), 0)) != NID_time_stamp)
        return who + ": its extended key usage is not timeStamping alone";
    if (critical == 0) return who + ": its timeStamping extended key usage is not marked critical";
    return who + " is unfit for time-stamping";
}

std::string ImprintReason(uint32_t code, const ZORBELUBlob& token, const ZORBELUDigestInfoEx& digest) {
    ZORBELTimeStampInfo info;
    std::memset(&info, 0, sizeof info);
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    if (ZORBELGetTimeStampInfoEx(&token, &info) != ZORBEL_OK) return "";
    if (code == ZORBEL_VERIFY_IMPRINT_ALGORITHM)
        return "imprint algorithm differs: the token's is " + std::string(info.hashAlgorithmOid) + ", the digest's " +
               digest.algorithmOid;
    return "imprint differs: the token holds " + x509::HexText(info.hashValue, info.hashLength) +
           ", the data's digest is " + x509::HexText(digest.digest, digest.digestLength) +
           " (the data is not what was time-stamped)";
}

// Why the core library finds the token itself (no store) wrong; "" when it
// does not.
std::string IntegrityReason(const ZORBELUBlob& token, const ZORBELUDigestInfoEx& digest) {
    const uint32_t code = ZORBELVerifyTimeStampTokenEx(&token, &digest, nullptr, nullptr);
    Note("the token's integrity (core library): " + std::to_string(code));
    switch (code) {
        case ZORBEL_OK: return "";
        case ZORBEL_VERIFY_STRUCTURE: return NotATokenReason(token);
        case ZORBEL_VERIFY_SIGNATURE:
            return "signature invalid: the token was changed after it was signed, or signed with another key";
        case ZORBEL_VERIFY_ESS_BINDING:
            return "ESS binding broken: the signing-certificate attribute is missing or names another certificate "
                   "than the signer's";
        case ZORBEL_VERIFY_IMPRINT_ALGORITHM:
        case ZORBEL_VERIFY_IMPRINT_VALUE: return ImprintReason(code, token, digest);
        case ZORBEL_VERIFY_NO_SIGNER_CERT: return "signer certificate missing: it is neither in the token nor in the stores";
        case ZORBEL_VERIFY_UNSUPPORTED: return "the token uses a digest or signature algorithm that cannot be checked";
        case ZORBEL_VERIFY_CERT_INVALID: return UsageReason(token);
        default: return "the core library answers " + std::to_string(code);
    }
}

struct Gathered {
    uint32_t result = 0;
    std::vector<X509Ptr> certificates;  // the TSA certificate first, then the CA certificates
    std::vector<X509CrlPtr> crls;
    std::unique_ptr<ZORBELCertStore, FreeStore> store;
};

Gathered Gather(const ZORBELUBlob& token, uint32_t timeout, const ZORBELUProxyInfo* proxy) {
    Gathered gathered;
    ZORBELUBlob tsa{};
    ZORBELUCertBlob* cas = nullptr;
    ZORBELUCertBlob* crls = nullptr;
    gathered.result = ZORBELUGetCertificates(&token, static_cast<int32_t>(timeout), proxy, &tsa, &cas, &crls);
    if (gathered.result != ZORBELU_OK) return gathered;
    gathered.store.reset(ZORBELCreateCertStore());
    if (X509Ptr cert = TsaCertificate(token)) gathered.certificates.push_back(std::move(cert));
    for (const ZORBELUCertBlob* c = cas; c != nullptr && c->data != nullptr; ++c) {
        if (gathered.store) (void)ZORBELAddCACert(gathered.store.get(), c);
        const uint8_t* cursor = c->data;
        if (X509Ptr cert = x509::DecodeDerCertificateAt(&cursor, c->length))
            gathered.certificates.push_back(std::move(cert));
    }
    for (const ZORBELUCertBlob* c = crls; c != nullptr && c->data != nullptr; ++c) {
        if (gathered.store) (void)ZORBELAddCRL(gathered.store.get(), c);
        const uint8_t* cursor = c->data;
        if (X509CrlPtr crl = x509::DecodeDerCrlAt(&cursor, c->length)) gathered.crls.push_back(std::move(crl));
    }
    if (cas != nullptr) (void)ZORBELUFreeCertificates(&cas);
    if (crls != nullptr) (void)ZORBELUFreeCertificates(&crls);
    return gathered;
}

std::string ExpiredReason(const Gathered& gathered) {
    for (const X509Ptr& cert : gathered.certificates) {
        if (X509_cmp_current_time(X509_get0_notAfter(cert.get())) < 0)
            return "certificate " + Subject(cert.get()) + " of the chain expired on " + TimeText(X509_get0_notAfter(cert.get()));
        if (X509_cmp_current_time(X509_get0_notBefore(cert.get())) > 0)
            return "certificate " + Subject(cert.get()) + " of the chain is not valid before " +
                   TimeText(X509_get0_notBefore(cert.get()));
    }
    return "a certificate of the chain is expired or not yet valid";
}

std::string RevokedReason(const Gathered& gathered) {
    if (gathered.certificates.empty()) return "the TSA certificate is revoked";
    X509* tsa = gathered.certificates.front().get();
    for (const X509CrlPtr& crl : gathered.crls) {
        X509_REVOKED* entry = nullptr;
        if (X509_CRL_get0_by_cert(crl.get(), &entry, tsa) == 1 && entry != nullptr)
            return "the TSA certificate " + Subject(tsa) + " was revoked on " +
                   TimeText(X509_REVOKED_get0_revocationDate(entry)) + " (CRL of " +
                   NameText(X509_CRL_get_issuer(crl.get())) + ")";
    }
    return "the TSA certificate " + Subject(tsa) + " is revoked";
}

std::string CrlExpiredReason(const Gathered& gathered) {
    for (const X509CrlPtr& crl : gathered.crls) {
        const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl.get());
        if (next != nullptr && X509_cmp_current_time(next) < 0)
            return "the CRL of " + NameText(X509_CRL_get_issuer(crl.get())) +
                   " is out of date (next update " + TimeText(next) + ")";
    }
    return "a CRL is out of date or not yet valid";
}

// The certificate of the chain whose signature its issuer's key does not
// confirm, or whose issuer is no CA.
std::string BrokenChainReason(const Gathered& gathered) {
    for (const X509Ptr& cert : gathered.certificates) {
        for (const X509Ptr& issuer : gathered.certificates) {
            if (X509_check_issued(issuer.get(), cert.get()) != X509_V_OK || issuer == cert) continue;
            if (X509_verify(cert.get(), X509_get0_pubkey(issuer.get())) != 1)
                return "the signature of certificate " + Subject(cert.get()) + " does not verify with its issuer's key";
        }
        if (&cert != &gathered.certificates.front() && X509_check_ca(cert.get()) == 0)
            return "certificate " + Subject(cert.get()) + " of the chain is not a CA certificate";
    }
    return "a certificate of the chain is broken (signature, CA flags or path length)";
}

// Why the chain fails: the core library judges the token again with the
// chain and CRLs gathered for it.
std::string ChainReason(const ZORBELUBlob& token, const ZORBELUDigestInfoEx& digest, uint32_t timeout,
                        const ZORBELUProxyInfo* proxy) {
    const Gathered gathered = Gather(token, timeout, proxy);
    Note("gathering the chain and CRLs: " + std::to_string(gathered.result));
    if (gathered.result != ZORBELU_OK) return GatheringReason(gathered.result, token);
    if (!gathered.store || gathered.certificates.empty()) return "";
    const uint32_t code = ZORBELVerifyTimeStampTokenEx(&token, &digest, nullptr, gathered.store.get());
    Note("the chain with what was gathered (core library): " + std::to_string(code));
    switch (code) {
        case ZORBEL_VERIFY_CERT_EXPIRED: return ExpiredReason(gathered);
        case ZORBEL_VERIFY_CERT_REVOKED: return RevokedReason(gathered);
        case ZORBEL_VERIFY_CRL_EXPIRED: return CrlExpiredReason(gathered);
        case ZORBEL_VERIFY_CERT_INVALID: return BrokenChainReason(gathered);
        case ZORBEL_VERIFY_UNTRUSTED:
            return "the chain of " + Subject(gathered.certificates.front().get()) + " ends at " +
                   Subject(gathered.certificates.back().get()) + ", which is not in the \"ROOT\" store";
        case ZORBEL_VERIFY_INCOMPLETE:
            return "the chain is incomplete: an issuer is missing, or a CRL's signature or issuer cannot be trusted";
        default: return "";
    }
}

}  // namespace

std::string VerificationReason(uint32_t status, const ZORBELUBlob& token, const ZORBELUDigestInfoEx& digest,
                               uint32_t timeout, const ZORBELUProxyInfo* proxy) {
    if (status == ZORBELU_VS_OK) return "";
    // A download that failed: which URLs were wanted.
    if ((status >= ZORBELU_ERR_COMM_FAILED && status <= ZORBELU_ERR_COMM_SERVER_AUTH) || status == ZORBELU_ERR_CRL ||
        status == ZORBELU_ERR_CDP)
        return GatheringReason(status, token);
    // Any other error code is about the arguments, not the token.
    if (!ZORBELU_IS_STATUS(status) && status != ZORBELU_ERR_TSA_CERT) return "";
    if (std::string integrity = IntegrityReason(token, digest); !integrity.empty()) return integrity;
    switch (status) {
        case ZORBELU_VS_CERT_EXPIRED:
        case ZORBELU_VS_CERT_INVALID:
        case ZORBELU_VS_CERT_REVOKED:
        case ZORBELU_VS_CRL_EXPIRED:
        case ZORBELU_VS_REVOCATION_UNKNOWN:
        case ZORBELU_VS_CERT_UNTRUSTED: return ChainReason(token, digest, timeout, proxy);
        default: return "";
    }
}

std::string GatheringReason(uint32_t result, const ZORBELUBlob& token) {
    const X509Ptr cert = TsaCertificate(token);
    if (!cert) return result == ZORBELU_ERR_TSA_CERT ? "the token carries no TSA certificate" : ErrorText(result);
    const std::string who = Subject(cert.get());
    const std::vector<std::string> crlUrls = x509::EveryCrlUri(cert.get()),
                                   issuerUrls = x509::EveryCaIssuerUri(cert.get());
    std::vector<std::string> all = crlUrls;
    all.insert(all.end(), issuerUrls.begin(), issuerUrls.end());
    switch (result) {
        case ZORBELU_ERR_CDP: return "the TSA certificate " + who + " names no CRL distribution point";
        case ZORBELU_ERR_CRL: return "the CRL at " + UrlsText(crlUrls) + " could not be fetched, read or accepted";
        case ZORBELU_ERR_COMM_CONNECT: return "could not connect to fetch " + UrlsText(all);
        case ZORBELU_ERR_COMM_TIMEOUT: return "fetching " + UrlsText(all) + " took longer than the time limit (--timeout)";
        case ZORBELU_ERR_COMM_FAILED: return "the download of " + UrlsText(all) + " failed";
        case ZORBELU_ERR_COMM_PROXY_AUTH: return "the proxy wants credentials (--proxy-user)";
        case ZORBELU_ERR_COMM_SERVER_AUTH: return "the server of " + UrlsText(all) + " wants credentials";
        case ZORBELU_ERR_NOT_FOUND:
            return "the chain of " + who + " reaches no root of the \"ROOT\" store (issuers looked for in \"CA\", "
                   "\"ROOT\" and at " + UrlsText(issuerUrls) + ")";
        case ZORBELU_ERR_SELF_ISSUED: return "the TSA certificate " + who + " is self-issued: there is no chain to gather";
        default: return ErrorText(result);
    }
}

std::string VerdictReason(const std::string& der, const ZORBELUTSACertResult& verdicts) {
    const X509Ptr cert = DecodeDer(der);
    if (!cert) return "";
    const std::string who = Subject(cert.get());
    if (verdicts.validity == ZORBELU_VS_CERT_EXPIRED)
        return "the certificate " + who + " is valid from " + TimeText(X509_get0_notBefore(cert.get())) + " to " +
               TimeText(X509_get0_notAfter(cert.get()));
    switch (verdicts.revocation) {
        case ZORBELU_VS_CERT_REVOKED: return "the certificate " + who + " is revoked by its issuer's CRL";
        case ZORBELU_VS_CRL_UNAVAILABLE: return "no CRL could be fetched from " + UrlsText(x509::EveryCrlUri(cert.get()));
        case ZORBELU_VS_CRL_EXPIRED: return "the CRL from " + UrlsText(x509::EveryCrlUri(cert.get())) + " is out of date";
        case ZORBELU_VS_REVOCATION_UNKNOWN: return "the revocation of " + who + " cannot be told";
        default: break;
    }
    switch (verdicts.chain) {
        case ZORBELU_VS_ROOT_UNAVAILABLE: return "no trusted root of " + who + " in the \"ROOT\" store";
        case ZORBELU_VS_CERT_INVALID: return "a certificate of the chain of " + who + " is broken";
        case ZORBELU_VS_CERT_UNTRUSTED: return "the chain of " + who + " ends at an untrusted certificate";
        default: return "";
    }
}

std::string UnreadableTokenReason(const ZORBELUBlob& token) { return NotATokenReason(token); }

void NoteDownloads(const ZORBELUBlob& token) {
    if (!Verbose()) return;
    const X509Ptr cert = TsaCertificate(token);
    if (!cert) return Note("the token carries no readable TSA certificate");
    Note("TSA certificate: " + Subject(cert.get()));
    Note("its CRL is fetched from: " + UrlsText(x509::EveryCrlUri(cert.get())));
    Note("its issuer, when no store holds it, from: " + UrlsText(x509::EveryCaIssuerUri(cert.get())));
}

std::string TokenNonce(const ZORBELUBlob& token) {
    const unsigned char* cursor = token.data;
    TstInfoPtr info;
    if (const Pkcs7Ptr signedData{d2i_PKCS7(nullptr, &cursor, static_cast<long>(token.length))}) {
        info.reset(PKCS7_to_TS_TST_INFO(signedData.get()));
    } else {
        cursor = token.data;
        if (const TsRespPtr response{d2i_TS_RESP(nullptr, &cursor, static_cast<long>(token.length))})
            if (TS_TST_INFO* inner = TS_RESP_get_tst_info(response.get())) info.reset(TS_TST_INFO_dup(inner));
    }
    const ASN1_INTEGER* nonce = info ? TS_TST_INFO_get_nonce(info.get()) : nullptr;
    if (nonce == nullptr) return "";
    const BignumPtr number(ASN1_INTEGER_to_BN(nonce, nullptr));
    const OpenSslTextPtr hex(number ? BN_bn2hex(number.get()) : nullptr);
    return hex ? hex.get() : "";
}

}  // namespace zorbelu::cli
