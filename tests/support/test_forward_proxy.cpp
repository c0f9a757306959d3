// tinyproxy as a forward proxy for tests; see test_forward_proxy.h.
#include "support/test_forward_proxy.h"

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zorbelu::test {
namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

// Binds `fd` to a free port of 127.0.0.1; the port, 0 when none.
int BindFreePort(int fd) {
    sockaddr_in addr = Loopback(0);
    socklen_t length = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = Loopback(port);
    const bool ok = fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

}  // namespace

std::string TestForwardProxy::program() {
    if (const char* configured = std::getenv("ZORBELU_TINYPROXY"); configured != nullptr && *configured != '\0')
        return access(configured, X_OK) == 0 ? configured : "";
    for (const char* candidate : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"})
        if (access(candidate, X_OK) == 0) return candidate;
    return {};
}

std::string TestForwardProxy::log() const {
    std::ostringstream text;
    text << std::ifstream(dir_ + "/tinyproxy.log").rdbuf();
    return text.str();
}

void TestForwardProxy::start(const std::string& user, const std::string& password) {
    if (pid_ > 0 || !available()) throw std::runtime_error("TestForwardProxy: started already, or no tinyproxy");
    std::string pattern = (std::filesystem::temp_directory_path() / "zorbelu-proxy-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("TestForwardProxy: no temporary folder");
    dir_ = pattern;
    // tinyproxy binds the port itself: one taken meanwhile shows as a proxy that exits, and another is tried.
    for (int attempt = 0; attempt < 5; ++attempt) {
        int port = 0;
        {
            const ClosedLoopbackPort free;
            port = free.port();
        }
        if (tryStart(port, user, password)) return;
    }
    const std::string text = log();
    stop();
    throw std::runtime_error("TestForwardProxy: tinyproxy did not start:\n" + text);
}

bool TestForwardProxy::tryStart(int port, const std::string& user, const std::string& password) {
    const std::string config = dir_ + "/tinyproxy.conf", tinyproxy = program();
    std::ofstream(config, std::ios::trunc) << "Port " << port << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\n"
                                           << "LogLevel Info\nLogFile \"" << dir_ << "/tinyproxy.log\"\n"
                                           << (user.empty() ? "" : "BasicAuth " + user + " " + password + "\n");
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        execl(tinyproxy.c_str(), "tinyproxy", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int waited = 0; waited < 1000; ++waited) {  // up to 10 s
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;  // exited: port taken or bad configuration
        if (Accepts(port)) {
            pid_ = pid;
            port_ = port;
            return true;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

void TestForwardProxy::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    port_ = 0;
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    dir_.clear();
}

ClosedLoopbackPort::ClosedLoopbackPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    port_ = fd_ < 0 ? 0 : BindFreePort(fd_);
    if (port_ == 0) {
        if (fd_ >= 0) close(fd_);
        throw std::runtime_error("ClosedLoopbackPort: cannot bind");
    }
}

ClosedLoopbackPort::~ClosedLoopbackPort() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace zorbelu::test
