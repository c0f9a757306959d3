#include "platform/stores/folder_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/stores/content_digest.h"
#include "platform/stores/store_writing.h"
#include "x509/decoding.h"
#include "x509/der.h"
#include "x509/hex.h"
#include "x509/names.h"

namespace zorbelu::stores::index {
namespace {

namespace fs = std::filesystem;
namespace der = zorbel::der;
using files::Stamp;

constexpr char kIndexMagic[] = "zorbelu-store-index 2 ";
// Folders whose last view is remembered; beyond that they start over.
constexpr size_t kMaxRememberedFolders = 16;
// Names gathered from one folder before the byte order picks kMaxFolderFiles.
constexpr size_t kMaxListedNames = 4 * kMaxFolderFiles;

// Writes through this library anywhere in the process.
std::atomic<uint64_t> changesMade{0};

struct Listed {
    std::string name;
    Stamp stamp;
};

// The folder's certificate files (regular files, links followed) in byte
// order of names, without a std::filesystem::path per file.
std::vector<Listed> ListFolder(const fs::path& folder) {
    std::vector<Listed> listed;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return listed;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(directory)) {
        if (names.size() >= kMaxListedNames) break;
        if (files::HasCertificateExtension(entry->d_name) && std::strlen(entry->d_name) <= kMaxNameBytes)
            names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    for (std::string& name : names) {
        if (listed.size() >= kMaxFolderFiles) break;
        struct stat info {};
        if (::fstatat(::dirfd(directory), name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode))
            listed.push_back({std::move(name), files::StampOfStat(info)});
    }
    ::closedir(directory);
    return listed;
}

// The subject's simple text, read from the certificate's structure without
// decoding its key; a certificate this cannot read is decoded whole.
std::optional<std::string> SubjectText(const uint8_t* data, size_t size) {
    der::Reader outer({data, size});
    der::Tlv certificate, tbs, field, subject;
    if (outer.Expect(der::kSequence, certificate)) {
        der::Reader inner = der::Inside(certificate);
        if (inner.Expect(der::kSequence, tbs)) {
            der::Reader fields = der::Inside(tbs);
            (void)fields.NextIf(der::ContextConstructed(0), field);  // version, when present
            if (fields.Expect(der::kInteger, field) && fields.Expect(der::kSequence, field) &&
                fields.Expect(der::kSequence, field) && fields.Expect(der::kSequence, field) &&
                fields.Expect(der::kSequence, subject))
                if (auto text = x509::CertNameToStrSimple(subject.whole.data, subject.whole.size)) return text;
        }
    }
    const uint8_t* p = data;
    const X509Ptr decoded = x509::DecodeDerCertificateAt(&p, size);
    return decoded ? x509::CertNameToStrSimple(X509_get_subject_name(decoded.get())) : std::nullopt;
}

void AddKey(std::vector<SubjectKey>& keys, const uint8_t* data, size_t size) {
    if (const auto text = SubjectText(data, size)) keys.push_back(KeyOfSubject(*text));
}

// ---- The index file -------------------------------------------------------
//
// A first line "zorbelu-store-index 2 <SHA-256 of the rest, hex>"; a second
// line with the folder's stamp (device inode size mtime-s mtime-ns ctime-s
// ctime-ns) and the time the full look that wrote it began (s ns; 0 0 when
// the look left files out), then "folder"; then one line per file in byte
// order of names: its stamp, `count`, `count` keys in hex, and the file's
// name up to the end of the line.

// What the index file says about the folder as a whole.
struct IndexRecord {
    Stamp folder;
    timespec lookedAt{};  // 0: not to be taken without a full look
};

void AppendNumbers(std::string& text, std::initializer_list<unsigned long long> numbers) {
    for (const unsigned long long number : numbers) text += std::to_string(number) + ' ';
}

void AppendStamp(std::string& text, const Stamp& s) {
    AppendNumbers(text, {static_cast<unsigned long long>(s.device), static_cast<unsigned long long>(s.inode),
                         static_cast<unsigned long long>(s.size), static_cast<unsigned long long>(s.modified.tv_sec),
                         static_cast<unsigned long long>(s.modified.tv_nsec),
                         static_cast<unsigned long long>(s.changed.tv_sec),
                         static_cast<unsigned long long>(s.changed.tv_nsec)});
}

// A file the index can hold: a stamp that may still hide a change is not
// passed on, nor a name that would end its line.
bool Persistable(const FolderView& view, const IndexedFile& file) {
    return file.settled && view.NameOf(file).find('\n') == std::string_view::npos;
}

bool WholeInIndex(const FolderView& view) {
    return std::all_of(view.files.begin(), view.files.end(),
                       [&](const IndexedFile& file) { return Persistable(view, file); });
}

std::string FormatBody(const FolderView& view, const IndexRecord& record) {
    std::string body;
    AppendStamp(body, record.folder);
    AppendNumbers(body, {static_cast<unsigned long long>(record.lookedAt.tv_sec),
                         static_cast<unsigned long long>(record.lookedAt.tv_nsec)});
    body += "folder\n";
    for (const IndexedFile& file : view.files) {
        if (!Persistable(view, file)) continue;
        AppendStamp(body, file.stamp);
        AppendNumbers(body, {static_cast<unsigned long long>(file.keyCount)});
        char key[24];
        for (size_t i = 0; i < file.keyCount; ++i) {
            std::snprintf(key, sizeof key, "%016llx ", static_cast<unsigned long long>(view.keys[file.firstKey + i]));
            body += key;
        }
        body.append(view.NameOf(file)) += '\n';
    }
    return body;
}

class LineParser {
public:
    LineParser(const char* p, const char* end) : p_(p), end_(end) {}
    // At most 19 decimal or 16 hex digits: no value can overflow, so no
    // check per digit (a large index is parsed before a first answer).
    bool Number(unsigned long long& value, int base) {
        const char* start = p_;
        const long maxDigits = base == 16 ? 16 : 19;
        value = 0;
        for (; p_ < end_ && *p_ != ' '; ++p_) {
            const int digit = Digit(*p_, base);
            if (digit < 0) return false;
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        }
        if (p_ == start || p_ == end_ || p_ - start > maxDigits) return false;
        ++p_;  // the blank
        return true;
    }
    bool Stamp(files::Stamp& stamp) {
        unsigned long long n[7];
        for (unsigned long long& value : n)
            if (!Number(value, 10)) return false;
        stamp = files::Stamp{static_cast<dev_t>(n[0]), static_cast<ino_t>(n[1]), static_cast<off_t>(n[2]),
                             {static_cast<time_t>(n[3]), static_cast<long>(n[4])},
                             {static_cast<time_t>(n[5]), static_cast<long>(n[6])}};
        return true;
    }
    const char* Rest() const { return p_; }

private:
    static int Digit(char c, int base) {
        const int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
        return value < base ? value : -1;
    }
    const char* p_;
    const char* end_;
};

bool ParseRecord(const char* p, const char* end, IndexRecord& record) {
    LineParser parser(p, end);
    unsigned long long seconds = 0, nanoseconds = 0;
    if (!parser.Stamp(record.folder) || !parser.Number(seconds, 10) || !parser.Number(nanoseconds, 10) ||
        nanoseconds >= 1000000000ull)
        return false;
    if (std::string_view(parser.Rest(), static_cast<size_t>(end - parser.Rest())) != "folder") return false;
    record.lookedAt = {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
    return true;
}

// Appends `file`, its keys already at the end of view.keys, named `name`.
void AddFile(FolderView& view, IndexedFile& file, std::string_view name) {
    file.nameAt = static_cast<uint32_t>(view.names.size());
    file.nameSize = static_cast<uint16_t>(name.size());
    file.keyCount = static_cast<uint16_t>(view.keys.size() - file.firstKey);
    view.names.append(name);
    view.files.push_back(file);
}

// One file's line, appended to `view`; its name must sort after the last.
bool ParseFileLine(const char* p, const char* end, FolderView& view) {
    LineParser parser(p, end);
    IndexedFile file;
    unsigned long long count = 0;
    if (!parser.Stamp(file.stamp) || !parser.Number(count, 10) || count > kMaxKeysPerFile) return false;
    file.firstKey = static_cast<uint32_t>(view.keys.size());
    for (unsigned long long i = 0, key = 0; i < count; ++i) {
        if (!parser.Number(key, 16)) return false;
        view.keys.push_back(key);
    }
    const std::string_view name(parser.Rest(), static_cast<size_t>(end - parser.Rest()));
    if (name.size() > kMaxNameBytes || name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos ||
        !files::HasCertificateExtension(name) ||
        (!view.files.empty() && !(view.NameOf(view.files.back()) < name)))
        return false;
    AddFile(view, file, name);
    return true;
}

// The look-up by key, once the files and keys are in place.
void IndexKeys(FolderView& view) {
    view.byKey.reserve(view.keys.size());
    for (size_t position = 0; position < view.files.size(); ++position) {
        const IndexedFile& file = view.files[position];
        for (size_t i = 0; i < file.keyCount; ++i)
            view.byKey.emplace_back(view.keys[file.firstKey + i], static_cast<uint32_t>(position));
    }
    std::sort(view.byKey.begin(), view.byKey.end());
    view.byKey.erase(std::unique(view.byKey.begin(), view.byKey.end()), view.byKey.end());
}

struct LoadedIndex {
    IndexRecord record;
    std::shared_ptr<FolderView> view;
};

// Size of the pieces the index file is read in: its lines are parsed and
// hashed from the same bytes, without a copy of the whole file (fresh
// memory is what costs most in a new process).
constexpr size_t kIndexReadPiece = 64u << 10;

// Takes the index file's lines one by one: the header, the folder record,
// then the files.
class IndexLines {
public:
    explicit IndexLines(LoadedIndex& loaded) : loaded_(loaded) {}
    bool Take(const char* p, const char* end) {
        switch (count_++) {
            case 0: {
                const size_t magic = sizeof kIndexMagic - 1;
                if (static_cast<size_t>(end - p) != magic + 64 || std::memcmp(p, kIndexMagic, magic) != 0) return false;
                expectedDigest_.assign(p + magic, end);
                return true;
            }
            case 1:
                return ParseRecord(p, end, loaded_.record);
            default:
                return loaded_.view->files.size() < kMaxFolderFiles && ParseFileLine(p, end, *loaded_.view);
        }
    }
    bool PastHeader() const { return count_ > 0; }
    bool Whole(const ContentDigest& digest) const {
        return count_ > 1 && x509::HexText(digest.data(), digest.size()) == expectedDigest_;
    }

private:
    LoadedIndex& loaded_;
    size_t count_ = 0;
    std::string expectedDigest_;
};

// The index file as a view of `folder`; nothing when it is missing or not
// exactly what an index writer wrote (a torn or forged file fails its
// digest).
std::optional<LoadedIndex> LoadIndexFile(const fs::path& folder) {
    const writing::UniqueFd fd(::open((folder / kIndexFileName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uintmax_t>(info.st_size) > kMaxIndexFileBytes)
        return std::nullopt;
    LoadedIndex loaded{{}, std::make_shared<FolderView>()};
    FolderView& view = *loaded.view;
    view.folder = folder;
    view.settled = true;  // only settled stamps are written
    // Room for what a file of this size may hold, so that nothing is copied
    // as it grows (memory reserved and not touched costs nothing).
    const size_t size = static_cast<size_t>(info.st_size);
    const size_t room = std::min(kMaxFolderFiles, size / 32);
    view.files.reserve(room);
    view.names.reserve(size / 4);
    view.keys.reserve(size / 16);
    IndexLines lines(loaded);
    DigestBuilder digest;
    std::vector<char> piece(kIndexReadPiece);
    std::string pending;  // a line begun in an earlier piece
    size_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), piece.data(), piece.size());
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        total += static_cast<size_t>(n);
        if (total > kMaxIndexFileBytes) return std::nullopt;
        const char* p = piece.data();
        const char* const end = p + n;
        const char* hashFrom = lines.PastHeader() ? p : nullptr;
        while (p < end) {
            const char* stop = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (stop == nullptr) {
                pending.append(p, end);
                break;
            }
            bool taken;
            if (pending.empty()) {
                taken = lines.Take(p, stop);
            } else {
                pending.append(p, stop);
                taken = lines.Take(pending.data(), pending.data() + pending.size());
                pending.clear();
            }
            if (!taken) return std::nullopt;
            if (hashFrom == nullptr) hashFrom = stop + 1;  // the header line is not hashed
            p = stop + 1;
        }
        if (hashFrom != nullptr && hashFrom < end)
            digest.Add(reinterpret_cast<const uint8_t*>(hashFrom), static_cast<size_t>(end - hashFrom));
    }
    if (!pending.empty() || !lines.Whole(digest.Finish())) return std::nullopt;
    IndexKeys(view);
    return loaded;
}

// Rewrites the index file in place (the folder's own stamp stays, so the
// other readers' views stay valid), holding the folder's lock without
// waiting for it. A reader that meets a half-written file finds its digest
// wrong and ignores it.
bool WriteIndexFile(const fs::path& folder, const std::string& body) {
    writing::FolderLock lock;
    if (writing::FolderLock::Acquire(folder, lock, std::chrono::milliseconds(0)) != StoreChange::Done) return false;
    const ContentDigest digest = DigestOf(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    const std::string text = kIndexMagic + x509::HexText(digest.data(), digest.size()) + '\n' + body;
    const writing::UniqueFd fd(
        ::open((folder / kIndexFileName).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    return fd.get() >= 0 && writing::WriteAll(fd.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size()) &&
           ::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0;
}

// Whether a process without a view may take the index for the folder as it
// is `now`: written by a full look that left nothing out, less than
// kIndexTrustSeconds ago, while the folder had the stamp it has now and that
// stamp was settled (so no change since can have left it equal). A file
// rewritten in place changes no folder stamp: the age bounds how long a new
// process misses it.
bool TrustIndex(const IndexRecord& record, const std::optional<Stamp>& folderStamp, const timespec& now) {
    const timespec& at = record.lookedAt;
    return at.tv_sec != 0 && folderStamp && *folderStamp == record.folder && files::Settled(record.folder, at) &&
           !files::Before(now, at) && now.tv_sec - at.tv_sec < kIndexTrustSeconds;
}

// ---- Views ----------------------------------------------------------------

struct FolderState {
    std::optional<Stamp> folderStamp;
    bool folderSettled = false;
    timespec fullLookAt{};
    uint64_t changes = 0;
    std::shared_ptr<const FolderView> view;
    // What the index file records, while it holds exactly `view`'s files.
    std::optional<IndexRecord> index;
};

std::mutex statesMutex;
std::map<std::string, FolderState>& States() {
    static std::map<std::string, FolderState> states;
    return states;
}

bool SameKeys(const FolderView& a, const IndexedFile& fa, const FolderView& b, const IndexedFile& fb) {
    return fa.keyCount == fb.keyCount &&
           std::equal(a.keys.begin() + static_cast<std::ptrdiff_t>(fa.firstKey),
                      a.keys.begin() + static_cast<std::ptrdiff_t>(fa.firstKey + fa.keyCount),
                      b.keys.begin() + static_cast<std::ptrdiff_t>(fb.firstKey));
}

bool SameFiles(const FolderView& a, const FolderView& b) {
    if (a.settled != b.settled || a.files.size() != b.files.size()) return false;
    for (size_t i = 0; i < a.files.size(); ++i)
        if (a.NameOf(a.files[i]) != b.NameOf(b.files[i]) || a.files[i].stamp != b.files[i].stamp ||
            !SameKeys(a, a.files[i], b, b.files[i]) || a.files[i].settled != b.files[i].settled)
            return false;
    return true;
}

bool StillCurrent(const FolderState& state, const std::optional<Stamp>& folderStamp, const timespec& now) {
    return state.view && state.view->settled && state.folderSettled && state.folderStamp == folderStamp &&
           state.changes == changesMade.load() && now.tv_sec - state.fullLookAt.tv_sec < kRecheckIntervalSeconds &&
           now.tv_sec >= state.fullLookAt.tv_sec;
}

// Every file stat'ed; only new and changed files read. `known` (files in
// byte order of names, or NULL) gives the keys of files seen before,
// trusted only with the exact same stamp, and only when that stamp was
// settled when the file was read (a change within the clock's resolution
// could leave it equal). `readAfresh` counts the files read.
std::shared_ptr<FolderView> LookAtEveryFile(const fs::path& folder, const FolderView* known, const timespec& now,
                                            size_t& readAfresh) {
    auto view = std::make_shared<FolderView>();
    view->folder = folder;
    view->settled = true;
    readAfresh = 0;
    size_t next = 0;  // in known->files: names are in the same order
    for (const Listed& listed : ListFolder(folder)) {
        IndexedFile file{listed.stamp};
        file.firstKey = static_cast<uint32_t>(view->keys.size());
        while (known != nullptr && next < known->files.size() && known->NameOf(known->files[next]) < listed.name)
            ++next;
        const IndexedFile* seen = known != nullptr && next < known->files.size() &&
                                          known->NameOf(known->files[next]) == listed.name
                                      ? &known->files[next]
                                      : nullptr;
        if (seen != nullptr && seen->settled && seen->stamp == file.stamp) {
            const auto first = known->keys.begin() + static_cast<std::ptrdiff_t>(seen->firstKey);
            view->keys.insert(view->keys.end(), first, first + static_cast<std::ptrdiff_t>(seen->keyCount));
        } else {
            ++readAfresh;
            file.settled = files::Settled(file.stamp, now);
            std::vector<uint8_t> bytes;
            if (files::ReadFileBounded(folder / listed.name, files::kMaxCertificateFile, bytes))
                for (const SubjectKey key : SubjectKeysIn(bytes)) view->keys.push_back(key);
        }
        if (!file.settled) view->settled = false;
        AddFile(*view, file, listed.name);
    }
    IndexKeys(*view);
    return view;
}

// Whether the index file, recording `onDisk` and holding the files just
// looked at, need not be written again: it records the folder's stamp, and
// records it as takeable just when this look could (`current`). A new
// process that could not take it writes it again whenever it can record a
// takeable look: so a stream of one-shot processes makes one full look
// per kIndexTrustSeconds.
bool IndexCurrent(const IndexRecord& onDisk, const IndexRecord& current, bool newProcess) {
    const bool takeable = current.lookedAt.tv_sec != 0;
    return onDisk.folder == current.folder && (newProcess ? !takeable : (onDisk.lookedAt.tv_sec != 0) == takeable);
}

// A full look into `state` (its folder stamp already set), after which the
// index file holds what it found. `last` is this process's last look, if
// any; `loaded` the index file a new process read.
void LookAtEveryFileAndKeepIndex(const fs::path& folder, const FolderState* last,
                                 const std::optional<LoadedIndex>& loaded, const timespec& now, FolderState& state) {
    const FolderView* known = last != nullptr ? last->view.get() : loaded ? loaded->view.get() : nullptr;
    size_t readAfresh = 0;
    std::shared_ptr<FolderView> view = LookAtEveryFile(folder, known, now, readAfresh);
    // Every file as `known` has it, and no other.
    const bool sameFiles =
        known != nullptr && (last != nullptr ? SameFiles(*known, *view)
                                             : readAfresh == 0 && known->files.size() == view->files.size());
    state.view = last != nullptr && sameFiles ? last->view : view;

    IndexRecord record{state.folderStamp.value_or(Stamp{}), {}};
    if (state.folderSettled && WholeInIndex(*view)) record.lookedAt = now;
    const std::optional<IndexRecord> onDisk = last != nullptr ? last->index
                                              : loaded        ? std::optional<IndexRecord>(loaded->record)
                                                              : std::nullopt;
    if (onDisk && sameFiles && IndexCurrent(*onDisk, record, last == nullptr))
        state.index = onDisk;
    else if (!view->files.empty() && WriteIndexFile(folder, FormatBody(*view, record)))
        state.index = record;
}

std::shared_ptr<const FolderView> Remember(std::map<std::string, FolderState>& states, const fs::path& folder,
                                           FolderState state) {
    if (states.count(folder.string()) == 0 && states.size() >= kMaxRememberedFolders) states.clear();
    std::shared_ptr<const FolderView> answer = state.view;
    states[folder.string()] = std::move(state);
    return answer;
}

}  // namespace

SubjectKey KeyOfSubject(const std::string& text) {
    const ContentDigest digest = DigestOf(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    SubjectKey key = 0;
    std::memcpy(&key, digest.data(), sizeof key);
    return key;
}

std::vector<SubjectKey> SubjectKeysIn(const std::vector<uint8_t>& bytes) {
    std::vector<SubjectKey> keys;
    if (x509::HoldsPemBlock(bytes.data(), bytes.size())) {
        (void)x509::ForEachPemCertificateDer(bytes.data(), bytes.size(), kMaxKeysPerFile,
                                             [&](const uint8_t* block, size_t size) {
                                                 AddKey(keys, block, size);
                                                 return true;
                                             });
    } else if (!bytes.empty()) {
        AddKey(keys, bytes.data(), bytes.size());
    }
    return keys;
}

std::vector<size_t> FolderView::FilesWithKey(SubjectKey key) const {
    std::vector<size_t> positions;
    for (auto it = std::lower_bound(byKey.begin(), byKey.end(), std::make_pair(key, uint32_t{0}));
         it != byKey.end() && it->first == key; ++it)
        positions.push_back(it->second);
    return positions;
}

std::shared_ptr<const FolderView> CurrentView(const fs::path& folder) {
    const std::lock_guard<std::mutex> lock(statesMutex);
    const timespec now = files::RealTimeNow();
    const std::optional<Stamp> folderStamp = files::StampOf(folder);
    std::map<std::string, FolderState>& states = States();
    const auto found = states.find(folder.string());
    const FolderState* last = found != states.end() ? &found->second : nullptr;
    if (last != nullptr && StillCurrent(*last, folderStamp, now)) return last->view;

    FolderState state;
    state.changes = changesMade.load();  // before the look: a change during it makes the next one full
    state.folderStamp = folderStamp;
    state.folderSettled = files::Settled(folderStamp, now);
    std::optional<LoadedIndex> loaded;
    if (last == nullptr) {
        loaded = LoadIndexFile(folder);
        if (loaded && TrustIndex(loaded->record, folderStamp, now)) {
            // Counts as a full look now: this process looks at every file
            // within kRecheckIntervalSeconds, as after any full look.
            state.view = loaded->view;
            state.index = loaded->record;
            state.fullLookAt = now;
            return Remember(states, folder, std::move(state));
        }
    }
    LookAtEveryFileAndKeepIndex(folder, last, loaded, now, state);
    // The interval runs from the end of the look: a look that took longer
    // than the interval (a large folder on a busy machine) must not make
    // every call a full look.
    state.fullLookAt = files::RealTimeNow();
    return Remember(states, folder, std::move(state));
}

void NoteChange(const fs::path&) { changesMade.fetch_add(1); }

void ForgetViewsForTesting() {
    const std::lock_guard<std::mutex> lock(statesMutex);
    States().clear();
}

}  // namespace zorbelu::stores::index
