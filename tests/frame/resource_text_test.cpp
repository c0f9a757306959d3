// Resource text inside the library: module paths, the string loader, the
// temporary module, the error message box and the string tables.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "frame/app.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "platform/module.h"
#include "ui/message_box.h"
#include "ui/ui_headless.h"

namespace {

using namespace zorbelu;

TEST(PathRemoveExtension, StripsTheSharedObjectSuffixWithItsVersion) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/lib/libzorbelutilnd.so", "/usr/lib/libzorbelutilnd"},
        {"/usr/lib/libzorbelutilnd.so.5.0.101", "/usr/lib/libzorbelutilnd"},
        {"./libx.so", "./libx"},
        {"/opt/a.b/tool.bin", "/opt/a.b/tool"},
        {"/opt/a.so.d/tool", "/opt/a.so.d/tool"},  // only the file name counts
        {"/opt/libsorted", "/opt/libsorted"},
        {"/opt/.hidden", "/opt/.hidden"},
    };
    for (const auto& [in, out] : cases) {
        std::vector<char> path(in, in + std::strlen(in) + 1);
        platform::PathRemoveExtensionA(path.data());
        EXPECT_STREQ(path.data(), out) << in;
    }
}

TEST(LanguageModulePath, IsTheOwnFileWithTheCodeBeforeSo) {
    char buffer[64];
    EXPECT_EQ(frame::LanguageModulePath(nullptr, 64), 1001u);
    EXPECT_EQ(frame::LanguageModulePath(buffer, 0), 1001u);
    frame::Settings().languageCode[0] = '\0';
    EXPECT_FALSE(frame::LanguageIsSet());
    EXPECT_EQ(frame::LanguageModulePath(buffer, sizeof buffer), frame::kResultLanguageNotSet);

    std::memcpy(frame::Settings().languageCode, "DEU", 4);
    char own[4096] = {}, path[4096] = {}, small[5] = {};
    ASSERT_GT(platform::GetModuleFileNameA(platform::OwnModuleHandle(), own, sizeof own), 0u);
    platform::PathRemoveExtensionA(own);
    ASSERT_EQ(frame::LanguageModulePath(path, sizeof path), 1u);
    EXPECT_EQ(std::string(path), std::string(own) + "DEU.so");
    ASSERT_EQ(frame::LanguageModulePath(small, 4), 1u);  // copied like strncpy: cut, no NUL added
    EXPECT_EQ(std::string(small, 4), std::string(path, 4));
    frame::Settings().languageCode[0] = '\0';
}

// Long texts grow the buffer until they fit; the error-code line comes from
// the current module.
TEST(ResourceText, FromTheCurrentModuleWholeAndWithItsFormat) {
    platform::HINSTANCE module = platform::LoadLibraryA(TEST_LANGUAGE_MODULE);
    ASSERT_NE(module, nullptr);
    frame::AfxSetResourceHandle(module);
    EXPECT_EQ(frame::LoadResourceString(5900), std::string(600, 'x'));
    EXPECT_EQ(frame::LoadResourceString(5901), std::string(255, 'y'));  // exactly fills the first buffer
    EXPECT_EQ(frame::LoadResourceString(5902), std::string(254, 'z'));
    EXPECT_EQ(frame::LoadResourceString(5016), "Test Title");
    EXPECT_EQ(frame::LoadResourceString(5002), "");  // the test module has only a few texts
    EXPECT_EQ(frame::LoadResourceString(nullptr, 5016), "");
    platform::headless::ClearRecordedMessageBoxes();
    frame::ShowMessageByText("Failed.", 1004, platform::MB_ICONSTOP);
    ASSERT_EQ(platform::headless::RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(platform::headless::RecordedMessageBoxes()[0].text, "Failed. [code 1004]");
    frame::AfxSetResourceHandle(platform::OwnModuleHandle());
    platform::FreeLibrary(module);
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
    EXPECT_EQ(frame::TemporaryResourceModule().handle(), frame::AfxGetResourceHandle());
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

TEST(ModuleState, GuardedExportsAndScratchBuffers) {
    EXPECT_EQ(&frame::ActiveModuleState(), &frame::LibraryModuleState());
    EXPECT_EQ(frame::GuardedExport(1004u, []() -> uint32_t { throw std::runtime_error("boom"); }), 1004u);
    EXPECT_STREQ(frame::GuardedExport<const char*>("fallback", []() -> const char* { throw std::bad_alloc(); }),
                 "fallback");
    EXPECT_EQ(frame::GuardedExport(0, [] { return 42; }), 42);
    // Scratch buffers start at 10,000 bytes and grow by 10,000, each thread its own.
    frame::ScratchBuffer& tsa = frame::AccessScratchBuffer(frame::kTsaCertBuffer);
    EXPECT_EQ(tsa.capacity, 10000u);
    frame::ScratchBuffer& grown = frame::GrowScratchBuffer(frame::kTsaCertBuffer);
    EXPECT_EQ(&grown, &tsa);
    EXPECT_EQ(grown.capacity, 20000u);
    ASSERT_NE(grown.data, nullptr);
    grown.data[19999] = 1;  // the whole block is usable (the sanitizer pass checks)
    uint32_t otherCapacity = 0;
    std::thread([&] { otherCapacity = frame::AccessScratchBuffer(frame::kTsaCertBuffer).capacity; }).join();
    EXPECT_EQ(otherCapacity, 10000u);
}

// Lookups need sorted ids; every language has the same ids and translates
// every prose text (identifiers, numbers and service names stay).
TEST(StringTables, EveryLanguageHasTheSameSortedIdsAndTranslatesItsProse) {
    const ZorbeluResourceTable& english = zorbelu_builtin_resources;
    for (uint32_t i = 1; i < english.stringCount; ++i) EXPECT_LT(english.strings[i - 1].id, english.strings[i].id);
    void* german = dlopen(GERMAN_LANGUAGE_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(german, nullptr) << dlerror();
    const auto* table = static_cast<const ZorbeluResourceTable*>(dlsym(german, "zorbelu_resource_table"));
    ASSERT_NE(table, nullptr);
    EXPECT_STREQ(table->language, "DEU");
    ASSERT_EQ(table->stringCount, english.stringCount);
    for (uint32_t i = 0; i < english.stringCount; ++i) {
        EXPECT_EQ(table->strings[i].id, english.strings[i].id);
        const std::string text = english.strings[i].text;
        if (text != table->strings[i].text) continue;
        EXPECT_TRUE(text.find(' ') == std::string::npos || text.rfind("Kovra", 0) == 0 || text.rfind("KOVRA", 0) == 0)
            << english.strings[i].id << " is not translated: " << text;
    }
    dlclose(german);
}

}  // namespace
