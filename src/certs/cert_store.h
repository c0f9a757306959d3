// The system certificate store calls the library makes, under their Windows
// names, over the directory stores of platform/stores/system_store.h.
//
// Like their models they answer TRUE/FALSE (a pointer or NULL) and leave the
// reason of a failure for GetLastError() of this thread:
//
//   S_OK              0           success
//   CRYPT_E_EXISTS    0x80092005  add with CERT_STORE_ADD_NEW: already there
//   CRYPT_E_NOT_FOUND 0x80092004  delete: the certificate is gone already
//   E_ACCESSDENIED    0x80070005  the read-only system bundle, or a folder or
//                                 file we may not write
//   E_INVALIDARG      0x80070057  bad handle, bytes that are no certificate,
//                                 an encoding or disposition not supported
//   E_FAIL            0x80004005  anything else (I/O error, disk full)
//   ERROR_CANCELLED   1223        the user declined adding a root
//
// Adding to "ROOT" asks the user first (ConfirmRootAddition below).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/stores/system_store.h"
#include "ui/windows.h"

namespace zorbelu::platform {

// ---- Result codes, with their Windows values ------------------------------
inline constexpr uint32_t S_OK = 0;
inline constexpr uint32_t CRYPT_E_NOT_FOUND = 0x80092004u;
inline constexpr uint32_t CRYPT_E_EXISTS = 0x80092005u;
inline constexpr uint32_t E_ACCESSDENIED = 0x80070005u;
inline constexpr uint32_t E_INVALIDARG = 0x80070057u;
inline constexpr uint32_t E_FAIL = 0x80004005u;
inline constexpr uint32_t ERROR_CANCELLED = 1223u;

// ---- Flags ---------------------------------------------------------------
inline constexpr uint32_t X509_ASN_ENCODING = 0x00000001u;
inline constexpr uint32_t PKCS_7_ASN_ENCODING = 0x00010000u;
inline constexpr uint32_t CERT_STORE_ADD_NEW = 1u;
inline constexpr uint32_t CERT_CLOSE_STORE_FORCE_FLAG = 1u;

// The calling thread's last error, as the calls below leave it.
uint32_t GetLastError();
void SetLastError(uint32_t error);

// ---- Stores and certificate contexts --------------------------------------

// An open system store: a snapshot of the store taken when it was opened.
struct CertStore {
    stores::SystemStore store;
    std::vector<stores::StoreEntry> entries;
};
using HCERTSTORE = CertStore*;

// A certificate and where it came from. The encoded bytes belong to the
// context, which stays valid after its store is closed.
struct CertContext {
    uint32_t dwCertEncodingType = X509_ASN_ENCODING;
    const uint8_t* pbCertEncoded = nullptr;
    uint32_t cbCertEncoded = 0;

    std::string storeName;       // "ROOT" or "CA"; empty for a context of bytes alone
    std::filesystem::path file;  // the file it was read from; empty for bytes alone
    bool readOnly = false;       // from the system bundle
    size_t index = 0;            // position in its store's snapshot

    // Owned bytes behind pbCertEncoded.
    std::vector<uint8_t> bytes;
};
using PCCERT_CONTEXT = const CertContext*;

struct CertStoreCloser {
    void operator()(HCERTSTORE store) const noexcept;
};
struct CertContextFreer {
    void operator()(PCCERT_CONTEXT context) const noexcept;
};
// Owning handles: the store closed with CERT_CLOSE_STORE_FORCE_FLAG, the
// context freed with CertFreeCertificateContext.
using UniqueCertStore = std::unique_ptr<CertStore, CertStoreCloser>;
using UniqueCertContext = std::unique_ptr<const CertContext, CertContextFreer>;

// "ROOT" or "CA" (any letter case) of the current user; `provider` must be
// NULL. NULL (E_INVALIDARG) for any other name.
UniqueCertStore CertOpenSystemStoreA(void* provider, const char* storeName);

// Closes a store opened by CertOpenSystemStoreA. Contexts taken from it stay
// valid. TRUE; FALSE for NULL.
bool CertCloseStore(HCERTSTORE store, uint32_t flags);

// The certificate after `previous` (NULL: the first) in store order, or NULL
// at the end (CRYPT_E_NOT_FOUND). `previous` is freed, as its model does.
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous);

// A context of encoded bytes alone (X509_ASN_ENCODING, with or without
// PKCS_7_ASN_ENCODING); NULL (E_INVALIDARG) when they are no certificate.
PCCERT_CONTEXT CertCreateCertificateContext(uint32_t encodingType, const uint8_t* encoded, uint32_t length);

// A new context with the same certificate and origin (free it too).
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context);

// Frees a context (NULL is fine). Always TRUE.
bool CertFreeCertificateContext(PCCERT_CONTEXT context);

// Adds DER bytes to the store. Only CERT_STORE_ADD_NEW is supported: when the
// store already shows the same bytes the call fails with CRYPT_E_EXISTS (and
// `added`, when given, receives the present copy). Adding to "ROOT" asks the
// user first; a "no" fails with ERROR_CANCELLED. `added` receives a new
// context for the stored certificate (free it) when not NULL.
bool CertAddEncodedCertificateToStore(HCERTSTORE store, uint32_t encodingType, const uint8_t* encoded,
                                      uint32_t length, uint32_t disposition, PCCERT_CONTEXT* added);

// Removes the context's certificate from its store, together with every
// other copy of it there (the same DER bytes in any file), and frees the
// context whatever the outcome, as its model does. FALSE with E_ACCESSDENIED
// for a certificate of the system bundle or one we may not remove,
// CRYPT_E_NOT_FOUND when no copy is left, E_INVALIDARG for a context of
// bytes alone.
bool CertDeleteCertificateFromStore(PCCERT_CONTEXT context);

// ---- The confirmation before a root is added ------------------------------
//
// Never silent. A message box (MB_YESNO | MB_ICONQUESTION) names the
// certificate's subject and its SHA-1 fingerprint; IDYES adds it. Where no
// dialog can be shown, ZORBELU_ROOT_CONFIRM=yes|no answers, and without it
// the answer is no. The headless message box backend counts as "no dialog
// can be shown" unless a test set its answer to IDYES or IDNO: its own
// answer (IDOK) is no answer to a yes/no question.
bool ConfirmRootAddition(const uint8_t* der, size_t length);

// The text of that message box.
std::string RootConfirmationText(const uint8_t* der, size_t length);

}  // namespace zorbelu::platform
