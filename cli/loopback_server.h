// A minimal HTTP server on 127.0.0.1 for the demo: answers GET requests for
// a few fixed paths from memory, in a thread of its own, until destroyed.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <thread>

namespace zorbelu::cli {

class LoopbackServer {
public:
    explicit LoopbackServer(std::map<std::string, std::string> files);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // "http://127.0.0.1:<port>"
    std::string BaseUrl() const;
    void Serve(const std::string& path, std::string bytes);

private:
    void Run();
    void Answer(int connection);

    std::map<std::string, std::string> files_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace zorbelu::cli
