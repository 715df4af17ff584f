#include "log.h"

#include "files.h"
#include "handles.h"
#include "paths.h"
#include "text.h"

#include <windows.h>

#include <cstdarg>
#include <vector>

namespace qv {
namespace {

constexpr uint64_t maxLogSize = 2097152;  // 2 MiB: a file of exactly this size stays whole
constexpr DWORD keptTailSize = 524288;    // 512 KiB kept after a cut

struct LogState {
    SRWLOCK lock = SRWLOCK_INIT;
    std::wstring path;
    FileHandle file;
};

// Never freed: the log is never closed, and a thread that outlives main
// (a worker still ending) may log while static objects are destroyed.
LogState& state() {
    static LogState* instance = new LogState();
    return *instance;
}

// Keeps the last 512 KiB of the file; the cut falls at a byte offset, so the
// first kept line is usually partial. Leaves the file alone on any failure.
void cutToTail(const std::wstring& path, uint64_t size) {
    std::vector<char> tail(keptTailSize);
    DWORD read = 0;
    {
        FileHandle in(CreateFileW(longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!in) return;
        LARGE_INTEGER offset;
        offset.QuadPart = static_cast<LONGLONG>(size - keptTailSize);
        if (!SetFilePointerEx(in.get(), offset, nullptr, FILE_BEGIN)) return;
        if (!ReadFile(in.get(), tail.data(), keptTailSize, &read, nullptr)) return;
    }
    FileHandle out(CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return;
    DWORD written = 0;
    WriteFile(out.get(), tail.data(), read, &written, nullptr);
}

const wchar_t* levelWord(int level) {
    switch (level) {
        case 0: return L"INFO ";
        case 1: return L"WARN ";
        default: return L"ERROR";
    }
}

void writeLine(int level, const wchar_t* format, va_list args) {
    std::wstring message = formatTextV(format, args);
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring line = formatText(L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] %ls ", now.wYear,
                                   now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                   now.wMilliseconds, GetCurrentProcessId(), levelWord(level));
    line += message;
    line += L"\r\n";
    std::string bytes = toUtf8(line);

    LogState& log = state();
    {
        ExclusiveLock guard(log.lock);
        if (log.file) {
            // One write call per line: appending keeps lines of several
            // processes whole.
            DWORD written = 0;
            WriteFile(log.file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                      nullptr);
        }
    }
    OutputDebugStringW(line.c_str());
}

}  // namespace

void openLog(const std::wstring& path) {
    LogState& log = state();
    ExclusiveLock guard(log.lock);
    log.file.reset();
    log.path = path;
    if (path.empty()) return;
    uint64_t size = fileSize(path);
    if (size > maxLogSize) cutToTail(path, size);
    log.file.reset(CreateFileW(longPath(path).c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
}

void logInfo(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(0, format, args);
    va_end(args);
}

void logWarn(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(1, format, args);
    va_end(args);
}

void logError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(2, format, args);
    va_end(args);
}

std::wstring currentLogPath() {
    LogState& log = state();
    ExclusiveLock guard(log.lock);
    return log.path;
}

}  // namespace qv
