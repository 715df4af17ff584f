// The few platform calls of the window that cannot be made to fail or
// answer otherwise for real under test: the worker's thread start, GDI+'s
// start-up, the clipboard hand-over, the message box shown when no window
// can be made, and a monitor's scale. Tests replace them and put them
// back; the program never does.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>

namespace qv {

struct WindowSeams {
    // CreateThread with the default stack size; null with the last error set.
    HANDLE (*startThread)(LPTHREAD_START_ROUTINE routine, void* parameter);
    // GdiplusStartup, version 1, default input.
    Gdiplus::Status (*startGdiplus)(ULONG_PTR* token);
    // SetClipboardData; null when the clipboard did not take the memory.
    HANDLE (*setClipboardData)(UINT format, HANDLE memory);
    // An error message box with no owner.
    void (*showError)(const std::wstring& caption, const std::wstring& text);
    // The effective dpi of the monitor that holds the point; 0 where the
    // system cannot tell (before Windows 8.1).
    UINT (*monitorDpi)(POINT where);
};

// The process-wide seams, set to the real calls.
WindowSeams& windowSeams();

}  // namespace qv
