// The settings and language exports as a host calls them: a refusal keeps the setting; one process per test.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "zorbelutil.h"

namespace {

constexpr uint32_t kCode = ZORBELU_PRIVATE_CALLER_CODE;
constexpr uint32_t kWrongCode = ZORBELU_PRIVATE_CALLER_CODE ^ 1u;

TEST(Settings, VersionAndDefaults) {
    EXPECT_EQ(ZORBELUGetLibVer(nullptr, nullptr, nullptr), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVDoDisplayedIssuerInfo() * 10 + ZORBELUPRVDoDisplayedTempravoLogo(), 10);
    EXPECT_EQ(ZORBELUPRVGetResourceDLL(), nullptr);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signature Properties");
    char buffer[1] = {'x'};
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, 1, kCode), ZORBELU_OK);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(Settings, LanguageCodesAreExactlyThreeCharacters) {
    for (const char* bad : {static_cast<const char*>(nullptr), "DE", "DEUT", ""})
        EXPECT_EQ(ZORBELUSetLanguage(bad), ZORBELU_ERR_PARAM) << (bad ? bad : "(null)");
    EXPECT_EQ(ZORBELUSetLanguage("a1?"), ZORBELU_OK);
}

// The text setters check caller code, then text and length, then 256 characters; a refusal keeps the old text.
TEST(Settings, TextSettersRefuseBadArgumentsWithTheirCodes) {
    const std::string max(256, 'm'), tooLong(257, 'l');
    for (const auto set : {ZORBELUPRVSetModuleName, ZORBELUPRVSetMessageDlgTitle, ZORBELUPRVSetVerifiedDlgTitle}) {
        const std::pair<uint32_t, uint32_t> refused[] = {
            {set("abc", 3, kWrongCode), ZORBELU_ERR_PARAM}, {set(nullptr, 3, kCode), ZORBELU_ERR_PARAM},
            {set("abc", 0, kCode), ZORBELU_ERR_PARAM},      {set("abc", 2, kCode), ZORBELU_ERR_PARAM},
            {set("abc", 4, kCode), ZORBELU_ERR_PARAM},      {set(tooLong.c_str(), 257, kCode), ZORBELU_ERR_TOO_LONG},
            {set(tooLong.c_str(), 257, kWrongCode), ZORBELU_ERR_PARAM}, {set(max.c_str(), 256, kCode), ZORBELU_OK}};
        for (const auto& [result, expected] : refused) EXPECT_EQ(result, expected);
    }
    ASSERT_EQ(ZORBELUPRVSetModuleName("Archive", 7, kCode), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVSetModuleName("Other", 5, kWrongCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUPRVSetModuleName(tooLong.c_str(), 257, kCode), ZORBELU_ERR_TOO_LONG);
    char buffer[8] = {'#'};  // read back only with room for the NUL
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, 7, kCode), ZORBELU_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(ZORBELUPRVGetModuleName(buffer, 8, kCode), ZORBELU_OK);
    EXPECT_STREQ(buffer, "Archive");
    using Args = std::tuple<char*, uint32_t, uint32_t>;
    for (const auto& [b, size, code] : {Args{buffer, 8, kWrongCode}, Args{nullptr, 8, kCode}, Args{buffer, 0, kCode}})
        EXPECT_EQ(ZORBELUPRVGetModuleName(b, size, code), ZORBELU_ERR_PARAM);
}

TEST(Settings, TheHostsTitleReplacesTheDefaultWhole) {
    const std::string title(256, 't');
    ASSERT_EQ(ZORBELUPRVSetVerifiedDlgTitle(title.c_str(), 256, kCode), ZORBELU_OK);
    EXPECT_EQ(std::string(ZORBELUPRVGetVerifiedDlgTitle()), title);
    ASSERT_EQ(ZORBELUPRVSetVerifiedDlgTitle("Short", 5, kCode), ZORBELU_OK);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Short");  // the longer title left nothing behind
    EXPECT_EQ(ZORBELUPRVSetVerifiedDlgTitle("Other", 5, kWrongCode), ZORBELU_ERR_PARAM);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Short");
}

TEST(Settings, FlagsAreZeroOrOneAndTheResourceModuleNeedsTheCallerCode) {
    for (const int32_t bad : {2, -1, 100}) {
        EXPECT_EQ(ZORBELUPRVSetDoDisplayedIssuerInfo(bad), ZORBELU_ERR_PARAM);
        EXPECT_EQ(ZORBELUPRVSetDoDisplayedTempravoLogo(bad), ZORBELU_ERR_PARAM);
    }
    EXPECT_EQ(ZORBELUPRVSetDoDisplayedIssuerInfo(0), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVSetDoDisplayedTempravoLogo(1), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVDoDisplayedIssuerInfo() * 10 + ZORBELUPRVDoDisplayedTempravoLogo(), 1);
    int marker = 0;
    EXPECT_EQ(ZORBELUPRVSetResourceDLL(&marker, kWrongCode), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUPRVGetResourceDLL(), nullptr);
    EXPECT_EQ(ZORBELUPRVSetResourceDLL(&marker, kCode), ZORBELU_OK);
    EXPECT_EQ(ZORBELUPRVGetResourceDLL(), &marker);
}

// ---- The language module beside the library -----------------------------------------

// Whether the German module beside the library is loaded (by full path).
bool GermanModuleIsLoaded() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ZORBELUGetLibVer), &info) == 0 || info.dli_fname == nullptr) return false;
    const std::string path = info.dli_fname;
    const std::string module = path.substr(0, path.rfind('/') + 1) + "libzorbelutilndDEU.so";
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

// A missing module falls back to the library's own file: the German module stays loaded, unused.
TEST(Language, AModuleOnceCurrentStaysLoadedWhenTheCodeChanges) {
    ASSERT_EQ(ZORBELUSetLanguage("DEU"), ZORBELU_OK);
    ASSERT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signatureigenschaften");
    ASSERT_EQ(ZORBELUSetLanguage("FRA"), ZORBELU_OK);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signature Properties");
    EXPECT_TRUE(GermanModuleIsLoaded());
}

TEST(Language, AHostTitleWinsOverTheLanguageModule) {
    const bool loadedBefore = GermanModuleIsLoaded();
    ASSERT_EQ(ZORBELUSetLanguage("DEU"), ZORBELU_OK);
    ASSERT_EQ(ZORBELUPRVSetVerifiedDlgTitle("Mine", 4, kCode), ZORBELU_OK);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Mine");
    EXPECT_EQ(GermanModuleIsLoaded(), loadedBefore);  // the host's title needs no module
}

}  // namespace
