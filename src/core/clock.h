// The one place the core reads the current time: the platform clock that
// the library reads too (tests fix it through ZORBELU_TEST_NOW).
#ifndef ZORBEL_CORE_CLOCK_H
#define ZORBEL_CORE_CLOCK_H

#include <ctime>

namespace zorbel {

time_t Now();

}  // namespace zorbel

#endif
