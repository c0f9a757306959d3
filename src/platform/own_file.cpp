#include "platform/own_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace zorbelu::platform {

bool WriteOwnFile(const std::string& path, const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return false;
    UniqueFd file(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0) return false;
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) return false;
    size_t written = 0;
    while (written < length) {
        const ssize_t n = write(file.get(), data + written, length - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<size_t>(n);
    }
    return file.Close();
}

}  // namespace zorbelu::platform
