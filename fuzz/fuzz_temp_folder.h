// A private temporary folder for one fuzzer process (under $TMPDIR, else
// /tmp), made on first use and removed with everything in it when the
// process exits normally. Nothing is written anywhere else.
#ifndef ZORBELU_FUZZ_TEMP_FOLDER_H
#define ZORBELU_FUZZ_TEMP_FOLDER_H

#include <filesystem>

namespace zorbelu::fuzz {

const std::filesystem::path& TempFolder();

// Points the directory stores "ROOT" and "CA" at empty folders inside
// TempFolder(), without the system bundle, and returns the store root.
const std::filesystem::path& UseEmptyStores();

}  // namespace zorbelu::fuzz

#endif
