// A stand-in for the certificate viewer: a shell script, written into a
// temporary folder whose name has a space, that records the arguments it is
// started with, one a line. While it lives, ZORBELU_CERT_VIEWER and
// ZORBELU_CRL_VIEWER start it (with "--as-cert" or "--as-crl" before the
// file name) and TMPDIR points into that folder.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/served_pki.h"

namespace zorbelu::dialogtest {

class SavedVariable {
public:
    explicit SavedVariable(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) old_ = value;
    }
    ~SavedVariable() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    SavedVariable(const SavedVariable&) = delete;
    SavedVariable& operator=(const SavedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ViewerStandIn {
public:
    // `extra` runs after the arguments are recorded (e.g. "sleep 3").
    explicit ViewerStandIn(const std::string& extra = "") {
        std::filesystem::create_directories(tmp());
        const std::filesystem::path script = dir_.path() / "viewer.sh";
        std::ofstream(script) << "#!/bin/sh\n"
                              << ": > '" << record().string() << "'\n"
                              << "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << record().string() << "'; done\n"
                              << extra << "\n";
        chmod(script.c_str(), 0755);
        setenv("ZORBELU_CERT_VIEWER", (script.string() + " --as-cert").c_str(), 1);
        setenv("ZORBELU_CRL_VIEWER", (script.string() + " --as-crl").c_str(), 1);
        setenv("TMPDIR", tmp().c_str(), 1);
    }

    // The folder TMPDIR names: "<temp>/with space".
    std::filesystem::path tmp() const { return dir_.path() / "with space"; }
    std::filesystem::path record() const { return dir_.path() / "args.txt"; }

    // The arguments of the last start; empty when it never ran.
    std::vector<std::string> Arguments() const {
        std::ifstream in(record());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    void Forget() const { std::filesystem::remove(record()); }

private:
    SavedVariable cert_{"ZORBELU_CERT_VIEWER"};
    SavedVariable crl_{"ZORBELU_CRL_VIEWER"};
    SavedVariable tmp_{"TMPDIR"};
    test::TempDir dir_;
};

}  // namespace zorbelu::dialogtest
