// tinyproxy as a forward proxy for tests; see test_forward_proxy.h.
#include "support/test_forward_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace zorbelu::test {
namespace {

namespace fs = std::filesystem;

// A port that was free a moment ago. tinyproxy binds it itself; a lost race
// shows as a proxy that exits, and start() then tries another port.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

// Waits up to `limit` for the child to exit; true when it did.
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

TestForwardProxy::~TestForwardProxy() { stop(); }

std::string TestForwardProxy::program() {
    if (const char* configured = std::getenv("ZORBELU_TINYPROXY"); configured != nullptr && *configured != '\0')
        return access(configured, X_OK) == 0 ? configured : "";
    for (const char* candidate : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"})
        if (access(candidate, X_OK) == 0) return candidate;
    return {};
}

std::string TestForwardProxy::hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TestForwardProxy::url() const { return "http://" + hostPort(); }

std::string TestForwardProxy::log() const {
    if (dir_.empty()) return {};
    std::ifstream in(fs::path(dir_) / "tinyproxy.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void TestForwardProxy::start(const std::string& user, const std::string& password) {
    if (pid_ > 0) throw std::runtime_error("TestForwardProxy: already started");
    const std::string tinyproxy = program();
    if (tinyproxy.empty()) throw std::runtime_error("TestForwardProxy: tinyproxy is not installed");
    std::string pattern = (fs::temp_directory_path() / "zorbelu-proxy-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("TestForwardProxy: no temporary folder");
    dir_ = pattern;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = FreePort();
        if (port != 0 && tryStart(port, user, password)) return;
    }
    const std::string text = log();
    stop();
    throw std::runtime_error("TestForwardProxy: tinyproxy did not start:\n" + text);
}

bool TestForwardProxy::tryStart(int port, const std::string& user, const std::string& password) {
    const fs::path dir(dir_);
    const fs::path config = dir / "tinyproxy.conf";
    {
        std::ofstream out(config, std::ios::trunc);
        out << "Port " << port << "\n"
            << "Listen 127.0.0.1\n"
            << "Allow 127.0.0.1\n"
            << "Timeout 30\n"
            << "MaxClients 32\n"
            << "LogFile \"" << (dir / "tinyproxy.log").string() << "\"\n"
            << "LogLevel Info\n"
            << "PidFile \"" << (dir / "tinyproxy.pid").string() << "\"\n";
        if (!user.empty()) out << "BasicAuth " << user << " " << password << "\n";
        if (!out) return false;
    }
    const std::string program = TestForwardProxy::program();
    std::vector<std::string> args{program, "-d", "-c", config.string()};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = (dir / "tinyproxy.out").string();
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return false;  // exited: port taken or bad config
        if (Accepts(port)) {
            pid_ = pid;
            port_ = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    WaitForExit(pid, std::chrono::seconds(5));
    return false;
}

void TestForwardProxy::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!WaitForExit(pid_, std::chrono::seconds(5))) {
            kill(pid_, SIGKILL);
            WaitForExit(pid_, std::chrono::seconds(5));
        }
        pid_ = -1;
    }
    port_ = 0;
    if (!dir_.empty()) {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        dir_.clear();
    }
}

ClosedLoopbackPort::ClosedLoopbackPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("ClosedLoopbackPort: no socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        close(fd_);
        throw std::runtime_error("ClosedLoopbackPort: cannot bind");
    }
    port_ = ntohs(addr.sin_port);
}

ClosedLoopbackPort::~ClosedLoopbackPort() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace zorbelu::test
