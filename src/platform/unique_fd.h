// A file descriptor that is closed when it goes out of scope.
#pragma once

#include <unistd.h>

namespace zorbelu::platform {

struct UniqueFd {
    int fd = -1;
    UniqueFd() = default;
    explicit UniqueFd(int value) : fd(value) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    // Closes now; false when close() failed (the data may not be written).
    bool Close() {
        const int value = fd;
        fd = -1;
        return value < 0 || close(value) == 0;
    }
};

}  // namespace zorbelu::platform
