// Certificates and CRLs from bytes, PEM or DER, into OpenSSL objects. The
// one place that calls OpenSSL's certificate and CRL decoders and tells PEM
// from DER; everything above decodes through it.
#ifndef ZORBELU_X509_DECODING_H
#define ZORBELU_X509_DECODING_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "x509/ossl_ptr.h"

namespace zorbelu::x509 {

// The values the libraries' records use for the two encodings.
enum class Encoding : uint32_t { kDer = 2, kPem = 3 };

// No object we decode comes near this; OpenSSL's length arguments are int.
inline constexpr size_t kMaxEncodedSize = 0x7FFFFFFF;

// The library's rule for a blob of unknown encoding: DER when one of the
// first three bytes (of those there are) is 0x80 or above, else PEM. Later
// bytes never matter.
Encoding DetectEncoding(const uint8_t* data, size_t length);

// The lenient rule of the core and the store files: PEM when the bytes hold
// a "-----BEGIN" line anywhere, so that text before the block is allowed and
// a short DER object (a key of under 128 bytes) is still DER.
bool HoldsPemBlock(const uint8_t* data, size_t length);

// The command line's rule for a file that may hold either: PEM when its
// first text after blanks and line breaks is a "-----BEGIN " line.
bool BeginsWithPemBlock(const uint8_t* data, size_t length);

// One DER object at the start of [*p, *p + length); on success *p moves past
// it (bytes after it are not looked at). NULL for an oversized span.
X509Ptr DecodeDerCertificateAt(const uint8_t** p, size_t length);
X509CrlPtr DecodeDerCrlAt(const uint8_t** p, size_t length);
X509NamePtr DecodeDerNameAt(const uint8_t** p, size_t length);
// Exactly one DER certificate and nothing after it.
X509Ptr DecodeWholeDerCertificate(const uint8_t* data, size_t length);

// One DER certificate through the streaming reader (x509/a_d2i_fp_kovra.h),
// which leaves its reason on the error queue when the bytes fall short.
X509Ptr ReadDerCertificate(const uint8_t* data, size_t length);

// The first PEM block of the kind in the bytes, text around it skipped.
X509Ptr DecodePemCertificate(const uint8_t* data, size_t length);
X509CrlPtr DecodePemCrl(const uint8_t* data, size_t length);
PkeyPtr DecodePemPrivateKey(const uint8_t* data, size_t length);

// Every PEM block of the kind in order, each handed to `take` until it
// answers false or `limit` were handed; the number handed.
size_t ForEachPemCertificate(const uint8_t* data, size_t length, size_t limit,
                             const std::function<bool(X509Ptr)>& take);
size_t ForEachPemCrl(const uint8_t* data, size_t length, size_t limit, const std::function<bool(X509CrlPtr)>& take);
// The same for the DER bytes of each "CERTIFICATE" block, undecoded.
size_t ForEachPemCertificateDer(const uint8_t* data, size_t length, size_t limit,
                                const std::function<bool(const uint8_t*, size_t)>& take);
// The DER bytes of the first PEM block of any label (a token, a response,
// a certificate), text before it skipped; false when there is none or it
// does not decode.
bool FirstPemBlockDer(const uint8_t* data, size_t length, std::vector<uint8_t>* der);

// One object in the given encoding: DER as DecodeDer*At, PEM its first block.
X509Ptr DecodeCertificate(const uint8_t* data, size_t length, Encoding encoding);
X509CrlPtr DecodeCrl(const uint8_t* data, size_t length, Encoding encoding);

// A DER private key of any type, or the first PEM private key.
PkeyPtr DecodeDerPrivateKey(const uint8_t* data, size_t length);

}  // namespace zorbelu::x509

#endif
