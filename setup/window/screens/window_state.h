// The setup window's state, its screens and the transitions between them.
// Everything here runs on the window thread unless a comment says
// otherwise.
#pragma once

#include "setup/window/screens/setup_window.h"
#include "setup/window/accessibility/window_access.h"
#include "setup/window/screens/window_steps.h"

#include "setup/core/options.h"
#include "setup/core/progress.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "setup/release/http_client.h"
#include "setup/texts/texts.h"

#include "foundation/handles.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv {

enum class Screen : int32_t {
    Welcome = 0,
    Working = 1,
    WaitingForApp = 2,
    Failed = 3,
    Done = 4,
    ConfirmUninstall = 5,
    Removed = 6,
};

// Worker to window. Texts and errors travel as heap copies that the window
// thread takes over and frees.
constexpr UINT MsgStatus = WM_APP + 1;         // lParam: std::wstring*
constexpr UINT MsgDetail = WM_APP + 2;         // lParam: std::wstring*
constexpr UINT MsgProgress = WM_APP + 3;       // wParam: thousandths, -1 unknown
constexpr UINT MsgFinished = WM_APP + 4;       // lParam: SetupError* or 0
constexpr UINT MsgFolderProblem = WM_APP + 5;  // wParam: fallback, lParam: note
constexpr UINT MsgWaitingForApp = WM_APP + 6;

constexpr UINT_PTR AnimationTimer = 1;  // every 33 ms while the window lives
constexpr UINT_PTR DoneTimer = 2;       // closes the window after Done

// Button ids: the bottom row, the folder link, the check box, the title bar.
enum ButtonId : int32_t {
    RowFirst = 1,
    RowSecond = 2,
    RowThird = 3,
    FolderLink = 4,
    RemoveDataBox = 5,
    MinimiseButton = 6,
    CloseButton = 7,
};

struct WindowButton {
    int32_t id = 0;
    float x = 0, y = 0, width = 0, height = 0;  // client pixels
    std::wstring label;                         // empty: drawn by the screen itself
    bool primary = false;
};

struct WindowState;

// What the steps report through: posts to the window, reads the cancel
// flag. Lives in the state so that a worker that outlives the window
// object still reports into memory that exists.
class WorkerProgress final : public Progress {
public:
    explicit WorkerProgress(WindowState& state) : state_(state) {}
    void setStatus(const std::wstring& text) override;
    void reportStatus(StatusLine line, const std::wstring& text) override;
    void setProgress(double fraction) override;
    void setDetail(const std::wstring& text) override;
    bool isCancelled() override;
    bool keepWaitingForApp() override;

private:
    WindowState& state_;
};

struct WindowState {
    WindowState(SetupWindow* owner, const SetupOptions& options, SetupMode mode,
                const std::wstring& folder, bool askFirst, WindowSteps steps);

    SetupWindow* owner;
    SetupOptions options;
    SetupMode mode;
    std::wstring folder;  // written by the worker only while busy (fallback)
    bool askFirst;
    WindowSteps steps;
    // The one field both threads change: set by the window thread, read by
    // the worker.
    std::atomic<bool> cancelRequested{false};
    WorkerProgress progress{*this};
    HttpClient httpClient;
    SetupContext context;  // kept across runs: release data is found once
    // The user's language, from the tag the entry chose (English without one).
    Texts texts;

    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    // The window the worker posts to; cleared when the window goes, so that
    // late messages are dropped instead of lost with their heap copies.
    std::atomic<HWND> postTarget{nullptr};

    ULONG_PTR gdiplusToken = 0;
    std::unique_ptr<Gdiplus::Bitmap> logo;
    std::unique_ptr<Gdiplus::Font> titleFont, bodyFont, smallFont, buttonFont;
    int32_t dpi = 96;
    uint64_t startTick;

    Screen screen = Screen::Welcome;
    std::wstring status;
    StatusLine statusLine = StatusLine::Other;  // which line status is, for its translation
    std::wstring detail;
    std::wstring note;
    double targetFraction = -1.0;
    double shownFraction = 0.0;
    std::unique_ptr<SetupError> error;
    std::wstring report;
    uint64_t copiedAt = 0;
    bool relayoutPending = false;
    bool removeDataChecked = false;
    bool busy = false;
    bool succeeded = false;
    // The current or last worker thread; after run, held only while that
    // thread has not ended (the state must then outlive the window).
    KernelHandle worker;
    std::vector<WindowButton> buttons;
    // How much taller than its box the body text is (pixels); everything
    // below the body moves down by it and the window grows.
    float bodyGrowth = 0;
    int32_t hoverId = 0;
    int32_t pressedId = 0;
    AccessState access;
};

// Sets the screen: clears hover and press, lays the buttons out, repaints.
void setScreen(WindowState& state, Screen screen);
// Resets the run fields, shows Working and starts a worker thread.
void startRun(WindowState& state);
// The first screen: the confirmation, the welcome screen, or a run at once.
void showFirstScreen(WindowState& state);
// The close command: closes when idle, cancels once when busy.
void requestClose(WindowState& state);
// "Close" or Esc on the failure screen.
void backFromFailure(WindowState& state);
// The worker messages and the two timers; false for any other message.
bool handleStateMessage(WindowState& state, UINT message, WPARAM wParam, LPARAM lParam);
// Asks for a full repaint unless the window is minimised or absent.
void repaint(WindowState& state);
// Closes the window (no-op without one).
void closeWindow(WindowState& state);

}  // namespace qv
