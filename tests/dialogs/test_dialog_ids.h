// Control ids of the runtime tests' template 900 (test_dialog_module.cpp).
#pragma once

namespace zorbelu::dialogtest {
inline constexpr int kName = 10;
inline constexpr int kFlag = 11;
inline constexpr int kCombo = 12;
inline constexpr int kApply = 13;
inline constexpr int kEnd42 = 14;
inline constexpr int kThrow = 15;
inline constexpr int kNested = 16;
inline constexpr int kMessage = 17;
inline constexpr int kHidden = 18;
inline constexpr int kDisabled = 19;
inline constexpr int kSave = 24;
inline constexpr int kPicture = 20;
inline constexpr int kNoPicture = 25;
inline constexpr int kTab = 21;
inline constexpr int kList = 22;
inline constexpr int kNotes = 23;
}  // namespace zorbelu::dialogtest
