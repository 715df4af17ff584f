#include "folder_check.h"

#include "install_layout.h"
#include "registration.h"

#include "foundation/app_versions.h"
#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

namespace qv {
namespace {

constexpr const wchar_t* folderName = L"QuorvelAI";
constexpr size_t maxPathLength = 259;
constexpr uint64_t workingMargin = 64ull * 1024 * 1024;

const wchar_t* const projectsFolderText =
    L"That folder is where your Roblox projects are kept. Choose another folder.";
const wchar_t* const otherFilesText =
    L"That folder already has other files in it. Choose an empty folder.";

// The check's outcome: the WARN line, the code for the caller, the text.
std::wstring fail(const std::wstring& folder, const wchar_t* problemCode, std::wstring text,
                  std::wstring* code) {
    logWarn(L"Folder check failed for %ls: %ls", folder.c_str(), text.c_str());
    if (code) *code = problemCode;
    return text;
}

bool isFullPathText(const std::wstring& folder) {
    if (folder.size() >= 3 && folder[1] == L':') return true;
    return folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\';
}

// The application keeps the user's projects in Documents\QuorvelAI; an
// install there would mix with them and an uninstall would delete them.
bool isProjectsFolder(const std::wstring& path) {
    wchar_t documents[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents) != S_OK)
        return false;
    return isUnderFolder(path, joinPath(documents, folderName));
}

// Removes the folder the check created itself; parents it made stay.
void removeIfCreated(const std::wstring& path, bool existed) {
    if (!existed) RemoveDirectoryW(longPath(path).c_str());
}

enum class WriteTest { passed, cannotCreate, cannotWrite };

// Creates and writes a file that deletes itself on close; *error gets the
// failing call's error.
WriteTest runWriteTest(const std::wstring& path, bool existed, DWORD* error) {
    std::wstring testFile =
        joinPath(path, formatText(L".qv-write-test-%lu", GetCurrentProcessId()));
    FileHandle file(CreateFileW(longPath(testFile).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr));
    if (!file) {
        *error = GetLastError();
        removeIfCreated(path, existed);
        return WriteTest::cannotCreate;
    }
    DWORD written = 0;
    WriteTest result = WriteTest::passed;
    if (!WriteFile(file.get(), "ok", 2, &written, nullptr)) {
        *error = GetLastError();
        result = WriteTest::cannotWrite;
    } else if (written != 2) {
        *error = ERROR_WRITE_FAULT;
        result = WriteTest::cannotWrite;
    }
    file.reset();  // deletes the test file
    removeIfCreated(path, existed);
    return result;
}

// A folder that existed before the run may serve only when it is this
// user's: the private permissions are set only on a folder the run makes.
bool isOwnFolder(const std::wstring& folder) {
    std::wstring registered = readInstallLocation();
    if (!registered.empty() && equalsIgnoreCase(fullPath(registered), fullPath(folder))) return true;
    return ownedByCurrentUser(folder);
}

}  // namespace

std::wstring defaultInstallFolder() {
    return joinPath(knownFolder(FOLDERID_LocalAppData, L"LOCALAPPDATA"), folderName);
}

bool holdsInstall(const std::wstring& folder) {
    if (folder.empty()) return false;
    // Long forms keep slashes and ".." as they are: resolve them first.
    std::wstring path = fullPath(folder);
    if (!isFolder(path)) return false;
    if (!findAppVersions(path, launcherFileName).empty()) return true;
    // What the launcher still starts: the only copy of a version, set aside
    // by a repair that did not get to move the new one in.
    if (!findSetAsideVersions(path, launcherFileName).empty()) return true;
    // The earlier installer's layout, taken over in place.
    return isFile(joinPath(path, L"Update.exe")) && isFile(joinPath(path, launcherFileName));
}

std::wstring readInstallLocation() { return readRegistryString(uninstallKeyPath, L"InstallLocation"); }

std::wstring registeredInstallFolder() {
    std::wstring registered = readInstallLocation();
    if (!registered.empty() && holdsInstall(registered)) return fullPath(registered);
    std::wstring fallback = defaultInstallFolder();
    if (holdsInstall(fallback)) return fallback;
    return {};
}

std::wstring diskSpaceProblem(uint64_t unpackedSize, uint64_t freeBytes) {
    // A size near the top of the range must not wrap round to a small need.
    uint64_t needed = unpackedSize > UINT64_MAX - workingMargin ? UINT64_MAX
                                                                : unpackedSize + workingMargin;
    if (freeBytes >= needed) return {};
    const double megabyte = 1048576.0;
    return formatText(L"Not enough free disk space here. QuorvelAI needs %.1f MB; this drive has "
                      L"%.1f MB free.",
                      static_cast<double>(needed) / megabyte,
                      static_cast<double>(freeBytes) / megabyte);
}

std::wstring checkInstallFolder(const SetupContext& context, const std::wstring& folder,
                                std::wstring* code) {
    if (!isFullPathText(folder))
        return fail(folder, L"QV-DIR-1", L"Choose a full folder path.", code);

    std::wstring path = fullPath(folder);
    if (isProjectsFolder(path)) return fail(folder, L"QV-DIR-4", projectsFolderText, code);

    if (!equalsIgnoreCase(path, fullPath(defaultInstallFolder())) && !holdsInstall(path) &&
        !listForeignEntries(path).empty())
        return fail(folder, L"QV-DIR-4", otherFilesText, code);

    size_t longest = context.longestPath > 0 ? static_cast<size_t>(context.longestPath) : 0;
    size_t total = path.size() + 2 + 4 + context.releaseVersion.size() + longest;
    if (total > maxPathLength) {
        return fail(folder, L"QV-PATH-1",
                    formatText(L"This folder's path is too long for QuorvelAI's files (%zu "
                               L"characters, Windows allows %zu). Choose a shorter folder.",
                               total, maxPathLength),
                    code);
    }

    bool existed = isFolder(path);
    DWORD error = ERROR_SUCCESS;
    if (!createFolderTree(path, &error)) {
        return fail(folder, L"QV-DIR-2",
                    formatText(L"The setup cannot create this folder: %ls (error %lu).",
                               windowsErrorText(error).c_str(), error),
                    code);
    }

    WriteTest writeTest = runWriteTest(path, existed, &error);
    if (writeTest == WriteTest::cannotCreate) {
        return fail(folder, L"QV-DIR-3",
                    formatText(L"The setup cannot write to this folder: %ls (error %lu). Windows "
                               L"or a security program may be blocking it.",
                               windowsErrorText(error).c_str(), error),
                    code);
    }
    if (writeTest == WriteTest::cannotWrite) {
        return fail(folder, L"QV-DIR-3",
                    formatText(L"The setup cannot write to this folder: %ls (error %lu).",
                               windowsErrorText(error).c_str(), error),
                    code);
    }

    std::wstring spaceProblem = diskSpaceProblem(context.unpackedSize, freeDiskSpace(path));
    if (!spaceProblem.empty()) return fail(folder, L"QV-DISK-1", spaceProblem, code);
    if (code) code->clear();
    return {};
}

std::vector<std::wstring> fallbackFolderCandidates() {
    std::vector<std::wstring> candidates;
    std::wstring profile = environmentVariable(L"USERPROFILE");
    if (!profile.empty()) candidates.push_back(joinPath(profile, folderName));
    std::wstring drive = environmentVariable(L"SystemDrive");
    if (drive.empty()) drive = L"C:";
    std::wstring atDrive = drive + L"\\" + folderName;
    if (!isFolder(atDrive) || isOwnFolder(atDrive)) candidates.push_back(atDrive);
    return candidates;
}

FolderOwnerCheck& folderOwnerCheck() {
    static FolderOwnerCheck check = nullptr;
    return check;
}

bool ownedByCurrentUser(const std::wstring& folder) {
    if (folderOwnerCheck()) return folderOwnerCheck()(folder);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(longPath(folder).c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    LocalMemory descriptorOwner(descriptor);
    KernelHandle token;
    if (!owner || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    alignas(TOKEN_USER) BYTE userBuffer[256];
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenUser, userBuffer, sizeof(userBuffer), &length))
        return false;
    return EqualSid(owner, reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid) != FALSE;
}

std::wstring findFallbackFolder(const SetupContext& context) {
    for (const std::wstring& candidate : fallbackFolderCandidates())
        if (checkInstallFolder(context, candidate).empty()) return candidate;
    return {};
}

std::wstring shortFolderProblem(const std::wstring& code, const std::wstring& problemText) {
    if (code == L"QV-PATH-1") return L"That path is too long.";
    if (code == L"QV-DIR-4") {
        if (problemText == projectsFolderText) return L"That's your projects folder.";
        return L"That folder has other files.";
    }
    if (code == L"QV-DISK-1") return L"Not enough space there.";
    if (code == L"QV-DIR-1") return L"That isn't a full path.";
    return L"Can't write there.";
}

}  // namespace qv
