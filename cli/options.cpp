#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

#include "zorbelutil.h"

namespace zorbelu::cli {
namespace {

// How an option's value is checked before the command runs.
enum class Check { Text, Milliseconds, Policy, Algorithm, Language, Jobs, CreateAlgorithm };

struct OptionRow {
    const char* name;
    const char* value;  // nullptr: a flag
    const char* help;
    Check check = Check::Text;
};

struct CommandRow {
    const char* name;
    const char* arguments;  // as the help shows them
    size_t minArguments, maxArguments;
    const char* summary;
    std::vector<std::vector<OptionRow>> groups;
    std::vector<std::pair<const char*, const char*>> exclusive = {};
};

const std::vector<OptionRow> kJson = {{"json", nullptr, "print one JSON object (errors too)"}};

const std::vector<OptionRow> kCommon = {
    {"verbose", nullptr, "tell on stderr what is fetched and decided"},
    {"lang", "CODE", "texts of a language module, e.g. DEU (default: from LC_ALL, LC_MESSAGES, LANG)",
     Check::Language},
};

const std::vector<OptionRow> kConnection = {
    {"timeout", "MS", "time limit of the downloads together, 0 = 15000", Check::Milliseconds},
    {"proxy", "URL", "the proxy for every download (default: http_proxy, https_proxy, no_proxy ...)"},
    {"no-proxy", nullptr, "no proxy at all, whatever the environment says"},
    {"proxy-user", "USER:PASSWORD", "credentials for --proxy ([DOMAIN\\]USER:PASSWORD)"},
    {"system-proxy", nullptr, "the environment's proxy settings (the default)"},
};

// Trust for this run only (run_trust.h), and the CRL cache (crl_disk_cache.h).
const std::vector<OptionRow> kRunTrust = {
    {"ca-file", "FILE", "also trust the roots of FILE (PEM bundle or DER) for this run"},
    {"ca-dir", "DIR", "also trust the roots of DIR's certificate files for this run"},
    {"untrusted", "FILE", "offer the certificates of FILE as intermediates, never as roots"},
    {"no-token-certs", nullptr, "do not offer the token's own certificates as intermediates"},
    {"no-cache", nullptr, "neither read nor keep CRLs in the CRL cache folder (~/.cache/zorbelu)"},
};

const std::vector<OptionRow> kDataOptions = {
    {"data", "FILE", "the data the token covers (- reads standard input), hashed as it is read"},
    {"digest", "HEX", "the data's digest instead of --data"},
    {"alg", "NAME", "sha1, md5, sha256, sha384 or sha512 (default: the token's own)", Check::Algorithm},
};

// zorbelu create and verify --batch.
const std::vector<OptionRow> kBatch = {
    {"batch", "LIST|DIR", "verify every token of a manifest or a folder (docs/cli.md) instead of TOKEN"},
    {"jobs", "N", "with --batch: verifications at a time (default: one per core)", Check::Jobs},
};
const CommandRow kCreate = {
    "create", "", 0, 0, "ask a TSA over HTTP for a token on the data and write it",
    {{{"tsa", "URL", "the TSA's http:// or https:// URL"},
      {"data", "FILE", "the data to time-stamp (- reads standard input), hashed as it is read"},
      {"digest", "HEX", "the data's digest instead of --data"},
      {"alg", "NAME", "sha1, sha256 (default), sha384 or sha512", Check::CreateAlgorithm},
      {"policy", "OID", "the policy to ask for (default: the TSA's)"},
      {"nonce", nullptr, "send a random nonce, checked in the answer (the default)"},
      {"no-nonce", nullptr, "send no nonce"},
      {"cert-req", nullptr, "ask for the TSA certificate in the token (the default)"},
      {"no-cert-req", nullptr, "ask for a token without the TSA certificate"},
      {"out", "FILE", "write the token there (default: stdout, never a terminal; - stdout all the same)"},
      {"force", nullptr, "replace FILE (a link itself, never its target)"}},
     kConnection, kJson, kCommon},
    {{"data", "digest"}, {"nonce", "no-nonce"}, {"cert-req", "no-cert-req"}}};

const std::vector<CommandRow>& Commands() {
    static const std::vector<CommandRow> commands = {
        {"info", "TOKEN", 1, 1, "show what the token says: TSA, policy, time, serial, imprint, accuracy, nonce",
         {kJson, kCommon}},
        {"verify", "TOKEN", 0, 1, "verify the token against the data it covers",
         {kDataOptions, kBatch,
          {{"policy", "N", "1 (default): chain and CRLs; 2: chain without CRLs; 3: the token alone", Check::Policy},
           {"full", nullptr, "as policy 1 through the full verification (SHA-1, MD5, SHA-256 only)"},
           {"crl-buffer", nullptr, "the issuer in \"ROOT\" and the TSA certificate's CRL alone"}},
          kRunTrust, kConnection, kJson, kCommon},
         {{"data", "digest"}, {"full", "crl-buffer"}, {"policy", "full"}, {"policy", "crl-buffer"}, {"batch", "data"},
          {"batch", "digest"}}},
        kCreate,
        {"certs", "TOKEN", 1, 1, "gather the TSA certificate, its CA certificates and CRLs into a folder",
         {{{"out", "DIR", "the folder to write to (made when missing)"},
           {"force", nullptr, "replace files already there (a link itself, never its target)"}},
          kConnection, kJson, kCommon}},
        {"tsa-cert", "CERT", 1, 1, "judge a TSA certificate: validity, revocation, chain",
         {{{"at", "TIME", "judge at TIME (YYYYMMDDhhmmssZ) with the chain gathered for --chain-of"},
           {"chain-of", "TOKEN", "the token whose chain and CRLs --at uses"}},
          kConnection, kJson, kCommon}},
        {"services", "", 0, 0, "the time-stamp services and whether their roots are installed", {kJson, kCommon}},
        {"roots", "(add|test|delete) [SERVICE]", 1, 2, "install, look for or remove a service's root certificates",
         {{{"token", "TOKEN", "the service and chain of this token instead of SERVICE"}}, kJson, kCommon}},
        {"show", "TOKEN", 1, 1, "verify the token and show the outcome in the signature properties dialog",
         {kDataOptions,
          {{"tabbed", nullptr, "the tabbed dialog, with the verdicts on the TSA certificate"},
           {"zone", "ZONE", "local (default), utc, +HH:MM, -HH:MM (write --zone=-05:00) or a zone such as JST"}},
          kConnection, kCommon},
         {{"data", "digest"}}},
        {"token-dialog", "TOKEN", 1, 1, "show the token's properties in a dialog",
         {{{"store-from-token", nullptr, "also the CA certificates and CRLs gathered for the token"}}, kConnection,
          kCommon}},
        {"demo", "", 0, 0, "verify a token of a small PKI made on the spot, offline",
         {{{"keep", nullptr, "keep the temporary folder"},
           {"gui", nullptr, "show both outcomes in the signature properties dialog"},
           {"tabbed", nullptr, "with --gui: the tabbed dialog"}},
          kCommon}},
        {"version", "", 0, 0, "print the library's version", {}},
    };
    return commands;
}

const CommandRow* FindCommand(const std::string& name) {
    for (const CommandRow& command : Commands())
        if (name == command.name) return &command;
    return nullptr;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The candidate closest to `word`, when it is close enough to be a typo.
std::string Closest(const std::string& word, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = std::max<size_t>(1, word.size() / 4) + 1;  // one edit per four letters
    for (const std::string& candidate : candidates) {
        const size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance) best = candidate, bestDistance = distance;
    }
    return best;
}

std::string DidYouMean(const std::string& suggestion) {
    return suggestion.empty() ? "" : " (did you mean " + suggestion + "?)";
}

std::string WholeNumberCheck(const std::string& value, uint64_t low, uint64_t high) {
    uint64_t number = 0;
    const bool digits = !value.empty() && value.size() <= 10 && value.find_first_not_of("0123456789") == std::string::npos;
    if (digits) number = std::stoull(value);
    if (digits && number >= low && number <= high) return "";
    return "takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
           ", not '" + value + "'";
}

std::function<std::string(std::string&)> Checker(const OptionRow& option) {
    switch (option.check) {
        case Check::Milliseconds:
            return [](std::string& value) { return WholeNumberCheck(value, 0, INT32_MAX); };
        case Check::Policy:
            return [](std::string& value) { return WholeNumberCheck(value, 1, 3); };
        case Check::Algorithm:
            return [](std::string& value) -> std::string {
                for (const char* known : {"sha1", "md5", "sha256", "sha384", "sha512"})
                    if (value == known) return "";
                return "takes sha1, md5, sha256, sha384 or sha512, not '" + value + "'";
            };
        case Check::Language:
            return [](std::string& value) -> std::string {
                const bool letters = value.size() == 3 && std::all_of(value.begin(), value.end(), [](char c) {
                                         return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
                                     });
                return letters ? "" : "takes a language code of three letters such as DEU, not '" + value + "'";
            };
        case Check::Jobs:
            return [](std::string& value) { return WholeNumberCheck(value, 1, 1024); };
        case Check::CreateAlgorithm:
            return [](std::string& value) -> std::string {
                for (const char* known : {"sha1", "sha256", "sha384", "sha512"})
                    if (value == known) return "";
                return "takes sha1, sha256, sha384 or sha512, not '" + value + "'";
            };
        case Check::Text: break;
    }
    return {};
}

// The command's options in the order of its help, each once.
std::vector<const OptionRow*> OptionsOf(const CommandRow& command) {
    std::vector<const OptionRow*> options;
    for (const auto& group : command.groups)
        for (const OptionRow& option : group) options.push_back(&option);
    return options;
}

std::vector<std::string> OptionNames(const CommandRow& command) {
    std::vector<std::string> names = {"--help"};
    for (const OptionRow* option : OptionsOf(command)) names.push_back(std::string("--") + option->name);
    return names;
}

std::vector<std::string> CommandNames() {
    std::vector<std::string> names = {"help"};
    for (const CommandRow& command : Commands()) names.push_back(command.name);
    return names;
}

UsageError UnknownOption(const CommandRow& command, const std::string& word) {
    const std::string name = word.substr(0, word.find('='));
    return UsageError(std::string(command.name) + ": unknown option " + name +
                      DidYouMean(Closest(name, OptionNames(command))));
}

UsageError TooManyArguments(const CommandRow& command, const std::string& word) {
    return UsageError(std::string(command.name) + ": unexpected argument '" + word + "' (" + command.name +
                      (command.maxArguments == 0 ? " takes no arguments" : " takes " + std::string(command.arguments)) +
                      ")");
}

std::string Overview() {
    std::string text = "usage: zorbelu COMMAND [ARGUMENTS] [OPTIONS]\n\ncommands:\n";
    for (const CommandRow& command : Commands()) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-13s %s\n", command.name, command.summary);
        text += line;
    }
    text +=
        "  help [COMMAND] this text, or a command's options (as zorbelu COMMAND --help)\n"
        "\n"
        "exit status: 0 the token is valid and the data unchanged (2501); 1 another\n"
        "verification status or verdict; 2 wrong arguments or unusable files; 3 an\n"
        "error code instead of a status.\n"
        "Files read (tokens, certificates) may hold at most 16 MiB, DER or PEM; - reads\n"
        "standard input. Certificate stores: $ZORBELU_STORE_DIR (default\n"
        "~/.local/share/zorbelutilnd/stores), folders ROOT/ and CA/.\n"
        "Proxies: http_proxy, HTTP_PROXY, https_proxy, HTTPS_PROXY, ALL_PROXY and NO_PROXY\n"
        "unless --proxy URL or --no-proxy is given. See zorbelu(1).\n";
    return text;
}

constexpr const char* kFooter =
    "exit status: 0 the token is valid and the data unchanged (2501); 1 another verification status or verdict;\n"
    "2 wrong arguments or unusable files; 3 an error code instead of a status.\n";

std::string CommandHelp(const CommandRow& command) {
    std::string arguments = command.arguments;
    if (!arguments.empty()) arguments = " " + (command.minArguments == 0 ? "[" + arguments + "]" : arguments);
    std::string text = std::string(command.summary) + "\n\nUsage: zorbelu " + command.name + arguments +
                       " [OPTIONS]\n\nOptions:\n";
    char line[512];
    for (const OptionRow* option : OptionsOf(command)) {
        std::string name = std::string("--") + option->name;
        if (option->value != nullptr) name += std::string(" ") + option->value;
        std::snprintf(line, sizeof line, "  %-28s%s\n", name.c_str(), option->help);
        text += line;
    }
    std::snprintf(line, sizeof line, "  %-28s%s\n", "-h, --help", "print this help and exit");
    text += line;
    if (!command.exclusive.empty()) {
        text += "\n";
        for (const auto& [first, second] : command.exclusive)
            text += std::string("--") + first + " excludes --" + second + ".\n";
    }
    return text + "\n" + kFooter;
}

// getopt_long's codes for the command's options: the row's index past every
// character code.
constexpr int kFirstOptionCode = 256;

// The option word that getopt_long has just read: the one before the value
// when the value was the next word.
std::string OptionWord(char** words) {
    return optarg != nullptr && optarg == words[optind - 1] ? words[optind - 2] : words[optind - 1];
}

void TakeOption(const CommandRow& command, const OptionRow& option, char** words, Arguments& args) {
    const std::string word = OptionWord(words);
    const std::string flag = std::string("--") + option.name;
    // The name whole, never an abbreviation: a prefix that picks one option
    // today may pick another once an option is added.
    if (word.substr(0, word.find('=')) != flag) throw UnknownOption(command, word);
    if (option.value == nullptr) {
        args.options[option.name] = "";
        return;
    }
    const std::string value = optarg;
    // A value written as the next word that is an option itself was left out.
    if (word == flag && value.size() > 2 && value.compare(0, 2, "--") == 0)
        throw UsageError(std::string(command.name) + ": " + flag + " needs " + option.value);
    if (args.has(option.name)) throw UsageError(std::string(command.name) + ": " + flag + " given twice");
    std::string checked = value;
    if (const auto check = Checker(option))
        if (const std::string problem = check(checked); !problem.empty())
            throw UsageError(std::string(command.name) + ": " + flag + ": " + problem);
    args.options[option.name] = value;
}

// The command's words after its name, read with getopt_long (long options
// only, "--name value" or "--name=value", "--" ends the options). Nothing
// when help was asked for.
std::optional<Arguments> ReadCommandWords(const CommandRow& command, int argc, char** argv) {
    const std::vector<const OptionRow*> rows = OptionsOf(command);
    std::vector<option> longOptions;
    for (size_t i = 0; i < rows.size(); ++i)
        longOptions.push_back({rows[i]->name, rows[i]->value != nullptr ? required_argument : no_argument, nullptr,
                               kFirstOptionCode + static_cast<int>(i)});
    longOptions.push_back({"help", no_argument, nullptr, 'h'});
    longOptions.push_back({nullptr, 0, nullptr, 0});
    // The command's name stands where getopt_long expects the program's.
    char** words = argv + 1;
    const int count = argc - 1;
    Arguments args;
    optind = 0;  // a fresh start
    opterr = 0;  // the errors are told here
    // "-": each other word in its turn (code 1); ":": a missing value is ':'.
    for (int code; (code = getopt_long(count, words, "-:", longOptions.data(), nullptr)) != -1;) {
        if (code == 1) {
            args.positional.emplace_back(optarg);
        } else if (code >= kFirstOptionCode) {
            TakeOption(command, *rows[static_cast<size_t>(code - kFirstOptionCode)], words, args);
        } else if (code == 'h' || (code == '?' && optopt == 'h')) {
            return std::nullopt;
        } else if (code == ':') {
            const OptionRow& option = *rows[static_cast<size_t>(optopt - kFirstOptionCode)];
            throw UsageError(std::string(command.name) + ": --" + option.name + " needs " + option.value);
        } else if (optopt >= kFirstOptionCode) {
            const OptionRow& option = *rows[static_cast<size_t>(optopt - kFirstOptionCode)];
            throw UsageError(std::string(command.name) + ": --" + option.name + " takes no value");
        } else {
            const std::string word = optopt != 0 ? std::string("-") + static_cast<char>(optopt) : words[optind - 1];
            throw UnknownOption(command, word);
        }
    }
    for (int i = optind; i < count; ++i) args.positional.emplace_back(words[i]);  // after "--"
    return args;
}

}  // namespace

std::string LanguageFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        // The first variable set decides, as for every program.
        const std::string locale = value;
        return locale.rfind("de_", 0) == 0 || locale == "de" ? "DEU" : "";
    }
    return "";
}

std::optional<Invocation> ParseCommandLine(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (first.empty()) throw UsageError("give a command");
    if (first == "--version") return Invocation{"version", {}};
    if (first == "help" || first == "--help" || first == "-h") {
        if (argc > 3) throw UsageError("help takes at most one command");
        if (argc == 3 && FindCommand(argv[2]) == nullptr)
            throw UsageError("help: unknown command '" + std::string(argv[2]) + "'" +
                             DidYouMean(Closest(argv[2], CommandNames())));
        if (argc == 2) {
            std::fputs(Overview().c_str(), stdout);
            return std::nullopt;
        }
    }
    const CommandRow* command = FindCommand(first == "help" || first == "--help" || first == "-h" ? argv[2] : first);
    if (command == nullptr)
        throw UsageError("unknown command '" + first + "'" + DidYouMean(Closest(first, CommandNames())));

    if (first == "help" || first == "--help" || first == "-h") {
        std::fputs(CommandHelp(*command).c_str(), stdout);
        return std::nullopt;
    }
    std::optional<Arguments> args = ReadCommandWords(*command, argc, argv);
    if (!args) {
        std::fputs(CommandHelp(*command).c_str(), stdout);
        return std::nullopt;
    }
    for (const auto& [one, other] : command->exclusive)
        if (args->has(one) && args->has(other))
            throw UsageError(std::string(command->name) + ": --" + one + " excludes --" + other);
    if (args->positional.size() > command->maxArguments)
        throw TooManyArguments(*command, args->positional[command->maxArguments]);
    if (args->positional.size() < command->minArguments)
        throw UsageError(std::string(command->name) + ": give " + command->arguments);

    Invocation invocation{command->name, std::move(*args)};
    if (!invocation.args.has("lang"))
        if (const std::string language = LanguageFromEnvironment(); !language.empty())
            invocation.args.options["lang"] = language;
    return invocation;
}

}  // namespace zorbelu::cli
