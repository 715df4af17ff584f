// IAccessible over the window state. Every call runs on the window thread
// (clients in other processes reach it through COM's marshalling) and reads
// the screen afresh, so nothing here can go stale except the state itself,
// which the window's end cuts off.
#include "setup/window/accessibility/window_accessible.h"

#include "setup/window/accessibility/window_access.h"
#include "setup/window/screens/window_input.h"
#include "setup/window/screens/window_items.h"
#include "setup/window/drawing/window_drawing.h"
#include "setup/window/drawing/window_layout.h"
#include "setup/window/texts/window_texts.h"

#include "foundation/handles.h"

#include <oleacc.h>

#include <atomic>
#include <cmath>

namespace qv {

namespace {
std::atomic<int> liveObjects{0};

// Spelt out: the import library's GUIDs can resolve to thunks.
const CLSID accPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID accPropServicesIid = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const MSAAPROPID roleProperty = {0xcb905ff2, 0x7bd1, 0x4c05, {0xb3, 0xc8, 0xe6, 0xc2, 0x41, 0x36, 0x4d, 0x70}};

ComPtr<IAccPropServices> propServices() {
    ComPtr<IAccPropServices> services;
    CoCreateInstance(accPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, accPropServicesIid,
                     services.putVoid());
    return services;
}

// The title and the body, for the child that has the focus when a screen
// opens: screen readers speak a focused object's description, not a name
// change elsewhere.
std::wstring screenSummary(const WindowState& state) {
    std::wstring title = screenTitle(state), body = bodyText(state);
    return body.empty() ? title : title + L"\n" + body;
}

}  // namespace

int accessibleObjectsAlive() { return liveObjects.load(); }

class WindowAccessible final : public IAccessible {
public:
    explicit WindowAccessible(WindowState& state) : state_(&state) { ++liveObjects; }
    ~WindowAccessible() { --liveObjects; }
    WindowAccessible(const WindowAccessible&) = delete;
    WindowAccessible& operator=(const WindowAccessible&) = delete;
    void disconnect() { state_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: clients use the vtable; there is no type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        if (!live()) return RPC_E_DISCONNECTED;
        return AccessibleObjectFromWindow(state_->window, static_cast<DWORD>(OBJID_WINDOW),
                                          __uuidof(IDispatch), reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        if (!live()) return RPC_E_DISCONNECTED;
        *count = static_cast<long>(accessibleItems(*state_).size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Target t;
        if (HRESULT hr = resolve(child, t); FAILED(hr)) return hr;
        // The children are simple elements of this object, not objects.
        return t.item ? S_FALSE : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return text(child, name, [this](const Target& t) {
            if (t.item) return t.item->name;
            wchar_t title[128] = {};
            GetWindowTextW(state_->window, title, 128);
            return std::wstring(title);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return text(child, value, [this](const Target& t) {
            return t.item && t.item->role == ROLE_SYSTEM_PROGRESSBAR ? progressValue(*state_)
                                                                     : std::wstring();
        });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return text(child, description, [this](const Target& t) {
            std::wstring own = ownDescription(t);
            if (!t.item || t.childId != focusedChild(*state_)) return own;
            std::wstring summary = screenSummary(*state_);
            return own.empty() ? summary : summary + L"\n" + own;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role) return E_POINTER;
        VariantInit(role);
        Target t;
        if (HRESULT hr = resolve(child, t); FAILED(hr)) return hr;
        role->vt = VT_I4;
        role->lVal = t.item ? t.item->role : ROLE_SYSTEM_CLIENT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
        if (!out) return E_POINTER;
        VariantInit(out);
        Target t;
        if (HRESULT hr = resolve(child, t); FAILED(hr)) return hr;
        out->vt = VT_I4;
        out->lVal = t.item ? itemState(*t.item, t.childId) : STATE_SYSTEM_FOCUSABLE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return text(child, help, [](const Target&) { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (file) *file = nullptr;
        if (topic) *topic = 0;
        return live() ? S_FALSE : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return text(child, shortcut, [](const Target&) { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus) return E_POINTER;
        VariantInit(focus);
        if (!live()) return RPC_E_DISCONNECTED;
        if (GetFocus() != state_->window) return S_FALSE;
        focus->vt = VT_I4;
        focus->lVal = focusedChild(*state_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection) return E_POINTER;
        VariantInit(selection);
        return live() ? S_FALSE : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return text(child, action, [this](const Target& t) {
            if (!t.item || t.item->buttonId == 0) return std::wstring();
            if (t.item->buttonId == RemoveDataBox)
                return uiText(*state_, state_->removeDataChecked ? TX_ACTION_UNCHECK : TX_ACTION_CHECK);
            return uiText(*state_, TX_ACTION_PRESS);
        });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        Target t;
        if (HRESULT hr = resolve(child, t); FAILED(hr)) return hr;
        if (!(flags & SELFLAG_TAKEFOCUS) || !t.item || !takesFocus(*state_, t.item->buttonId))
            return DISP_E_MEMBERNOTFOUND;
        state_->access.keyboardUsed = true;
        state_->access.focusId = t.item->buttonId;
        repaint(*state_);
        announceFocus(*state_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        if (!left || !top || !width || !height) return E_POINTER;
        *left = *top = *width = *height = 0;
        Target t;
        if (HRESULT hr = resolve(child, t); FAILED(hr)) return hr;
        RECT box{};
        if (t.item) {
            box = pixelBox(t.item->box);
            MapWindowPoints(state_->window, nullptr, reinterpret_cast<POINT*>(&box), 2);
        } else {
            GetWindowRect(state_->window, &box);
        }
        *left = box.left;
        *top = box.top;
        *width = box.right - box.left;
        *height = box.bottom - box.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!end) return E_POINTER;
        VariantInit(end);
        Target t;
        if (HRESULT hr = resolve(start, t); FAILED(hr)) return hr;
        if (direction < NAVDIR_UP || direction > NAVDIR_LASTCHILD) return E_INVALIDARG;
        long count = static_cast<long>(t.items.size()), at = t.childId, to = 0;
        if (direction == NAVDIR_FIRSTCHILD && !t.item) to = 1;
        else if (direction == NAVDIR_LASTCHILD && !t.item) to = count;
        else if (direction == NAVDIR_NEXT && t.item) to = at + 1;
        else if (direction == NAVDIR_PREVIOUS && t.item) to = at - 1;
        if (to < 1 || to > count) return S_FALSE;
        end->vt = VT_I4;
        end->lVal = to;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
        if (!out) return E_POINTER;
        VariantInit(out);
        if (!live()) return RPC_E_DISCONNECTED;
        POINT point{x, y};
        ScreenToClient(state_->window, &point);
        RECT client{};
        GetClientRect(state_->window, &client);
        if (!PtInRect(&client, point)) return S_FALSE;
        out->vt = VT_I4;
        out->lVal = childAt(static_cast<float>(point.x), static_cast<float>(point.y));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        Target t;
        if (HRESULT hr = resolve(child, t); FAILED(hr)) return hr;
        if (!t.item || t.item->buttonId == 0) return DISP_E_MEMBERNOTFOUND;
        PostMessageW(state_->window, MsgAccessiblePress, static_cast<WPARAM>(t.item->buttonId),
                     static_cast<LPARAM>(state_->screen));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    struct Target {
        std::vector<AccessibleItem> items;
        const AccessibleItem* item = nullptr;  // null: the client object itself
        long childId = CHILDID_SELF;
    };

    bool live() const { return state_ && state_->window; }

    HRESULT resolve(const VARIANT& child, Target& t) const {
        if (!live()) return RPC_E_DISCONNECTED;
        if (child.vt != VT_I4) return E_INVALIDARG;
        t.items = accessibleItems(*state_);
        t.childId = child.lVal;
        if (t.childId == CHILDID_SELF) return S_OK;
        if (t.childId < 1 || t.childId > static_cast<long>(t.items.size())) return E_INVALIDARG;
        t.item = &t.items[static_cast<size_t>(t.childId - 1)];
        return S_OK;
    }

    // Answers a text property: S_FALSE and no string when it is empty.
    template <typename F>
    HRESULT text(const VARIANT& child, BSTR* out, F&& read) const {
        if (!out) return E_POINTER;
        *out = nullptr;
        Target t;
        if (HRESULT hr = resolve(child, t); FAILED(hr)) return hr;
        std::wstring value = read(t);
        if (value.empty()) return S_FALSE;
        *out = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    std::wstring ownDescription(const Target& t) const {
        if (t.item && t.item->buttonId == FolderLink)
            return state_->texts.format(TX_INSTALLS_TO_DESCRIPTION, {state_->folder});
        if (t.item && t.item->role == ROLE_SYSTEM_PROGRESSBAR &&
            state_->screen == Screen::Working && !state_->cancelRequested.load())
            return state_->detail;
        return std::wstring();
    }

    // The one child with the focus says so while the window has it.
    long focusFlags(long childId) const {
        bool focused = GetFocus() == state_->window && focusedChild(*state_) == childId;
        return focused ? STATE_SYSTEM_FOCUSED : 0;
    }

    long itemState(const AccessibleItem& item, long childId) const {
        if (item.role == ROLE_SYSTEM_PROGRESSBAR)
            return STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSABLE | focusFlags(childId);
        if (item.buttonId == 0) {
            bool alert = childId == bodyChild && state_->screen == Screen::Failed;
            return STATE_SYSTEM_READONLY | (alert ? STATE_SYSTEM_ALERT_HIGH : 0);
        }
        if (!buttonEnabled(*state_, item.buttonId)) return STATE_SYSTEM_UNAVAILABLE;
        long flags = STATE_SYSTEM_FOCUSABLE | focusFlags(childId);
        if (state_->hoverId == item.buttonId) flags |= STATE_SYSTEM_HOTTRACKED;
        if (state_->pressedId == item.buttonId) flags |= STATE_SYSTEM_PRESSED;
        if (primaryButton(*state_) == item.buttonId) flags |= STATE_SYSTEM_DEFAULT;
        if (item.buttonId == FolderLink) flags |= STATE_SYSTEM_LINKED;
        if (item.buttonId == RemoveDataBox && state_->removeDataChecked)
            flags |= STATE_SYSTEM_CHECKED;
        return flags;
    }

    // Buttons first, as the mouse sees them; then the texts and the bar.
    long childAt(float x, float y) const {
        if (long child = childIdOfButton(*state_, hitTest(*state_, x, y))) return child;
        std::vector<AccessibleItem> items = accessibleItems(*state_);
        for (size_t i = 0; i < items.size(); ++i) {
            const Gdiplus::RectF& b = items[i].box;
            if (items[i].buttonId == 0 && x >= b.X && x < b.X + b.Width && y >= b.Y &&
                y < b.Y + b.Height)
                return static_cast<long>(i + 1);
        }
        return CHILDID_SELF;
    }

    static RECT pixelBox(const Gdiplus::RectF& box) {
        return {static_cast<LONG>(std::floor(box.X)), static_cast<LONG>(std::floor(box.Y)),
                static_cast<LONG>(std::ceil(box.X + box.Width)),
                static_cast<LONG>(std::ceil(box.Y + box.Height))};
    }

    LONG refs_ = 1;
    WindowState* state_;
};

HRESULT describeAsDialog(HWND window) {
    ComPtr<IAccPropServices> services = propServices();
    if (!services) return E_NOINTERFACE;
    VARIANT role;
    VariantInit(&role);
    role.vt = VT_I4;
    role.lVal = ROLE_SYSTEM_DIALOG;
    return services->SetHwndProp(window, static_cast<DWORD>(OBJID_WINDOW), CHILDID_SELF, roleProperty,
                                 role);
}

void forgetDialogRole(HWND window) {
    ComPtr<IAccPropServices> services = propServices();
    MSAAPROPID properties[] = {roleProperty};
    if (services)
        services->ClearHwndProps(window, static_cast<DWORD>(OBJID_WINDOW), CHILDID_SELF, properties, 1);
}

LRESULT accessibleObjectResult(WindowState& state, WPARAM wParam) {
    if (!state.window) return 0;
    if (!state.access.accessible) state.access.accessible = new WindowAccessible(state);
    LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam,
                                       static_cast<IAccessible*>(state.access.accessible));
    return result > 0 ? result : 0;
}

void disconnectAccessible(WindowState& state) {
    WindowAccessible* accessible = std::exchange(state.access.accessible, nullptr);
    if (!accessible) return;
    accessible->disconnect();
    // Proxies in other processes learn of the end at once, not at their
    // next call.
    CoDisconnectObject(static_cast<IAccessible*>(accessible), 0);
    accessible->Release();
}

}  // namespace qv
