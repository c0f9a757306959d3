// Control ids of the runtime tests' template 900 (test_dialog_module.cpp).
#pragma once

namespace zorbelu::dialogtest {
inline constexpr int kName = 10, kFlag = 11, kThrow = 15, kSave = 24;
inline constexpr int kHidden = 18, kDisabled = 19;
}  // namespace zorbelu::dialogtest
