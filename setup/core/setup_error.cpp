#include "setup_error.h"

#include "options.h"
#include "progress.h"
#include "setup_context.h"

#include "foundation/log.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

namespace qv {

SetupError::SetupError(const wchar_t* code_, std::wstring message_, std::wstring detail_,
                       bool retryable_)
    : code(code_), message(std::move(message_)), detail(std::move(detail_)), retryable(retryable_) {
    logError(L"%ls: %ls %ls", code.c_str(), message.c_str(), detail.c_str());
}

SetupError SetupError::cancelled() {
    SetupError error;
    error.code = L"QV-CANCEL";
    error.message = L"Setup was cancelled.";
    error.retryable = true;
    return error;
}

void checkCancelled(const SetupContext& context) {
    if (context.progress && context.progress->isCancelled()) throw SetupError::cancelled();
}

namespace {

// Every detail line ends in CR LF exactly once, whatever it ended in.
std::wstring normaliseLineEnds(const std::wstring& text) {
    std::wstring result;
    result.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\r') continue;
        if (c == L'\n') result += L"\r\n";
        else result.push_back(c);
    }
    return result;
}

}  // namespace

std::wstring errorReport(const SetupError& error, const std::wstring& folder,
                         const std::wstring& version) {
    std::wstring report = formatText(L"QuorvelAI Setup %ls\r\nError: %ls\r\n%ls\r\n", setupVersion,
                                     error.code.c_str(), error.message.c_str());
    if (!error.detail.empty()) report += L"Details: " + normaliseLineEnds(error.detail) + L"\r\n";
    report += L"System: " + describeOs() + L"\r\n";
    if (!folder.empty()) report += L"Install folder: " + folder + L"\r\n";
    if (!version.empty()) report += L"Version: " + version + L"\r\n";
    report += L"Log: " + currentLogPath() + L"\r\n";
    return report;
}

}  // namespace qv
