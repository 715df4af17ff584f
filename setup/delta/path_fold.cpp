#include "path_fold.h"

#include <windows.h>

namespace qv {

std::wstring foldedPath(const std::wstring& path) {
    std::wstring result = path;
    if (!result.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.c_str(), static_cast<int>(path.size()),
                      result.data(), static_cast<int>(result.size()), nullptr, nullptr, 0);
    return result;
}

}  // namespace qv
