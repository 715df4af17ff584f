#include "console_progress.h"

#include "foundation/text.h"
#include "setup/release/http_client.h"

#include <windows.h>

namespace qv {
namespace {

// The console handler runs on a thread of its own; it only needs these two.
HttpClient* activeClient = nullptr;
std::atomic<bool>* activeFlag = nullptr;

BOOL WINAPI onConsoleBreak(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (activeFlag) *activeFlag = true;
    if (activeClient) activeClient->Cancel();
    return TRUE;
}

}  // namespace

void writeLine(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    std::wstring line = text + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    std::string bytes = toUtf8(line);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

ConsoleProgress::ConsoleProgress(HttpClient& client) {
    activeClient = &client;
    activeFlag = &cancelled_;
    SetConsoleCtrlHandler(onConsoleBreak, TRUE);
}

ConsoleProgress::~ConsoleProgress() {
    SetConsoleCtrlHandler(onConsoleBreak, FALSE);
    activeClient = nullptr;
    activeFlag = nullptr;
}

void ConsoleProgress::setStatus(const std::wstring& text) { writeLine(text); }

void ConsoleProgress::setDetail(const std::wstring& text) {
    if (text.empty()) return;
    if (fraction_ >= 0) writeLine(formatText(L"  %5.1f%%  %ls", fraction_ * 100, text.c_str()));
    else writeLine(L"  " + text);
}

}  // namespace qv
