#include "app_versions.h"

#include "files.h"
#include "handles.h"
#include "paths.h"
#include "versions.h"

#include <algorithm>

namespace qv {
std::vector<std::wstring> findAppVersions(const std::wstring& root,
                                          const std::wstring& programFile) {
    std::vector<std::wstring> versions;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileExW(longPath(joinPath(root, L"app-*")).c_str(), FindExInfoBasic,
                                     &entry, FindExSearchLimitToDirectories, nullptr, 0));
    if (!find) return versions;
    do {
        // The directory limit is only a hint: files may come back too.
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        std::wstring name = entry.cFileName;
        if (name.size() < 4) continue;
        std::wstring version = name.substr(4);
        if (!parseVersion(version)) continue;
        if (!isFile(joinPath(joinPath(root, name), programFile))) continue;
        versions.push_back(version);
    } while (FindNextFileW(find.get(), &entry));

    std::stable_sort(versions.begin(), versions.end(),
                     [](const std::wstring& a, const std::wstring& b) {
                         return compareVersions(a, b) > 0;
                     });
    return versions;
}

}  // namespace qv
