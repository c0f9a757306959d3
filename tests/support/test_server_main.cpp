// zorbelu-test-server: serves the files of a folder over HTTP on 127.0.0.1,
// for the command-line demo and manual checks.
//
//   zorbelu-test-server FOLDER [PORT]
//
// Every file below FOLDER is served at its relative path (read once, at
// start). The first line of output is the server's base URL; the server
// runs until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "support/test_http_server.h"

namespace fs = std::filesystem;

namespace {

std::string ContentTypeOf(const fs::path& file) {
    const std::string ext = file.extension().string();
    if (ext == ".crl") return "application/pkix-crl";
    if (ext == ".cer" || ext == ".crt" || ext == ".der") return "application/pkix-cert";
    if (ext == ".tsr") return "application/timestamp-reply";
    if (ext == ".pem" || ext == ".txt") return "text/plain";
    return "application/octet-stream";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: zorbelu-test-server FOLDER [PORT]\n";
        return 2;
    }
    try {
        const fs::path root(argv[1]);
        const int port = argc == 3 ? std::atoi(argv[2]) : 0;
        if (!fs::is_directory(root) || port < 0 || port > 65535) {
            std::cerr << "zorbelu-test-server: need a folder and a port from 0 to 65535\n";
            return 2;
        }
        // Block the stop signals before the server's threads start, so that
        // they all inherit the mask and sigwait below receives them.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

        zorbelu::test::TestHttpServer server;
        size_t files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            server.serveFile("/" + fs::relative(entry.path(), root).generic_string(), std::move(bytes),
                             ContentTypeOf(entry.path()));
            ++files;
        }
        server.start(port);
        std::cout << server.url("/") << std::endl;
        std::cerr << "serving " << files << " file(s) of " << root.string() << "; stop with Ctrl+C\n";
        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "zorbelu-test-server: " << e.what() << "\n";
        return 1;
    }
}
