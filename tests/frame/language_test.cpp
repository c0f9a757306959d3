// The language module beside the library: found by the path rule, used for
// the default dialog title, and replaced by the library's own texts when
// missing. Each test runs in a process of its own, since a language module
// once current stays current.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "zorbelutil.h"

namespace {

// The module's full path beside the library (a bare name would be looked up
// through the search path of whoever calls dlopen, which differs under the
// sanitizers).
std::string BesideTheLibrary(const char* fileName) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ZORBELUGetLibVer), &info) == 0 || info.dli_fname == nullptr) return fileName;
    std::string path = info.dli_fname;
    return path.substr(0, path.rfind('/') + 1) + fileName;
}

bool ModuleIsLoaded(const char* fileName) {
    void* handle = dlopen(BesideTheLibrary(fileName).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

TEST(Language, NoLanguageUsesTheLibrarysOwnTexts) {
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signature Properties");
}

TEST(Language, GermanModuleBesideTheLibraryGivesTheTitle) {
    ASSERT_EQ(ZORBELUSetLanguage("DEU"), ZORBELU_OK);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signatureigenschaften");
    EXPECT_TRUE(ModuleIsLoaded("libzorbelutilndDEU.so"));
}

TEST(Language, MissingModuleFallsBackToEnglishWithoutError) {
    ASSERT_EQ(ZORBELUSetLanguage("FRA"), ZORBELU_OK);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signature Properties");
}

TEST(Language, AModuleOnceCurrentStaysWhenTheCodeChanges) {
    ASSERT_EQ(ZORBELUSetLanguage("DEU"), ZORBELU_OK);
    ASSERT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signatureigenschaften");
    // A missing module falls back to the library's own file, which then
    // becomes current: the German module is no longer used, but stays loaded.
    ASSERT_EQ(ZORBELUSetLanguage("FRA"), ZORBELU_OK);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Signature Properties");
    EXPECT_TRUE(ModuleIsLoaded("libzorbelutilndDEU.so"));
}

TEST(Language, AHostTitleWinsOverTheLanguageModule) {
    const bool loadedBefore = ModuleIsLoaded("libzorbelutilndDEU.so");
    ASSERT_EQ(ZORBELUSetLanguage("DEU"), ZORBELU_OK);
    ASSERT_EQ(ZORBELUPRVSetVerifiedDlgTitle("Mine", 4, ZORBELU_PRIVATE_CALLER_CODE), ZORBELU_OK);
    EXPECT_STREQ(ZORBELUPRVGetVerifiedDlgTitle(), "Mine");
    EXPECT_EQ(ModuleIsLoaded("libzorbelutilndDEU.so"), loadedBefore);  // the host's title needs no module
}

}  // namespace
