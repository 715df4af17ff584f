// release-check.exe: runs release discovery (and, when asked, the payload
// download and its check) against a release server with the setup's own
// code, so that a publisher can see what the setup would see.
#pragma once

#include <string>
#include <vector>

namespace qv {

// Exit codes of the tool.
inline constexpr int releaseCheckOk = 0;
inline constexpr int releaseCheckFailed = 1;
inline constexpr int releaseCheckBadCommandLine = 3;

// arguments[0] is the program. Prints to standard output; returns an exit code.
int runReleaseCheck(const std::vector<std::wstring>& arguments);

}  // namespace qv
