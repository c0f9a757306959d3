// What the fuzz targets share: a fixed clock (2024-01-01, the same verdicts every
// day) and empty directory stores "ROOT" and "CA" without the system bundle, in a
// private folder under $TMPDIR (else /tmp) removed when the process exits normally.
#ifndef ZORBELU_FUZZ_COMMON_H
#define ZORBELU_FUZZ_COMMON_H

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zorbelu::fuzz {

inline void FixClock() { setenv("ZORBELU_TEST_NOW", "1704067200", 1); }

// The store root; the first call makes the folders and sets the variables.
inline const std::filesystem::path& UseEmptyStores() {
    // Never destroyed: the exit handler runs after the destructors of later statics.
    static const auto* root = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zorbelu-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        static const std::filesystem::path folder = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        const auto* stores = new std::filesystem::path(folder / "stores");
        std::filesystem::create_directories(*stores / "ROOT");
        std::filesystem::create_directories(*stores / "CA");
        setenv("ZORBELU_STORE_DIR", stores->c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
        return stores;
    }();
    return *root;
}

}  // namespace zorbelu::fuzz

#endif
