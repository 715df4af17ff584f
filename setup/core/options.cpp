#include "options.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/versions.h"

#include <cwchar>
#include <cwctype>

namespace qv {
namespace {

// Reads leading decimal digits after optional white space; 0 when there are none.
uint32_t parseProcessId(const std::wstring& text) {
    size_t at = 0;
    while (at < text.size() && std::iswspace(text[at])) ++at;
    uint64_t value = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
        value = value * 10 + static_cast<uint64_t>(text[at] - L'0');
        if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
        ++at;
    }
    return static_cast<uint32_t>(value);
}

bool setFlag(const std::wstring& argument, SetupOptions& options) {
    if (argument == L"--update") options.update = true;
    else if (argument == L"--silent" || argument == L"/S" || argument == L"-s") options.silent = true;
    else if (argument == L"--launch") options.launch = 1;
    else if (argument == L"--no-launch") options.launch = 0;
    else if (argument == L"--allow-unsigned") options.allowUnsigned = true;
    else if (argument == L"--no-shortcuts") options.noShortcuts = true;
    else if (argument == L"--uninstall") options.uninstall = 1;
    else if (argument == L"--remove-data") options.removeData = true;
    else if (argument == L"--confirmed") options.confirmed = true;
    else return false;
    return true;
}

bool takesValue(const std::wstring& argument) {
    return argument == L"--dir" || argument == L"--base-url" || argument == L"--version" ||
           argument == L"--uninstall-root" || argument == L"--wait-pid" || argument == L"--language" ||
           argument == L"--channel";
}

void setValue(const std::wstring& option, const std::wstring& value, SetupOptions& options) {
    if (option == L"--dir") {
        options.dir = fullPath(value);
    } else if (option == L"--base-url") {
        std::wstring url = value;
        while (!url.empty() && url.back() == L'/') url.pop_back();
        options.baseUrl = url;
    } else if (option == L"--version") {
        options.version = value;
    } else if (option == L"--channel") {
        options.channel = value;
    } else if (option == L"--uninstall-root") {
        options.uninstallRoot = value;
    } else if (option == L"--wait-pid") {
        options.waitPid = parseProcessId(value);
    } else if (option == L"--language") {
        options.language = value;
    }
}

}  // namespace

bool parseCommandLine(const std::vector<std::wstring>& arguments, SetupOptions& options,
                      std::wstring& error) {
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (setFlag(argument, options)) continue;
        if (takesValue(argument)) {
            if (i + 1 >= arguments.size()) {
                error = argument + L" needs a value";
                return false;
            }
            setValue(argument, arguments[++i], options);
            continue;
        }
        if (argument.compare(0, 11, L"--squirrel-") == 0) {
            logWarn(L"Ignoring Squirrel argument %ls", argument.c_str());
            continue;
        }
        error = L"Unknown argument: " + argument;
        return false;
    }
    if (!options.version.empty() && !parseVersion(options.version)) {
        error = L"Not a version: " + options.version;
        return false;
    }
    return true;
}

const std::wstring& usageText() {
    static const std::wstring text =
        L"QuorvelAI Setup\n"
        L"\n"
        L"  (no arguments)        install, or upgrade the existing install\n"
        L"  --update              upgrade started by the app (implies no questions)\n"
        L"  --wait-pid <pid>      wait for this process to exit first\n"
        L"  --dir <folder>        install folder\n"
        L"  --silent              no window and no questions\n"
        L"  --launch / --no-launch\n"
        L"  --version <x.y.z>     install this version instead of the latest\n"
        L"  --language <tag>      language of the window, such as pt-BR\n"
        L"  --channel <name>      follow this release channel (passed by the app)\n"
        L"  --base-url <url>      release server (testing)\n"
        L"  --allow-unsigned      skip the signature check (test payloads)\n"
        L"  --no-shortcuts\n"
        L"  --uninstall [--remove-data]\n";
    return text;
}

}  // namespace qv
