// Resource text and the error message box (code 1 is success: no code line); the known services by id and policy.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "platform/module.h"
#include "ui/message_box.h"
#include "ui/ui_headless.h"
#include "zorbelutil.h"

namespace {

using namespace zorbelu;

// Long texts grow the buffer until they fit; the error-code line comes from the current module.
TEST(ResourceText, FromTheCurrentModuleWholeAndWithItsFormat) {
    platform::HINSTANCE module = platform::LoadLibraryA(TEST_LANGUAGE_MODULE);
    ASSERT_NE(module, nullptr);
    frame::AfxSetResourceHandle(module);
    EXPECT_EQ(frame::LoadResourceString(5900), std::string(600, 'x'));
    EXPECT_EQ(frame::LoadResourceString(5901), std::string(255, 'y'));  // exactly fills the first buffer
    EXPECT_EQ(frame::LoadResourceString(5002), "");  // the test module has only a few texts
    platform::headless::ClearRecordedMessageBoxes();
    frame::ShowMessageByText("Failed.", 1004, platform::MB_ICONSTOP);
    frame::ShowMessageByText("Done.", 1, platform::MB_OK);
    ASSERT_EQ(platform::headless::RecordedMessageBoxes().size(), 2u);
    EXPECT_EQ(platform::headless::RecordedMessageBoxes()[0].text, "Failed. [code 1004]");
    EXPECT_EQ(platform::headless::RecordedMessageBoxes()[1].text, "Done.");
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    platform::FreeLibrary(module);
}

TEST(Services, IdsOfExactPolicyIdentifiersOnly) {
    const struct {
        const char* oid;
        int32_t length;
        uint32_t result, id;
    } cases[] = {  // the length is only refused when 0
        {"0.2.440.731846.100.200.100", 26, ZORBELU_OK, 0},  {"0.2.440.731859.100.200.100", 26, ZORBELU_OK, 1},
        {"1.2.410.100001.2.1.7.2", 22, ZORBELU_OK, 2},      {"0.2.440.731846.100.200.102", 26, ZORBELU_OK, 4},
        {"0.2.440.731846.100.200.101", 5, ZORBELU_OK, 3},
        {"0.2.440.731846.100.200.101 ", 27, ZORBELU_ERR_UNKNOWN_SERVICE, 99},
        {"0.2.440.731846.100.200.10", 25, ZORBELU_ERR_UNKNOWN_SERVICE, 99},
        {"0.2.440.731846.100.200.101", 0, ZORBELU_ERR_PARAM, 99}, {nullptr, 5, ZORBELU_ERR_PARAM, 99}};
    for (const auto& c : cases) {
        uint32_t id = 99;
        EXPECT_EQ(ZORBELUGetServiceId(c.oid, c.length, &id), c.result) << (c.oid ? c.oid : "(null)") << " " << c.length;
        EXPECT_EQ(id, c.id);
    }
    EXPECT_EQ(ZORBELUGetServiceId("1.2.410.100001.2.1.7.2", 22, nullptr), ZORBELU_ERR_PARAM);
    const uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    const ZORBELUBlob token{junk, sizeof junk};
    uint32_t id = 0;
    EXPECT_EQ(ZORBELUGetServiceIdFromTimeStampToken(nullptr, &id), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUGetServiceIdFromTimeStampToken(&token, nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUGetServiceIdFromTimeStampToken(&token, &id), ZORBELU_ERR_EXCEPTION);
}

// Services 0 to 2 have an endpoint, 3 and 4 none; the records are zero-filled.
TEST(Services, TextsOfEachServiceAndNothingElse) {
    const char* policies[] = {"0.2.440.731846.100.200.100", "0.2.440.731859.100.200.100", "1.2.410.100001.2.1.7.2",
                              "0.2.440.731846.100.200.101", "0.2.440.731846.100.200.102"};
    for (uint32_t id = 0; id < 5; ++id) {
        ZORBELUServiceInfo info;
        std::memset(&info, 0x55, sizeof info);
        ASSERT_EQ(ZORBELUGetKovraServiceInfo(id, &info), ZORBELU_OK);
        EXPECT_EQ(std::to_string(info.serviceId) + info.policyOid, std::to_string(id) + policies[id]);
        const std::string url = info.url;
        EXPECT_EQ(id < 3, url.rfind("http://", 0) == 0 && url.find("/kelmtssvr/TSRequest") != std::string::npos);
        EXPECT_TRUE((id < 3 || url.empty()) && info.name[0] != '\0') << url;
        EXPECT_TRUE(info.name[sizeof info.name - 1] == '\0' && info.url[sizeof info.url - 1] == '\0');
    }
    ZORBELUServiceInfo info;
    std::memset(&info, 0x55, sizeof info);
    EXPECT_EQ(ZORBELUGetKovraServiceInfo(5, &info), ZORBELU_ERR_PARAM);
    const ZORBELUServiceInfo zero{};
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
    EXPECT_EQ(ZORBELUGetKovraServiceInfo(0, nullptr), ZORBELU_ERR_PARAM);

    // "about:blank" in a resource module means no endpoint.
    platform::HINSTANCE module = platform::LoadLibraryA(TEST_LANGUAGE_MODULE);
    ASSERT_NE(module, nullptr);
    frame::AfxSetResourceHandle(module);
    EXPECT_EQ(ZORBELUGetKovraServiceInfo(2, &info), ZORBELU_OK);
    EXPECT_EQ(std::string(info.url) + info.name, "");  // the test module holds no name for it either
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    platform::FreeLibrary(module);
}

}  // namespace
