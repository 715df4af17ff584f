// Measures how long the launcher adds to an application start: the time from
// CreateProcess to the moment the demo application records its start, once
// through the launcher and once starting the application directly.
//   launch-timer.exe <install root> <version> <rounds>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

unsigned long long preciseNow() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::string readAll(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read) text.append(buffer, read);
    CloseHandle(file);
    return text;
}

// Starts program and waits until the record file holds one more start;
// returns the delay in milliseconds, or a negative value on failure.
double timeOneStart(const std::wstring& program, const std::wstring& record) {
    DeleteFileW(record.c_str());
    std::wstring line = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    unsigned long long before = preciseNow();
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int waited = 0; waited < 10000; waited += 2) {
        std::string text = readAll(record);
        size_t at = text.find("start_time=");
        if (at != std::string::npos && text.find("---", at) != std::string::npos) {
            unsigned long long started = std::stoull(text.substr(at + 11));
            Sleep(300);  // let the application and the launcher end before the next round
            return static_cast<double>(started - before) / 10000.0;
        }
        Sleep(2);
    }
    return -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        fwprintf(stderr, L"usage: launch-timer.exe <install root> <version> <rounds>\n");
        return 3;
    }
    std::wstring root = argv[1];
    std::wstring app = root + L"\\app-" + argv[2] + L"\\QuorvelAI.exe";
    std::wstring record = root + L"\\app-" + argv[2] + L"\\demo-started.txt";
    int rounds = _wtoi(argv[3]);
    std::vector<double> direct, launched;
    for (int i = 0; i < rounds; ++i) {
        direct.push_back(timeOneStart(app, record));
        launched.push_back(timeOneStart(root + L"\\QuorvelAI.exe", record));
    }
    if (std::count_if(direct.begin(), direct.end(), [](double v) { return v < 0; }) ||
        std::count_if(launched.begin(), launched.end(), [](double v) { return v < 0; })) {
        fwprintf(stderr, L"a start was not recorded\n");
        return 1;
    }
    double d = median(direct), l = median(launched);
    wprintf(L"rounds: %d\n", rounds);
    wprintf(L"direct start (median):        %.1f ms\n", d);
    wprintf(L"through the launcher (median): %.1f ms\n", l);
    wprintf(L"launcher cost: %.1f ms, ratio launcher/direct: %.2f\n", l - d, d > 0 ? l / d : 0);
    return 0;
}
