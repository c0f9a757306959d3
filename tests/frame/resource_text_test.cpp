// Resource text inside the library: module paths, the string loader, the
// temporary module and the error message box.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "frame/app.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "platform/message_box.h"
#include "platform/module.h"

namespace {

using namespace zorbelu;

struct PathCase {
    const char* in;
    const char* out;
};

TEST(PathRemoveExtension, StripsTheSharedObjectSuffixWithItsVersion) {
    const PathCase cases[] = {
        {"/usr/lib/libzorbelutilnd.so", "/usr/lib/libzorbelutilnd"},
        {"/usr/lib/libzorbelutilnd.so.5", "/usr/lib/libzorbelutilnd"},
        {"/usr/lib/libzorbelutilnd.so.5.0.101", "/usr/lib/libzorbelutilnd"},
        {"./libx.so", "./libx"},
        {"/opt/a.b/tool.bin", "/opt/a.b/tool"},
        {"/opt/a.so.d/tool", "/opt/a.so.d/tool"},  // only the file name counts
        {"/opt/libsorted", "/opt/libsorted"},
        {"/opt/.hidden", "/opt/.hidden"},
    };
    for (const PathCase& c : cases) {
        std::vector<char> path(c.in, c.in + std::strlen(c.in) + 1);
        platform::PathRemoveExtensionA(path.data());
        EXPECT_STREQ(path.data(), c.out) << c.in;
    }
}

TEST(LanguageModulePath, RefusesBadArgumentsAndAnUnsetLanguage) {
    char buffer[64];
    EXPECT_EQ(frame::LanguageModulePath(nullptr, 64), 1001u);
    EXPECT_EQ(frame::LanguageModulePath(buffer, 0), 1001u);
    frame::Settings().languageCode[0] = '\0';
    EXPECT_FALSE(frame::LanguageIsSet());
    EXPECT_EQ(frame::LanguageModulePath(buffer, sizeof buffer), frame::kResultLanguageNotSet);
}

TEST(LanguageModulePath, IsTheOwnFileWithTheCodeBeforeSo) {
    std::memcpy(frame::Settings().languageCode, "DEU", 4);
    char own[4096] = {};
    ASSERT_GT(platform::GetModuleFileNameA(platform::OwnModuleHandle(), own, sizeof own), 0u);
    platform::PathRemoveExtensionA(own);
    char path[4096] = {};
    ASSERT_EQ(frame::LanguageModulePath(path, sizeof path), 1u);
    EXPECT_EQ(std::string(path), std::string(own) + "DEU.so");
    char small[5] = {};
    ASSERT_EQ(frame::LanguageModulePath(small, 4), 1u);  // copied like strncpy: cut, no NUL added
    EXPECT_EQ(std::string(small, 4), std::string(path, 4));
    frame::Settings().languageCode[0] = '\0';
}

class WithTestModule : public testing::Test {
protected:
    void SetUp() override {
        module_ = platform::LoadLibraryA(TEST_LANGUAGE_MODULE);
        ASSERT_NE(module_, nullptr);
        previous_ = frame::AfxGetResourceHandle();
        frame::AfxSetResourceHandle(module_);
    }
    void TearDown() override {
        frame::AfxSetResourceHandle(previous_);
        platform::FreeLibrary(module_);
    }
    platform::HINSTANCE module_ = nullptr;
    platform::HINSTANCE previous_ = nullptr;
};

TEST_F(WithTestModule, LongStringsAreLoadedWhole) {
    EXPECT_EQ(frame::LoadResourceString(5900), std::string(600, 'x'));
    EXPECT_EQ(frame::LoadResourceString(5901), std::string(255, 'y'));  // exactly fills the first buffer
    EXPECT_EQ(frame::LoadResourceString(5902), std::string(254, 'z'));
    EXPECT_EQ(frame::LoadResourceString(5016), "Test Title");
}

TEST_F(WithTestModule, MissingIdsGiveEmptyTexts) {
    EXPECT_EQ(frame::LoadResourceString(5002), "");  // the test module has only a few texts
    EXPECT_EQ(frame::LoadResourceString(nullptr, 5016), "");
}

TEST_F(WithTestModule, ErrorCodeFormatComesFromTheCurrentModule) {
    platform::headless::ClearRecordedMessageBoxes();
    frame::ShowMessageByText("Failed.", 1004, platform::MB_ICONSTOP);
    ASSERT_EQ(platform::headless::RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(platform::headless::RecordedMessageBoxes()[0].text, "Failed. [code 1004]");
}

TEST(MessageBox, CodeOneShowsTheBareTextOthersAppendTheCode) {
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    frame::Settings().messageBoxTitle = "Host Title";
    platform::headless::ClearRecordedMessageBoxes();
    frame::ShowMessageById(5014, 1, platform::MB_ICONSTOP);
    frame::ShowMessageById(5014, 1004, platform::MB_ICONSTOP);
    frame::ShowMessageByText("Plain", -7, platform::MB_OK);
    const auto& shown = platform::headless::RecordedMessageBoxes();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, "An error occurred when trying to display TSA certificate.");
    EXPECT_EQ(shown[1].text, "An error occurred when trying to display TSA certificate.(Error code: 1004)");
    EXPECT_EQ(shown[2].text, "Plain(Error code: -7)");
    EXPECT_EQ(shown[1].caption, "Host Title");
    EXPECT_EQ(shown[1].type, platform::MB_ICONSTOP);
    EXPECT_EQ(shown[1].owner, platform::GetActiveWindow());
    frame::Settings().messageBoxTitle.clear();
}

TEST(TemporaryResourceModule, IsReleasedAtTheEndOfTheCall) {
    // With no language set nothing is loaded: the current module is used.
    frame::Settings().languageCode[0] = '\0';
    {
        frame::TemporaryResourceModule temporary;
        EXPECT_EQ(temporary.handle(), frame::AfxGetResourceHandle());
    }
    // A language whose module is missing falls back to the library's own
    // texts, and the current resource module is left alone.
    std::memcpy(frame::Settings().languageCode, "XYZ", 4);
    const platform::HINSTANCE before = frame::AfxGetResourceHandle();
    {
        frame::TemporaryResourceModule temporary;
        EXPECT_EQ(frame::LoadResourceString(temporary.handle(), 5016), "Signature Properties");
    }
    EXPECT_EQ(frame::AfxGetResourceHandle(), before);
    frame::Settings().languageCode[0] = '\0';
}

TEST(ModuleStateGuard, RestoresThePreviousStateOnEveryWayOut) {
    EXPECT_EQ(&frame::ActiveModuleState(), &frame::LibraryModuleState());
    const uint32_t result = frame::GuardedExport(1004u, []() -> uint32_t { throw std::runtime_error("boom"); });
    EXPECT_EQ(result, 1004u);
    const char* text = frame::GuardedExport<const char*>("fallback", []() -> const char* { throw std::bad_alloc(); });
    EXPECT_STREQ(text, "fallback");
    EXPECT_EQ(frame::GuardedExport(0, [] { return 42; }), 42);
}

std::vector<uint32_t> IdsOf(const ZorbeluResourceTable& table) {
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < table.stringCount; ++i) ids.push_back(table.strings[i].id);
    return ids;
}

TEST(StringTables, EveryLanguageHasTheSameSortedIds) {
    const std::vector<uint32_t> english = IdsOf(zorbelu_builtin_resources);
    ASSERT_FALSE(english.empty());
    for (size_t i = 1; i < english.size(); ++i) EXPECT_LT(english[i - 1], english[i]) << "lookups need sorted ids";
    for (const uint32_t id : english) EXPECT_TRUE((id >= 5001 && id <= 5074) || (id >= 6013 && id <= 6051)) << id;

    void* german = dlopen(GERMAN_LANGUAGE_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(german, nullptr) << dlerror();
    const auto* table = static_cast<const ZorbeluResourceTable*>(dlsym(german, "zorbelu_resource_table"));
    ASSERT_NE(table, nullptr);
    EXPECT_STREQ(table->language, "DEU");
    EXPECT_EQ(IdsOf(*table), english);
    // Every prose text is translated; numbers, identifiers and URLs stay.
    std::set<uint32_t> same;
    for (uint32_t i = 0; i < table->stringCount; ++i)
        if (std::strcmp(table->strings[i].text, zorbelu_builtin_resources.strings[i].text) == 0)
            same.insert(table->strings[i].id);
    for (const uint32_t id : same) {
        const std::string text = zorbelu_builtin_resources.strings[std::distance(
                                                                       english.begin(),
                                                                       std::find(english.begin(), english.end(), id))]
                                     .text;
        EXPECT_EQ(text.find(' ') == std::string::npos || text.rfind("Kovra", 0) == 0 || text.rfind("KOVRA", 0) == 0,
                  true)
            << id << " is not translated: " << text;
    }
    dlclose(german);
}

}  // namespace
