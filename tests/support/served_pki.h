// The fixture PKI in a temporary folder, served on 127.0.0.1, and a temporary directory store.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "support/fixture_pki.h"
#include "support/test_http_server.h"

#include <sys/wait.h>

namespace zorbelu::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zorbelu-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

inline std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Puts an environment variable back as it was when the object goes; `value` (null: unset) holds meanwhile.
class ScopedEnv {
public:
    explicit ScopedEnv(const char* name) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
    }
    ScopedEnv(const char* name, const char* value) : ScopedEnv(name) { value ? setenv(name, value, 1) : unsetenv(name); }
    ~ScopedEnv() { old_ ? setenv(name_.c_str(), old_->c_str(), 1) : unsetenv(name_.c_str()); }
    ScopedEnv(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

struct CommandRun {
    int status;  // -1: did not exit normally
    std::string output;
};
inline CommandRun RunShell(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}
#ifdef ZORBELU_CLI
// `environment`: assignments ("NAME=value ") or a wrapper ("timeout 20 ") put before the command.
inline CommandRun Zorbelu(const std::string& arguments, const std::string& environment = "") {
    return RunShell(environment + ZORBELU_CLI + " " + arguments + " 2>&1");
}
#endif

// Starts the server first, so that the certificates can carry its URL.
class ServedPki {
public:
    explicit ServedPki(time_t now = 0) {
        server_.start();
        fixtures::FixtureOptions options;
        options.baseUrl = server_.url("");
        options.now = now;
        pki_ = std::make_unique<fixtures::FixturePki>(fixtures::FixturePki::Create(dir_.path() / "pki", options));
        for (const auto& served : pki_->ServedFiles()) server_.serveFile(served.urlPath, ReadFileBytes(served.file));
        std::filesystem::create_directories(storeDir());
        setenv("ZORBELU_STORE_DIR", storeDir().c_str(), 1);
        setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
    }

    fixtures::FixturePki& pki() { return *pki_; }
    TestHttpServer& server() { return server_; }
    std::filesystem::path storeDir() const { return dir_.path() / "stores"; }

    // Every caIssuers URL of Tsa::ManyIssuerUrls answers (404) only after `delay`.
    void StallManyIssuerUrls(std::chrono::milliseconds delay) {
        for (const std::string& path : fixtures::FixturePki::ManyIssuerUrlPaths()) server_.setDelay(path, delay);
    }

    std::string crlPath(fixtures::Crl crl) const { return "/crl/" + std::string(fixtures::FixturePki::Name(crl)); }

private:
    TempDir dir_;
    TestHttpServer server_;
    std::unique_ptr<fixtures::FixturePki> pki_;
};

}  // namespace zorbelu::test
