// A streaming DER reader: collects exactly one complete DER object from a
// BIO that may deliver it in pieces, and allocates only what the headers it
// has parsed justify.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/x509.h>

namespace zorbelu::x509 {

// Reads one DER object (definite or indefinite length, nested indefinite
// lengths included). On success hands the bytes to *out (free with
// BUF_MEM_free) and returns the object's length; -1 on failure, with the
// reason on the OpenSSL error queue.
int der_read_bio(BIO* in, BUF_MEM** out);

// Reads one DER object and decodes it as `item`; NULL on failure.
ASN1_VALUE* der_item_d2i_bio(const ASN1_ITEM* item, BIO* in, ASN1_VALUE** reuse);

// Reads one DER certificate; NULL on failure.
X509* der_x509_d2i_bio(BIO* in, X509** reuse);

// The error records of the reader: library ASN.1, these reasons, and the
// line that names the failing check.
inline constexpr int kDerReaderLibrary = 13;      // ERR_LIB_ASN1
inline constexpr int kDerReaderFunction = 107;
inline constexpr int kReasonMallocFailure = 65;   // ERR_R_MALLOC_FAILURE
inline constexpr int kReasonHeaderTooLong = 123;  // ASN1_R_HEADER_TOO_LONG
inline constexpr int kReasonNotEnoughData = 142;  // ASN1_R_NOT_ENOUGH_DATA
inline constexpr int kReasonTooLong = 155;        // ASN1_R_TOO_LONG
inline constexpr const char kDerReaderFile[] = "a_d2i_fp_kovra";

}  // namespace zorbelu::x509
