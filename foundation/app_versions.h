// The installed version folders ("app-" + version) of an install root.
#pragma once

#include <string>
#include <vector>

namespace qv {

// Versions of the direct subfolders "app-<version>" of root that hold
// programFile as a file, newest first; empty when there are none or the
// root cannot be listed. The folder is joinPath(root, L"app-" + version).
std::vector<std::wstring> findAppVersions(const std::wstring& root,
                                          const std::wstring& programFile);

}  // namespace qv
