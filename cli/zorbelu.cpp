// zorbelu: the command-line program for people who work with RFC 3161
// time-stamp tokens.
#include <openssl/crypto.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "certs/crl_fetch.h"
#include "cli_support.h"
#include "options.h"
#include "batch.h"
#include "cert_commands.h"
#include "create_command.h"
#include "demo.h"
#include "dialog_commands.h"
#include "roots_commands.h"
#include "token_commands.h"
#include "zorbelutil.h"

namespace {

using namespace zorbelu::cli;

int Version() {
    uint32_t major = 0, minor = 0, build = 0;
    if (ZORBELUGetLibVer(&major, &minor, &build) != ZORBELU_OK) return kExitError;
    std::printf("zorbelutilnd %u.%u.%u\n", major, minor, build);
    return kExitValid;
}

int Run(int argc, char** argv) {
    const std::optional<Invocation> invocation = ParseCommandLine(argc, argv);
    if (!invocation) return kExitValid;  // help was printed
    const Arguments& args = invocation->args;
    SetVerbose(args.has("verbose"));
    using Command = int (*)(const Arguments&);
    static const std::map<std::string, Command> commands = {
        {"info", InfoCommand},         {"verify", VerifyOneOrBatch}, {"create", CreateCommand},
        {"demo", DemoCommand},         {"certs", CertsCommand},
        {"tsa-cert", TsaCertCommand},  {"show", ShowCommand},
        {"token-dialog", TokenDialogCommand}, {"roots", RootsCommand},
        {"services", ServicesCommand},
    };
    if (invocation->command == "version") return Version();
    return commands.at(invocation->command)(args);
}

// Asked for JSON: an error is answered in JSON too.
bool WantsJson(int argc, char** argv) {
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--json") == 0) return true;
    return false;
}

int Fail(int argc, char** argv, const std::string& text, int exitStatus, const char* hint = "") {
    if (WantsJson(argc, argv)) {
        PrintJson(AnswerJson(argc > 1 ? argv[1] : "", 0, text, exitStatus));
    }
    std::fprintf(stderr, "zorbelu: %s%s\n", ValidUtf8(text).c_str(), hint);
    return exitStatus;
}

}  // namespace

int main(int argc, char** argv) {
    // The process ends right after its one command: OpenSSL's tables go with
    // it, and freeing them one by one at exit only costs time. Nothing here
    // prints OpenSSL's error texts (errors are told by their codes), so they
    // are not loaded either.
    (void)OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS, nullptr);
    NameLibraryFileOfProgram();
    // The library's calls keep their contract's CRL bounds for hosts; this
    // program verifies against CRLs of any size up to 64 MiB.
    zorbelu::certs::TakeCrlsOfAnySize();
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        return Fail(argc, argv, e.what(), kExitUsage, " (see zorbelu help)");
    } catch (const FileError& e) {
        return Fail(argc, argv, e.what(), kExitUsage);
    } catch (const std::exception& e) {
        return Fail(argc, argv, e.what(), kExitError);
    }
}
