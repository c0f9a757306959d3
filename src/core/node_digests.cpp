#include "core/node_digests.h"

#include <mutex>
#include <new>
#include <unordered_map>

namespace zorbel {
namespace {

using zorbelu::stores::ContentDigest;

struct Known {
    const uint8_t* data;
    uint32_t length;
    ContentDigest digest;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<const ZORBELCertNode*, Known> nodes;
};

Registry& Nodes() {
    static Registry* registry = new Registry;  // never destroyed: stores may be freed at exit
    return *registry;
}

}  // namespace

bool RememberNodeDigest(const ZORBELCertNode* node) noexcept {
    try {
        const Known known{node->data, node->length, zorbelu::stores::DigestOf(node->data, node->length)};
        Registry& registry = Nodes();
        const std::lock_guard<std::mutex> lock(registry.mutex);
        registry.nodes[node] = known;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void ForgetNodeDigest(const ZORBELCertNode* node) noexcept {
    Registry& registry = Nodes();
    const std::lock_guard<std::mutex> lock(registry.mutex);
    registry.nodes.erase(node);
}

ContentDigest NodeDigest(const ZORBELCertNode* node) {
    {
        Registry& registry = Nodes();
        const std::lock_guard<std::mutex> lock(registry.mutex);
        const auto found = registry.nodes.find(node);
        if (found != registry.nodes.end() && found->second.data == node->data && found->second.length == node->length)
            return found->second.digest;
    }
    return zorbelu::stores::DigestOf(node->data, node->length);
}

}  // namespace zorbel
