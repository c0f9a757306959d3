// Arrays of certificate records handed to callers: new[] arrays of
// ZORBELUCertBlob ended by an all-zero record, each record's bytes a new[]
// copy. ZORBELUFreeCertificates (or CertBlobArray) releases them.
#pragma once

#include <memory>

#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::certs {

// Frees such an array and the bytes of its records, up to the terminator.
void FreeCertBlobArray(ZORBELUCertBlob* array);

struct CertBlobArrayFree {
    void operator()(ZORBELUCertBlob* array) const noexcept { FreeCertBlobArray(array); }
};
using CertBlobArray = std::unique_ptr<ZORBELUCertBlob, CertBlobArrayFree>;

// `element` becomes a private copy of the node's bytes, length and encoding.
void CopyCertBlob(const ZORBELCertNode& node, ZORBELUCertBlob& element);

}  // namespace zorbelu::certs
