#include "tests/uninstall/user_state.h"

#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/paths.h"

#include <tlhelp32.h>
#include <winioctl.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace qv::test {
namespace {

std::wstring uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    wchar_t text[64];
    swprintf(text, 64, L"%lu-%u", GetCurrentProcessId(), counter++);
    return text;
}

}  // namespace

bool keyExists(const std::wstring& path) {
    RegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void setString(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    RegKey handle;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        handle.put(), nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(handle.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

SavedKey::SavedKey(std::wstring path)
    : path_(std::move(path)), backup_(L"Software\\QuorvelAI-Tests\\saved-" + uniqueSuffix()) {
    existed_ = keyExists(path_);
    if (!existed_) return;
    RegKey source, copy;
    RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, source.put());
    RegCreateKeyExW(HKEY_CURRENT_USER, backup_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    copy.put(), nullptr);
    RegCopyTreeW(source.get(), nullptr, copy.get());
    source.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

SavedKey::~SavedKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    if (!existed_) return;
    RegKey backup, restored;
    RegOpenKeyExW(HKEY_CURRENT_USER, backup_.c_str(), 0, KEY_READ, backup.put());
    RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    restored.put(), nullptr);
    RegCopyTreeW(backup.get(), nullptr, restored.get());
    backup.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, backup_.c_str());
}

SavedFolder::SavedFolder(std::wstring path)
    : path_(std::move(path)), backup_(path_ + L".qv-test-saved-" + uniqueSuffix()) {
    existed_ = isFolder(path_) &&
               MoveFileExW(longPath(path_).c_str(), longPath(backup_).c_str(), 0) != 0;
}

SavedFolder::~SavedFolder() {
    removeTree(path_);
    if (existed_) MoveFileExW(longPath(backup_).c_str(), longPath(path_).c_str(), 0);
}

bool makeFolderLink(const std::wstring& link, const std::wstring& target) {
    // A mount-point reparse buffer: tag, sizes, then the NT name and the
    // printed name, each ended by a NUL.
    std::wstring substitute = L"\\??\\" + fullPath(target);
    std::wstring print = fullPath(target);
    size_t substituteBytes = substitute.size() * sizeof(wchar_t);
    size_t printBytes = print.size() * sizeof(wchar_t);
    size_t pathBytes = substituteBytes + printBytes + 2 * sizeof(wchar_t);
    std::vector<BYTE> buffer(16 + pathBytes, 0);
    auto put16 = [&](size_t at, size_t value) {
        WORD word = static_cast<WORD>(value);
        std::memcpy(buffer.data() + at, &word, 2);
    };
    DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, 4);
    put16(4, 8 + pathBytes);
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, substituteBytes + sizeof(wchar_t));
    put16(14, printBytes);
    std::memcpy(buffer.data() + 16, substitute.data(), substituteBytes);
    std::memcpy(buffer.data() + 16 + substituteBytes + 2, print.data(), printBytes);

    bool made = false;
    if (CreateDirectoryW(longPath(link).c_str(), nullptr)) {
        FileHandle handle(CreateFileW(longPath(link).c_str(), GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
        DWORD returned = 0;
        made = handle && DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                         static_cast<DWORD>(buffer.size()), nullptr, 0, &returned,
                                         nullptr);
        handle.reset();
        if (!made) RemoveDirectoryW(longPath(link).c_str());
    }
    if (!made)
        made = CreateSymbolicLinkW(longPath(link).c_str(), longPath(target).c_str(),
                                   SYMBOLIC_LINK_FLAG_DIRECTORY |
                                       SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
    DWORD attributes = GetFileAttributesW(longPath(link).c_str());
    return made && attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int endProcessesUnder(const std::wstring& folder) {
    // The snapshot's failure value is INVALID_HANDLE_VALUE, as for files.
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    int ended = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        KernelHandle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION |
                                             SYNCHRONIZE,
                                         FALSE, entry.th32ProcessID));
        if (!process) continue;
        wchar_t image[1040];
        DWORD size = 1040;
        if (!QueryFullProcessImageNameW(process.get(), 0, image, &size)) continue;
        if (!isUnderFolder(std::wstring(image, size), folder)) continue;
        if (TerminateProcess(process.get(), 99)) ++ended;
        WaitForSingleObject(process.get(), 3000);
    }
    return ended;
}

}  // namespace qv::test
