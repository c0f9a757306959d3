// zorbelu-make-fixtures FOLDER [BASE_URL] [NOW]: writes the whole test PKI (docs/testing.md, "By hand").
#include "support/fixture_pki.h"

#include <chrono>
#include <cstdlib>
#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::cerr << "usage: " << argv[0] << " FOLDER [BASE_URL] [NOW]\n";
        return 2;
    }
    zorbelu::fixtures::FixtureOptions options;
    if (argc > 2) options.baseUrl = argv[2];
    if (argc > 3) options.now = static_cast<time_t>(std::strtoll(argv[3], nullptr, 10));
    try {
        const auto start = std::chrono::steady_clock::now();
        const auto pki = zorbelu::fixtures::FixturePki::Create(argv[1], options);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::cout << "wrote " << pki.Manifest().size() << " files to " << pki.Folder().string() << " in "
                  << ms.count() << " ms; see manifest.txt\n";
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
