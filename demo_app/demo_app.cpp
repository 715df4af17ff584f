// A stand-in for the real application, used by the demo and the tests. It is
// placed as app-<version>\QuorvelAI.exe, takes its version from its folder
// name, records how it was started, and behaves as the file demo.ini beside
// it says (one key=value per line):
//   exit_code=N   the code to exit with (default 0)
//   delay_ms=N    exit after this many milliseconds; without it the window
//                 stays until it is closed
//   helper=1      also start a windowless copy of itself that stays running
// Each start appends a record to demo-started.txt beside the program.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Behaviour {
    DWORD exitCode = 0;
    DWORD delayMs = INFINITE;
    bool helper = false;
};

std::wstring ownPath() {
    std::vector<wchar_t> buffer(32768);
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

std::wstring folderOf(const std::wstring& path) {
    size_t at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at);
}

std::wstring versionOf(const std::wstring& folder) {
    std::wstring name = folder.substr(folder.find_last_of(L"\\/") + 1);
    return name.compare(0, 4, L"app-") == 0 ? name.substr(4) : name;
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        length, nullptr, nullptr);
    return result;
}

Behaviour readBehaviour(const std::wstring& folder) {
    Behaviour behaviour;
    FILE* file = _wfopen((folder + L"\\demo.ini").c_str(), L"r");
    if (!file) return behaviour;
    char line[256];
    while (fgets(line, sizeof(line), file)) {
        unsigned long value = 0;
        if (sscanf(line, "exit_code=%lu", &value) == 1) behaviour.exitCode = value;
        else if (sscanf(line, "delay_ms=%lu", &value) == 1) behaviour.delayMs = value;
        else if (sscanf(line, "helper=%lu", &value) == 1) behaviour.helper = value != 0;
    }
    fclose(file);
    return behaviour;
}

void record(const std::wstring& folder, const std::wstring& version, bool helper) {
    std::string text = "version=" + utf8(version) + "\n";
    text += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    text += std::string("helper=") + (helper ? "1" : "0") + "\n";
    text += "commandline=" + utf8(GetCommandLineW()) + "\n";
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; argv && i < count; ++i) text += "arg=" + utf8(argv[i]) + "\n";
    LocalFree(argv);
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    text += "cwd=" + utf8(cwd) + "\n";
    // When the process got this far, for the launcher benchmark.
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    text += "start_time=" + std::to_string(ticks) + "\n---\n";

    HANDLE file = CreateFileW((folder + L"\\demo-started.txt").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void startHelper(const std::wstring& program) {
    std::wstring commandLine = L"\"" + program + L"\" --demo-helper";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_TIMER) {
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void showWindow(HINSTANCE instance, const std::wstring& version, DWORD delayMs) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"QuorvelAIDemoApp";
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&windowClass);
    std::wstring title = L"QuorvelAI demo " + version;
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(),
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                  360, 120, nullptr, nullptr, instance, nullptr);
    if (!window) {
        // No display: behave the same, without a window.
        if (delayMs != INFINITE) Sleep(delayMs);
        else Sleep(INFINITE);
        return;
    }
    if (delayMs != INFINITE) SetTimer(window, 1, delayMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    std::wstring program = ownPath();
    std::wstring folder = folderOf(program);
    std::wstring version = versionOf(folder);
    bool isHelper = wcsstr(commandLine, L"--demo-helper") != nullptr;
    record(folder, version, isHelper);
    if (isHelper) {
        Sleep(INFINITE);
        return 0;
    }
    Behaviour behaviour = readBehaviour(folder);
    if (behaviour.helper) startHelper(program);
    showWindow(instance, version, behaviour.delayMs);
    return static_cast<int>(behaviour.exitCode);
}
