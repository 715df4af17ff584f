// The install's shortcuts: Start menu, desktop and pinned taskbar links.
#pragma once

#include "setup/core/setup_context.h"

#include <unknwn.h>

#include <string>
#include <vector>

namespace qv {

inline constexpr const wchar_t* appUserModelId = L"com.quorvel.aigamebuilder";

struct ShortcutSpec {
    std::wstring target;
    std::wstring arguments;
    std::wstring workingFolder;
    std::wstring icon;
    std::wstring description;
    std::wstring appUserModelId;
};

// The spec of the install's shortcuts for root.
ShortcutSpec installShortcutSpec(const std::wstring& root);

// Creates or overwrites the .lnk at path (COM must be initialised). On
// failure the reason goes to *message when given.
bool writeShortcut(const std::wstring& path, const ShortcutSpec& spec,
                   std::wstring* message = nullptr);
// Stores id as the AppUserModelID in the property store that link offers
// and commits it; a link without a store is left as it is. A store that
// refuses is logged at WARN, naming path.
void setAppUserModelId(IUnknown* link, const std::wstring& path, const std::wstring& id);
// The link's target; empty when it cannot be read.
std::wstring readShortcutTarget(const std::wstring& path);
// The link's arguments; empty when there are none or they cannot be read.
std::wstring readShortcutArguments(const std::wstring& path);
// The .lnk files of folder (and, when recursive, of its subfolders that are
// not links), in listing order.
std::vector<std::wstring> listShortcutFiles(const std::wstring& folder, bool recursive);

// The user's folders; empty when unknown.
std::wstring desktopFolder();
std::wstring programsFolder();
std::wstring startupFolder();
std::wstring pinnedTaskbarFolder();

// The folders the shortcut set lives in; any may be empty (unknown).
struct ShortcutFolders {
    std::wstring desktop;
    std::wstring programs;
    std::wstring startup;  // the user's autostart folder, normally inside programs
    std::wstring pinned;
};
// The current user's folders.
ShortcutFolders userShortcutFolders();

// The link's target lies inside root.
bool shortcutPointsInto(const std::wstring& link, const std::wstring& root);
// Deletes the Start-menu links (Programs and its subfolders) that point
// into root, and each subfolder that this leaves empty; never the Programs
// or the autostart folder itself. keepAutostart leaves the links in the
// autostart folder alone.
void removeStartMenuLinksInto(const ShortcutFolders& folders, const std::wstring& root,
                              bool keepAutostart);

// Brings the shortcuts in line with the install in root: pinned links into
// root and autostart links into its version folders re-pointed at the
// launcher (autostart links keep their arguments), other links into root
// removed from the
// desktop and the Start menu (never from the autostart folder), then the
// Start-menu shortcut and, when createDesktop or one was there, the desktop
// shortcut written. Never throws; logs. The second form works on the given
// folders instead of the user's.
void updateShortcuts(const SetupContext& context, const std::wstring& root, bool createDesktop);
void updateShortcuts(const SetupContext& context, const std::wstring& root, bool createDesktop,
                     const ShortcutFolders& folders);
void notifyShellOfChanges();

}  // namespace qv
