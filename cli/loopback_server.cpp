#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace zorbelu::cli {

LoopbackServer::LoopbackServer(std::map<std::string, std::string> files) : files_(std::move(files)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (listener_ >= 0) close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    thread_.join();
    close(listener_);
}

std::string LoopbackServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void LoopbackServer::Serve(const std::string& path, std::string bytes) { files_[path] = std::move(bytes); }

void LoopbackServer::Run() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 100) <= 0) continue;
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        Answer(connection);
        close(connection);
    }
}

void LoopbackServer::Answer(int connection) {
    // The request line is all that matters; read until the end of the headers.
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        pollfd readable{connection, POLLIN, 0};
        if (poll(&readable, 1, 2000) <= 0) return;
        const ssize_t n = read(connection, buffer, sizeof buffer);
        if (n <= 0) return;
        request.append(buffer, static_cast<size_t>(n));
    }
    const size_t pathStart = request.find(' ');
    const size_t pathEnd = request.find(' ', pathStart + 1);
    const std::string path = pathStart == std::string::npos ? "" : request.substr(pathStart + 1, pathEnd - pathStart - 1);
    const auto file = files_.find(path);
    const std::string status = file != files_.end() ? "200 OK" : "404 Not Found";
    const std::string body = file != files_.end() ? file->second : "";
    const std::string head = "HTTP/1.1 " + status + "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    const std::string answer = head + body;
    for (size_t sent = 0; sent < answer.size();) {
        const ssize_t n = send(connection, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

}  // namespace zorbelu::cli
