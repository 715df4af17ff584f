#include "squirrel.h"

#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/log.h"
#include "foundation/paths.h"

#include <windows.h>

namespace qv {

void removeSquirrelLeftovers(const SetupContext&, const std::wstring& root) {
    bool removedAny = false;
    // What stays is still an install entry by name, so a later folder check
    // accepts it and the uninstall takes it away.
    for (const wchar_t* name : {L"Update.exe", L"SquirrelSetup.log", L".dead", L"app.ico"}) {
        std::wstring path = joinPath(root, name);
        if (!isFile(path)) continue;
        if (!DeleteFileW(longPath(path).c_str())) {
            logWarn(L"Could not delete %ls (%lu)", path.c_str(), GetLastError());
        }
        removedAny = true;
    }
    std::wstring packages = joinPath(root, L"packages");
    if (isFolder(packages)) {
        std::wstring firstFailure;
        if (!removeTree(packages, &firstFailure)) {
            logWarn(L"Could not fully delete %ls (first: %ls)", packages.c_str(),
                    firstFailure.c_str());
        }
        removedAny = true;
    }
    if (removedAny) logInfo(L"Removed Squirrel's files from %ls", root.c_str());
}

}  // namespace qv
