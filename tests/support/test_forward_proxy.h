// A real HTTP forward proxy on 127.0.0.1 for tests: tinyproxy, started with
// a configuration of its own in a temporary folder and stopped again.
//
//   if (!zorbelu::test::TestForwardProxy::available()) GTEST_SKIP() << "tinyproxy is not installed";
//   zorbelu::test::TestForwardProxy proxy;
//   proxy.start("user", "secret");      // 407 without these credentials
//   settings.proxyServer = proxy.hostPort();
#pragma once

#include <string>
#include <sys/types.h>

namespace zorbelu::test {

class TestForwardProxy {
public:
    TestForwardProxy() = default;
    ~TestForwardProxy();  // stops the proxy
    TestForwardProxy(const TestForwardProxy&) = delete;
    TestForwardProxy& operator=(const TestForwardProxy&) = delete;

    // The tinyproxy program: $ZORBELU_TINYPROXY, else /usr/bin/tinyproxy or
    // /usr/sbin/tinyproxy; "" when none is there.
    static std::string program();
    static bool available() { return !program().empty(); }

    // Starts the proxy on a free port of 127.0.0.1, accepting clients from
    // 127.0.0.1 only. With a user name, every request must carry these Basic
    // credentials (else 407). Returns when the proxy accepts connections;
    // throws std::runtime_error when it does not come up.
    void start(const std::string& user = {}, const std::string& password = {});
    void stop();

    int port() const { return port_; }
    std::string hostPort() const;              // "127.0.0.1:<port>"
    std::string url() const;                   // "http://127.0.0.1:<port>"
    std::string log() const;                   // tinyproxy's log so far, for failure messages

private:
    bool tryStart(int port, const std::string& user, const std::string& password);

    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A port of 127.0.0.1 on which nothing listens: the port stays bound (so
// that no one else takes it) but never listens, so a connection is refused.
class ClosedLoopbackPort {
public:
    ClosedLoopbackPort();
    ~ClosedLoopbackPort();
    ClosedLoopbackPort(const ClosedLoopbackPort&) = delete;
    ClosedLoopbackPort& operator=(const ClosedLoopbackPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace zorbelu::test
