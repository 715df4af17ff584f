#include "tests/support/folder_link.h"

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <windows.h>

namespace qv::test {
namespace {

// Wine's own export; absent on Windows. The result is freed from the
// process heap.
using UnixFileName = char*(__cdecl*)(const wchar_t*);

std::string unixPath(const std::wstring& path) {
    auto convert = reinterpret_cast<UnixFileName>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!convert) return {};
    char* name = convert(path.c_str());
    if (!name) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

DWORD attributesOf(const std::wstring& path) { return GetFileAttributesW(longPath(path).c_str()); }

bool isFolderLink(const std::wstring& path) {
    const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & link) == link;
}

// Starts a Unix program, which Wine runs outside its processes: its handle
// says nothing about its end, so the caller's condition is polled instead.
template <typename Done>
bool runUnixProgram(const std::wstring& program, const std::wstring& commandLine, Done done) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    for (int i = 0; i < 100 && !done(); ++i) Sleep(20);
    return done();
}

std::wstring quoted(const std::string& path) { return L"\"" + fromUtf8(path) + L"\""; }

}  // namespace

bool makeFolderLink(const std::wstring& link, const std::wstring& target) {
    CreateSymbolicLinkW(longPath(link).c_str(), longPath(target).c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (isFolderLink(link)) return true;
    std::string from = unixPath(fullPath(link)), to = unixPath(fullPath(target));
    if (from.empty() || to.empty()) return false;
    return runUnixProgram(L"Z:\\bin\\ln", L"/bin/ln -s " + quoted(to) + L" " + quoted(from),
                          [&] { return isFolderLink(link); });
}

void removeFolderLink(const std::wstring& link) {
    if (!isFolderLink(link)) return;
    std::string path = unixPath(fullPath(link));
    if (path.empty()) {
        RemoveDirectoryW(longPath(link).c_str());
        return;
    }
    runUnixProgram(L"Z:\\bin\\rm", L"/bin/rm " + quoted(path),
                   [&] { return attributesOf(link) == INVALID_FILE_ATTRIBUTES; });
}

}  // namespace qv::test
