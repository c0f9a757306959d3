// The core certificate store: two singly linked lists of owned copies, CA
// certificates and CRLs, in the order they were added. Callers walk the
// lists directly, so the layout is the public ZORBELCertStore.
#include <cstdlib>
#include <cstring>

#include "core/node_digests.h"
#include "zorbel.h"

namespace {

bool IsStore(const ZORBELCertStore* store) { return store != nullptr && store->size == ZORBEL_CERT_STORE_MARK; }

// PEM text starts with printable characters; DER starts with a tag byte and
// a length, one of the first three bytes being 0x80 or above.
uint32_t DetectedEncoding(const uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < 3 && i < length; ++i)
        if (data[i] >= 0x80) return ZORBELU_ENCODING_DER;
    return ZORBELU_ENCODING_PEM;
}

uint32_t Append(ZORBELCertStore* store, ZORBELCertNode** head, const ZORBELUCertBlob* item) {
    if (!IsStore(store) || item == nullptr || item->data == nullptr || item->length == 0) return ZORBEL_ERR_PARAM;
    if (item->encoding < ZORBELU_ENCODING_DETECT || item->encoding > ZORBELU_ENCODING_PEM) return ZORBEL_ERR_PARAM;
    auto* node = static_cast<ZORBELCertNode*>(std::calloc(1, sizeof(ZORBELCertNode)));
    auto* copy = static_cast<uint8_t*>(std::malloc(item->length));
    if (node == nullptr || copy == nullptr) {
        std::free(node);
        std::free(copy);
        return ZORBEL_ERR_MEMORY;
    }
    std::memcpy(copy, item->data, item->length);
    node->data = copy;
    node->length = item->length;
    node->encoding = item->encoding == ZORBELU_ENCODING_DETECT ? DetectedEncoding(copy, item->length) : item->encoding;
    if (!zorbel::RememberNodeDigest(node)) {
        std::free(node);
        std::free(copy);
        return ZORBEL_ERR_MEMORY;
    }
    ZORBELCertNode** tail = head;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = node;
    return ZORBEL_OK;
}

void FreeList(ZORBELCertNode* node) {
    while (node != nullptr) {
        ZORBELCertNode* next = node->next;
        zorbel::ForgetNodeDigest(node);
        std::free(node->data);
        std::free(node);
        node = next;
    }
}

}  // namespace

extern "C" {

ZORBEL_API ZORBELCertStore* ZORBELCreateCertStore(void) {
    auto* store = static_cast<ZORBELCertStore*>(std::calloc(1, sizeof(ZORBELCertStore)));
    if (store != nullptr) store->size = ZORBEL_CERT_STORE_MARK;
    return store;
}

ZORBEL_API uint32_t ZORBELAddCACert(ZORBELCertStore* store, const ZORBELUCertBlob* item) {
    return store == nullptr ? ZORBEL_ERR_PARAM : Append(store, &store->caCerts, item);
}

ZORBEL_API uint32_t ZORBELAddCRL(ZORBELCertStore* store, const ZORBELUCertBlob* item) {
    return store == nullptr ? ZORBEL_ERR_PARAM : Append(store, &store->crls, item);
}

ZORBEL_API uint32_t ZORBELFreeCertStore(ZORBELCertStore* store) {
    if (!IsStore(store)) return ZORBEL_ERR_PARAM;
    FreeList(store->caCerts);
    FreeList(store->crls);
    store->size = 0;
    std::free(store);
    return ZORBEL_OK;
}

}  // extern "C"
