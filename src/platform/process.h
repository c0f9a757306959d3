// Starting other programs: the program a command word names, the words of a
// command prefix, and a start detached from this process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorbelu::platform {

// A regular file this user may execute.
bool IsExecutableFile(const std::string& path);

// The program a command word names: a path as it is, a bare name from PATH
// (else /usr/local/bin:/usr/bin:/bin); "" when there is none.
std::string ResolveProgram(const std::string& word);

// The words of a command prefix: split at blanks; '...' and "..." group a
// word and are removed.
std::vector<std::string> SplitCommandWords(std::string_view prefix);

// Starts `words` (program first) detached from this process, with this
// process's environment and `extraEnvironment`: an intermediate child starts
// the program and leaves at once, so that the program is never left for us
// to reap. The program finds the number of a descriptor in `readyVariable`;
// a byte written to it (or its closing) tells that it is up. True when the
// program was executed; then waits until it reports, ends, or `readyWaitMs`
// have passed.
bool StartDetached(const std::vector<std::string>& words, const std::vector<std::string>& extraEnvironment,
                   const char* readyVariable, int readyWaitMs);

}  // namespace zorbelu::platform
