// Control ids of the runtime tests' template 900 (test_dialog_module.cpp).
#pragma once

namespace zorbelu::dialogtest {
inline constexpr int kName = 10, kFlag = 11, kCombo = 12, kApply = 13, kEnd42 = 14, kThrow = 15, kNested = 16,
                     kMessage = 17, kHidden = 18, kDisabled = 19, kPicture = 20, kTab = 21, kList = 22, kNotes = 23,
                     kSave = 24, kNoPicture = 25;
}  // namespace zorbelu::dialogtest
