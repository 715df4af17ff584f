#include "tests/uninstall/user_state.h"

#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/paths.h"

#include <windows.h>
#include <tlhelp32.h>

namespace qv::test {
namespace {

std::wstring backupName(const std::wstring& base) {
    static unsigned counter = 0;
    wchar_t suffix[48];
    swprintf(suffix, 48, L"-qv-test-saved-%lu-%u", GetCurrentProcessId(), counter++);
    return base + suffix;
}

void copyKey(const std::wstring& from, const std::wstring& to) {
    RegKey source, target;
    RegOpenKeyExW(HKEY_CURRENT_USER, from.c_str(), 0, KEY_READ, source.put());
    RegCreateKeyExW(HKEY_CURRENT_USER, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    target.put(), nullptr);
    RegCopyTreeW(source.get(), nullptr, target.get());
}

}  // namespace

bool keyExists(const std::wstring& path) {
    RegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void setString(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    RegKey handle;
    RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                    handle.put(), nullptr);
    RegSetValueExW(handle.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

SavedKey::SavedKey(std::wstring path)
    : path_(std::move(path)), backup_(backupName(L"Software\\QuorvelAI-Tests\\saved")) {
    existed_ = keyExists(path_);
    if (existed_) copyKey(path_, backup_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

SavedKey::~SavedKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    if (!existed_) return;
    copyKey(backup_, path_);
    RegDeleteTreeW(HKEY_CURRENT_USER, backup_.c_str());
}

SavedFolder::SavedFolder(std::wstring path) : path_(std::move(path)), backup_(backupName(path_)) {
    existed_ =
        isFolder(path_) && MoveFileExW(longPath(path_).c_str(), longPath(backup_).c_str(), 0);
}

SavedFolder::~SavedFolder() {
    removeTree(path_);
    if (existed_) MoveFileExW(longPath(backup_).c_str(), longPath(path_).c_str(), 0);
}

void endProcessesUnder(const std::wstring& folder) {
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        KernelHandle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                                         FALSE, entry.th32ProcessID));
        wchar_t image[1040];
        DWORD size = 1040;
        if (process && QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
            isUnderFolder(std::wstring(image, size), folder))
            TerminateProcess(process.get(), 99);
    }
}

}  // namespace qv::test
