#include "paths.h"

#include "handles.h"

#include <vector>

namespace qv {
namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

size_t lastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

}  // namespace

std::wstring longPath(const std::wstring& path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\')
        return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
    return path;
}

std::wstring fullPath(const std::wstring& path) {
    if (path.empty()) return path;
    std::wstring text = path;
    for (wchar_t& c : text)
        if (c == L'/') c = L'\\';

    DWORD needed = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (needed != 0) {
        std::vector<wchar_t> buffer(needed);
        DWORD written = GetFullPathNameW(text.c_str(), needed, buffer.data(), nullptr);
        if (written != 0 && written < needed) text.assign(buffer.data(), written);
    }
    while (text.size() > 3 && text.back() == L'\\') text.pop_back();
    return text;
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    if (isSeparator(folder.back())) return folder + name;
    return folder + L"\\" + name;
}

std::wstring parentFolder(const std::wstring& path) {
    size_t at = lastSeparator(path);
    if (at == std::wstring::npos) return {};
    if (at == 2 && path[1] == L':') return path.substr(0, 3);
    return path.substr(0, at);
}

std::wstring fileNamePart(const std::wstring& path) {
    size_t at = lastSeparator(path);
    if (at == std::wstring::npos) return path;
    return path.substr(at + 1);
}

bool equalsIgnoreCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool isUnderFolder(const std::wstring& path, const std::wstring& folder) {
    std::wstring p = fullPath(path);
    std::wstring f = fullPath(folder);
    if (f.empty() || p.size() < f.size()) return false;
    if (CompareStringOrdinal(p.data(), static_cast<int>(f.size()), f.data(),
                             static_cast<int>(f.size()), TRUE) != CSTR_EQUAL)
        return false;
    if (p.size() == f.size()) return true;
    // A sibling such as C:\AppX is not under C:\App.
    return f.back() == L'\\' || p[f.size()] == L'\\';
}

std::wstring modulePath() {
    std::vector<wchar_t> buffer(1024);
    for (;;) {
        DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring environmentVariable(const wchar_t* name) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed);
    DWORD written = GetEnvironmentVariableW(name, buffer.data(), needed);
    if (written == 0 || written >= needed) return {};
    return std::wstring(buffer.data(), written);
}

std::wstring tempFolder() {
    std::wstring text;
    wchar_t buffer[261];
    DWORD length = GetTempPathW(261, buffer);
    if (length > 0 && length < 261) {
        text.assign(buffer, length);
    } else if (length >= 261) {
        // The path does not fit: ask again with the room Windows asked for.
        std::vector<wchar_t> larger(length + 1);
        DWORD again = GetTempPathW(static_cast<DWORD>(larger.size()), larger.data());
        if (again > 0 && again < larger.size()) text.assign(larger.data(), again);
    }
    if (text.empty()) text = environmentVariable(L"TEMP");

    std::vector<wchar_t> expanded(1024);
    DWORD expandedLength = GetLongPathNameW(text.c_str(), expanded.data(), 1024);
    if (expandedLength >= 1 && expandedLength <= 1023) text.assign(expanded.data(), expandedLength);
    return fullPath(text);
}

}  // namespace qv
