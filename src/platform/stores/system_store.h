// The system certificate stores "ROOT" and "CA" as directory stores: one
// certificate per file (*.cer, *.crt, *.der, *.pem; DER or PEM) in the
// folder of the store's name under the store root, in byte order of file
// names; "ROOT" also shows the operating system's trust bundle after its
// own files, read-only, unless ZORBELU_SYSTEM_ROOTS=0.
//
// Overlay: $ZORBELU_OVERLAY_ROOT and $ZORBELU_OVERLAY_CA each name files
// (separated by ':', at most kMaxOverlayFiles; PEM bundles or DER) whose
// certificates the store shows after everything else, read-only, for as long
// as the variable is set: trust for one run of a program (zorbelu's
// --ca-file) without writing to the store folder. An environment variable
// because every copy of this library in the process reads it alike: the
// program's own, libzorbelutilnd's and libzorbel's. Whoever sets
// ZORBELU_OVERLAY_ROOT chooses trust anchors, exactly as whoever sets
// ZORBELU_STORE_DIR does; ZORBELU_OVERLAY_CA only offers issuers, which are
// never anchors.
//
// Writing (store_writing.h): writers of a folder take turns under a lock
// file, so a certificate is never added twice however many processes add it
// at once. A certificate is added as one DER file, written to a temporary
// file in the same folder (".zorbelu-XXXXXX.tmp", never read as a
// certificate), flushed to disk and renamed without replacing anything, under
// a name that sorts after every certificate file already there; the folder
// is created on first write. Deleting removes every copy of the certificate
// (or, for a PEM file that holds others too, rewrites it without it, in the
// same atomic way). A process killed while writing leaves at most a
// temporary file behind, never a partial certificate; the next writer
// removes it.
#ifndef ZORBELU_PLATFORM_STORES_SYSTEM_STORE_H
#define ZORBELU_PLATFORM_STORES_SYSTEM_STORE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorbelu::stores {

namespace index {
struct FolderView;
}

using DerCertificate = std::vector<uint8_t>;

// $ZORBELU_STORE_DIR, else ${XDG_DATA_HOME:-$HOME/.local/share}/zorbelutilnd/stores.
std::filesystem::path StoreRootFolder();

// The operating system's trust bundle shown read-only in "ROOT".
constexpr const char* kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

// The overlay variables of "ROOT" and "CA", and how many files each may name.
constexpr const char* kOverlayRootVariable = "ZORBELU_OVERLAY_ROOT";
constexpr const char* kOverlayCaVariable = "ZORBELU_OVERLAY_CA";
constexpr size_t kMaxOverlayFiles = 64;

// The files the overlay variable of store `name` ("ROOT" or "CA") names,
// empty ones passed over; none for another store or an unset variable.
std::vector<std::filesystem::path> OverlayFiles(std::string_view name);

// One certificate as enumeration finds it.
struct StoreEntry {
    DerCertificate der;
    std::filesystem::path file;  // the file it was read from
    bool readOnly = false;       // from the system bundle: never changed by us
};

// What a store shows at one moment. Shared and never changed: while the
// store does not change, every look at it answers the same object.
struct StoreContents {
    std::vector<StoreEntry> entries;
};

// The outcome of a change to a store.
enum class StoreChange {
    Done,
    Exists,        // add: the store already shows these exact bytes
    NotFound,      // delete: the file no longer holds the certificate
    AccessDenied,  // the system bundle, or a folder or file we may not write
    Failed,        // anything else: no certificate, disk full, I/O error, no free name
};

class SystemStore {
public:
    // "ROOT" or "CA" (any letter case); nothing for another name. A store
    // whose folder does not exist yet is empty.
    static std::optional<SystemStore> Open(std::string_view name);

    const std::string& Name() const { return name_; }
    const std::filesystem::path& Folder() const { return folder_; }

    // Every certificate in store order, with where it came from. Files that
    // hold no readable certificate are passed over; a PEM file gives each of
    // its certificates. Looking again costs one stat of the folder and of
    // each read-only file while none of them changed (folder_index.h,
    // store_snapshots.h); reading it the first time reads every file.
    std::shared_ptr<const StoreContents> Contents() const;

    // The folder's files and the subjects they hold (folder_index.h): what a
    // look-up by subject needs, without reading every file.
    std::shared_ptr<const index::FolderView> View() const;

    // The certificates shown read-only after the folder's (bundle, overlay).
    std::shared_ptr<const StoreContents> ReadOnlyContents() const;

    // A copy of Contents()->entries.
    std::vector<StoreEntry> Entries() const;

    // Every certificate in store order, as DER.
    std::vector<DerCertificate> Certificates() const;

    // True when a certificate with exactly these DER bytes is in the store.
    // Reads only the files the folder's view names for its subject.
    bool Contains(const uint8_t* der, size_t size) const;

    // Adds a DER certificate as a new file, unless the store already shows
    // the same bytes (Exists), also when another process adds it at the
    // same moment. `written` receives the new file's path.
    [[nodiscard]] StoreChange Add(const uint8_t* der, size_t size, std::filesystem::path* written = nullptr) const;

    // Removes the certificate that enumeration read from `entry.file`, and
    // every other copy of it in the folder: each certificate whose DER bytes
    // are the same, whatever file holds it, DER or PEM. A different
    // certificate with the same subject and key is no copy. `removed`
    // receives how many copies went (also when a file could not be changed:
    // the others still go). NotFound when there was none any more.
    [[nodiscard]] StoreChange Remove(const StoreEntry& entry, size_t* removed = nullptr) const;

private:
    std::vector<std::filesystem::path> ReadOnlyFiles() const;

    SystemStore(std::string name, std::filesystem::path folder, bool withBundle)
        : name_(std::move(name)), folder_(std::move(folder)), withBundle_(withBundle) {}

    std::string name_;
    std::filesystem::path folder_;
    bool withBundle_;
};

// The file name an added certificate gets in a folder whose last
// certificate file (in byte order) is `last` (empty when there is none): it
// sorts after `last`. Ours are "<base>~NNNNNN.cer"; the next one counts on.
std::string NameAfter(const std::string& last);

// For tests only: the bundle file shown in "ROOT" (nothing: kSystemBundle).
void SetSystemBundleForTesting(std::optional<std::filesystem::path> bundle);

// For tests only: called with the temporary file's path after it has been
// written and flushed, right before the rename (nullptr: none).
using BeforeRenameHook = void (*)(const std::filesystem::path& temporary);
void SetBeforeRenameHookForTesting(BeforeRenameHook hook);

}  // namespace zorbelu::stores

#endif
