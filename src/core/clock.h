// The one place the core reads the current time. Tests may fix it with
// ZORBELU_TEST_NOW (Unix seconds) to judge archived tokens at their own
// time; nothing else sets it.
#ifndef ZORBEL_CORE_CLOCK_H
#define ZORBEL_CORE_CLOCK_H

#include <ctime>

namespace zorbel {

time_t Now();

}  // namespace zorbel

#endif
