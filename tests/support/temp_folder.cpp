#include "tests/support/temp_folder.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

namespace qv::test {
namespace {

void removeAll(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW(longPath(joinPath(folder, L"*")).c_str(), &entry));
    if (find) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = joinPath(folder, name);
            SetFileAttributesW(longPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                removeAll(path);
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(longPath(path).c_str());
            else
                DeleteFileW(longPath(path).c_str());
        } while (FindNextFileW(find.get(), &entry));
    }
    RemoveDirectoryW(longPath(folder).c_str());
}

}  // namespace

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t name[96];
    swprintf(name, 96, L"qv-test-%lu-%u-%llu", GetCurrentProcessId(), counter++,
             static_cast<unsigned long long>(GetTickCount64()));
    path_ = joinPath(tempFolder(), name);
    makeFolders(path_);
}

TempFolder::~TempFolder() { removeAll(path_); }

std::wstring TempFolder::operator/(const std::wstring& name) const { return joinPath(path_, name); }

void makeFolders(const std::wstring& path) {
    if (path.empty() || isFolder(path)) return;
    makeFolders(parentFolder(path));
    CreateDirectoryW(longPath(path).c_str(), nullptr);
}

void writeFile(const std::wstring& path, const std::string& bytes) {
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot create test file");
    DWORD written = 0;
    if (!bytes.empty() &&
        !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        throw std::runtime_error("cannot write test file");
}

std::string readFile(const std::wstring& path) {
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

std::wstring binFolder() { return parentFolder(modulePath()); }

TempRedirect::TempRedirect(const std::wstring& folder)
    : oldTemp_(environmentVariable(L"TEMP")), oldTmp_(environmentVariable(L"TMP")) {
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
    SetEnvironmentVariableW(L"TMP", folder.c_str());
}

TempRedirect::~TempRedirect() {
    SetEnvironmentVariableW(L"TEMP", oldTemp_.c_str());
    SetEnvironmentVariableW(L"TMP", oldTmp_.c_str());
}

}  // namespace qv::test
