#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/unique_fd.h"

extern char** environ;

namespace zorbelu::platform {

bool IsExecutableFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string ResolveProgram(const std::string& word) {
    if (word.find('/') != std::string::npos) return IsExecutableFile(word) ? word : std::string();
    const char* pathVariable = std::getenv("PATH");
    const std::string path = pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(':', start);
        std::string folder = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (folder.empty()) folder = ".";
        if (const std::string candidate = folder + "/" + word; IsExecutableFile(candidate)) return candidate;
        if (end == std::string::npos) return std::string();
        start = end + 1;
    }
}

std::vector<std::string> SplitCommandWords(std::string_view prefix) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (const char c : prefix) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

bool StartDetached(const std::vector<std::string>& words, const std::vector<std::string>& extraEnvironment,
                   const char* readyVariable, int readyWaitMs) {
    const std::string program = ResolveProgram(words.front());
    if (program.empty()) return false;

    int ready[2];
    int execFailed[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return false;
    UniqueFd readyRead(ready[0]), readyWrite(ready[1]);
    if (pipe2(execFailed, O_CLOEXEC) != 0) return false;
    UniqueFd failedRead(execFailed[0]), failedWrite(execFailed[1]);

    // Everything the children use is made here: after fork they only call
    // async-signal-safe functions.
    std::vector<std::string> environment;
    const std::string readyEntry = std::string(readyVariable) + "=";
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        if (std::strncmp(*entry, readyEntry.c_str(), readyEntry.size()) != 0) environment.emplace_back(*entry);
    environment.push_back(readyEntry + std::to_string(readyWrite.get()));
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> argv, envp;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const int readyFd = readyWrite.get();
    const int failedFd = failedWrite.get();

    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const pid_t viewer = fork();
        if (viewer == 0) {
            setsid();
            fcntl(readyFd, F_SETFD, 0);  // the viewer's own, across exec
            execve(program.c_str(), argv.data(), envp.data());
            const int error = errno;
            (void)!write(failedFd, &error, sizeof error);
            _exit(127);
        }
        _exit(viewer < 0 ? 1 : 0);
    }
    (void)readyWrite.Close();
    (void)failedWrite.Close();
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    // ECHILD: the host reaps its children itself; the pipe below still tells.
    if (waited == child && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) return false;

    int error = 0;
    ssize_t n;
    do {
        n = read(failedRead.get(), &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    if (n != 0) return false;  // exec failed (or the pipe did)

    pollfd wait{readyRead.get(), POLLIN, 0};
    int left = readyWaitMs;
    while (left > 0) {
        const int polled = poll(&wait, 1, left > 100 ? 100 : left);
        if (polled > 0) break;  // a byte, or every copy of the write end closed
        if (polled < 0 && errno != EINTR) break;
        left -= 100;
    }
    return true;
}

}  // namespace zorbelu::platform
