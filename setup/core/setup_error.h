// The one error type of the setup steps, the cancellation check and the
// plain-text error report.
#pragma once

#include <string>

namespace qv {

struct SetupContext;

// Thrown by value, caught by reference. code is "QV-" + area + "-" + number,
// or "QV-CANCEL".
struct SetupError {
    std::wstring code;
    std::wstring message;  // for the user, shown as it is
    std::wstring detail;   // technical; may be empty or hold line feeds
    bool retryable = false;

    SetupError() = default;
    // Writes the ERROR line "code: message detail" before anything else.
    SetupError(const wchar_t* code, std::wstring message, std::wstring detail, bool retryable);

    // The "QV-CANCEL" error, made without an ERROR line.
    static SetupError cancelled();
};

// Throws the cancellation error when the context's progress says the user
// asked to stop.
void checkCancelled(const SetupContext& context);

// The report logged for a failure and copied by "Copy details"; every line
// ends in CR LF. folder and version are left out when empty.
std::wstring errorReport(const SetupError& error, const std::wstring& folder,
                         const std::wstring& version);

}  // namespace qv
