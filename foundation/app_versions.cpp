#include "app_versions.h"

#include "files.h"
#include "handles.h"
#include "paths.h"
#include "versions.h"

#include <algorithm>

namespace qv {
namespace {

constexpr const wchar_t* setAsideSuffix = L".old";

// The version in a folder name "app-<version>" + suffix; empty when the
// name has another shape.
std::wstring versionInName(const std::wstring& name, const std::wstring& suffix) {
    if (name.size() < 4 + suffix.size()) return {};
    std::wstring tail = name.substr(name.size() - suffix.size());
    if (!suffix.empty() && !equalsIgnoreCase(tail, suffix)) return {};
    std::wstring version = name.substr(4, name.size() - 4 - suffix.size());
    return parseVersion(version) ? version : std::wstring();
}

std::vector<std::wstring> scanVersionFolders(const std::wstring& root,
                                             const std::wstring& programFile,
                                             const std::wstring& suffix) {
    std::vector<std::wstring> versions;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileExW(longPath(joinPath(root, L"app-*")).c_str(), FindExInfoBasic,
                                     &entry, FindExSearchLimitToDirectories, nullptr, 0));
    if (!find) return versions;
    do {
        // The directory limit is only a hint: files may come back too.
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        std::wstring name = entry.cFileName;
        std::wstring version = versionInName(name, suffix);
        if (version.empty()) continue;
        if (!isFile(joinPath(joinPath(root, name), programFile))) continue;
        if (!suffix.empty() && isFolder(joinPath(root, L"app-" + version))) continue;
        versions.push_back(version);
    } while (FindNextFileW(find.get(), &entry));

    std::stable_sort(versions.begin(), versions.end(),
                     [](const std::wstring& a, const std::wstring& b) {
                         return compareVersions(a, b) > 0;
                     });
    return versions;
}

}  // namespace

std::vector<std::wstring> findAppVersions(const std::wstring& root,
                                          const std::wstring& programFile) {
    return scanVersionFolders(root, programFile, L"");
}

std::vector<std::wstring> findSetAsideVersions(const std::wstring& root,
                                               const std::wstring& programFile) {
    return scanVersionFolders(root, programFile, setAsideSuffix);
}

}  // namespace qv
