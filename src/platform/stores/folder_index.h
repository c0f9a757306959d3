// Which certificate files of a store folder hold which subjects, kept so
// that a verification neither opens nor stats every file of a large store.
//
// A view of a folder lists its certificate files in byte order of their
// names, each with its stamp (files::Stamp) and the subject keys of the
// certificates it holds. Looking again costs one stat of the folder while
// the folder's own stamp is unchanged and settled, nothing was written
// through this library, and the last full look (every file stat'ed) ended
// less than kRecheckIntervalSeconds ago: adding, removing or renaming a file
// changes the folder's stamp and is seen at once; a file rewritten in place
// under the same name is seen at the next full look.
//
// A full look reads only the files that are new or whose stamp changed; the
// subjects of the others come from the last view or, in a new process, from
// the index file ".zorbelu.index" in the folder, which readers refresh in
// place under the folder's lock whenever a full look finds it out of date.
// The index file also records the folder's stamp and the time of the full
// look that wrote it: a new process takes the index as its view, without
// listing the folder, while that stamp is still the folder's, was settled
// then, and the look is less than kIndexTrustSeconds old. The index is only
// a hint about where to look: every certificate taken is decoded from its
// file and its subject compared (certs/store_index.h). A damaged, foreign
// or oversized index is ignored.
#ifndef ZORBELU_PLATFORM_STORES_FOLDER_INDEX_H
#define ZORBELU_PLATFORM_STORES_FOLDER_INDEX_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/stores/store_files.h"

namespace zorbelu::stores::index {

// How long a view is answered without a full look at every file (a file
// rewritten in place is seen within this time).
constexpr time_t kRecheckIntervalSeconds = 2;
// How long a new process takes the index file for the folder without
// looking at every file (a file rewritten in place by another program is
// seen by new processes within this time).
constexpr time_t kIndexTrustSeconds = 60;
// Certificate files of one folder that are looked at; beyond that the
// first ones in byte order of their names.
constexpr size_t kMaxFolderFiles = 100000;
// The index file is read only up to this size.
constexpr size_t kMaxIndexFileBytes = 32u << 20;
// A file's name in a view (the longest a Linux file system allows).
constexpr size_t kMaxNameBytes = 255;
// Subjects remembered per file (a PEM file may hold several certificates).
constexpr size_t kMaxKeysPerFile = 1024;
// The index file's name in the folder (no certificate extension).
constexpr const char kIndexFileName[] = ".zorbelu.index";

using SubjectKey = uint64_t;

// The key of a subject's simple text (x509/names.h): part of its SHA-256.
SubjectKey KeyOfSubject(const std::string& text);

// The subject keys of the certificates in `bytes` (a file's contents).
std::vector<SubjectKey> SubjectKeysIn(const std::vector<uint8_t>& bytes);

struct IndexedFile {
    files::Stamp stamp;
    uint32_t nameAt = 0;    // its name: FolderView::names[nameAt, nameAt + nameSize)
    uint32_t firstKey = 0;  // its subject keys: FolderView::keys[firstKey, firstKey + keyCount)
    uint16_t nameSize = 0;
    uint16_t keyCount = 0;
    bool settled = true;  // the stamp was settled when the file was read
};

// One look at a folder; shared and never changed. Flat vectors, without an
// allocation per file: a view of a large folder is built in a new process
// before its first answer, and fresh memory is what costs most there.
struct FolderView {
    std::filesystem::path folder;
    std::vector<IndexedFile> files;  // byte order of names
    std::string names;               // every file's name, file after file
    std::vector<SubjectKey> keys;    // every file's subject keys, file after file
    std::vector<std::pair<SubjectKey, uint32_t>> byKey;  // (key, position in `files`), sorted
    bool settled = false;  // every stamp settled when looked at

    // Positions of the files that may hold a certificate of `key`, in order.
    std::vector<size_t> FilesWithKey(SubjectKey key) const;
    std::string_view NameOf(const IndexedFile& file) const { return {names.data() + file.nameAt, file.nameSize}; }
    std::filesystem::path PathOf(size_t position) const { return folder / NameOf(files[position]); }
};

// The folder as it is now (an empty view when it does not exist). The same
// object is answered while nothing changed.
std::shared_ptr<const FolderView> CurrentView(const std::filesystem::path& folder);

// A change this process made to the folder: the next look is a full one.
void NoteChange(const std::filesystem::path& folder);

// For benchmarks and tests only: forget every view, as a new process would.
void ForgetViewsForTesting();

}  // namespace zorbelu::stores::index

#endif
