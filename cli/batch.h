// zorbelu verify --batch LIST|DIR: many tokens verified in one run, on
// every core, as a single verify would verify each (the same options).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli_support.h"

namespace zorbelu::cli {

// One token to verify: its data as a file, or as an algorithm and a digest.
struct BatchEntry {
    std::string token;
    std::string data;       // "" when digestHex is given
    std::string algorithm;  // with digestHex: sha1, md5, sha256, sha384 or sha512
    std::string digestHex;
};

// The lines of a manifest (docs/cli.md), paths taken relative to its
// folder; "-" reads standard input, paths relative to the working folder.
// Throws UsageError naming the line of the first mistake.
std::vector<BatchEntry> ReadManifest(const std::string& path);
// Every *.tsr and *.tst of `folder` (not its subfolders), by name, each
// with the file of its name without that suffix as its data.
std::vector<BatchEntry> ReadTokenFolder(const std::filesystem::path& folder);

// verify: one token, or with --batch many.
int VerifyOneOrBatch(const Arguments& args);

}  // namespace zorbelu::cli
