// The system certificate stores "ROOT" and "CA" as directory stores: one
// certificate per file (*.cer, *.crt, *.der, *.pem; DER or PEM) in the
// folder of the store's name under the store root, in byte order of file
// names; "ROOT" also shows the operating system's trust bundle after its
// own files, unless ZORBELU_SYSTEM_ROOTS=0. This module reads them.
#ifndef ZORBELU_PLATFORM_STORES_SYSTEM_STORE_H
#define ZORBELU_PLATFORM_STORES_SYSTEM_STORE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorbelu::stores {

using DerCertificate = std::vector<uint8_t>;

// $ZORBELU_STORE_DIR, else ${XDG_DATA_HOME:-$HOME/.local/share}/zorbelutilnd/stores.
std::filesystem::path StoreRootFolder();

// The operating system's trust bundle shown read-only in "ROOT".
constexpr const char* kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

class SystemStore {
public:
    // "ROOT" or "CA" (any letter case); nothing for another name. A store
    // whose folder does not exist yet is empty.
    static std::optional<SystemStore> Open(std::string_view name);

    const std::string& Name() const { return name_; }
    const std::filesystem::path& Folder() const { return folder_; }

    // Every certificate in store order, as DER. Files that hold no readable
    // certificate are passed over.
    std::vector<DerCertificate> Certificates() const;

    // True when a certificate with exactly these DER bytes is in the store.
    bool Contains(const uint8_t* der, size_t size) const;

private:
    SystemStore(std::string name, std::filesystem::path folder, bool withBundle)
        : name_(std::move(name)), folder_(std::move(folder)), withBundle_(withBundle) {}

    std::string name_;
    std::filesystem::path folder_;
    bool withBundle_;
};

}  // namespace zorbelu::stores

#endif
