#include "folder_check.h"

#include "foundation/app_versions.h"
#include "foundation/files.h"
#include "foundation/paths.h"

namespace qv {

std::wstring defaultInstallFolder() { return joinPath(knownFolder(FOLDERID_LocalAppData, L"LOCALAPPDATA"), L"QuorvelAI"); }
bool holdsInstall(const std::wstring& folder) {
    return !folder.empty() && isFolder(folder) && !findAppVersions(folder, L"QuorvelAI.exe").empty();
}
std::wstring readInstallLocation() { return L""; }
std::wstring registeredInstallFolder() { return holdsInstall(defaultInstallFolder()) ? defaultInstallFolder() : L""; }
std::wstring checkInstallFolder(const SetupContext&, const std::wstring&, std::wstring*) { return L""; }
std::vector<std::wstring> fallbackFolderCandidates() { return {}; }
std::wstring findFallbackFolder(const SetupContext&) { return L""; }
std::wstring shortFolderProblem(const std::wstring&, const std::wstring&) { return L""; }

}  // namespace qv
