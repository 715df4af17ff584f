// The setup steps the window's worker runs, behind one record so that the
// window can be driven with stand-ins.
#pragma once

#include "setup/core/setup_context.h"

#include <functional>
#include <string>

namespace qv {

struct WindowSteps {
    // Release discovery: fills the release fields of the context.
    std::function<void(SetupContext&)> discoverRelease;
    // The folder check: problem text (empty when usable), code into *code.
    std::function<std::wstring(const SetupContext&, const std::wstring& folder,
                               std::wstring* code)>
        checkFolder;
    // The first fallback folder that passes the check; empty when none.
    std::function<std::wstring(const SetupContext&)> findFallback;
    // The short text shown beside a fallback for a problem code and text.
    std::function<std::wstring(const std::wstring& code, const std::wstring& text)> shortProblem;
    std::function<void(SetupContext&, const std::wstring& folder)> install;
    std::function<void(SetupContext&, const std::wstring& root)> uninstall;
};

// The real steps: release discovery, the folder checks, the install and the
// uninstall.
WindowSteps defaultWindowSteps();

}  // namespace qv
