#include "core/timestamp_request.h"

#include <openssl/rand.h>

#include <cstring>

#include "core/digest_algorithms.h"

namespace zorbel {

namespace {

constexpr long kRequestVersion = 1;

bool EndsWithin(const char* field, size_t capacity) { return std::memchr(field, '\0', capacity) != nullptr; }

[[nodiscard]] bool SetImprint(TS_REQ* req, const ZORBELUDigestInfoEx& digest) {
    TsMsgImprintPtr imprint(TS_MSG_IMPRINT_new());
    X509AlgorPtr algorithm(X509_ALGOR_new());
    Asn1ObjPtr oid(OBJ_txt2obj(digest.algorithmOid, 1));
    if (!imprint || !algorithm || !oid) return false;
    if (!X509_ALGOR_set0(algorithm.get(), oid.get(), V_ASN1_NULL, nullptr)) return false;
    oid.release();  // owned by the algorithm now
    if (!TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get())) return false;
    if (!TS_MSG_IMPRINT_set_msg(imprint.get(), const_cast<unsigned char*>(digest.digest),
                                static_cast<int>(digest.digestLength)))
        return false;
    return TS_REQ_set_msg_imprint(req, imprint.get()) == 1;
}

}  // namespace

bool IsUsableRequest(const ZORBELTimeStampRequest* request) {
    if (request == nullptr) return false;
    const ZORBELUDigestInfoEx& digest = request->digest;
    if (!EndsWithin(digest.algorithmOid, sizeof digest.algorithmOid)) return false;
    if (!EndsWithin(request->policyOid, sizeof request->policyOid)) return false;
    const size_t length = DigestLengthForOid(digest.algorithmOid);
    if (length == 0 || digest.digestLength != length) return false;
    return request->certReq <= 1 && request->nonce <= 1;
}

Asn1IntPtr RandomPositiveInteger() {
    uint64_t value = 0;
    do {
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value) != 1) return nullptr;
        value &= ~(uint64_t{1} << 63);
    } while (value == 0);
    Asn1IntPtr integer(ASN1_INTEGER_new());
    if (!integer || !ASN1_INTEGER_set_uint64(integer.get(), value)) return nullptr;
    return integer;
}

uint32_t BuildRequest(const ZORBELTimeStampRequest& request, TsReqPtr& out, Asn1IntPtr& nonce) {
    TsReqPtr req(TS_REQ_new());
    if (!req || !TS_REQ_set_version(req.get(), kRequestVersion)) return ZORBEL_ERR_MEMORY;
    if (!SetImprint(req.get(), request.digest)) return ZORBEL_ERR_PARAM;
    if (request.policyOid[0] != '\0') {
        Asn1ObjPtr policy(OBJ_txt2obj(request.policyOid, 1));
        if (!policy) return ZORBEL_ERR_PARAM;
        if (!TS_REQ_set_policy_id(req.get(), policy.get())) return ZORBEL_ERR_MEMORY;
    }
    if (request.nonce == 1) {
        nonce = RandomPositiveInteger();
        if (!nonce || !TS_REQ_set_nonce(req.get(), nonce.get())) return ZORBEL_ERR_MEMORY;
    }
    if (!TS_REQ_set_cert_req(req.get(), request.certReq == 1 ? 1 : 0)) return ZORBEL_ERR_MEMORY;
    out = std::move(req);
    return ZORBEL_OK;
}

bool ImprintMatches(TS_TST_INFO* tstInfo, const ZORBELTimeStampRequest& request) {
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tstInfo);
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    Asn1ObjPtr expected(OBJ_txt2obj(request.digest.algorithmOid, 1));
    if (!expected || algorithm == nullptr || OBJ_cmp(algorithm, expected.get()) != 0) return false;
    const ASN1_OCTET_STRING* value = TS_MSG_IMPRINT_get_msg(imprint);
    return static_cast<uint32_t>(value->length) == request.digest.digestLength &&
           std::memcmp(value->data, request.digest.digest, request.digest.digestLength) == 0;
}

}  // namespace zorbel
