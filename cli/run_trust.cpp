#include "run_trust.h"

#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "core/token_reader.h"
#include "platform/stores/decoded_objects.h"
#include "platform/stores/store_files.h"
#include "platform/stores/system_store.h"
#include "x509/der.h"
#include "x509/ossl_ptr.h"

namespace zorbelu::cli {
namespace {

namespace fs = std::filesystem;
using stores::DerCertificate;

// Decoded once per process: the stores and the engines meet the same bytes.
std::vector<X509Ptr> Decoded(const std::vector<DerCertificate>& certificates) {
    std::vector<X509Ptr> decoded;
    for (const DerCertificate& der : certificates)
        if (X509Ptr certificate{stores::SharedCertificate(der.data(), der.size())})
            decoded.push_back(std::move(certificate));
    return decoded;
}

// The certificates of a file given on the command line: a PEM bundle or DER.
std::vector<X509Ptr> FileCertificates(const std::string& option, const std::string& path) {
    const std::string bytes = ReadFile(path);
    std::vector<X509Ptr> certificates = Decoded(stores::files::CertificatesIn(std::vector<uint8_t>(bytes.begin(), bytes.end())));
    if (certificates.empty()) throw UsageError("--" + option + ": " + path + " holds no certificate");
    return certificates;
}

std::vector<X509Ptr> FolderCertificates(const std::string& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) throw UsageError("--ca-dir: " + folder + " is not a folder");
    std::vector<X509Ptr> certificates;
    for (const fs::path& file : stores::files::CertificateFiles(folder))
        for (X509Ptr& certificate : Decoded(stores::files::FileCertificates(file, stores::files::kMaxCertificateFile)))
            certificates.push_back(std::move(certificate));
    if (certificates.empty()) throw UsageError("--ca-dir: " + folder + " holds no certificate file");
    return certificates;
}

// The certificates the token (or the granted response around it) carries.
std::vector<X509Ptr> TokenCertificates(const ZORBELUBlob& token) {
    std::vector<X509Ptr> certificates;
    if (token.data == nullptr || token.length == 0) return certificates;
    const uint8_t* p = token.data;
    Pkcs7Ptr owned(d2i_PKCS7(nullptr, &p, static_cast<long>(token.length)));
    TsRespPtr response;
    PKCS7* signedData = owned.get();
    if (signedData == nullptr) {
        p = token.data;
        response.reset(d2i_TS_RESP(nullptr, &p, static_cast<long>(token.length)));
        if (response) signedData = TS_RESP_get_token(response.get());
    }
    if (signedData == nullptr || !PKCS7_type_is_signed(signedData) || signedData->d.sign == nullptr)
        return certificates;
    STACK_OF(X509)* carried = signedData->d.sign->cert;
    for (int i = 0; i < sk_X509_num(carried) && certificates.size() < kMaxRunCertificates; ++i) {
        X509* certificate = sk_X509_value(carried, i);
        X509_up_ref(certificate);
        certificates.emplace_back(certificate);
    }
    return certificates;
}

bool IsSelfIssued(X509* certificate) {
    return X509_NAME_cmp(X509_get_subject_name(certificate), X509_get_issuer_name(certificate)) == 0;
}

// A candidate whose signatures are worth checking: it may become an issuer.
bool MayBeOffered(const X509Ptr& candidate) {
    return X509_check_ca(candidate.get()) != 0 && !IsSelfIssued(candidate.get());
}

// The elements of the token's certificate set, read without decoding the
// rest of the token: false unless the bytes are a definite-length
// ContentInfo of a SignedData.
bool CertificateSetElements(const ZORBELUBlob& token, std::vector<zorbel::der::Span>* elements) {
    zorbel::der::Reader rest({nullptr, 0});
    zorbel::der::Tlv set, element;
    if (token.data == nullptr || !zorbel::SignedDataAfterContent({token.data, token.length}, rest)) return false;
    if (!rest.NextIf(zorbel::der::ContextConstructed(0), set)) return true;  // no certificates
    for (zorbel::der::Reader certificates = zorbel::der::Inside(set); !certificates.AtEnd();) {
        if (!certificates.Next(element)) return false;
        elements->push_back(element.whole);
    }
    return true;
}

// True when the token surely offers no issuer, so that decoding it whole
// (TokenCertificates) would change nothing: each element of its certificate
// set is a certificate, none may be offered, and with `others` they stay
// within the bound. The certificates are decoded once per process, and the
// core has read them already.
bool OffersNoIssuer(const ZORBELUBlob& token, size_t others) {
    std::vector<zorbel::der::Span> elements;
    if (!CertificateSetElements(token, &elements) || others + elements.size() > kMaxRunCertificates) return false;
    for (const zorbel::der::Span& der : elements) {
        const X509Ptr certificate{stores::SharedCertificate(der.data, der.size)};
        if (!certificate || MayBeOffered(certificate)) return false;
    }
    return true;
}

// The candidates that may be offered as issuers: CA certificates, not
// self-issued, whose signatures verify up to one of `anchors` through the
// other candidates.
std::vector<X509*> VerifiedIssuers(const std::vector<X509Ptr>& candidates, const std::vector<X509Ptr>& anchors) {
    std::vector<X509*> issuers;
    const X509StorePtr trusted(X509_STORE_new());
    const X509StackPtr untrusted(sk_X509_new_null());
    if (!trusted || !untrusted) throw std::bad_alloc();
    for (const X509Ptr& anchor : anchors) (void)X509_STORE_add_cert(trusted.get(), anchor.get());
    for (const X509Ptr& candidate : candidates) {
        if (sk_X509_push(untrusted.get(), candidate.get()) <= 0) throw std::bad_alloc();
        X509_up_ref(candidate.get());  // the stack frees its own references
    }
    for (const X509Ptr& candidate : candidates) {
        if (!MayBeOffered(candidate)) continue;
        const X509StoreCtxPtr context(X509_STORE_CTX_new());
        if (!context || X509_STORE_CTX_init(context.get(), trusted.get(), candidate.get(), untrusted.get()) != 1)
            throw std::bad_alloc();
        // A root of "ROOT" need not be self-signed (the engines accept any);
        // the times are judged at the token's time by the engines.
        X509_STORE_CTX_set_flags(context.get(), X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_NO_CHECK_TIME);
        if (X509_verify_cert(context.get()) == 1) issuers.push_back(candidate.get());
    }
    return issuers;
}

std::vector<X509Ptr> RootStoreCertificates() {
    const std::optional<stores::SystemStore> root = stores::SystemStore::Open("ROOT");
    return root ? Decoded(root->Certificates()) : std::vector<X509Ptr>{};
}

fs::path PrivateFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp != nullptr && *tmp == '/' ? std::string(tmp) : std::string("/tmp")) + "/zorbelu-trust-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder for --ca-file: " + std::string(std::strerror(errno)));
    return pattern;
}

// Writes the certificates as one PEM file, readable by its owner alone.
void WritePem(const fs::path& file, const std::vector<X509*>& certificates) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(errno));
    const BioPtr bio(BIO_new_fd(fd, BIO_CLOSE));
    if (!bio) {
        ::close(fd);
        throw std::bad_alloc();
    }
    for (X509* certificate : certificates)
        if (PEM_write_bio_X509(bio.get(), certificate) != 1) throw std::runtime_error("cannot write " + file.string());
    if (BIO_flush(bio.get()) != 1) throw std::runtime_error("cannot write " + file.string());
}

std::vector<X509*> Borrowed(const std::vector<X509Ptr>& certificates) {
    std::vector<X509*> borrowed;
    for (const X509Ptr& certificate : certificates) borrowed.push_back(certificate.get());
    return borrowed;
}

}  // namespace

RunTrust::RunTrust(const Arguments& args, const ZORBELUBlob& token) {
    std::vector<X509Ptr> roots;
    if (args.has("ca-file")) roots = FileCertificates("ca-file", args.get("ca-file"));
    if (args.has("ca-dir"))
        for (X509Ptr& certificate : FolderCertificates(args.get("ca-dir"))) roots.push_back(std::move(certificate));
    std::vector<X509Ptr> candidates;
    if (args.has("untrusted")) candidates = FileCertificates("untrusted", args.get("untrusted"));
    if (!args.has("no-token-certs") && !OffersNoIssuer(token, candidates.size()))
        for (X509Ptr& certificate : TokenCertificates(token)) candidates.push_back(std::move(certificate));
    if (roots.size() > kMaxRunCertificates || candidates.size() > kMaxRunCertificates)
        throw UsageError("more than " + std::to_string(kMaxRunCertificates) + " certificates given");

    std::vector<X509*> issuers;
    if (std::any_of(candidates.begin(), candidates.end(), MayBeOffered)) {
        std::vector<X509Ptr> anchors = RootStoreCertificates();
        for (const X509Ptr& root : roots) {
            X509_up_ref(root.get());
            anchors.emplace_back(root.get());
        }
        issuers = VerifiedIssuers(candidates, anchors);
    }
    size_t caCertificates = 0;
    for (const X509Ptr& candidate : candidates) caCertificates += X509_check_ca(candidate.get()) != 0 ? 1 : 0;
    if (caCertificates > issuers.size())
        Note(std::to_string(caCertificates - issuers.size()) +
             " CA certificate(s) of the token or --untrusted not offered as issuers (self-issued, or not verified up "
             "to a trusted root)");
    if (roots.empty() && issuers.empty()) return;

    folder_ = PrivateFolder();
    try {
        if (!roots.empty()) {
            WritePem(folder_ / "roots.pem", Borrowed(roots));
            Overlay(stores::kOverlayRootVariable, folder_ / "roots.pem");
        }
        if (!issuers.empty()) {
            WritePem(folder_ / "issuers.pem", issuers);
            Overlay(stores::kOverlayCaVariable, folder_ / "issuers.pem");
        }
    } catch (...) {
        Restore();
        throw;
    }
    Note("trusted for this run: " + std::to_string(roots.size()) + " root(s); offered as issuers: " +
         std::to_string(issuers.size()) + " certificate(s)");
}

void RunTrust::Overlay(const char* variable, const fs::path& file) {
    const char* before = std::getenv(variable);
    previous_.emplace_back(variable, before != nullptr ? std::optional<std::string>(before) : std::nullopt);
    const std::string value = file.string() + (before != nullptr && *before != '\0' ? ":" + std::string(before) : "");
    if (::setenv(variable, value.c_str(), 1) != 0) throw std::bad_alloc();
}

RunTrust::~RunTrust() { Restore(); }

void RunTrust::Restore() noexcept {
    for (const auto& [variable, value] : previous_) {
        if (value)
            (void)::setenv(variable, value->c_str(), 1);
        else
            (void)::unsetenv(variable);
    }
    previous_.clear();
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        folder_.clear();
    }
}

}  // namespace zorbelu::cli
