// Resource text inside the library: module paths, the string loader, the
// temporary module and the error message box.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frame/app.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "platform/module.h"
#include "ui/message_box.h"
#include "ui/ui_headless.h"

namespace {

using namespace zorbelu;

TEST(LanguageModulePath, IsTheOwnFileWithTheCodeBeforeSo) {
    char buffer[64];
    EXPECT_EQ(frame::LanguageModulePath(nullptr, 64), 1001u);
    frame::Settings().languageCode[0] = '\0';
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
    EXPECT_EQ(frame::LoadResourceString(5002), "");  // the test module has only a few texts
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

}  // namespace
