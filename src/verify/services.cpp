#include "verify/services.h"

#include <cstring>

#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "verify/request_validation.h"
#include "zorbel.h"

namespace zorbelu::certs {
namespace {

struct ServiceStrings {
    uint32_t name;
    uint32_t policy;
    uint32_t url;
};

// String ids of each service's texts. The tables hold no URL for services
// 3 and 4.
constexpr ServiceStrings kServiceStrings[kServiceCount] = {
    {5019, 5020, 5021}, {5022, 5023, 5024}, {5048, 5049, 5050}, {6023, 6024, 6025}, {6026, 6027, 6028},
};

constexpr uint32_t kServiceWithOptionalUrl = 2;

}  // namespace

const char* const kServicePolicyOids[kServiceCount] = {
    "0.2.440.731846.100.200.100", "0.2.440.731859.100.200.100", "1.2.410.100001.2.1.7.2",
    "0.2.440.731846.100.200.101", "0.2.440.731846.100.200.102",
};

uint32_t GetServiceInfo(uint32_t serviceId, ZORBELUServiceInfo* info) {
    if (info == nullptr) return ZORBELU_ERR_PARAM;
    const frame::TemporaryResourceModule module;
    std::memset(info, 0, sizeof *info);
    if (serviceId >= kServiceCount) return ZORBELU_ERR_PARAM;
    info->serviceId = serviceId;
    const ServiceStrings& ids = kServiceStrings[serviceId];
    platform::LoadStringA(module.handle(), ids.name, info->name, 256);
    platform::LoadStringA(module.handle(), ids.policy, info->policyOid, 127);
    platform::LoadStringA(module.handle(), ids.url, info->url, 255);
    // A deployment without this service's endpoint says so with "about:blank".
    if (serviceId == kServiceWithOptionalUrl && std::strcmp(info->url, "about:blank") == 0)
        std::memset(info->url, 0, sizeof info->url);
    return ZORBELU_OK;
}

uint32_t GetServiceId(const char* policyOid, int32_t length, uint32_t* serviceId) {
    if (serviceId == nullptr || policyOid == nullptr || length == 0) return ZORBELU_ERR_PARAM;
    for (uint32_t id = 0; id < kServiceCount; ++id) {
        if (std::strcmp(policyOid, kServicePolicyOids[id]) == 0) {
            *serviceId = id;
            return ZORBELU_OK;
        }
    }
    return ZORBELU_ERR_UNKNOWN_SERVICE;
}

uint32_t GetServiceIdFromToken(const ZORBELUBlob* token, uint32_t* serviceId) {
    const uint32_t valid = verify::ValidateToken(token);
    if (valid != ZORBELU_OK) return valid;
    if (serviceId == nullptr) return ZORBELU_ERR_PARAM;
    ZORBELTimeStampInfo info;
    std::memset(&info, 0, sizeof info);
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    const uint32_t read = ZORBELGetTimeStampInfoEx(token, &info);
    if (read != ZORBELU_OK)
        return read == ZORBELU_ERR_PARAM || read == ZORBELU_ERR_EXCEPTION || read == ZORBELU_ERR_WINDOW
                   ? read
                   : ZORBELU_ERR_EXCEPTION;
    info.policyOid[sizeof info.policyOid - 1] = '\0';
    const uint32_t found =
        GetServiceId(info.policyOid, static_cast<int32_t>(std::strlen(info.policyOid)), serviceId);
    return found == ZORBELU_OK || found == ZORBELU_ERR_PARAM || found == ZORBELU_ERR_WINDOW ||
                   found == ZORBELU_ERR_UNKNOWN_SERVICE
               ? found
               : ZORBELU_ERR_EXCEPTION;
}

}  // namespace zorbelu::certs

using zorbelu::frame::GuardedExport;

extern "C" {

ZORBELU_API uint32_t ZORBELUGetKovraServiceInfo(uint32_t serviceId, ZORBELUServiceInfo* info) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return zorbelu::certs::GetServiceInfo(serviceId, info); });
}

ZORBELU_API uint32_t ZORBELUGetServiceId(const char* policyOid, int32_t length, uint32_t* serviceId) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION,
                         [&] { return zorbelu::certs::GetServiceId(policyOid, length, serviceId); });
}

ZORBELU_API uint32_t ZORBELUGetServiceIdFromTimeStampToken(const ZORBELUBlob* token, uint32_t* serviceId) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION,
                         [&] { return zorbelu::certs::GetServiceIdFromToken(token, serviceId); });
}

}  // extern "C"
