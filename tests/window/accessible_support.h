// What the window tests and the accessible probe share to talk to an
// IAccessible the way a screen reader does.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <string>

namespace qv::test {

// Spelt out: the import library's IID_IAccessible can be a thunk.
inline const IID accessibleIid = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// The VARIANT that names child id (0 is the object itself).
inline VARIANT child(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

// The text of a BSTR an accessible object handed out, which it frees.
inline std::wstring takeString(BSTR text) {
    std::wstring value = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return value;
}

}  // namespace qv::test
