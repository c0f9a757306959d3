// zorbelu-test-server FOLDER [PORT]: serves FOLDER on 127.0.0.1 and prints its base URL first.
#include <httplib.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

int main(int argc, char** argv) {
    const int port = argc == 3 ? std::atoi(argv[2]) : 0;
    if (argc < 2 || argc > 3 || !std::filesystem::is_directory(argv[1]) || port < 0 || port > 65535) {
        std::cerr << "usage: zorbelu-test-server FOLDER [PORT 0-65535]\n";
        return 2;
    }
    httplib::Server server;
    server.set_file_extension_and_mimetype_mapping("crl", "application/pkix-crl");
    server.set_file_extension_and_mimetype_mapping("tsr", "application/timestamp-reply");
    for (const char* ext : {"cer", "crt", "der"})
        server.set_file_extension_and_mimetype_mapping(ext, "application/pkix-cert");
    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0 || !server.set_mount_point("/", argv[1])) {
        std::cerr << "zorbelu-test-server: cannot serve " << argv[1] << " on port " << port << "\n";
        return 1;
    }
    std::cout << "http://127.0.0.1:" << bound << "/" << std::endl;
    return server.listen_after_bind() ? 0 : 1;
}
