#include "batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "proxy_settings.h"
#include "run_trust.h"
#include "token_commands.h"

namespace zorbelu::cli {
namespace {

namespace fs = std::filesystem;

// Bounds on a manifest: a line holds two paths, a run at most this many tokens.
constexpr size_t kMaxManifestLine = 16u << 10;
constexpr size_t kMaxBatchEntries = 10'000'000;

size_t DigestLength(const std::string& algorithm) {
    static const std::map<std::string, size_t> lengths = {
        {"sha1", 20}, {"md5", 16}, {"sha256", 32}, {"sha384", 48}, {"sha512", 64}};
    const auto it = lengths.find(algorithm);
    return it == lengths.end() ? 0 : it->second;
}

std::string Resolved(const fs::path& base, const std::string& path) {
    return fs::path(path).is_absolute() ? path : (base / path).string();
}

// "TOKEN<TAB>DATA" or "TOKEN<TAB>ALG:HEX"; throws UsageError.
BatchEntry ParseLine(const std::string& line, const fs::path& base, const std::string& where) {
    if (line.find('\0') != std::string::npos) throw UsageError(where + ": a NUL byte");  // a path would end there
    const size_t tab = line.find('\t');
    if (tab == 0 || tab == std::string::npos || tab + 1 == line.size())
        throw UsageError(where + ": expected TOKEN<TAB>DATA or TOKEN<TAB>ALG:HEX");
    BatchEntry entry{Resolved(base, line.substr(0, tab)), "", "", ""};
    const std::string second = line.substr(tab + 1);
    const size_t colon = second.find(':');
    const std::string algorithm = colon == std::string::npos ? "" : second.substr(0, colon);
    if (DigestLength(algorithm) == 0) {
        entry.data = Resolved(base, second);
        return entry;
    }
    const auto digest = FromHex(second.substr(colon + 1));
    if (!digest || digest->size() != DigestLength(algorithm))
        throw UsageError(where + ": " + algorithm + ": takes " + std::to_string(DigestLength(algorithm) * 2) +
                         " hex digits");
    entry.algorithm = algorithm;
    entry.digestHex = second.substr(colon + 1);
    return entry;
}

// A file line by line without a bound on its size, each line at most
// kMaxManifestLine; a last line may lack its newline.
class LineReader {
public:
    explicit LineReader(const std::string& path) : file_(path), path_(path) {}
    bool Next(std::string* line) {
        for (;;) {
            if (const size_t end = pending_.find('\n', scanned_); end != std::string::npos) {
                *line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                scanned_ = 0;
                if (!line->empty() && line->back() == '\r') line->pop_back();
                return true;
            }
            scanned_ = pending_.size();
            if (pending_.size() > kMaxManifestLine)
                throw UsageError(path_ + ": a line longer than " + std::to_string(kMaxManifestLine) + " bytes");
            char chunk[8192];
            const size_t got = file_.Read(chunk, sizeof chunk);
            if (got == 0) {
                if (pending_.empty()) return false;
                line->swap(pending_);  // the last line without its newline
                pending_.clear();
                return true;
            }
            pending_.append(chunk, got);
        }
    }

private:
    InputFile file_;
    std::string path_, pending_;
    size_t scanned_ = 0;
};

}  // namespace

std::vector<BatchEntry> ReadManifest(const std::string& path) {
    const fs::path base = path == "-" ? fs::path(".") : fs::path(path).parent_path();
    LineReader reader(path);
    std::vector<BatchEntry> entries;
    std::string line;
    for (size_t number = 1; reader.Next(&line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        if (entries.size() == kMaxBatchEntries)
            throw UsageError(path + ": more than " + std::to_string(kMaxBatchEntries) + " tokens (split it)");
        entries.push_back(ParseLine(line, base, path + ":" + std::to_string(number)));
    }
    if (entries.empty()) throw UsageError(path + " names no token");
    return entries;
}

std::vector<BatchEntry> ReadTokenFolder(const fs::path& folder) {
    std::vector<BatchEntry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path& file = it->path();
        if (file.extension() != ".tsr" && file.extension() != ".tst") continue;
        if (entries.size() == kMaxBatchEntries)
            throw UsageError(folder.string() + ": more than " + std::to_string(kMaxBatchEntries) + " tokens");
        entries.push_back({file.string(), fs::path(file).replace_extension().string(), "", ""});
    }
    if (error) throw FileError("cannot read the folder " + folder.string() + ": " + error.message());
    if (entries.empty()) throw UsageError(folder.string() + " holds no *.tsr or *.tst file");
    std::sort(entries.begin(), entries.end(),
              [](const BatchEntry& a, const BatchEntry& b) { return a.token < b.token; });
    return entries;
}

namespace {

struct Outcome {
    uint32_t code;  // 0: the token or its data could not be used
    int exitStatus;
    std::string message, why;
};

// One token as `zorbelu verify TOKEN` verifies it, every failure an outcome.
Outcome VerifyEntry(const Arguments& batch, const BatchEntry& entry) {
    Arguments args = batch;
    args.options.erase("batch");
    args.positional = {entry.token};
    if (entry.digestHex.empty()) {
        args.options["data"] = entry.data;
    } else {
        args.options["digest"] = entry.digestHex;
        args.options["alg"] = entry.algorithm;
    }
    try {
        const Token token = LoadToken(args);
        const ZORBELUDigestInfoEx digest = DataDigest(args, ReadInfo(token));
        const CheckedStatus checked = Verify(args, token, digest, true);
        const uint32_t result = checked.status;
        if (!ZORBELU_IS_STATUS(result)) return {result, kExitError, ErrorText(result), checked.why};
        return {result, result == ZORBELU_VS_OK ? kExitValid : kExitStatus,
                LibraryText(StatusMessageId(result), args.get("lang")), checked.why};
    } catch (const UsageError& e) {
        return {0, kExitUsage, e.what(), ""};
    } catch (const FileError& e) {
        return {0, kExitUsage, e.what(), ""};
    } catch (const std::exception& e) {
        return {0, kExitError, e.what(), ""};
    }
}

// "[#####.....] 512/1000" on stderr, when it is a terminal.
class ProgressBar {
public:
    ProgressBar(const std::atomic<size_t>& done, size_t total) : done_(done), total_(total) {
        if (isatty(STDERR_FILENO) != 0) thread_ = std::thread([this] { Run(); });
    }
    ~ProgressBar() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return finished_; })) {
            const size_t done = done_.load();
            const size_t filled = done * 30 / total_;
            std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                         std::string(30 - filled, '.').c_str(), done, total_);
        }
        std::fprintf(stderr, "\r%60s\r", "");
    }
    const std::atomic<size_t>& done_;
    const size_t total_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool finished_ = false;
    std::thread thread_;
};

class BatchRun {
public:
    BatchRun(const Arguments& args, std::vector<BatchEntry> entries) : args_(args), entries_(std::move(entries)) {}

    int Run(unsigned jobs) {
        {
            ProgressBar bar(done_, entries_.size());
            std::vector<std::thread> workers;
            for (unsigned i = 0; i < jobs; ++i) workers.emplace_back([this] { Work(); });
            for (std::thread& worker : workers) worker.join();
        }
        return Summarize();
    }

private:
    void Work() {
        for (size_t i = next_++; i < entries_.size(); i = next_++) {
            const Outcome outcome = VerifyEntry(args_, entries_[i]);
            Report(entries_[i].token, outcome);
            ++done_;
        }
    }

    void Report(const std::string& token, const Outcome& outcome) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_[outcome.code];
        if (args_.has("json")) {
            nlohmann::ordered_json line =
                AnswerJson("verify", outcome.code, outcome.message, outcome.exitStatus, outcome.why);
            line["token"] = token;
            PrintJson(line);
        } else {
            std::printf("%s: %s%s%s\n", ValidUtf8(token).c_str(),
                        outcome.code == 0 ? "" : (std::to_string(outcome.code) + " ").c_str(), outcome.message.c_str(),
                        outcome.why.empty() ? "" : ("\n    why: " + outcome.why).c_str());
        }
    }

    int Summarize() {
        const size_t valid = counts_.count(ZORBELU_VS_OK) ? counts_[ZORBELU_VS_OK] : 0;
        const int exitStatus = valid == entries_.size() ? kExitValid : kExitStatus;
        std::string text = std::to_string(entries_.size()) + " tokens, " + std::to_string(valid) + " valid:";
        nlohmann::ordered_json counts = nlohmann::ordered_json::object();
        for (const auto& [code, count] : counts_) {
            const std::string name = code == 0 ? "unusable" : std::to_string(code);
            text += " " + name + " x" + std::to_string(count);
            counts[name] = count;
        }
        if (args_.has("json")) {
            nlohmann::ordered_json summary = AnswerJson("verify", ZORBELU_OK, text, exitStatus);
            summary["summary"] = counts;
            PrintJson(summary);
        } else {
            std::printf("summary: %s\n", text.c_str());
        }
        return exitStatus;
    }

    const Arguments& args_;
    const std::vector<BatchEntry> entries_;
    std::atomic<size_t> next_{0}, done_{0};
    std::mutex mutex_;
    std::map<uint32_t, size_t> counts_;
};

int BatchCommand(const Arguments& args) {
    const std::string source = args.get("batch");
    std::error_code error;
    std::vector<BatchEntry> entries =
        source != "-" && fs::is_directory(source, error) ? ReadTokenFolder(source) : ReadManifest(source);
    // Settled once before the threads start: the proxy (it may copy
    // variables into the environment) and the language module.
    (void)Connection(args);
    (void)LibraryText(StatusMessageId(ZORBELU_VS_OK), args.get("lang"));
    Progress::Silence();  // the batch shows its own bar
    // The run's trust lives in the environment, which threads must not
    // change under each other: --ca-* and --untrusted are set once for the
    // whole run, and the tokens' own certificates are not offered.
    const RunTrust runTrust(args, ZORBELUBlob{});
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned wanted = args.has("jobs") ? NumberOption(args, "jobs", 1, 1024) : cores;
    const auto jobs = static_cast<unsigned>(std::min<size_t>(wanted, entries.size()));
    Note("verifying " + std::to_string(entries.size()) + " tokens, " + std::to_string(jobs) + " at a time");
    return BatchRun(args, std::move(entries)).Run(jobs);
}

}  // namespace

int VerifyOneOrBatch(const Arguments& args) {
    if (!args.has("batch")) {
        if (args.positional.empty()) throw UsageError("verify: give TOKEN (or --batch LIST|DIR)");
        if (args.has("jobs")) throw UsageError("verify: --jobs goes with --batch");
        return VerifyCommand(args);
    }
    if (!args.positional.empty()) throw UsageError("verify: --batch takes the place of TOKEN");
    return BatchCommand(args);
}

}  // namespace zorbelu::cli
