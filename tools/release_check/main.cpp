#include "release_check.h"

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    return qv::runReleaseCheck(std::vector<std::wstring>(argv, argv + argc));
}
