#include "certs/cert_store.h"

#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "x509/decoding.h"
#include "x509/hex.h"
#include "x509/names.h"
#include "frame/resource_text.h"
#include "ui/message_box.h"

namespace zorbelu::platform {
namespace {

thread_local uint32_t lastError = S_OK;

constexpr const char kConfirmVariable[] = "ZORBELU_ROOT_CONFIRM";

bool Fail(uint32_t error) {
    lastError = error;
    return false;
}

uint32_t ErrorOf(stores::StoreChange change) {
    switch (change) {
        case stores::StoreChange::Done: return S_OK;
        case stores::StoreChange::Exists: return CRYPT_E_EXISTS;
        case stores::StoreChange::NotFound: return CRYPT_E_NOT_FOUND;
        case stores::StoreChange::AccessDenied: return E_ACCESSDENIED;
        case stores::StoreChange::Failed: break;
    }
    return E_FAIL;
}

bool EncodingSupported(uint32_t encodingType) {
    return (encodingType & X509_ASN_ENCODING) != 0 &&
           (encodingType & ~(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)) == 0;
}

X509Ptr DecodeWhole(const uint8_t* der, size_t length) { return x509::DecodeWholeDerCertificate(der, length); }

CertContext* NewContext(std::vector<uint8_t> bytes) {
    auto* context = new CertContext;
    context->bytes = std::move(bytes);
    context->pbCertEncoded = context->bytes.data();
    context->cbCertEncoded = static_cast<uint32_t>(context->bytes.size());
    return context;
}

CertContext* ContextOf(const CertStore& store, size_t index) {
    const stores::StoreEntry& entry = store.entries[index];
    CertContext* context = NewContext(entry.der);
    context->storeName = store.store.Name();
    context->file = entry.file;
    context->readOnly = entry.readOnly;
    context->index = index;
    return context;
}

// What ZORBELU_ROOT_CONFIRM says: yes only for "yes" (any letter case).
bool ConfirmedByEnvironment() {
    const char* value = std::getenv(kConfirmVariable);
    if (value == nullptr) return false;
    std::string answer(value);
    for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "yes";
}

}  // namespace

uint32_t GetLastError() { return lastError; }
void SetLastError(uint32_t error) { lastError = error; }

void CertStoreCloser::operator()(HCERTSTORE store) const noexcept {
    (void)CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
}

void CertContextFreer::operator()(PCCERT_CONTEXT context) const noexcept { (void)CertFreeCertificateContext(context); }

UniqueCertStore CertOpenSystemStoreA(void* provider, const char* storeName) {
    if (provider != nullptr || storeName == nullptr) {
        lastError = E_INVALIDARG;
        return nullptr;
    }
    std::optional<stores::SystemStore> store = stores::SystemStore::Open(storeName);
    if (!store) {
        lastError = E_INVALIDARG;
        return nullptr;
    }
    std::vector<stores::StoreEntry> entries = store->Entries();
    lastError = S_OK;
    return UniqueCertStore(new CertStore{std::move(*store), std::move(entries)});
}

bool CertCloseStore(HCERTSTORE store, uint32_t /*flags*/) {
    if (store == nullptr) return Fail(E_INVALIDARG);
    delete store;
    return true;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous) {
    size_t next = 0;
    if (previous != nullptr) {
        next = previous->index + 1;
        const bool ours = store != nullptr && previous->storeName == store->store.Name();
        CertFreeCertificateContext(previous);
        if (!ours) {
            lastError = E_INVALIDARG;
            return nullptr;
        }
    }
    if (store == nullptr) {
        lastError = E_INVALIDARG;
        return nullptr;
    }
    if (next >= store->entries.size()) {
        lastError = CRYPT_E_NOT_FOUND;
        return nullptr;
    }
    return ContextOf(*store, next);
}

PCCERT_CONTEXT CertCreateCertificateContext(uint32_t encodingType, const uint8_t* encoded, uint32_t length) {
    if (!EncodingSupported(encodingType) || !DecodeWhole(encoded, length)) {
        lastError = E_INVALIDARG;
        return nullptr;
    }
    return NewContext(std::vector<uint8_t>(encoded, encoded + length));
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
    if (context == nullptr) return nullptr;
    CertContext* copy = NewContext(context->bytes);
    copy->storeName = context->storeName;
    copy->file = context->file;
    copy->readOnly = context->readOnly;
    copy->index = context->index;
    return copy;
}

bool CertFreeCertificateContext(PCCERT_CONTEXT context) {
    delete context;
    return true;
}

bool CertAddEncodedCertificateToStore(HCERTSTORE store, uint32_t encodingType, const uint8_t* encoded,
                                      uint32_t length, uint32_t disposition, PCCERT_CONTEXT* added) {
    if (added != nullptr) *added = nullptr;
    if (store == nullptr || disposition != CERT_STORE_ADD_NEW || !EncodingSupported(encodingType) ||
        !DecodeWhole(encoded, length))
        return Fail(E_INVALIDARG);

    const auto present = [&]() -> const stores::StoreEntry* {
        for (const stores::StoreEntry& entry : store->entries)
            if (entry.der.size() == length && std::memcmp(entry.der.data(), encoded, length) == 0) return &entry;
        return nullptr;
    };
    // The snapshot first, then the store as it is now (another process may
    // have added the certificate meanwhile).
    if (const stores::StoreEntry* entry = present(); entry != nullptr) {
        if (added != nullptr) *added = ContextOf(*store, static_cast<size_t>(entry - store->entries.data()));
        return Fail(CRYPT_E_EXISTS);
    }
    if (store->store.Contains(encoded, length)) return Fail(CRYPT_E_EXISTS);
    if (store->store.Name() == "ROOT" && !ConfirmRootAddition(encoded, length)) return Fail(ERROR_CANCELLED);

    std::filesystem::path file;
    const stores::StoreChange change = store->store.Add(encoded, length, &file);
    if (change != stores::StoreChange::Done) return Fail(ErrorOf(change));
    store->entries.push_back({std::vector<uint8_t>(encoded, encoded + length), file, false});
    if (added != nullptr) *added = ContextOf(*store, store->entries.size() - 1);
    lastError = S_OK;
    return true;
}

bool CertDeleteCertificateFromStore(PCCERT_CONTEXT context) {
    UniqueCertContext owned(context);
    if (context == nullptr || context->storeName.empty()) return Fail(E_INVALIDARG);
    if (context->readOnly) return Fail(E_ACCESSDENIED);
    const std::optional<stores::SystemStore> store = stores::SystemStore::Open(context->storeName);
    if (!store) return Fail(E_INVALIDARG);
    const stores::StoreChange change = store->Remove({context->bytes, context->file, context->readOnly});
    if (change != stores::StoreChange::Done) return Fail(ErrorOf(change));
    lastError = S_OK;
    return true;
}

std::string RootConfirmationText(const uint8_t* der, size_t length) {
    const X509Ptr certificate = DecodeWhole(der, length);
    std::string subject = "(unreadable)";
    if (certificate) {
        if (auto text = x509::CertNameToStrSimple(X509_get_subject_name(certificate.get()))) subject = *text;
    }
    unsigned char digest[SHA_DIGEST_LENGTH] = {};
    if (der != nullptr) SHA1(der, length, digest);
    const std::string fingerprint = x509::HexText(digest, sizeof digest, x509::HexCase::kUpper, ' ');
    // The question comes in the language of the dialogs.
    frame::SelectLanguageResources();
    return FillTextFields(WindowSystemText(kTextRootQuestion), {subject, fingerprint});
}

bool ConfirmRootAddition(const uint8_t* der, size_t length) {
    const std::string text = RootConfirmationText(der, length);
    const std::string caption = WindowSystemText(kTextRootCaption);
    switch (MessageBoxA(GetActiveWindow(), text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION)) {
        case IDYES: return true;
        case IDNO: return false;
        default:
            // Nobody answered the question: no box could be shown (0), or the
            // headless backend gave its unscripted IDOK. The environment
            // decides, default no.
            return ConfirmedByEnvironment();
    }
}

}  // namespace zorbelu::platform
