#include "dialogs/token/certificate_viewing.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "certs/certificate_decoding.h"
#include "certs/certificate_gathering.h"
#include "certs/names.h"
#include "x509/names.h"
#include "x509/ossl_ptr.h"
#include "frame/resource_text.h"
#include "platform/message_box.h"
#include "platform/module.h"
#include "platform/dialog.h"
#include "platform/ui_backend.h"
#include "zorbel.h"

extern char** environ;

namespace zorbelu::dialogs {
namespace {

struct CoreStoreFree {
    void operator()(ZORBELCertStore* store) const noexcept { (void)ZORBELFreeCertStore(store); }
};
using CoreStorePtr = std::unique_ptr<ZORBELCertStore, CoreStoreFree>;

bool UsableStore(const ZORBELCertStore* store) { return store != nullptr && store->size == ZORBEL_CERT_STORE_MARK; }

X509* DecodeBlob(const ZORBELUCertBlob& blob) {
    return certs::DecodeCertificate(blob.data, static_cast<int32_t>(blob.length), blob.encoding);
}

// Copies of the first `count` nodes of a list, ended by a zero element.
CertBlobArray CopyNodes(const ZORBELCertNode* head, size_t count) {
    CertBlobArray array(new ZORBELUCertBlob[count + 1]());
    const ZORBELCertNode* node = head;
    for (size_t i = 0; i < count && node != nullptr; ++i, node = node->next) CopyCertBlob(*node, array.get()[i]);
    return array;
}

// ---- The viewer's file and process ----

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int value) : fd(value) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    bool Close() {
        const int value = fd;
        fd = -1;
        return value < 0 || close(value) == 0;
    }
};

// Writes the whole block, as fopen("wb+") and one fwrite would, but never
// through a link nor into a file of another user.
bool WriteViewerFile(const std::string& path, const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return false;
    Fd file(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.fd < 0) return false;
    struct stat status {};
    if (fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) return false;
    size_t written = 0;
    while (written < length) {
        const ssize_t n = write(file.fd, data + written, length - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<size_t>(n);
    }
    return file.Close();
}

bool IsExecutableFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program a command word names: a path as it is, a bare name from PATH.
std::string ResolveProgram(const std::string& word) {
    if (word.find('/') != std::string::npos) return IsExecutableFile(word) ? word : std::string();
    const char* pathVariable = std::getenv("PATH");
    const std::string path = pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(':', start);
        std::string folder = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (folder.empty()) folder = ".";
        if (const std::string candidate = folder + "/" + word; IsExecutableFile(candidate)) return candidate;
        if (end == std::string::npos) return std::string();
        start = end + 1;
    }
}

std::string LibraryFolder() {
    char path[PATH_MAX] = {};
    if (platform::GetModuleFileNameA(platform::OwnModuleHandle(), path, sizeof path) == 0) return std::string();
    std::string folder = path;
    const size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

// Starts `words` (program first) detached from this process: an intermediate
// child starts the viewer and leaves at once, so that the viewer is never
// left for us to reap. True when the program was executed; then waits until
// the viewer reports its window, ends, or the time is up.
bool StartDetached(const std::vector<std::string>& words, const std::vector<std::string>& extraEnvironment) {
    const std::string program = ResolveProgram(words.front());
    if (program.empty()) return false;

    int ready[2];
    int execFailed[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return false;
    Fd readyRead(ready[0]), readyWrite(ready[1]);
    if (pipe2(execFailed, O_CLOEXEC) != 0) return false;
    Fd failedRead(execFailed[0]), failedWrite(execFailed[1]);

    // Everything the children use is made here: after fork they only call
    // async-signal-safe functions.
    std::vector<std::string> environment;
    const std::string readyEntry = std::string(kViewerReadyVariable) + "=";
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        if (std::strncmp(*entry, readyEntry.c_str(), readyEntry.size()) != 0) environment.emplace_back(*entry);
    environment.push_back(readyEntry + std::to_string(readyWrite.fd));
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> argv, envp;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const int readyFd = readyWrite.fd;
    const int failedFd = failedWrite.fd;

    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const pid_t viewer = fork();
        if (viewer == 0) {
            setsid();
            fcntl(readyFd, F_SETFD, 0);  // the viewer's own, across exec
            execve(program.c_str(), argv.data(), envp.data());
            const int error = errno;
            (void)!write(failedFd, &error, sizeof error);
            _exit(127);
        }
        _exit(viewer < 0 ? 1 : 0);
    }
    readyWrite.Close();
    failedWrite.Close();
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    // ECHILD: the host reaps its children itself; the pipe below still tells.
    if (waited == child && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) return false;

    int error = 0;
    ssize_t n;
    do {
        n = read(failedRead.fd, &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    if (n != 0) return false;  // exec failed (or the pipe did)

    pollfd wait{readyRead.fd, POLLIN, 0};
    int left = kViewerReadyWaitMs;
    while (left > 0) {
        const int polled = poll(&wait, 1, left > 100 ? 100 : left);
        if (polled > 0) break;  // a byte, or every copy of the write end closed
        if (polled < 0 && errno != EINTR) break;
        left -= 100;
    }
    return true;
}

}  // namespace

void CertBlobArrayFree::operator()(ZORBELUCertBlob* array) const noexcept { certs::FreeCertBlobArray(array); }

void CopyCertBlob(const ZORBELCertNode& node, ZORBELUCertBlob& element) {
    auto* bytes = new uint8_t[node.length];
    if (node.length != 0) std::memcpy(bytes, node.data, node.length);
    element = {bytes, node.length, node.encoding};
}

uint32_t BuildCAChainForCert(const ZORBELCertStore* store, const ZORBELUCertBlob* cert, ZORBELUCertBlob** out) {
    *out = nullptr;
    if (!UsableStore(store)) return ZORBELU_ERR_CERT_STORE;
    if (cert == nullptr) return ZORBELU_ERR_TSA_CERT;
    const X509Ptr certificate(DecodeBlob(*cert));
    const uint8_t* issuerDer = nullptr;
    size_t issuerLength = 0;
    if (!certificate || !x509::GetIssuerAndSubjectDer(certificate.get(), &issuerDer, &issuerLength))
        return ZORBELU_ERR_CERT_DECODE;
    // The current issuer's bytes belong to the certificate that named it.
    std::vector<uint8_t> current(issuerDer, issuerDer + issuerLength);

    CoreStorePtr scratch;
    std::vector<size_t> taken;
    size_t count = 0;
    bool complete = false;
    try {
        bool restart = true;
        while (restart && !complete) {
            restart = false;
            size_t position = 0;
            for (const ZORBELCertNode* node = store->caCerts; node != nullptr; node = node->next, ++position) {
                if (std::find(taken.begin(), taken.end(), position) != taken.end()) continue;
                const X509Ptr candidate(
                    certs::DecodeCertificate(node->data, static_cast<int32_t>(node->length), node->encoding));
                const uint8_t *issuer = nullptr, *subject = nullptr;
                size_t issuerSize = 0, subjectSize = 0;
                if (!candidate ||
                    !x509::GetIssuerAndSubjectDer(candidate.get(), &issuer, &issuerSize, &subject, &subjectSize))
                    continue;
                if (!certs::NamesEqual(subject, subjectSize, current.data(), current.size())) continue;
                if (!scratch) scratch.reset(ZORBELCreateCertStore());
                if (!scratch) break;
                const ZORBELUCertBlob item{node->data, node->length, node->encoding};
                if (ZORBELAddCACert(scratch.get(), &item) != ZORBELU_OK) break;
                ++count;
                if (certs::NamesEqual(subject, subjectSize, issuer, issuerSize)) {
                    complete = true;
                    break;
                }
                current.assign(issuer, issuer + issuerSize);
                taken.push_back(position);
                restart = true;
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        complete = false;
    }
    if (!complete) return ZORBELU_ERR_CDP;
    *out = CopyNodes(scratch->caCerts, count).release();
    return ZORBELU_OK;
}

uint32_t AddCRLOfIssuer(const ZORBELUCertBlob* cert, const ZORBELCertStore* store, ZORBELCertStore* scratch) {
    if (store == nullptr || scratch == nullptr) return ZORBELU_ERR_CERT_STORE;
    if (cert == nullptr) return ZORBELU_ERR_CERT_DECODE;
    const X509Ptr certificate(DecodeBlob(*cert));
    const uint8_t *issuer = nullptr, *subject = nullptr;
    size_t issuerLength = 0, subjectLength = 0;
    if (!certificate ||
        !x509::GetIssuerAndSubjectDer(certificate.get(), &issuer, &issuerLength, &subject, &subjectLength))
        return ZORBELU_ERR_CERT_DECODE;
    if (certs::NamesEqual(issuer, issuerLength, subject, subjectLength)) return ZORBELU_ERR_CDP;
    for (const ZORBELCertNode* node = store->crls; node != nullptr; node = node->next) {
        const X509CrlPtr crl = certs::DecodeCrl(node->data, node->length, node->encoding);
        const uint8_t* crlIssuer = nullptr;
        size_t crlIssuerLength = 0;
        if (!crl || !x509::NameDer(X509_CRL_get_issuer(crl.get()), &crlIssuer, &crlIssuerLength) ||
            !certs::NamesEqual(crlIssuer, crlIssuerLength, issuer, issuerLength))
            continue;
        const ZORBELUCertBlob item{node->data, node->length, node->encoding};
        return ZORBELAddCRL(scratch, &item) == ZORBELU_OK ? ZORBELU_OK : ZORBELU_ERR_CDP;
    }
    return ZORBELU_ERR_CDP;
}

uint32_t CollectCRLsForChain(const ZORBELCertStore* store, const ZORBELUCertBlob* cert,
                             const ZORBELUCertBlob* caArray, ZORBELUCertBlob** out) {
    *out = nullptr;
    if (!UsableStore(store)) return ZORBELU_ERR_CERT_STORE;
    if (cert == nullptr) return ZORBELU_ERR_TSA_CERT;
    const CoreStorePtr scratch(ZORBELCreateCertStore());
    if (!scratch) return ZORBELU_ERR_MEMORY;
    if (const uint32_t first = AddCRLOfIssuer(cert, store, scratch.get()); first != ZORBELU_OK) return first;
    size_t count = 1;
    for (const ZORBELUCertBlob* ca = caArray; ca != nullptr && ca->data != nullptr; ++ca) {
        if (AddCRLOfIssuer(ca, store, scratch.get()) != ZORBELU_OK) break;
        ++count;
    }
    *out = CopyNodes(scratch->crls, count).release();
    return ZORBELU_OK;
}

// ---- The viewer ----

std::string ViewerCommandPrefix(ViewKind kind) {
    const char* configured = std::getenv(kind == ViewKind::Certificate ? kCertViewerVariable : kCrlViewerVariable);
    if (configured != nullptr && !SplitCommandWords(configured).empty()) {
        std::string prefix = configured;
        if (prefix.back() != ' ') prefix += ' ';
        return prefix;
    }
    const char* option = kind == ViewKind::Certificate ? " --certificate " : " --crl ";
    if (const std::string folder = LibraryFolder(); !folder.empty()) {
        const std::string beside = folder + "/../bin/" + kOwnViewerName;
        if (IsExecutableFile(beside)) return beside + option;
    }
    if (!ResolveProgram(kOwnViewerName).empty()) return kOwnViewerName + std::string(option);
    return "xdg-open ";
}

std::string ViewerTemporaryFile(ViewKind kind) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder == "/") folder.clear();
    return folder + "/zorbelutil-" + std::to_string(geteuid()) + (kind == ViewKind::Certificate ? ".cer" : ".crl");
}

std::string ViewerCommandLine(std::string_view prefix, std::string_view fileName) {
    std::string line(prefix);
    line += fileName;
    return line;
}

std::vector<std::string> SplitCommandWords(std::string_view prefix) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (const char c : prefix) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

// Tells the viewer where the owner window stands, so that it can centre
// its window over it ("x,y,width,height"); nothing when that is unknown.
std::vector<std::string> OwnerPlacement(platform::HWND owner) {
    const ZorbeluUiBackend& backend = platform::UiBackend();
    void* window = owner != nullptr ? platform::BackendWindowOf(owner) : nullptr;
    int32_t x = 0, y = 0, width = 0, height = 0;
    if (window == nullptr || backend.screenRect == nullptr || backend.screenRect(window, &x, &y, &width, &height) != 1)
        return {};
    return {std::string(kViewerCenterVariable) + "=" + std::to_string(x) + "," + std::to_string(y) + "," +
            std::to_string(width) + "," + std::to_string(height)};
}

uint32_t LaunchCertViewer(const uint8_t* data, uint32_t length, ViewKind kind, platform::HWND owner) {
    const std::string prefix = ViewerCommandPrefix(kind);
    const std::string file = ViewerTemporaryFile(kind);
    if (!WriteViewerFile(file, data, length)) return 0;
    std::vector<std::string> words = SplitCommandWords(prefix);
    if (words.empty()) return 0;
    // ViewerCommandLine(prefix, file) as words: the file name stays one.
    words.push_back(file);
    return StartDetached(words, OwnerPlacement(owner)) ? ZORBELU_OK : 0;
}

// ---- Viewing a gathered array ----

void ViewGatheredArray(const ZORBELUCertBlob* array, ViewKind kind, platform::HWND owner) {
    int32_t code = 0;
    bool viewed = false;
    try {
        if (array != nullptr && array[0].data != nullptr) {
            if (array[1].data != nullptr) {
                CDlgCertCrlSel selection(array, kind, nullptr);
                (void)selection.DoModal();
                return;
            }
            viewed = LaunchCertViewer(array[0].data, array[0].length, kind, owner) == ZORBELU_OK;
        }
    } catch (...) {
        code = static_cast<int32_t>(ZORBELU_ERR_EXCEPTION);
    }
    if (!viewed)
        frame::ShowMessageById(kind == ViewKind::Certificate ? kStringCertViewError : kStringCrlViewError, code,
                               platform::MB_ICONSTOP);
}

// ---- The selection dialog ----

namespace {
constexpr uint32_t kStringCertSelectionCaption = 6048;
constexpr uint32_t kStringCrlSelectionCaption = 6049;
constexpr uint32_t kStringCertSelectionLabel = 6050;
constexpr uint32_t kStringCrlSelectionLabel = 6051;
constexpr size_t kMaxListedName = 255;
}  // namespace

std::string ListedName(const ZORBELUCertBlob& element, ViewKind kind) {
    char buffer[kMaxListedName + 1] = {};
    const X509_NAME* name = nullptr;
    X509Ptr certificate;
    X509CrlPtr crl;
    if (kind == ViewKind::Certificate) {
        certificate.reset(DecodeBlob(element));
        if (certificate) name = X509_get_subject_name(certificate.get());
    } else {
        crl = certs::DecodeCrl(element.data, element.length, element.encoding);
        if (crl) name = X509_CRL_get_issuer(crl.get());
    }
    if (name == nullptr ||
        X509_NAME_get_text_by_NID(const_cast<X509_NAME*>(name), NID_commonName, buffer, sizeof buffer) < 0)
        return std::string();
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

CDlgCertCrlSel::CDlgCertCrlSel(const ZORBELUCertBlob* array, ViewKind kind, platform::HWND parent)
    : platform::Dialog(kTemplateCertCrlSelection, parent), array_(array), kind_(kind) {
    frame::SelectLanguageResources();
    On(platform::IDOK, platform::Notify::Clicked, [this] { OnViewSelected(); });
}

void CDlgCertCrlSel::DoDataExchange(platform::DataExchange& dx) { dx.Text(selection_ids::kLabel, label_); }

bool CDlgCertCrlSel::OnInitDialog() {
    const bool certificates = kind_ == ViewKind::Certificate;
    SetCaption(frame::LoadResourceString(certificates ? kStringCertSelectionCaption : kStringCrlSelectionCaption));
    label_ = frame::LoadResourceString(certificates ? kStringCertSelectionLabel : kStringCrlSelectionLabel);
    // Each name goes on top: the last element is listed first.
    for (const ZORBELUCertBlob* element = array_; element != nullptr && element->data != nullptr; ++element)
        InsertItem(selection_ids::kList, 0, ListedName(*element, kind_));
    SetCurSel(selection_ids::kList, 0);
    UpdateData(false);
    return true;
}

void CDlgCertCrlSel::OnViewSelected() {
    int32_t code = 0;
    bool viewed = false;
    try {
        const int count = ItemCount(selection_ids::kList);
        const int position = GetCurSel(selection_ids::kList);
        // Undoes the reversal; no selection gives the terminating element.
        const int index = count - position - 1;
        if (array_ != nullptr && index >= 0 && index <= count && array_[index].data != nullptr)
            viewed = LaunchCertViewer(array_[index].data, array_[index].length, kind_, GetSafeHwnd()) == ZORBELU_OK;
    } catch (...) {
        code = static_cast<int32_t>(ZORBELU_ERR_EXCEPTION);
    }
    if (!viewed)
        frame::ShowMessageById(kind_ == ViewKind::Certificate ? kStringCertViewError : kStringCrlViewError, code,
                               platform::MB_ICONSTOP);
    EndDialog(platform::IDOK);
}

}  // namespace zorbelu::dialogs
