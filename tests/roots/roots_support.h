// What the root-store tests share: a temporary store, the committed
// certificates and their test-only keys, and tokens issued under them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/served_pki.h"

namespace zorbelu::test {

inline constexpr uint32_t kCertIds[] = {1007, 1008, 1009, 1010, 1011, 1012, 1080, 1081};

// The committed DER bytes of res/certs/cert_<id>.der.
std::string CommittedCert(uint32_t id);

// The certificate files of a store folder, by name.
std::vector<std::string> StoreFiles(const std::filesystem::path& folder);

// Which committed certificates the files of a store folder hold, by id,
// sorted; 0 for a file that holds none of them byte for byte.
std::vector<uint32_t> StoreIds(const std::filesystem::path& folder);

// A time-stamp token (DER) for `policy`, signed by a fresh TSA certificate
// (critical timeStamping usage) that the certificate `issuerId` issued with
// its key from tests/data/root_keys.
std::string TokenIssuedUnder(uint32_t issuerId, const std::string& policy);

// Every test starts with empty, writable "ROOT" and "CA" stores in a
// temporary folder, without the system bundle, and with no confirmation
// answered by the environment.
class RootStoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path root() const { return dir_.path() / "ROOT"; }
    std::filesystem::path ca() const { return dir_.path() / "CA"; }
    // Puts the committed certificate into a store folder, as a person would.
    void Install(const std::filesystem::path& folder, uint32_t id, const std::string& bytes = "") const;

    TempDir dir_;
};

}  // namespace zorbelu::test
