// zorbelu: the command-line program for people who work with RFC 3161
// time-stamp tokens.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "cli_support.h"
#include "cert_commands.h"
#include "demo.h"
#include "dialog_commands.h"
#include "roots_commands.h"
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
        "      engine:  --policy N  1 (default): the TSA certificate's chain through the\n"
        "                           \"CA\" and \"ROOT\" stores and a CRL for every\n"
        "                           certificate; 2: the chain without CRLs; 3: the token\n"
        "                           and its TSA certificate's usage alone, no chain\n"
        "               --full      as policy 1, SHA-1, MD5 and SHA-256 only\n"
        "               --crl-buffer  the issuer in \"ROOT\" and the TSA certificate's CRL\n"
        "               A self-issued TSA certificate is trusted only when the very\n"
        "               same certificate is in \"ROOT\" (else 2507, whatever the engine\n"
        "               but policy 3, which checks no chain and says so).\n"
        "      options: --timeout MS (for all downloads together; 0 = 15000)\n"
        "               --proxy HOST:PORT | --system-proxy\n"
        "               --user NAME --password TEXT [--domain NAME]\n"
        "               --lang CODE (texts of a language module, e.g. DEU)\n"
        "               --json\n"
        "      NAME: sha1, md5, sha256, sha384, sha512 (default: the token's own)\n"
        "  certs TOKEN --out DIR [--force] [--timeout MS] [--json]\n"
        "      gather the TSA certificate, the CA certificates up to a root of the\n"
        "      \"ROOT\" store and a current CRL for each, and write them to DIR; a\n"
        "      file already there (a link too) is left alone and nothing is written,\n"
        "      unless --force replaces it (the link itself, never its target)\n"
        "  tsa-cert CERT [--at TIME --chain-of TOKEN] [--lang CODE] [--json]\n"
        "      judge a TSA certificate on validity, revocation and chain, now (with\n"
        "      the system stores and downloaded CRLs) or at TIME (YYYYMMDDhhmmssZ)\n"
        "      with the chain and CRLs gathered for TOKEN; a self-issued one passes\n"
        "      the chain only when the same certificate is in \"ROOT\"\n"
        "  services [--json]\n"
        "      the five time-stamp services: number, name, policy, URL, and whether\n"
        "      their root certificates are installed\n"
        "  roots (add|test|delete) SERVICE [--json]\n"
        "  roots (add|test) --token TOKEN [--json]\n"
        "      install, look for or remove the root and CA certificates of a service\n"
        "      (delete: services 0 to 2), or of the service and chain of a token;\n"
        "      adding a root asks first (ZORBELU_ROOT_CONFIRM=yes|no answers where no\n"
        "      dialog can be shown); exit 0 done or all there, 1 missing, nothing to\n"
        "      delete or declined, 3 an error\n"
        "  show TOKEN (--data FILE | --digest HEX [--alg NAME]) [--tabbed] [--zone ZONE]\n"
        "      verify the token (full verification; the same trust in a self-issued\n"
        "      TSA certificate as verify) and show the outcome in the\n"
        "      signature properties dialog; --tabbed adds the verdicts on the TSA\n"
        "      certificate, comparison and export; ZONE: local (default), utc,\n"
        "      +HH:MM, -HH:MM or a zone such as JST; connection options as verify's\n"
        "  token-dialog TOKEN [--store-from-token] [--lang CODE]\n"
        "      show the token's properties in a dialog; with --store-from-token also\n"
        "      the CA certificates and CRLs gathered for it (needs a display)\n"
        "  demo [--keep] [--lang CODE] [--gui [--tabbed]]\n"
        "      make a small PKI and a token in a temporary folder, serve the CRL on\n"
        "      127.0.0.1, and verify the token with every engine, then again after\n"
        "      the document was changed; needs no network. --gui shows both\n"
        "      outcomes in the signature properties dialog\n"
        "  version    print the library's version\n"
        "  help       print this text\n"
        "\n"
        "exit status: 0 the token is valid and the data unchanged (2501); 1 another\n"
        "verification status; 2 wrong arguments or unusable files; 3 an error code\n"
        "instead of a status.\n"
        "Files read (tokens, certificates) may hold at most 16 MiB; the data of\n"
        "--data is hashed as it is read, of any size.\n"
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
    if (command == "show") return ShowCommand(ParseArguments(argc, argv, 2, kShowFlags));
    if (command == "token-dialog") return TokenDialogCommand(ParseArguments(argc, argv, 2, kTokenDialogFlags));
    if (command == "roots") return RootsCommand(ParseArguments(argc, argv, 2, kRootsFlags));
    if (command == "services") return ServicesCommand(ParseArguments(argc, argv, 2, kServicesFlags));
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
    } catch (const FileError& e) {
        std::fprintf(stderr, "zorbelu: %s\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zorbelu: %s\n", e.what());
        return kExitError;
    }
}
