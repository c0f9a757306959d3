#include "roots_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "platform/stores/system_store.h"
#include "token_commands.h"
#include "zorbelutil.h"

namespace zorbelu::cli {


namespace {

// 0 when the stores are as asked (added, or all there); 1 for a negative
// answer (something missing, nothing to delete, declined); 3 for an error.
int ExitStatusOf(uint32_t result) {
    switch (result) {
        case ZORBELU_OK:
        case ZORBELU_ROOT_IN_STORE: return kExitValid;
        case ZORBELU_ERR_NOT_FOUND:
        case ZORBELU_ERR_CANCELLED: return kExitStatus;
        default: return kExitError;
    }
}

uint32_t ParseService(const std::string& text) {
    char* end = nullptr;
    const unsigned long number = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number > 0xFFFFFFFFul)
        throw UsageError("SERVICE is a service number, 0 to " + std::to_string(ZORBELU_SERVICE_COUNT - 1));
    return static_cast<uint32_t>(number);
}

std::string ServiceName(uint32_t service) {
    ZORBELUServiceInfo info{};
    if (ZORBELUGetKovraServiceInfo(service, &info) != ZORBELU_OK) return "";
    return info.name;
}

// The certificates of the store folders "ROOT" and "CA" (not the system
// bundle, which nothing deletes), each with the file it is in, sorted.
using StoredCertificate = std::pair<std::string, stores::DerCertificate>;
std::vector<StoredCertificate> FolderCertificates() {
    std::vector<StoredCertificate> certificates;
    for (const char* name : {"ROOT", "CA"}) {
        for (stores::StoreEntry& entry : stores::SystemStore::Open(name)->Entries())
            if (!entry.readOnly) certificates.emplace_back(entry.file.string(), std::move(entry.der));
    }
    std::sort(certificates.begin(), certificates.end());
    return certificates;
}

// How many certificates of `before` the stores no longer hold.
size_t CertificatesGone(const std::vector<StoredCertificate>& before) {
    const std::vector<StoredCertificate> after = FolderCertificates();
    std::vector<StoredCertificate> gone;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
    return gone.size();
}

// `deleted`: how many certificates a delete took out of the stores (every
// copy of each), nothing for the other operations.
void PrintAnswer(const Arguments& args, const std::string& operation, uint32_t result, bool haveService,
                 uint32_t service, std::optional<size_t> deleted = std::nullopt) {
    const std::string message = RootResultText(operation, result);
    if (args.has("json")) {
        nlohmann::ordered_json answer = AnswerJson("roots", result, message, ExitStatusOf(result));
        answer["operation"] = operation;
        if (haveService) answer["service"] = service;
        if (args.has("token")) answer["token"] = args.get("token");
        if (deleted) answer["deleted"] = *deleted;
        PrintJson(answer);
        return;
    }
    if (haveService) {
        const std::string name = ServiceName(service);
        std::printf("service %u%s\n", service, name.empty() ? "" : (" (" + name + ")").c_str());
    }
    std::printf("%u %s\n", result, message.c_str());
    if (deleted) std::printf("deleted %zu certificate%s\n", *deleted, *deleted == 1 ? "" : "s");
}

// A delete promises removal: it succeeds only when a certificate left the
// stores.
int DeleteCommand(const Arguments& args, uint32_t service) {
    const std::vector<StoredCertificate> before = FolderCertificates();
    const uint32_t result = ZORBELUDeleteRootCertificateFromStore(service);
    const size_t deleted = CertificatesGone(before);
    PrintAnswer(args, "delete", result, true, service, deleted);
    const int status = ExitStatusOf(result);
    return status == kExitValid && deleted == 0 ? kExitError : status;
}

}  // namespace

std::string RootResultText(const std::string& operation, uint32_t result) {
    const bool add = operation == "add", test = operation == "test";
    switch (result) {
        case ZORBELU_OK:
            return add ? "done: the missing certificates of the service were added to the stores"
                       : "done: the service's certificates were deleted from the stores, every copy of each";
        case ZORBELU_ROOT_IN_STORE:
            return add ? "nothing to do: every certificate of the service is already installed"
                       : "installed: every certificate of the service is in the stores";
        case ZORBELU_ERR_NOT_FOUND:
            return test ? "not installed: at least one certificate of the service is missing from the stores"
                        : "nothing to delete: none of the service's certificates is installed";
        case ZORBELU_ERR_CANCELLED:
            return "declined: a root certificate was not added because the confirmation was answered no "
                   "(where no dialog can be shown, ZORBELU_ROOT_CONFIRM=yes answers yes)";
        case ZORBELU_ERR_ACCESS_DENIED:
            return "access denied: a certificate is in a store that may not be changed (the system's "
                   "read-only bundle, or a folder or file that is not writable)";
        case ZORBELU_ERR_PARAM:
            return "wrong argument: no such service (add and test take 0 to 4, delete 0 to 2), or the "
                   "token is unusable";
        case ZORBELU_ERR_EXCEPTION:
            return "failure: a certificate the library carries could not be read or has the wrong "
                   "fingerprint, or a certificate store could not be opened or written";
        case ZORBELU_ERR_UNKNOWN_SERVICE:
            return "unknown service: the token's policy belongs to none of the five services";
        default:
            return ErrorText(result);
    }
}

int RootsCommand(const Arguments& args) {
    const std::string operation = args.positional[0];
    if (operation != "add" && operation != "test" && operation != "delete")
        throw UsageError("roots takes add, test or delete, not '" + operation + "'");

    if (args.has("token")) {
        if (operation == "delete") throw UsageError("roots delete takes a service number, not a token");
        if (args.positional.size() != 1) throw UsageError("give either SERVICE or --token FILE");
        const Token token{DerOfPemOrDer(ReadFile(args.get("token")), args.get("token"))};
        const ZORBELUBlob blob = token.blob();
        const uint32_t result = operation == "add" ? ZORBELUAddRootCertificateOfTimeStampToStore(&blob)
                                                   : ZORBELUIsRootCertificateOfTimeStampInStore(&blob);
        uint32_t service = 0;
        const bool haveService = ZORBELUGetServiceIdFromTimeStampToken(&blob, &service) == ZORBELU_OK;
        PrintAnswer(args, operation, result, haveService, service);
        return ExitStatusOf(result);
    }

    if (args.positional.size() != 2) throw UsageError("give the service number (or --token FILE)");
    const uint32_t service = ParseService(args.positional[1]);
    if (operation == "delete") return DeleteCommand(args, service);
    const uint32_t result =
        operation == "add" ? ZORBELUAddRootCertificateToStore(service) : ZORBELUIsRootCertificateInStore(service);
    PrintAnswer(args, operation, result, true, service);
    return ExitStatusOf(result);
}

int ServicesCommand(const Arguments& args) {
    int status = kExitValid;
    nlohmann::ordered_json services = nlohmann::ordered_json::array();
    for (uint32_t service = 0; service < ZORBELU_SERVICE_COUNT; ++service) {
        ZORBELUServiceInfo info{};
        const uint32_t known = ZORBELUGetKovraServiceInfo(service, &info);
        const uint32_t roots = ZORBELUIsRootCertificateInStore(service);
        if (known != ZORBELU_OK || (roots != ZORBELU_ROOT_IN_STORE && roots != ZORBELU_ERR_NOT_FOUND))
            status = kExitError;
        const bool installed = roots == ZORBELU_ROOT_IN_STORE;
        services.push_back({{"number", service}, {"name", info.name}, {"policy", info.policyOid}, {"url", info.url},
                            {"rootsInstalled", installed}, {"rootsResult", roots}});
        if (args.has("json")) continue;
        std::printf("%u  %s\n   policy %s\n   url    %s\n   roots  %s\n", service, info.name, info.policyOid,
                    info.url[0] != '\0' ? info.url : "(none)",
                    installed                         ? "installed"
                    : roots == ZORBELU_ERR_NOT_FOUND ? "not installed (zorbelu roots add N installs them)"
                                                     : (std::to_string(roots) + " " + RootResultText("test", roots)).c_str());
    }
    if (args.has("json")) {
        nlohmann::ordered_json answer = AnswerJson("services", ZORBELU_OK, "listed", status);
        answer["services"] = services;
        PrintJson(answer);
    }
    return status;
}

}  // namespace zorbelu::cli
