#include "shortcuts.h"

#include "install_layout.h"

#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <windows.h>
#include <objidl.h>
#include <propidl.h>
#include <propkey.h>
#include <propsys.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

namespace qv {
namespace {

constexpr DWORD kTargetChars = 1040;
constexpr int kArgumentChars = 32768;
const wchar_t* const kShortcutName = L"QuorvelAI.lnk";

// Desktop and Programs as the shell reports them, without the fallbacks of
// knownFolder: a guessed folder could be one the user never sees.
std::wstring shellFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    HRESULT hr = SHGetKnownFolderPath(id, 0, nullptr, &path);
    ScopeGuard freePath([&] { CoTaskMemFree(path); });
    if (FAILED(hr) || !path) return {};
    return path;
}

HRESULT createShellLink(ComPtr<IShellLinkW>& link) {
    return CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                            __uuidof(IShellLinkW), link.putVoid());
}

unsigned long hresultBits(HRESULT hr) { return static_cast<uint32_t>(hr); }

}  // namespace

// Taskbar grouping and pinning go by this id. A link whose store cannot be
// reached still works as a shortcut, so the write goes on without it.
void setAppUserModelId(IUnknown* link, const std::wstring& path, const std::wstring& id) {
    ComPtr<IPropertyStore> store;
    if (!link || FAILED(link->QueryInterface(__uuidof(IPropertyStore), store.putVoid()))) return;
    size_t bytes = (id.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (!copy) return;
    std::memcpy(copy, id.c_str(), bytes);
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = copy;
    ScopeGuard clearValue([&] { PropVariantClear(&value); });
    HRESULT hr = store->SetValue(PKEY_AppUserModel_ID, value);
    if (SUCCEEDED(hr)) hr = store->Commit();
    if (FAILED(hr)) {
        logWarn(L"Could not set the AppUserModelID of %ls (0x%08lx)", path.c_str(),
                hresultBits(hr));
    }
}

namespace {

void appendShortcutFiles(const std::wstring& folder, bool recursive,
                         std::vector<std::wstring>& found) {
    WIN32_FIND_DATAW entry{};
    FindHandle find(FindFirstFileExW(longPath(joinPath(folder, L"*")).c_str(), FindExInfoBasic,
                                     &entry, FindExSearchNameMatch, nullptr, 0));
    if (!find) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = joinPath(folder, name);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A junction may lead anywhere, even back up the tree.
            if (recursive && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                appendShortcutFiles(path, true, found);
            }
        } else if (name.size() >= 5 && equalsIgnoreCase(name.substr(name.size() - 4), L".lnk")) {
            found.push_back(path);
        }
    } while (FindNextFileW(find.get(), &entry));
}

bool loadShortcut(const std::wstring& path, ComPtr<IShellLinkW>& link) {
    if (FAILED(createShellLink(link))) return false;
    ComPtr<IPersistFile> file;
    return SUCCEEDED(link.as(file)) && SUCCEEDED(file->Load(longPath(path).c_str(), STGM_READ));
}

// The target lies in one of root's version folders, which a later prune
// removes.
bool pointsIntoVersionFolder(const std::wstring& link, const std::wstring& root) {
    std::wstring target = readShortcutTarget(link);
    if (target.empty() || !isUnderFolder(target, root)) return false;
    std::wstring base = fullPath(root);
    std::wstring rest = fullPath(target).substr(base.size());
    if (!rest.empty() && rest[0] == L'\\') rest.erase(0, 1);
    size_t slash = rest.find(L'\\');
    return slash != std::wstring::npos && isVersionFolderName(rest.substr(0, slash));
}

// Writes folder\QuorvelAI.lnk; what stands in the way is logged.
void writeInstallShortcut(const std::wstring& folder, const wchar_t* folderName,
                          const ShortcutSpec& spec) {
    // Without its folder the name alone would land in the current folder.
    if (folder.empty()) {
        logWarn(L"Could not find the %ls folder; no shortcut written there", folderName);
        return;
    }
    std::wstring message;
    if (!writeShortcut(joinPath(folder, kShortcutName), spec, &message)) {
        logWarn(L"%ls", message.c_str());
    }
}

}  // namespace

ShortcutSpec installShortcutSpec(const std::wstring& root) {
    std::wstring launcher = joinPath(root, launcherFileName);
    ShortcutSpec spec;
    spec.target = launcher;
    spec.workingFolder = root;
    spec.icon = launcher;
    spec.description = L"QuorvelAI";
    spec.appUserModelId = appUserModelId;
    return spec;
}

bool writeShortcut(const std::wstring& path, const ShortcutSpec& spec, std::wstring* message) {
    ComPtr<IShellLinkW> link;
    HRESULT hr = createShellLink(link);
    if (FAILED(hr)) {
        if (message) {
            *message = formatText(L"Could not create a shortcut object (0x%08lx)", hresultBits(hr));
        }
        return false;
    }
    // A field that does not take shows when the link is read back; the
    // save below is what decides whether there is a shortcut at all.
    link->SetPath(spec.target.c_str());
    link->SetArguments(spec.arguments.c_str());
    link->SetWorkingDirectory(spec.workingFolder.c_str());
    if (!spec.icon.empty()) link->SetIconLocation(spec.icon.c_str(), 0);
    if (!spec.description.empty()) link->SetDescription(spec.description.c_str());
    if (!spec.appUserModelId.empty()) setAppUserModelId(link.get(), path, spec.appUserModelId);

    ComPtr<IPersistFile> file;
    hr = link.as(file);
    if (SUCCEEDED(hr)) {
        createFolderTree(parentFolder(path));
        hr = file->Save(longPath(path).c_str(), TRUE);
    }
    if (FAILED(hr)) {
        if (message) {
            *message = formatText(L"Could not save the shortcut %ls (0x%08lx)", path.c_str(),
                                  hresultBits(hr));
        }
        return false;
    }
    return true;
}

std::wstring readShortcutTarget(const std::wstring& path) {
    ComPtr<IShellLinkW> link;
    if (!loadShortcut(path, link)) return {};
    wchar_t target[kTargetChars] = {};
    if (FAILED(link->GetPath(target, kTargetChars, nullptr, 0))) return {};
    return target;
}

std::wstring readShortcutArguments(const std::wstring& path) {
    ComPtr<IShellLinkW> link;
    if (!loadShortcut(path, link)) return {};
    std::vector<wchar_t> arguments(kArgumentChars, L'\0');
    if (FAILED(link->GetArguments(arguments.data(), kArgumentChars))) return {};
    return arguments.data();
}

std::vector<std::wstring> listShortcutFiles(const std::wstring& folder, bool recursive) {
    std::vector<std::wstring> found;
    if (!folder.empty()) appendShortcutFiles(folder, recursive, found);
    return found;
}

std::wstring desktopFolder() { return shellFolder(FOLDERID_Desktop); }
std::wstring programsFolder() { return shellFolder(FOLDERID_Programs); }
std::wstring startupFolder() { return shellFolder(FOLDERID_Startup); }

std::wstring pinnedTaskbarFolder() {
    std::wstring roaming = knownFolder(FOLDERID_RoamingAppData, L"APPDATA");
    if (roaming.empty()) return {};
    return joinPath(roaming, L"Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar");
}

ShortcutFolders userShortcutFolders() {
    ShortcutFolders folders;
    folders.desktop = desktopFolder();
    folders.programs = programsFolder();
    folders.startup = startupFolder();
    // The autostart folder's usual place, so that an unanswered query does
    // not expose it to the Start-menu clean-up.
    if (folders.startup.empty() && !folders.programs.empty()) {
        folders.startup = joinPath(folders.programs, L"Startup");
    }
    folders.pinned = pinnedTaskbarFolder();
    return folders;
}

bool shortcutPointsInto(const std::wstring& link, const std::wstring& root) {
    std::wstring target = readShortcutTarget(link);
    return !target.empty() && isUnderFolder(target, root);
}

void removeStartMenuLinksInto(const ShortcutFolders& folders, const std::wstring& root,
                              bool keepAutostart) {
    if (folders.programs.empty()) return;
    std::wstring programs = fullPath(folders.programs);
    std::wstring startup = folders.startup.empty() ? std::wstring() : fullPath(folders.startup);
    for (const std::wstring& link : listShortcutFiles(folders.programs, true)) {
        if (keepAutostart && !startup.empty() && isUnderFolder(link, startup)) continue;
        if (!shortcutPointsInto(link, root)) continue;
        DeleteFileW(longPath(link).c_str());
        // A vendor subfolder left by an earlier installer goes when empty
        // (RemoveDirectoryW refuses a folder that still holds anything); the
        // folder Windows starts programs from always stays.
        std::wstring folder = fullPath(parentFolder(link));
        if (equalsIgnoreCase(folder, programs) || (!startup.empty() && equalsIgnoreCase(folder, startup)))
            continue;
        RemoveDirectoryW(longPath(folder).c_str());
    }
}

void updateShortcuts(const SetupContext& context, const std::wstring& root, bool createDesktop) {
    updateShortcuts(context, root, createDesktop, userShortcutFolders());
}

void updateShortcuts(const SetupContext& context, const std::wstring& root, bool createDesktop,
                     const ShortcutFolders& folders) {
    if (context.noShortcuts) return;
    ShortcutSpec spec = installShortcutSpec(root);

    // Pinned links are the user's own choice: kept under their names and
    // only re-pointed at the launcher.
    for (const std::wstring& link : listShortcutFiles(folders.pinned, false)) {
        if (!shortcutPointsInto(link, root)) continue;
        std::wstring message;
        if (writeShortcut(link, spec, &message)) {
            logInfo(L"Re-pointed pinned shortcut %ls", link.c_str());
        } else {
            logWarn(L"%ls", message.c_str());
        }
    }

    // Autostart links stay the user's, with their arguments; one into a
    // version folder would stop working when that version is pruned.
    for (const std::wstring& link : listShortcutFiles(folders.startup, false)) {
        if (!pointsIntoVersionFolder(link, root)) continue;
        ShortcutSpec autostart = spec;
        autostart.arguments = readShortcutArguments(link);
        std::wstring message;
        if (writeShortcut(link, autostart, &message)) {
            logInfo(L"Re-pointed autostart shortcut %ls", link.c_str());
        } else {
            logWarn(L"%ls", message.c_str());
        }
    }

    bool hadDesktop = false;
    for (const std::wstring& link : listShortcutFiles(folders.desktop, false)) {
        if (!shortcutPointsInto(link, root)) continue;
        DeleteFileW(longPath(link).c_str());
        hadDesktop = true;  // the user wants one, whether or not this one went
    }

    // The autostart links are the user's decision to start the app with
    // Windows: an upgrade must not take them away.
    removeStartMenuLinksInto(folders, root, true);

    writeInstallShortcut(folders.programs, L"Start menu", spec);
    if (createDesktop || hadDesktop) writeInstallShortcut(folders.desktop, L"desktop", spec);
    notifyShellOfChanges();
}

void notifyShellOfChanges() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

}  // namespace qv
