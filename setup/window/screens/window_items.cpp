#include "setup/window/screens/window_items.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/drawing/window_layout.h"
#include "setup/window/drawing/window_mirror.h"
#include "setup/window/texts/window_texts.h"

#include "foundation/text.h"

#include <oleacc.h>

#include <algorithm>

namespace qv {
namespace {

float clientWidth(const WindowState& state) {
    RECT client{};
    if (state.window && GetClientRect(state.window, &client) && client.right > 0)
        return static_cast<float>(client.right);
    return scaled(state, 440);
}

AccessibleItem itemOf(const WindowState& state, const WindowButton& button) {
    AccessibleItem item;
    item.box = Gdiplus::RectF(button.x, button.y, button.width, button.height);
    item.buttonId = button.id;
    switch (button.id) {
    case FolderLink:
        item.role = ROLE_SYSTEM_LINK;
        item.name = uiText(state, TX_CHANGE_LOCATION);
        break;
    case RemoveDataBox:
        item.role = ROLE_SYSTEM_CHECKBUTTON;
        item.name = uiText(state, TX_REMOVE_DATA);
        break;
    case MinimiseButton:
        item.role = ROLE_SYSTEM_PUSHBUTTON;
        item.name = uiText(state, TX_MINIMISE);
        break;
    case CloseButton:
        // Not "Close": the failure and removed screens have a button of that name.
        item.role = ROLE_SYSTEM_PUSHBUTTON;
        item.name = uiText(state, TX_CLOSE_WINDOW);
        break;
    default:
        item.role = ROLE_SYSTEM_PUSHBUTTON;
        item.name = button.label;
        break;
    }
    return item;
}

bool onTitleBar(const WindowButton& button) {
    return button.id == MinimiseButton || button.id == CloseButton;
}

// Read first: higher up, or on the same line nearer where a line starts
// (the right edge in a right-to-left language). The title bar comes last,
// as the row of a dialog does before its frame.
bool readBefore(const WindowButton& a, const WindowButton& b, bool rightToLeft) {
    if (onTitleBar(a) != onTitleBar(b)) return onTitleBar(b);
    if (onTitleBar(a)) return a.id < b.id;
    if (a.y + a.height <= b.y) return true;
    if (b.y + b.height <= a.y) return false;
    return rightToLeft ? a.x > b.x : a.x < b.x;
}

}  // namespace

std::vector<WindowButton> buttonsInOrder(const WindowState& state) {
    std::vector<WindowButton> buttons = state.buttons;
    bool rightToLeft = readsRightToLeft(state);
    std::stable_sort(buttons.begin(), buttons.end(), [rightToLeft](const auto& a, const auto& b) {
        return readBefore(a, b, rightToLeft);
    });
    return buttons;
}

bool buttonEnabled(const WindowState& state, int32_t buttonId) {
    return !(buttonId == CloseButton && state.busy && state.cancelRequested.load());
}

std::vector<AccessibleItem> accessibleItems(const WindowState& state) {
    float W = clientWidth(state);
    std::vector<AccessibleItem> items;
    items.push_back({ROLE_SYSTEM_STATICTEXT, screenTitle(state), titleBox(state, W), 0});
    items.push_back({ROLE_SYSTEM_STATICTEXT, bodyText(state), bodyBox(state, W), 0});
    if (state.screen == Screen::Failed && state.error)
        items.push_back({ROLE_SYSTEM_STATICTEXT, errorCodeText(state),
                         errorCodeBox(state, W), 0});
    if (showsProgress(state))
        items.push_back({ROLE_SYSTEM_PROGRESSBAR, uiText(state, TX_PROGRESS), progressBox(state, W), 0});
    for (const WindowButton& button : buttonsInOrder(state)) items.push_back(itemOf(state, button));
    return items;
}

long childIdOfButton(const WindowState& state, int32_t buttonId) {
    if (buttonId == 0) return 0;
    std::vector<AccessibleItem> items = accessibleItems(state);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].buttonId == buttonId) return static_cast<long>(i + 1);
    return 0;
}

std::wstring progressValue(const WindowState& state) {
    if (state.screen == Screen::Done) return L"100 %";
    if (state.screen != Screen::Working || state.targetFraction < 0) return L"";
    return formatText(L"%d %%", static_cast<int>(state.shownFraction * 100));
}

int32_t primaryButton(const WindowState& state) {
    for (const WindowButton& button : state.buttons)
        if (button.primary) return button.id;
    return 0;
}

int32_t initialFocusButton(const WindowState& state) {
    if (state.screen == Screen::ConfirmUninstall) return RemoveDataBox;
    return primaryButton(state);
}

bool showsFolderPath(const WindowState& state) {
    if (state.hoverId == FolderLink) return true;
    return state.access.keyboardUsed && state.access.focusId == FolderLink;
}

}  // namespace qv
