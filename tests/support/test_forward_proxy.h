// tinyproxy on 127.0.0.1 with its own configuration, for tests; they skip when available() is false.
#pragma once

#include <string>
#include <sys/types.h>

namespace zorbelu::test {

class TestForwardProxy {
public:
    TestForwardProxy() = default;
    ~TestForwardProxy() { stop(); }
    TestForwardProxy(const TestForwardProxy&) = delete;
    TestForwardProxy& operator=(const TestForwardProxy&) = delete;

    // $ZORBELU_TINYPROXY, else /usr/bin/tinyproxy or /usr/sbin/tinyproxy; "" when none is there.
    static std::string program();
    static bool available() { return !program().empty(); }

    // On a free port of 127.0.0.1; with a user, Basic credentials are needed (else 407). Throws when it fails.
    void start(const std::string& user = {}, const std::string& password = {});
    void stop();

    std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string url() const { return "http://" + hostPort(); }
    std::string log() const;  // tinyproxy's log so far, for failure messages

private:
    bool tryStart(int port, const std::string& user, const std::string& password);

    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A port of 127.0.0.1 that stays bound but never listens: connections are refused.
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
