// Finding the certificate of a token's signer among candidate certificates:
// by the ESS signing-certificate attribute, else by the SignerInfo's
// identifier. Never by position in the set or by name.
#ifndef ZORBEL_CORE_SIGNER_CERTIFICATE_H
#define ZORBEL_CORE_SIGNER_CERTIFICATE_H

#include <openssl/x509.h>

#include "core/token_reader.h"

namespace zorbel {

// The certificate the SignerInfo's identifier names (issuer and serial, or
// subject key identifier); borrowed from `candidates`, NULL when none.
X509* FindBySignerIdentifier(CMS_SignerInfo* signerInfo, STACK_OF(X509) * candidates);

// The TSA certificate of a token: named by the ESS attribute, else by the
// signer identifier; borrowed from `candidates`, NULL when none.
X509* FindTsaCertificate(const Token& token, STACK_OF(X509) * candidates);

}  // namespace zorbel

#endif
