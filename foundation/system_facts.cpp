#include "system_facts.h"

#include "text.h"

namespace qv {
namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

// Asks ntdll directly: GetVersionEx lies to programs without a manifest entry.
bool readOsVersion(OSVERSIONINFOW& info) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return false;
    auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (!rtlGetVersion) return false;
    info = {};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    return rtlGetVersion(&info) == 0;
}

const wchar_t* architectureName(WORD architecture) {
    switch (architecture) {
        case PROCESSOR_ARCHITECTURE_AMD64: return L"x64";
        case PROCESSOR_ARCHITECTURE_ARM64: return L"arm64";
        case PROCESSOR_ARCHITECTURE_INTEL: return L"x86";
        default: return L"other";
    }
}

std::wstring systemMessage(DWORD flags, LPCVOID source, DWORD code, DWORD language) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  source, code, language, reinterpret_cast<LPWSTR>(&buffer), 0,
                                  nullptr);
    std::wstring text = (length > 0 && buffer) ? std::wstring(buffer, length) : std::wstring();
    LocalFree(buffer);
    return text;
}

}  // namespace

bool isWindows10OrNewer() {
    OSVERSIONINFOW info;
    if (!readOsVersion(info)) return true;
    return info.dwMajorVersion >= 10;
}

std::wstring osDescription(DWORD major, DWORD minor, DWORD build, WORD architecture) {
    const wchar_t* processor = architectureName(architecture);
    // Windows 11 still reports itself as 10.0; its builds start at 22000.
    if (major == 10 && build >= 22000)
        return formatText(L"Windows %ls build %lu (%ls)", L"11", build, processor);
    return formatText(L"Windows %lu.%lu build %lu (%ls)", major, minor, build, processor);
}

std::wstring describeOs() {
    OSVERSIONINFOW info;
    if (!readOsVersion(info)) return L"Windows (unknown version)";
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    return osDescription(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                         system.wProcessorArchitecture);
}

std::wstring windowsErrorText(DWORD code) {
    // WinHTTP's texts live in its own message table; it is consulted only
    // when the program has loaded it anyway.
    return windowsErrorText(code, GetModuleHandleW(L"winhttp.dll"));
}

std::wstring windowsErrorText(DWORD code, HMODULE messageModule) {
    std::wstring text =
        systemMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (text.empty()) text = systemMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0);
    if (text.empty() && messageModule)
        text = systemMessage(FORMAT_MESSAGE_FROM_HMODULE, messageModule, code, 0);
    if (text.empty()) return formatText(L"Error %lu", code);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace qv
