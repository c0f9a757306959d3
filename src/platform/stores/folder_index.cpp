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

#include "platform/stores/content_digest.h"
#include "platform/stores/store_writing.h"
#include "x509/decoding.h"
#include "x509/der.h"
#include "x509/names.h"

namespace zorbelu::stores::index {
namespace {

namespace fs = std::filesystem;
namespace der = zorbel::der;
using files::Stamp;

constexpr char kIndexMagic[] = "zorbelu-store-index 1 ";
// Folders whose last view is remembered; beyond that they start over.
constexpr size_t kMaxRememberedFolders = 16;
// Names gathered from one folder before the byte order picks kMaxFolderFiles.
constexpr size_t kMaxListedNames = 4 * kMaxFolderFiles;

// Writes through this library anywhere in the process.
std::atomic<uint64_t> changesMade{0};

bool HasCertificateExtension(const char* name) {
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) return false;
    for (const char* extension : {".cer", ".crt", ".der", ".pem"})
        if (strcasecmp(dot, extension) == 0) return true;
    return false;
}

Stamp StampOfStat(const struct stat& info) { return Stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim}; }

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
        if (HasCertificateExtension(entry->d_name)) names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    for (std::string& name : names) {
        if (listed.size() >= kMaxFolderFiles) break;
        struct stat info {};
        if (::fstatat(::dirfd(directory), name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode))
            listed.push_back({std::move(name), StampOfStat(info)});
    }
    ::closedir(directory);
    return listed;
}

bool ReadAll(int fd, size_t limit, std::vector<uint8_t>& bytes) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uintmax_t>(info.st_size) > limit)
        return false;
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadFileBounded(const fs::path& file, size_t limit, std::vector<uint8_t>& bytes) {
    const writing::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.get() >= 0 && ReadAll(fd.get(), limit, bytes);
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
// A first line "zorbelu-store-index 1 <SHA-256 of the rest, hex>", then one
// line per file: device inode size mtime-s mtime-ns ctime-s ctime-ns count,
// `count` keys in hex, and the file's name up to the end of the line.

std::string Hex(const uint8_t* data, size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

std::string FormatBody(const FolderView& view) {
    std::string body;
    for (const IndexedFile& file : view.files) {
        // A stamp that may still hide a change is not passed on.
        if (!file.settled || file.name.find('\n') != std::string::npos) continue;
        const Stamp& s = file.stamp;
        for (const unsigned long long number :
             {static_cast<unsigned long long>(s.device), static_cast<unsigned long long>(s.inode),
              static_cast<unsigned long long>(s.size), static_cast<unsigned long long>(s.modified.tv_sec),
              static_cast<unsigned long long>(s.modified.tv_nsec), static_cast<unsigned long long>(s.changed.tv_sec),
              static_cast<unsigned long long>(s.changed.tv_nsec), static_cast<unsigned long long>(file.keys.size())})
            body += std::to_string(number) + ' ';
        char key[24];
        for (const SubjectKey k : file.keys) {
            std::snprintf(key, sizeof key, "%016llx ", static_cast<unsigned long long>(k));
            body += key;
        }
        body += file.name + '\n';
    }
    return body;
}

class LineParser {
public:
    LineParser(const char* p, const char* end) : p_(p), end_(end) {}
    bool Number(unsigned long long& value, int base) {
        const char* start = p_;
        value = 0;
        for (; p_ < end_ && *p_ != ' '; ++p_) {
            const int digit = Digit(*p_, base);
            if (digit < 0 || value > (~0ull - static_cast<unsigned>(digit)) / static_cast<unsigned>(base)) return false;
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        }
        if (p_ == start || p_ == end_) return false;
        ++p_;  // the blank
        return true;
    }
    std::string Rest() const { return std::string(p_, end_); }

private:
    static int Digit(char c, int base) {
        const int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
        return value < base ? value : -1;
    }
    const char* p_;
    const char* end_;
};

bool ParseLine(const char* p, const char* end, IndexedFile& file) {
    LineParser parser(p, end);
    unsigned long long n[8];
    for (unsigned long long& value : n)
        if (!parser.Number(value, 10)) return false;
    if (n[7] > kMaxKeysPerFile) return false;
    file.stamp = Stamp{static_cast<dev_t>(n[0]), static_cast<ino_t>(n[1]), static_cast<off_t>(n[2]),
                       {static_cast<time_t>(n[3]), static_cast<long>(n[4])},
                       {static_cast<time_t>(n[5]), static_cast<long>(n[6])}};
    for (unsigned long long i = 0, key = 0; i < n[7]; ++i) {
        if (!parser.Number(key, 16)) return false;
        file.keys.push_back(key);
    }
    file.name = parser.Rest();
    return !file.name.empty() && file.name.find('/') == std::string::npos;
}

// The index file's entries by name; none when it is missing or not exactly
// what an index writer wrote.
std::map<std::string, IndexedFile> LoadIndexFile(const fs::path& folder, ContentDigest& digest) {
    std::map<std::string, IndexedFile> entries;
    std::vector<uint8_t> bytes;
    const writing::UniqueFd fd(::open((folder / kIndexFileName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0 || !ReadAll(fd.get(), kMaxIndexFileBytes, bytes)) return entries;
    const char* text = reinterpret_cast<const char*>(bytes.data());
    const char* end = text + bytes.size();
    const size_t magic = sizeof kIndexMagic - 1;
    const char* header = static_cast<const char*>(std::memchr(text, '\n', bytes.size()));
    if (header == nullptr || static_cast<size_t>(header - text) != magic + 64 ||
        std::memcmp(text, kIndexMagic, magic) != 0)
        return entries;
    const char* body = header + 1;
    digest = DigestOf(reinterpret_cast<const uint8_t*>(body), static_cast<size_t>(end - body));
    if (Hex(digest.data(), digest.size()) != std::string(text + magic, 64)) return entries;  // torn or forged
    for (const char* line = body; line < end;) {
        const char* stop = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
        IndexedFile file;
        if (stop == nullptr || !ParseLine(line, stop, file)) return {};
        entries[file.name] = std::move(file);
        line = stop + 1;
    }
    return entries;
}

// Rewrites the index file in place (the folder's own stamp stays, so the
// other readers' views stay valid), holding the folder's lock without
// waiting for it. A reader that meets a half-written file finds its digest
// wrong and ignores it.
bool WriteIndexFile(const fs::path& folder, const std::string& body) {
    writing::FolderLock lock;
    if (writing::FolderLock::Acquire(folder, lock, std::chrono::milliseconds(0)) != StoreChange::Done) return false;
    const ContentDigest digest = DigestOf(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    const std::string text = kIndexMagic + Hex(digest.data(), digest.size()) + '\n' + body;
    const writing::UniqueFd fd(
        ::open((folder / kIndexFileName).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.get() < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd.get(), text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return ::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0;
}

// ---- Views ----------------------------------------------------------------

struct FolderState {
    std::optional<Stamp> folderStamp;
    bool folderSettled = false;
    timespec fullLookAt{};
    uint64_t changes = 0;
    std::shared_ptr<const FolderView> view;
    std::optional<ContentDigest> persisted;  // the index file as last read or written
};

std::mutex statesMutex;
std::map<std::string, FolderState>& States() {
    static std::map<std::string, FolderState> states;
    return states;
}

bool SameFiles(const FolderView& a, const FolderView& b) {
    if (a.settled != b.settled || a.files.size() != b.files.size()) return false;
    for (size_t i = 0; i < a.files.size(); ++i)
        if (a.files[i].name != b.files[i].name || a.files[i].stamp != b.files[i].stamp ||
            a.files[i].keys != b.files[i].keys || a.files[i].settled != b.files[i].settled)
            return false;
    return true;
}

bool StillCurrent(const FolderState& state, const std::optional<Stamp>& folderStamp, const timespec& now) {
    return state.view && state.view->settled && state.folderSettled && state.folderStamp == folderStamp &&
           state.changes == changesMade.load() && now.tv_sec - state.fullLookAt.tv_sec < kRecheckIntervalSeconds &&
           now.tv_sec >= state.fullLookAt.tv_sec;
}

// Every file stat'ed; only new and changed files read. `known` gives the
// keys of files seen before, trusted only with the exact same stamp, and
// only when that stamp was settled when the file was read (a change within
// the clock's resolution could leave it equal). `readAfresh` counts the
// files read.
std::shared_ptr<FolderView> LookAtEveryFile(const fs::path& folder, const std::map<std::string, IndexedFile>& known,
                                            const timespec& now, size_t& readAfresh) {
    auto view = std::make_shared<FolderView>();
    view->folder = folder;
    view->settled = true;
    readAfresh = 0;
    for (Listed& listed : ListFolder(folder)) {
        IndexedFile file{std::move(listed.name), listed.stamp, {}};
        const auto seen = known.find(file.name);
        if (seen != known.end() && seen->second.settled && seen->second.stamp == file.stamp) {
            file.keys = seen->second.keys;
        } else {
            ++readAfresh;
            file.settled = files::Settled(file.stamp, now);
            std::vector<uint8_t> bytes;
            if (ReadFileBounded(folder / file.name, files::kMaxCertificateFile, bytes)) file.keys = SubjectKeysIn(bytes);
        }
        if (!file.settled) view->settled = false;
        for (const SubjectKey key : file.keys) {
            std::vector<size_t>& positions = view->byKey[key];
            if (positions.empty() || positions.back() != view->files.size()) positions.push_back(view->files.size());
        }
        view->files.push_back(std::move(file));
    }
    return view;
}

std::map<std::string, IndexedFile> KnownFiles(const FolderView& view) {
    std::map<std::string, IndexedFile> known;
    for (const IndexedFile& file : view.files) known.emplace(file.name, file);
    return known;
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

const std::vector<size_t>& FolderView::FilesWithKey(SubjectKey key) const {
    static const std::vector<size_t> none;
    const auto found = byKey.find(key);
    return found == byKey.end() ? none : found->second;
}

std::shared_ptr<const FolderView> CurrentView(const fs::path& folder) {
    const std::lock_guard<std::mutex> lock(statesMutex);
    const timespec now = files::RealTimeNow();
    const std::optional<Stamp> folderStamp = files::StampOf(folder);
    std::map<std::string, FolderState>& states = States();
    const auto found = states.find(folder.string());
    if (found != states.end() && StillCurrent(found->second, folderStamp, now)) return found->second.view;

    FolderState state;
    state.changes = changesMade.load();  // before the look: a change during it makes the next one full
    state.folderStamp = folderStamp;
    state.folderSettled = files::Settled(folderStamp, now);
    std::map<std::string, IndexedFile> known;
    if (found != states.end()) {
        known = KnownFiles(*found->second.view);
        state.persisted = found->second.persisted;
    } else {
        ContentDigest digest{};
        known = LoadIndexFile(folder, digest);
        if (!known.empty()) state.persisted = digest;
    }
    size_t readAfresh = 0;
    std::shared_ptr<FolderView> view = LookAtEveryFile(folder, known, now, readAfresh);
    if (found != states.end() && SameFiles(*found->second.view, *view))
        state.view = found->second.view;
    else
        state.view = view;

    // The index file is up to date when it gave every file and no other.
    const bool indexCurrent = state.persisted && readAfresh == 0 && known.size() == view->files.size();
    if (!view->files.empty() && !indexCurrent) {
        const std::string body = FormatBody(*view);
        const ContentDigest digest = DigestOf(reinterpret_cast<const uint8_t*>(body.data()), body.size());
        if (state.persisted != digest && WriteIndexFile(folder, body)) state.persisted = digest;
    }
    // The interval runs from the end of the look: a look that took longer
    // than the interval (a large folder on a busy machine) must not make
    // every call a full look.
    state.fullLookAt = files::RealTimeNow();
    if (found == states.end() && states.size() >= kMaxRememberedFolders) states.clear();
    std::shared_ptr<const FolderView> answer = state.view;
    states[folder.string()] = std::move(state);
    return answer;
}

void NoteChange(const fs::path&) { changesMade.fetch_add(1); }

void ForgetViewsForTesting() {
    const std::lock_guard<std::mutex> lock(statesMutex);
    States().clear();
}

}  // namespace zorbelu::stores::index
