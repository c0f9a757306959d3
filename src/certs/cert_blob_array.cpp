#include "certs/cert_blob_array.h"

#include <cstring>

namespace zorbelu::certs {

void FreeCertBlobArray(ZORBELUCertBlob* array) {
    if (array == nullptr) return;
    for (ZORBELUCertBlob* record = array; record->data != nullptr; ++record) delete[] record->data;
    delete[] array;
}

void CopyCertBlob(const ZORBELCertNode& node, ZORBELUCertBlob& element) {
    auto* bytes = new uint8_t[node.length];
    if (node.length != 0) std::memcpy(bytes, node.data, node.length);
    element = {bytes, node.length, node.encoding};
}

}  // namespace zorbelu::certs
