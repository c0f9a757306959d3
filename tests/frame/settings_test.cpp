// The settings exports as a host calls them: every refusal leaves the
// setting as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zorbelutil.h"

namespace {

constexpr uint32_t kCode = ZORBELU_PRIVATE_CALLER_CODE;
constexpr uint32_t kWrongCode = ZORBELU_PRIVATE_CALLER_CODE ^ 1u;

std::string ModuleName() {
    char buffer[300] = {};
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, sizeof buffer, kCode), ZORBELU_OK);
    return buffer;
}

TEST(Version, WritesEachNumberThroughItsPointer) {
    uint32_t major = 0, minor = 7, build = 0;
    EXPECT_EQ(ZORBELUGetLibVer(&major, &minor, &build), ZORBELU_OK);
    EXPECT_EQ(major, 5u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(build, 101u);
    EXPECT_EQ(ZORBELUGetLibVer(nullptr, nullptr, nullptr), ZORBELU_OK);
    uint32_t onlyBuild = 0;
    EXPECT_EQ(ZORBELUGetLibVer(nullptr, nullptr, &onlyBuild), ZORBELU_OK);
    EXPECT_EQ(onlyBuild, 101u);
}

TEST(Defaults, FlagsTitleAndNamesStartAsDocumented) {
    EXPECT_EQ(ZORBELUPRVDoDisplayedIssuerInfo(), 1);
    EXPECT_EQ(ZORBELUPRVDoDisplayedTempravoLogo(), 0);
    EXPECT_EQ(ZORBELUPRVGetResourceDLL(), nullptr);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signature Properties");
    char buffer[1] = {'x'};
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, 1, kCode), ZORBELU_OK);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(Language, AcceptsExactlyThreeCharacters) {
    EXPECT_EQ(ZORBELUSetLanguage(nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUSetLanguage("DE"), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUSetLanguage("DEUT"), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUSetLanguage(""), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUSetLanguage("a1?"), ZORBELU_OK);
}

struct TextSetterCase {
    const char* name;
    uint32_t (*set)(const char*, uint32_t, uint32_t);
};

class TextSetters : public testing::TestWithParam<TextSetterCase> {};

TEST_P(TextSetters, RefuseBadArgumentsWithTheirCodes) {
    const auto set = GetParam().set;
    const std::string max(256, 'm');
    const std::string tooLong(257, 'l');
    EXPECT_EQ(set("abc", 3, kWrongCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(set(nullptr, 3, kCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(set("abc", 0, kCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(set("abc", 2, kCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(set("abc", 4, kCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(set(tooLong.c_str(), 257, kCode), ZORBELU_ERR_TOO_LONG);
    EXPECT_EQ(set(tooLong.c_str(), 257, kWrongCode), ZORBELU_ERR_PARAM);  // the caller code comes first
    EXPECT_EQ(set(max.c_str(), 256, kCode), ZORBELU_OK);
}

INSTANTIATE_TEST_SUITE_P(All, TextSetters,
                         testing::Values(TextSetterCase{"ModuleName", ZORBELUPRVSetModuleName},
                                         TextSetterCase{"MessageDlgTitle", ZORBELUPRVSetMessageDlgTitle},
                                         TextSetterCase{"VerifiedDlgTitle", ZORBELUPRVSetVerifiedDlgTitle}),
                         [](const testing::TestParamInfo<TextSetterCase>& test) { return std::string(test.param.name); });

TEST(ModuleName, RefusalsKeepTheStoredName) {
    ASSERT_EQ(ZORBELUPRVSetModuleName("Archive", 7, kCode), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVSetModuleName("Other", 5, kWrongCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUPRVSetModuleName("Other", 4, kCode), ZORBELU_ERR_PARAM);
    const std::string tooLong(257, 'l');
    EXPECT_EQ(ZORBELUPRVSetModuleName(tooLong.c_str(), 257, kCode), ZORBELU_ERR_TOO_LONG);
    EXPECT_EQ(ModuleName(), "Archive");
}

TEST(ModuleName, ReadingNeedsRoomForTheNul) {
    ASSERT_EQ(ZORBELUPRVSetModuleName("Archive", 7, kCode), ZORBELU_OK);
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, 7, kCode), ZORBELU_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, 8, kCode), ZORBELU_OK);
    EXPECT_STREQ(buffer, "Archive");
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, 8, kWrongCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUPRVGetModuleName(nullptr, 8, kCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, 0, kCode), ZORBELU_ERR_PARAM);
}

TEST(VerifiedDlgTitle, TheHostsTitleReplacesTheDefault) {
    const std::string title(256, 't');
    ASSERT_EQ(ZORBELUPRVSetVerifiedDlgTitle(title.c_str(), 256, kCode), ZORBELU_OK);
    EXPECT_EQ(std::string(ZORBELUPRVGetVerifiedDlgTitle()), title);
    ASSERT_EQ(ZORBELUPRVSetVerifiedDlgTitle("Short", 5, kCode), ZORBELU_OK);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Short");  // the longer title left nothing behind
    EXPECT_EQ(ZORBELUPRVSetVerifiedDlgTitle("Other", 5, kWrongCode), ZORBELU_ERR_PARAM);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Short");
}

TEST(Flags, AcceptOnlyZeroAndOne) {
    for (const int32_t bad : {2, -1, 100}) {
        EXPECT_EQ(ZORBELUPRVSetDoDisplayedIssuerInfo(bad), ZORBELU_ERR_PARAM);
        EXPECT_EQ(ZORBELUPRVSetDoDisplayedTempravoLogo(bad), ZORBELU_ERR_PARAM);
    }
    EXPECT_EQ(ZORBELUPRVDoDisplayedIssuerInfo(), 1);
    EXPECT_EQ(ZORBELUPRVDoDisplayedTempravoLogo(), 0);
    EXPECT_EQ(ZORBELUPRVSetDoDisplayedIssuerInfo(0), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVSetDoDisplayedTempravoLogo(1), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVDoDisplayedIssuerInfo(), 0);
    EXPECT_EQ(ZORBELUPRVDoDisplayedTempravoLogo(), 1);
}

TEST(ResourceDll, NeedsTheCallerCodeAndTakesAnyHandle) {
    int marker = 0;
    EXPECT_EQ(ZORBELUPRVSetResourceDLL(&marker, kWrongCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUPRVGetResourceDLL(), nullptr);
    EXPECT_EQ(ZORBELUPRVSetResourceDLL(&marker, kCode), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVGetResourceDLL(), &marker);
    EXPECT_EQ(ZORBELUPRVSetResourceDLL(nullptr, kCode), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVGetResourceDLL(), nullptr);
}

}  // namespace
