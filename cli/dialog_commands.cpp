#include "dialog_commands.h"

#include <cstdio>
#include <memory>

#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::cli {

const std::vector<std::string> kTokenDialogFlags = {"store-from-token"};

namespace {

struct StoreFree {
    void operator()(ZORBELCertStore* store) const { (void)ZORBELFreeCertStore(store); }
};
using StorePtr = std::unique_ptr<ZORBELCertStore, StoreFree>;

struct ArrayFree {
    void operator()(ZORBELUCertBlob* array) const { (void)ZORBELUFreeCertificates(&array); }
};
using ArrayPtr = std::unique_ptr<ZORBELUCertBlob, ArrayFree>;

// A core store with the CA certificates and CRLs gathered for the token
// (system stores, caIssuers and CRL downloads); what could be gathered even
// when the gathering stopped early. NULL when no store could be made.
StorePtr StoreFromToken(const ZORBELUBlob& token, uint32_t* gathered) {
    ZORBELUBlob tsaCert{};
    ZORBELUCertBlob* cas = nullptr;
    ZORBELUCertBlob* crls = nullptr;
    *gathered = ZORBELUGetCertificates(&token, 0, nullptr, &tsaCert, &cas, &crls);
    const ArrayPtr caArray(*gathered == ZORBELU_OK ? cas : nullptr);
    const ArrayPtr crlArray(*gathered == ZORBELU_OK ? crls : nullptr);
    StorePtr store(ZORBELCreateCertStore());
    if (!store) return nullptr;
    for (const ZORBELUCertBlob* item = caArray.get(); item != nullptr && item->data != nullptr; ++item)
        (void)ZORBELAddCACert(store.get(), item);
    for (const ZORBELUCertBlob* item = crlArray.get(); item != nullptr && item->data != nullptr; ++item)
        (void)ZORBELAddCRL(store.get(), item);
    return store;
}

}  // namespace

int TokenDialogCommand(const Arguments& args) {
    if (args.positional.size() != 1) throw UsageError("give one token file");
    const auto bytes = ReadFile(args.positional[0]);
    if (!bytes) throw UsageError("cannot read " + args.positional[0]);
    if (args.has("lang") && ZORBELUSetLanguage(args.get("lang").c_str()) != ZORBELU_OK)
        throw UsageError("language code of three letters expected");
    const ZORBELUBlob token{reinterpret_cast<const uint8_t*>(bytes->data()), static_cast<uint32_t>(bytes->size())};

    uint32_t result = 0;
    if (args.has("store-from-token")) {
        uint32_t gathered = 0;
        const StorePtr store = StoreFromToken(token, &gathered);
        if (gathered != ZORBELU_OK)
            std::fprintf(stderr, "zorbelu: gathering the chain: %u %s (the dialog shows what there is)\n", gathered,
                         ErrorText(gathered).c_str());
        if (!store) {
            std::fprintf(stderr, "zorbelu: no certificate store could be made\n");
            return kExitError;
        }
        result = ZORBELUShowTimeStampTokenPropEx2(nullptr, &token, store.get());
    } else {
        result = ZORBELUShowTimeStampTokenProp(nullptr, &token);
    }
    if (result == ZORBELU_OK) return kExitValid;
    std::fprintf(stderr, "zorbelu: %u %s%s\n", result, ErrorText(result).c_str(),
                 result == ZORBELU_ERR_EXCEPTION ? " (no display, or the GTK dialog module is missing)" : "");
    return kExitError;
}

}  // namespace zorbelu::cli
