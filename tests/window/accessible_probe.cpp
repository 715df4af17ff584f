// accessible-probe: reads a window's accessible client object from another
// process, as a screen reader does, and prints one line per child:
//   role<TAB>name<TAB>value<TAB>state in hex<TAB>left top width height (screen)
//   accessible-probe.exe "WINDOW TITLE" [CHILD NAME TO PRESS]
// Exit 0 when the object was read (and the press accepted), 1 otherwise.
#include "accessible_support.h"

#include "foundation/handles.h"

#include <windows.h>
#include <oleacc.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

using qv::test::accessibleIid;
using qv::test::child;

std::string utf8(BSTR text) {
    if (!text) return "";
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    SysFreeString(text);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    qv::ComApartment com;
    HWND window = FindWindowW(L"QuorvelAISetup", argv[1]);
    if (!window) return 1;
    qv::ComPtr<IAccessible> object;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), accessibleIid,
                                          object.putVoid())))
        return 1;
    long count = 0;
    if (FAILED(object->get_accChildCount(&count))) return 1;
    std::string press = argc > 2 ? utf8(SysAllocString(argv[2])) : "";
    long pressed = 0;
    for (long i = 1; i <= count; ++i) {
        VARIANT role, state;
        BSTR name = nullptr, value = nullptr;
        object->get_accRole(child(i), &role);
        object->get_accState(child(i), &state);
        object->get_accName(child(i), &name);
        object->get_accValue(child(i), &value);
        long x = 0, y = 0, w = 0, h = 0;
        object->accLocation(&x, &y, &w, &h, child(i));
        std::string n = utf8(name);
        printf("%ld\t%s\t%s\t%lx\t%ld %ld %ld %ld\n", role.lVal, n.c_str(), utf8(value).c_str(),
               state.lVal, x, y, w, h);
        if (!press.empty() && n == press && !pressed) pressed = i;
    }
    fflush(stdout);
    if (press.empty()) return 0;
    return pressed && SUCCEEDED(object->accDoDefaultAction(child(pressed))) ? 0 : 1;
}
