// The setup program's command line: its options, their parsing and the
// usage text shown under a command-line error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// The setup program's own version: log header, user agent, error report.
inline constexpr const wchar_t* setupVersion = L"1.0.0";
inline constexpr const wchar_t* userAgent = L"QuorvelAI-Setup/1.0.0";
// The release server used when --base-url is not given.
inline constexpr const wchar_t* defaultBaseUrl = L"https://releases.quorvel.com";

struct SetupOptions {
    int32_t uninstall = 0;    // 1 with --uninstall or when run as Uninstall.exe
    bool update = false;      // --update: upgrade started by the app
    bool silent = false;      // --silent, /S, -s
    int32_t launch = -1;      // -1 not given, 0 --no-launch, 1 --launch
    bool allowUnsigned = false;
    bool noShortcuts = false;
    bool removeData = false;
    bool confirmed = false;
    uint32_t waitPid = 0;     // 0: no process to wait for
    std::wstring dir;         // full path of --dir, or empty
    std::wstring baseUrl = defaultBaseUrl;  // without trailing slashes
    std::wstring version;     // --version, or empty for the latest
    std::wstring channel;     // --channel, or empty for none
    std::wstring uninstallRoot;
    // --language (a BCP 47 tag); the entry replaces it with the tag of the
    // language chosen for the window and message boxes.
    std::wstring language;
};

// The mode in which the setup window runs.
enum class SetupMode : int32_t { Install = 0, Upgrade = 1, Uninstall = 2 };

// Fills options from the argument list (element 0, the program, is
// skipped). On false, error holds the message for the user.
bool parseCommandLine(const std::vector<std::wstring>& arguments, SetupOptions& options,
                      std::wstring& error);

// The 14-line usage text, lines ended by LF.
const std::wstring& usageText();

}  // namespace qv
