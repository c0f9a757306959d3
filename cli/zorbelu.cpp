// zorbelu: the command-line program for people who work with RFC 3161
// time-stamp tokens.
#include <cstdio>
#include <cstring>
#include <string>

#include "zorbelutil.h"

namespace {

int PrintUsage(FILE* out) {
    std::fputs(
        "usage: zorbelu COMMAND [ARGUMENTS]\n"
        "\n"
        "commands:\n"
        "  version    print the library's version\n"
        "  help       print this text\n",
        out);
    return out == stderr ? 2 : 0;
}

int Version() {
    uint32_t major = 0, minor = 0, build = 0;
    const uint32_t result = ZORBELUGetLibVer(&major, &minor, &build);
    if (result != ZORBELU_OK) {
        std::fprintf(stderr, "zorbelu: cannot read the library's version (code %u)\n", result);
        return 1;
    }
    std::printf("zorbelutilnd %u.%u.%u\n", major, minor, build);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return PrintUsage(stderr);
    const std::string command = argv[1];
    if (command == "version" || command == "--version") return Version();
    if (command == "help" || command == "--help" || command == "-h") return PrintUsage(stdout);
    std::fprintf(stderr, "zorbelu: unknown command '%s'\n\n", argv[1]);
    return PrintUsage(stderr);
}
