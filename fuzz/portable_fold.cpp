// Test-only stand-in for setup/delta/path_fold.cpp, so that the delta list
// reader builds natively for fuzzing: folds with the C library's table.
#include "setup/delta/path_fold.h"

#include <cwctype>

namespace qv {

std::wstring foldedPath(const std::wstring& path) {
    std::wstring result = path;
    for (wchar_t& c : result) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return result;
}

}  // namespace qv
