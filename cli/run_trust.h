// Trust for one run of zorbelu: --ca-file FILE and --ca-dir DIR as trusted
// roots, --untrusted FILE and the certificates the token carries (unless
// --no-token-certs) as intermediates. Nothing is written to a store folder:
// the certificates go into PEM files of a private temporary folder that the
// stores show read-only through their overlay variables (ZORBELU_OVERLAY_ROOT
// and ZORBELU_OVERLAY_CA, platform/stores/system_store.h), which every copy
// of the stores in the process reads: the engines of libzorbelutilnd and
// libzorbel as well as zorbelu's own trust rule (trust_check.h).
//
// Trust comes only from "ROOT" and --ca-*. A certificate of the token or of
// --untrusted is offered only as an issuer, and only when it is a CA
// certificate, not self-issued, and its signatures verify up to a trusted
// root with what is at hand (the times are the engines' to judge): the
// store walks take an issuer of "CA" by its name, so an unchecked one from
// a hostile token would otherwise stand in for the real one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli_support.h"
#include "zorbelutil.h"

namespace zorbelu::cli {

// At most this many certificates from --ca-file and --ca-dir together, and
// as many as intermediates.
inline constexpr size_t kMaxRunCertificates = 512;

class RunTrust {
public:
    // Reads the options and the token's certificates and sets the overlay
    // for as long as the object lives. Throws UsageError for a --ca-file,
    // --ca-dir or --untrusted that holds no certificate, FileError for one
    // that cannot be read.
    RunTrust(const Arguments& args, const ZORBELUBlob& token);
    ~RunTrust();
    RunTrust(const RunTrust&) = delete;
    RunTrust& operator=(const RunTrust&) = delete;

private:
    void Overlay(const char* variable, const std::filesystem::path& file);
    // The variables as they were, and the folder gone.
    void Restore() noexcept;

    std::filesystem::path folder_;  // empty: nothing written
    std::vector<std::pair<const char*, std::optional<std::string>>> previous_;  // variables as they were
};

}  // namespace zorbelu::cli
