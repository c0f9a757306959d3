// zorbelu's commands on tokens.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "cli_support.h"
#include "proxy_settings.h"
#include "trust_check.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace zorbelu::cli {

int InfoCommand(const Arguments& args);
int VerifyCommand(const Arguments& args);

// A token file's bytes.
struct Token {
    std::string bytes;
    ZORBELUBlob blob() const {
        return {reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
    }
};

// The token file named first; throws UsageError.
Token LoadToken(const Arguments& args);
// What the token says, when it can be read.
std::optional<ZORBELTimeStampInfo> ReadInfo(const Token& token);
// The digest of the data: hashed from --data with the token's own imprint
// algorithm (or --alg), or given with --digest HEX. Throws UsageError.
ZORBELUDigestInfoEx DataDigest(const Arguments& args, const std::optional<ZORBELTimeStampInfo>& info);
ZORBELUDigestInfo ShortDigest(const ZORBELUDigestInfoEx& digest);

// The verification the options choose (see zorbelu help), its 2501 kept
// only when the TSA certificate earns trust (trust_check.h) under an engine
// that checks the chain.
// `trustSettled`: the run's trust overlay is already in place for the whole
// process (a batch sets it once, before its threads start, since the
// overlay lives in the environment); otherwise this call sets its own.
CheckedStatus Verify(const Arguments& args, const Token& token, const ZORBELUDigestInfoEx& digest,
                     bool trustSettled = false);

// Shows the seconds a verification has been waiting, on a terminal, since
// downloads can take a while.
class Progress {
public:
    Progress();
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    // From now on shows nothing (verify --batch shows its own bar).
    static void Silence();

private:
    void Run();
    bool enabled_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace zorbelu::cli
