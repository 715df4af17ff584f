// The window's accessible object (IAccessible) for OBJID_CLIENT: the client
// area with one simple child per part of the screen showing.
#pragma once

#include "setup/window/screens/window_state.h"

namespace qv {

// The answer to WM_GETOBJECT for OBJID_CLIENT; makes the object on first
// use. 0 when it cannot be handed out.
LRESULT accessibleObjectResult(WindowState& state, WPARAM wParam);
// Cuts the object off from the state and drops the state's reference:
// clients that still hold it get RPC_E_DISCONNECTED from every call.
void disconnectAccessible(WindowState& state);
// Gives the window object (OBJID_WINDOW, which the system answers) the
// dialog role, so that screen readers read the screen's text when it
// opens; and takes the annotation back before the window goes. Both do
// nothing when the annotation service is missing (COM not started).
// Returns the service's answer, for tests.
HRESULT describeAsDialog(HWND window);
void forgetDialogRole(HWND window);
// How many of these objects exist in the process: a leak or an early
// release shows here.
int accessibleObjectsAlive();

}  // namespace qv
