#include "fuzz_temp_folder.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace zorbelu::fuzz {
namespace {

std::filesystem::path MakeFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zorbelu-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
}

void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(TempFolder(), ignored);
}

}  // namespace

const std::filesystem::path& TempFolder() {
    // Never destroyed: the exit handler that removes it runs after the
    // destructors of statics made later.
    static const auto* folder = [] {
        const auto* made = new std::filesystem::path(MakeFolder());
        std::atexit(RemoveFolder);
        return made;
    }();
    return *folder;
}

const std::filesystem::path& UseEmptyStores() {
    static const std::filesystem::path root = [] {
        std::filesystem::path stores = TempFolder() / "stores";
        std::filesystem::create_directories(stores / "ROOT");
        std::filesystem::create_directories(stores / "CA");
        setenv("ZORBELU_STORE_DIR", stores.c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        return stores;
    }();
    return root;
}

}  // namespace zorbelu::fuzz
