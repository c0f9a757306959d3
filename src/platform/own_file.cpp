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
    return WriteAll(file.get(), data, length) && file.Close();
}

}  // namespace zorbelu::platform
