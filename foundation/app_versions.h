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

// Versions whose set-aside folder "app-<version>.old" holds programFile
// while "app-<version>" itself is missing, newest first. A repair that was
// ended between moving the installed folder aside and moving the new one in
// leaves the only complete copy there. The folder is
// joinPath(root, L"app-" + version + L".old").
std::vector<std::wstring> findSetAsideVersions(const std::wstring& root,
                                               const std::wstring& programFile);

}  // namespace qv
