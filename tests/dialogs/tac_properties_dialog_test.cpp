// The TAC properties dialog on the headless backend: the fields of a real
// token's TAC read through libzorbel, records at the edges of their arrays,
// the German module.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "core/test_util.h"
#include "dialogs/dialog_test_pki.h"
#include "dialogs/token/tac_properties_dialog.h"
#include "frame/module_state.h"
#include "ui/dialog.h"
#include "platform/module.h"
#include "ui/ui_headless.h"
#include "support/tac_builder.h"
#include "support/real_world_data.h"

namespace {

using namespace zorbelu;
using namespace zorbelu::dialogs::tac_ids;
namespace hl = platform::headless;
using coretest::Bytes;

struct TacRecords {
    ZORBELTACCertInfo info{};
    ZORBELTACTimingMetrics metrics{};
    ZORBELTACTimingPolicy policy{};
};

// The TAC of a token, decoded by the core library as the token properties
// dialog does.
TacRecords DecodeTac(const Bytes& token) {
    TacRecords r;
    std::vector<uint8_t> buffer(4000);
    ZORBELUCertBlob tac{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    const ZORBELUBlob blob = coretest::Blob(token);
    EXPECT_EQ(ZORBELGetTAC(&blob, &tac), 1u);
    const ZORBELUBlob tacBlob{tac.data, tac.length};
    EXPECT_EQ(ZORBELGetTACCertInfo(&tacBlob, &r.info), 1u);
    EXPECT_EQ(ZORBELGetTACTimingMetrics(&tacBlob, &r.metrics), 1u);
    EXPECT_EQ(ZORBELGetTACTimingPolicy(&tacBlob, &r.policy), 1u);
    return r;
}

// Shows the dialog, closes it with OK and gives the window as it opened.
hl::WindowState Show(const TacRecords& r) {
    hl::Reset();
    hl::QueueScript({hl::Press(platform::IDOK)});
    EXPECT_EQ(dialogs::ShowTACDialog(r.info, r.metrics, r.policy), 1u);
    EXPECT_EQ(hl::Runs().size(), 1u);
    EXPECT_FALSE(hl::Runs().empty() || hl::Runs()[0].closedByBackend);
    return hl::Runs().empty() ? hl::WindowState{} : hl::Runs()[0].atStart;
}

std::map<int, std::string> Fields(const hl::WindowState& w) {
    std::map<int, std::string> fields;
    for (const hl::ControlState& c : w.controls)
        if (c.kind == ZORBELU_CTL_EDIT) fields[c.id] = c.text;
    return fields;
}

// The text with every uppercase hex digit as 'X': its shape.
std::string Shape(const std::string& text) {
    std::string shape = text;
    for (char& c : shape)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) c = 'X';
    return shape;
}

std::string Lines(int count, size_t digits) {
    std::string out;
    for (int i = 0; i < count; ++i) out += std::string(digits, 'X') + "\r\n";
    return out;
}

class TacDialog : public testing::Test {
protected:
    void SetUp() override { frame::AfxSetResourceHandle(platform::OwnModuleHandle()); }
    void TearDown() override { frame::AfxSetResourceHandle(platform::OwnModuleHandle()); }
};

// The decoding itself is judged in tac_test.cpp; here only how the dialog
// formats what the records hold (names, negative offsets, value lines).
TEST_F(TacDialog, RealTokenTac) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const TacRecords r =
        DecodeTac(coretest::ReadFile(coretest::RealWorld("bc-java/tsp/generalizedTime.tsr")));
    const hl::WindowState w = Show(r);
    EXPECT_EQ(w.templateId, 129u);
    auto f = Fields(w);
    ASSERT_EQ(f.size(), 21u);
    EXPECT_EQ(f[kVersion], " 2");
    EXPECT_EQ(f[kIssuer], " C=US, O=nCipher Corporation Limited, OU=Production Test, CN=Test TMC");
    EXPECT_EQ(f[kSerialNumber], " C5DA355B00000000");
    EXPECT_EQ(f[kSignatureName], " SHA-1 with RSA Encryption");
    EXPECT_EQ(f[kSignatureLength], " 1024");
    // 128 bytes: two lines of 64, each ended by a break, no leading space.
    EXPECT_EQ(Shape(f[kSignatureValue]), Lines(2, 128));
    EXPECT_EQ(f[kMetricsOffset], " -0.026809");
    EXPECT_EQ(f[kPolicyDelay], " 0.250000");
}

TEST_F(TacDialog, RecordsAreNeverReadPastTheirArrays) {
    TacRecords r;
    std::memset(r.info.holder, 'H', sizeof r.info.holder);  // no NUL at all
    std::memset(r.metrics.auditedTime, '7', sizeof r.metrics.auditedTime);
    std::memset(r.info.holderHashValue, 0xAB, sizeof r.info.holderHashValue);
    r.info.holderHashLength = 1000;
    std::memset(r.info.signatureValue, 0x01, sizeof r.info.signatureValue);
    r.info.signatureLength = 5000;
    std::strcpy(r.info.signatureAlgorithmOid, "1.2.3");
    r.info.serialNumber[0] = 1;
    auto f = Fields(Show(r));
    EXPECT_EQ(f[kHolder], " " + std::string(512, 'H'));
    EXPECT_EQ(f[kAuditedTime], " " + std::string(32, '7'));
    std::string fortyBytes;
    for (int i = 0; i < 40; ++i) fortyBytes += "AB";
    EXPECT_EQ(f[kHolderHashValue], " " + fortyBytes);  // 40 bytes, not 1000
    EXPECT_EQ(f[kHolderHashLength], " 8000");  // the record's own count
    EXPECT_EQ(f[kSignatureValue].size(), 2048u + 16 * 2);  // 1024 bytes in 16 lines
    EXPECT_EQ(f[kSignatureLength], " 40000");
    EXPECT_EQ(f[kSignatureName], " Unknown object identifier");
    EXPECT_EQ(f[kHolderHashName], " Unknown object identifier");  // the empty identifier
    EXPECT_EQ(f[kSerialNumber], " 0100000000");
}

TEST_F(TacDialog, ShortSignatureStaysOnOneLine) {
    TacRecords r;
    r.info.signatureLength = 64;
    r.info.holderHashLength = 20;
    std::strcpy(r.info.holderHashAlgorithmOid, "2.16.840.1.101.3.4.2.1");
    auto f = Fields(Show(r));
    EXPECT_EQ(f[kSignatureValue], std::string(128, '0'));
    EXPECT_EQ(f[kHolderHashValue], " " + std::string(40, '0'));
    EXPECT_EQ(f[kHolderHashLength], " 160");
    EXPECT_EQ(f[kHolderHashName], " SHA-256");
}

TEST_F(TacDialog, GermanModuleGivesTemplateAndNames) {
    platform::HINSTANCE german = platform::LoadLibraryA(GERMAN_LANGUAGE_MODULE);
    ASSERT_NE(german, nullptr);
    frame::AfxSetResourceHandle(german);
    TacRecords r;
    std::strcpy(r.info.signatureAlgorithmOid, "1.3.14.3.2.26");
    const hl::WindowState w = Show(r);
    EXPECT_EQ(w.caption, "Eigenschaften des Zeitattributzertifikats");
    std::set<std::string> labels;
    for (const hl::ControlState& c : w.controls) labels.insert(c.text);
    EXPECT_TRUE(labels.count("Inhaber") == 1 && labels.count("Signaturwert:") == 1);
    auto f = Fields(w);
    EXPECT_EQ(f[kSignatureName], " SHA-1");
    EXPECT_EQ(f[kHolderHashName], " Unbekannte Objektkennung");
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    platform::FreeLibrary(german);
}

}  // namespace
