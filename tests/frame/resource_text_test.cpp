// Resource text inside the library: the string loader and the error message box (code 1 is success: no code line).
#include <gtest/gtest.h>

#include <string>

#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "platform/module.h"
#include "ui/message_box.h"
#include "ui/ui_headless.h"

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

}  // namespace
