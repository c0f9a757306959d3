// zorbelu: the command-line program for people who work with RFC 3161
// time-stamp tokens.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "cli_support.h"
#include "cert_commands.h"
#include "demo.h"
#include "token_commands.h"
#include "zorbelutil.h"

namespace {

using namespace zorbelu::cli;

int PrintUsage(FILE* out) {
    std::fputs(
        "usage: zorbelu COMMAND [ARGUMENTS]\n"
        "\n"
        "commands:\n"
        "  info TOKEN [--json]\n"
        "      show what the token says: TSA, policy, time, serial, imprint\n"
        "  verify TOKEN (--data FILE | --digest HEX [--alg NAME]) [OPTIONS]\n"
        "      verify the token against the data it covers\n"
        "      engine:  --policy N  the TSA certificate's chain through the \"CA\" and\n"
        "                           \"ROOT\" stores; 1 (default) with a CRL for every\n"
        "                           certificate, 2 without CRLs, 3 the token alone\n"
        "               --full      as policy 1, SHA-1, MD5 and SHA-256 only\n"
        "               --crl-buffer  the issuer in \"ROOT\" and the TSA certificate's CRL\n"
        "      options: --timeout MS (each download; 0 = 15000)\n"
        "               --proxy HOST:PORT | --system-proxy\n"
        "               --user NAME --password TEXT [--domain NAME]\n"
        "               --lang CODE (texts of a language module, e.g. DEU)\n"
        "               --json\n"
        "      NAME: sha1, md5, sha256, sha384, sha512 (default: the token's own)\n"
        "  certs TOKEN --out DIR [--timeout MS] [--json]\n"
        "      gather the TSA certificate, the CA certificates up to a root of the\n"
        "      \"ROOT\" store and a current CRL for each, and write them to DIR\n"
        "  tsa-cert CERT [--at TIME --chain-of TOKEN] [--lang CODE] [--json]\n"
        "      judge a TSA certificate on validity, revocation and chain, now (with\n"
        "      the system stores and downloaded CRLs) or at TIME (YYYYMMDDhhmmssZ)\n"
        "      with the chain and CRLs gathered for TOKEN\n"
        "  demo [--keep] [--lang CODE]\n"
        "      make a small PKI and a token in a temporary folder, serve the CRL on\n"
        "      127.0.0.1, and verify the token with every engine, then again after\n"
        "      the document was changed; needs no network\n"
        "  version    print the library's version\n"
        "  help       print this text\n"
        "\n"
        "exit status: 0 the token is valid and the data unchanged (2501); 1 another\n"
        "verification status; 2 wrong arguments; 3 an error code instead of a status.\n"
        "Certificate stores: $ZORBELU_STORE_DIR (default\n"
        "~/.local/share/zorbelutilnd/stores), folders ROOT/ and CA/.\n",
        out);
    return out == stderr ? kExitUsage : kExitValid;
}

int Version() {
    uint32_t major = 0, minor = 0, build = 0;
    if (ZORBELUGetLibVer(&major, &minor, &build) != ZORBELU_OK) return kExitError;
    std::printf("zorbelutilnd %u.%u.%u\n", major, minor, build);
    return kExitValid;
}

int Run(int argc, char** argv) {
    if (argc < 2) return PrintUsage(stderr);
    const std::string command = argv[1];
    if (command == "version" || command == "--version") return Version();
    if (command == "help" || command == "--help" || command == "-h") return PrintUsage(stdout);
    if (command == "info") return InfoCommand(ParseArguments(argc, argv, 2, kInfoFlags));
    if (command == "verify") return VerifyCommand(ParseArguments(argc, argv, 2, kVerifyFlags));
    if (command == "demo") return DemoCommand(ParseArguments(argc, argv, 2, kDemoFlags));
    if (command == "certs") return CertsCommand(ParseArguments(argc, argv, 2, kCertsFlags));
    if (command == "tsa-cert") return TsaCertCommand(ParseArguments(argc, argv, 2, kTsaCertFlags));
    std::fprintf(stderr, "zorbelu: unknown command '%s'\n\n", argv[1]);
    return PrintUsage(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "zorbelu: %s (see zorbelu help)\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zorbelu: %s\n", e.what());
        return kExitError;
    }
}
