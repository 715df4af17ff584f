// Running the real setup program against the local release server, and
// reading back what an install left: files, registry values, logs.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/release_server.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

inline const wchar_t* const uninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuorvelAI";

struct SetupRun {
    ChildResult result;
    std::string log;
    bool has(const std::string& text) const { return log.find(text) != std::string::npos; }
};

// The served release variant's base URL ("good", "unsigned", ...).
std::wstring releaseUrl(const std::string& variant);
// The release server's folder of a published version, as a Windows path.
std::wstring publishedVersionFolder(const std::string& variant, const std::string& version);
// A number member of a published manifest.
uint64_t manifestNumber(const std::string& variant, const std::string& version, const std::string& name);

std::string manifestText(const std::string& variant, const std::string& version, const std::string& name);
// The server path of a published payload, as the request log shows it.
std::string payloadPath(const std::string& variant, const std::string& version);
// The server path of the delta from 1.0.0 to version of a variant.
std::string deltaPath(const std::string& variant, const std::string& version);
// The names in folder, "." and ".." left out.
std::vector<std::wstring> listFolderNames(const std::wstring& folder);

std::wstring setupProgram();      // build/bin/QuorvelAI-Setup.exe
std::wstring fastSetupProgram();  // the same with shortened waits

// Runs program (default: the real setup) with arguments, TEMP and TMP set to
// temp, and returns its exit and the log it wrote there.
SetupRun runSetup(const std::wstring& temp, const std::wstring& arguments,
                  const std::wstring& program = setupProgram(), DWORD timeoutMs = 120000);
// "--silent --base-url <variant> --version <version> --dir "<root>"".
std::wstring silentArguments(const std::string& variant, const std::string& version,
                             const std::wstring& root);

// A shell known folder of the test prefix's user; empty when unknown.
std::wstring knownFolderPath(REFKNOWNFOLDERID id);

// REG_SZ text or REG_DWORD value of the uninstall entry; empty / -1 when missing.
std::wstring entryText(const wchar_t* name);
int64_t entryNumber(const wchar_t* name);
// Forgets the uninstall entry, the shortcuts named QuorvelAI and the stamp.
void clearUserState();

// Waits up to timeoutMs for path to exist as a file.
bool waitForFile(const std::wstring& path, DWORD timeoutMs);
// Starts root\QuorvelAI.exe and waits for it; true when the app in
// app-<version> recorded a start within the launcher's run.
bool launcherStartsVersion(const std::wstring& root, const std::wstring& version);

// Skips the test when it does not run under the release server wrapper.
class InstallRunTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    TempFolder temp;
};

}  // namespace qv::test
