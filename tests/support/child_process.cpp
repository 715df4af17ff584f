#include "tests/support/child_process.h"

#include "foundation/handles.h"

#include <map>

namespace qv::test {
namespace {

struct IgnoreCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    }
};

// Builds a Unicode environment block from the current one plus overrides.
std::wstring environmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
    std::map<std::wstring, std::wstring, IgnoreCaseLess> variables;
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* at = current; at && *at; at += wcslen(at) + 1) {
        std::wstring entry = at;
        size_t equals = entry.find(L'=', 1);
        if (equals == std::wstring::npos) continue;
        variables[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    FreeEnvironmentStringsW(current);
    for (const auto& change : changes) variables[change.first] = change.second;
    std::wstring block;
    for (const auto& variable : variables) {
        block += variable.first + L"=" + variable.second;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

}  // namespace

RunningChild startChild(const std::wstring& program, const std::wstring& commandLine,
                        const ChildOptions& options) {
    RunningChild child;
    std::wstring line = commandLine;
    std::wstring environment = environmentBlock(options.environment);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    child.startTick = GetTickCount64();
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(),
                        options.currentFolder.empty() ? nullptr : options.currentFolder.c_str(),
                        &startup, &process))
        return child;
    KernelHandle thread(process.hThread);
    child.process.reset(process.hProcess);
    child.id = process.dwProcessId;
    return child;
}

ChildResult finishChild(RunningChild& child, DWORD timeoutMs) {
    ChildResult result;
    if (!child.process) return result;
    result.started = true;
    if (WaitForSingleObject(child.process.get(), timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(child.process.get(), &result.exitCode);
    } else {
        TerminateProcess(child.process.get(), 99);
        WaitForSingleObject(child.process.get(), 5000);
    }
    result.elapsedMs = static_cast<DWORD>(GetTickCount64() - child.startTick);
    child.process.reset();
    return result;
}

ChildResult runChild(const std::wstring& program, const std::wstring& commandLine,
                     const ChildOptions& options) {
    RunningChild child = startChild(program, commandLine, options);
    return finishChild(child, options.timeoutMs);
}

ChildOptions withTempFolder(const std::wstring& folder, DWORD timeoutMs) {
    ChildOptions options;
    options.environment = {{L"TEMP", folder}, {L"TMP", folder}};
    options.timeoutMs = timeoutMs;
    return options;
}

}  // namespace qv::test
