// Relative paths as Windows compares them: two names that fold alike are
// one file on its file systems.
#pragma once

#include <string>

namespace qv {

// The path upper-cased by the system's invariant case table.
std::wstring foldedPath(const std::wstring& path);

}  // namespace qv
