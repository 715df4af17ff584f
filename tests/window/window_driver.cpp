// qv-window-driver: the setup window with scripted stand-in steps, one
// scene per run, for the screen tests, the screenshots and the benchmark.
//   qv-window-driver.exe SCENE [--ready FILE] [--done-ms N] [--join-ms N]
//                        [--result FILE] [--bench-paint FILE] [--bench-idle FILE]
//                        [--high-contrast 1] [--dpi-changed N] [--language TAG]
// --ready: gets a line with the number of each screen once it has stood for
// 400 ms, appended, so the reader never loses one between two reads.
// --result: written at the end: "exit=N removeData=0|1 installs=N copied=0|1".
// --language TAG: the window speaks that language (qps-ploc included).
// --high-contrast 1: the window sees a high-contrast theme, in the colours
// of a black one (Wine can neither set nor report a theme).
// --dpi-changed N: once the window shows, it gets WM_DPICHANGED for N dpi
// with a rectangle of that scale centred on the screen, as when it moves to
// a monitor of another scale (Wine cannot change a monitor's scale).
// --bench-paint FILE: paints 300 frames of the scene on the window thread
// and writes their median time; --bench-idle FILE: writes the process's
// CPU share over 5 s on the scene. Both close the window afterwards.
#include "setup/window/screens/setup_window.h"
#include "setup/window/accessibility/window_access.h"
#include "setup/window/drawing/window_drawing.h"
#include "setup/window/screens/window_state.h"

#include "setup/core/timings.h"

#include "foundation/text.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qv;

struct Scene {
    const wchar_t* name;
    SetupMode mode;
    bool askFirst;
    bool confirmed;
    Screen shows;  // the screen the ready file announces
};

const Scene scenes[] = {
    {L"welcome", SetupMode::Install, true, false, Screen::Welcome},
    {L"note", SetupMode::Install, true, false, Screen::Welcome},
    {L"working", SetupMode::Install, false, false, Screen::Working},
    {L"indeterminate", SetupMode::Upgrade, false, false, Screen::Working},
    {L"waiting", SetupMode::Upgrade, false, false, Screen::WaitingForApp},
    {L"failed-retryable", SetupMode::Install, true, false, Screen::Welcome},
    {L"failed", SetupMode::Upgrade, false, false, Screen::Failed},
    {L"done", SetupMode::Install, false, false, Screen::Done},
    {L"confirm", SetupMode::Uninstall, false, false, Screen::ConfirmUninstall},
    {L"removed", SetupMode::Uninstall, false, true, Screen::Removed},
    {L"blocked", SetupMode::Upgrade, false, false, Screen::Working},
};

std::atomic<int> installs{0};
std::atomic<bool> removeData{false};

void waitUntilCancelled(SetupContext& context) {
    while (!context.progress->isCancelled()) Sleep(20);
    throw SetupError::cancelled();
}

SetupError makeError(const wchar_t* code, const wchar_t* message, bool retryable) {
    SetupError error;
    error.code = code;
    error.message = message;
    error.detail = L"https://localhost/Installs/1.2.3/win-x64/QuorvelAI-1.2.3.tar.xz";
    error.retryable = retryable;
    return error;
}

void install(const std::wstring& scene, SetupContext& context) {
    int attempt = ++installs;
    Progress& progress = *context.progress;
    if (scene == L"working" || scene == L"welcome") {
        progress.setStatus(L"Downloading QuorvelAI 1.2.3\u2026");
        progress.setDetail(L"20.2 MB of 48.0 MB \u00B7 6.4 MB/s");
        progress.setProgress(0.42);
        if (scene == L"welcome") {
            Sleep(600);
            return;
        }
        waitUntilCancelled(context);
    } else if (scene == L"indeterminate") {
        progress.setStatus(L"Checking for the latest version\u2026");
        progress.setProgress(-1);
        waitUntilCancelled(context);
    } else if (scene == L"waiting") {
        progress.setStatus(L"Finishing\u2026");
        while (progress.keepWaitingForApp()) {
        }
        throw SetupError::cancelled();
    } else if (scene == L"failed-retryable") {
        if (attempt == 1)
            throw makeError(L"QV-NET-5", L"The download did not finish. Check your connection and try again.",
                            true);
    } else if (scene == L"failed") {
        throw makeError(L"QV-SIG-1",
                        L"The downloaded program is not signed by Quorvel, LLC, so the setup did "
                        L"not install it.",
                        false);
    } else if (scene == L"blocked") {
        progress.setStatus(L"Downloading QuorvelAI 1.2.3\u2026");
        // Stuck where no cancel reaches, as a request the server never answers.
        Sleep(INFINITE);
    }
}

WindowSteps sceneSteps(const std::wstring& scene) {
    WindowSteps steps;
    steps.discoverRelease = [](SetupContext& context) {
        context.releaseVersion = L"1.2.3";
        context.releaseKnown = true;
    };
    steps.checkFolder = [](const SetupContext&, const std::wstring&, std::wstring*) {
        return std::wstring();
    };
    steps.findFallback = [](const SetupContext&) { return std::wstring(); };
    steps.shortProblem = [](const std::wstring&, const std::wstring&) { return std::wstring(); };
    steps.install = [scene](SetupContext& context, const std::wstring&) { install(scene, context); };
    steps.uninstall = [](SetupContext& context, const std::wstring&) {
        removeData = context.removeData;
        context.progress->setStatus(L"Removing shortcuts\u2026");
        Sleep(300);
    };
    return steps;
}

bool contrastOn() { return true; }

// The system colours of a black high-contrast theme, and the ones to put
// back at the end (they last as long as the prefix's wineserver).
const int contrastElements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HIGHLIGHT,
                                COLOR_HIGHLIGHTTEXT, COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_GRAYTEXT,
                                COLOR_HOTLIGHT};
const COLORREF contrastColours[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(0x1A, 0xEB, 0xFF),
                                    RGB(0, 0, 0), RGB(0, 0, 0), RGB(255, 255, 255),
                                    RGB(0x3F, 0xF2, 0x3F), RGB(255, 255, 0)};
constexpr int contrastCount = static_cast<int>(sizeof(contrastElements) / sizeof(int));

void writeText(const std::wstring& path, const std::wstring& text, const wchar_t* mode = L"wb") {
    if (path.empty()) return;
    FILE* file = _wfopen(path.c_str(), mode);
    if (!file) return;
    std::string bytes(text.begin(), text.end());
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

double secondsOf(const FILETIME& time) {
    ULARGE_INTEGER value{{time.dwLowDateTime, time.dwHighDateTime}};
    return static_cast<double>(value.QuadPart) / 1e7;
}

double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return secondsOf(kernel) + secondsOf(user);
}

// Runs on the window thread (through a posted timer), so it may paint.
void runBench(WindowState& state, const std::wstring& path) {
    HDC dc = GetDC(state.window);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> frames;
    for (int i = 0; i < 300; ++i) {
        QueryPerformanceCounter(&start);
        paint(state, dc);
        QueryPerformanceCounter(&end);
        frames.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                         static_cast<double>(frequency.QuadPart));
    }
    ReleaseDC(state.window, dc);
    std::sort(frames.begin(), frames.end());
    writeText(path, formatText(L"paint_median_ms=%.3f\npaint_p90_ms=%.3f\n", frames[150], frames[270]));
}

constexpr UINT BenchMessage = WM_APP + 50;
WindowState* benchState = nullptr;
std::wstring benchPath;

// Sees the thread message that starts the paint bench inside run's loop.
LRESULT CALLBACK benchHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->hwnd == nullptr &&
        message->message == BenchMessage) {
        runBench(*benchState, benchPath);
        PostMessageW(benchState->window, WM_CLOSE, 0, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The rectangle a monitor of dpi would suggest: the window's size at that
// scale, centred on the screen.
RECT rectangleAt(int dpi) {
    int width = 440 * dpi / 96, height = 340 * dpi / 96;
    int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return {left, top, left + width, top + height};
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 3;
    std::wstring sceneName = argv[1], ready, result, benchIdle;
    SetupOptions options;
    allowPseudoLanguage();
    bool highContrast = false;
    int dpiChanged = 0;
    timings().doneCloseMs = 600000;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::wstring option = argv[i], value = argv[i + 1];
        if (option == L"--ready") ready = value;
        else if (option == L"--result") result = value;
        else if (option == L"--bench-paint") benchPath = value;
        else if (option == L"--bench-idle") benchIdle = value;
        else if (option == L"--high-contrast") highContrast = value == L"1";
        else if (option == L"--dpi-changed") dpiChanged = _wtoi(value.c_str());
        else if (option == L"--language") options.language = value;
        else if (option == L"--done-ms") timings().doneCloseMs = static_cast<DWORD>(_wtoi(value.c_str()));
        else if (option == L"--join-ms") timings().workerJoinMs = static_cast<DWORD>(_wtoi(value.c_str()));
    }
    LocalFree(argv);
    const Scene* scene = nullptr;
    for (const Scene& s : scenes)
        if (sceneName == s.name) scene = &s;
    if (!scene) return 3;

    COLORREF savedColours[contrastCount];
    if (highContrast) {
        for (int i = 0; i < contrastCount; ++i) savedColours[i] = GetSysColor(contrastElements[i]);
        SetSysColors(contrastCount, contrastElements, contrastColours);
        highContrastQuery() = contrastOn;
    }

    SetupWindow window(options, scene->mode, L"C:\\users\\me\\AppData\\Local\\QuorvelAI",
                       scene->askFirst, sceneSteps(sceneName));
    WindowState& state = window.state();
    state.options.confirmed = scene->confirmed;
    if (sceneName == L"note")
        state.note = L"That folder has other files. Using C:\\users\\me\\QuorvelAI instead.";
    benchState = &state;
    DWORD windowThread = GetCurrentThreadId();
    if (!benchPath.empty()) SetWindowsHookExW(WH_GETMESSAGE, benchHook, nullptr, windowThread);

    // Announces each screen (its number in the ready file) once it has
    // stood for 400 ms; the screen field is only read here, never written.
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        int announced = -1;
        bool first = true;
        while (!stop) {
            Sleep(20);
            HWND target = state.postTarget.load();
            if (!target || !IsWindowVisible(target)) continue;
            if (dpiChanged > 0) {
                static RECT suggested = rectangleAt(dpiChanged);
                SendMessageW(target, WM_DPICHANGED, MAKEWPARAM(dpiChanged, dpiChanged),
                             reinterpret_cast<LPARAM>(&suggested));
                dpiChanged = 0;
            }
            int now = static_cast<int>(state.screen);
            if (now == announced) continue;
            Sleep(400);
            if (static_cast<int>(state.screen) != now) continue;
            announced = now;
            writeText(ready, formatText(L"%d\n", now), L"ab");
            if (!first || state.screen != scene->shows) continue;
            first = false;
            if (!benchPath.empty()) {
                PostThreadMessageW(windowThread, BenchMessage, 0, 0);
            } else if (!benchIdle.empty()) {
                double before = processCpuSeconds();
                ULONGLONG startTick = GetTickCount64();
                Sleep(5000);
                double share = (processCpuSeconds() - before) /
                               (static_cast<double>(GetTickCount64() - startTick) / 1000.0);
                writeText(benchIdle, formatText(L"idle_cpu_percent=%.2f\n", share * 100));
                PostMessageW(state.postTarget.load(), WM_CLOSE, 0, 0);
            } else if (sceneName == L"blocked") {
                // The window goes while the worker is stuck.
                PostMessageW(target, WM_TIMER, DoneTimer, 0);
            }
        }
    });
    int code = window.run(instance);
    stop = true;
    watcher.join();
    if (highContrast) SetSysColors(contrastCount, contrastElements, savedColours);
    writeText(result, formatText(L"exit=%d removeData=%d installs=%d copied=%d\n", code,
                                 removeData ? 1 : 0, installs.load(), state.copiedAt != 0 ? 1 : 0));
    return code;
}
