// End to end: whatever goes wrong before the switch-over, and wherever a
// run is ended, the installed version keeps working and the next run
// completes the upgrade.
#include "install_run_support.h"

#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/support/held_run_lock.h"
#include "tests/support/http_control.h"

#include <functional>

namespace qv::test {
namespace {

bool exists(const std::wstring& path) {
    return GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits until the log in temp holds text (and delayMs more), then ends the
// child unless told not to. True when the line was logged: a child that
// finished on its own right after it has passed the point too.
bool endWhenLogged(RunningChild& child, const std::wstring& temp, const std::string& text, DWORD delayMs,
                   bool end = true) {
    std::wstring log = joinPath(temp, L"QuorvelAI-Setup.log");
    auto logged = [&] { return readFile(log).find(text) != std::string::npos; };
    ULONGLONG deadline = GetTickCount64() + 60000;
    while (!logged()) {
        if (WaitForSingleObject(child.process.get(), 2) == WAIT_OBJECT_0) return logged();
        if (GetTickCount64() > deadline) return false;
    }
    if (!end) return true;
    if (delayMs) Sleep(delayMs);
    TerminateProcess(child.process.get(), 99);
    WaitForSingleObject(child.process.get(), 10000);
    return true;
}

class InstallFaults : public InstallRunTest {
protected:
    // A root with 1.0.0 installed, registered, without shortcuts.
    std::wstring installFirstVersion(const std::wstring& name, const std::string& variant = "good") {
        std::wstring root = temp / name;
        SetupRun run = runSetup(temp.path(), silentArguments(variant, "1.0.0", root) + L" --no-shortcuts");
        EXPECT_EQ(run.result.exitCode, 0u) << run.log;
        return root;
    }
    // The 1.0.0 install is as it was: files, entry, and the launcher starts it.
    void expectFirstVersionWorks(const std::wstring& root, const std::string& context) {
        EXPECT_TRUE(exists(root + L"\\app-1.0.0\\QuorvelAI.exe")) << context;
        EXPECT_EQ(entryText(L"DisplayVersion"), L"1.0.0") << context;
        EXPECT_TRUE(launcherStartsVersion(root, L"1.0.0")) << context;
    }
    ServerControl control;
};

// Catches a failure before the switch-over that leaves a half-installed
// version, unregisters the old one, or ends with the wrong error.
TEST_F(InstallFaults, FailuresBeforeTheSwitchOverKeepTheInstalledVersion) {
    std::wstring root = installFirstVersion(L"root");
    struct Case {
        const char* name;
        std::string variant, version;
        const char* code;
        std::function<void()> arrange;
    };
    FileHandle held;
    const Case cases[] = {
        {"unsigned", "unsigned", "2.0.0", "QV-SIG-1", nullptr},
        {"other publisher", "other", "2.0.0", "QV-SIG-1", nullptr},
        {"tampered", "tampered", "2.0.0", "QV-SIG-1", nullptr},
        {"program missing", "noprogram", "2.0.0", "QV-AV-2", nullptr},
        {"hash mismatch", "damaged", "2.0.0", "QV-HASH-1", nullptr},
        {"damaged archive", "broken", "2.0.0", "QV-UNPACK-2", nullptr},
        {"disk too small", "huge", "2.0.0", "QV-DISK-1", nullptr},
        {"no such release", "good", "9.9.9", "QV-NET-", nullptr},
        {"payload refused", "good", "1.1.0", "QV-NET-5", [&] {
             control.setFaults(payloadPath("good", "1.1.0"), "[{\"status\":404}]", true);
         }},
        {"download file held open", "good", "1.1.0", "QV-", [&] {
             std::wstring folder = temp / L"QuorvelAI-Setup";
             makeFolders(folder);
             std::string hash = manifestText("good", "1.1.0", "payloadSha256").substr(0, 12);
             std::wstring part = folder + L"\\QuorvelAI-1.1.0-" + fromUtf8(hash) + L".tar.xz.part";
             held.reset(CreateFileW(longPath(part).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
         }},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(control.reset());
        if (c.arrange) c.arrange();
        SetupRun run = runSetup(temp.path(), silentArguments(c.variant, c.version, root) + L" --no-shortcuts");
        EXPECT_EQ(run.result.exitCode, 1u) << c.name << "\n" << run.log;
        EXPECT_TRUE(run.has(std::string("ERROR ") + c.code)) << c.name << "\n" << run.log;
        EXPECT_FALSE(exists(root + L"\\app-" + fromUtf8(c.version))) << c.name;
        held.reset();
        expectFirstVersionWorks(root, c.name);
        EXPECT_FALSE(exists(root + L"\\app-2.0.0.tmp")) << c.name;
    }
}

// Catches --allow-unsigned still refusing, or skipping the presence test.
TEST_F(InstallFaults, AllowUnsignedSkipsOnlyTheSignerCheck) {
    std::wstring root = temp / L"unsigned";
    SetupRun run = runSetup(temp.path(), silentArguments("unsigned", "2.0.0", root) + L" --no-shortcuts --allow-unsigned");
    EXPECT_EQ(run.result.exitCode, 0u) << run.log;
    EXPECT_TRUE(run.has("WARN  Signature check skipped (--allow-unsigned)")) << run.log;
    EXPECT_TRUE(exists(root + L"\\app-2.0.0\\QuorvelAI.exe"));
    SetupRun missing = runSetup(temp.path(), silentArguments("noprogram", "2.0.0", temp / L"none") + L" --allow-unsigned");
    EXPECT_EQ(missing.result.exitCode, 1u);
    EXPECT_TRUE(missing.has("ERROR QV-AV-2")) << missing.log;
}

// Holds a folder open without delete sharing, which keeps it from being
// renamed (a scanner on a fresh file does that on Windows).
FileHandle holdFolder(const std::wstring& folder) {
    return FileHandle(CreateFileW(longPath(folder).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool waitUntil(const std::function<bool()>& done, DWORD ms) {
    for (ULONGLONG end = GetTickCount64() + ms; !done(); Sleep(2))
        if (GetTickCount64() > end) return false;
    return true;
}

// Catches a run that, ended at some point of an upgrade, of a repair (the
// installed version installed again) or of a recall (a withdrawn 1.2.0 left
// for the older 1.1.0 the index chooses), leaves an install the launcher
// cannot start, or that the next plain run (without --dir) cannot finish in
// the registered folder.
TEST_F(InstallFaults, AnUpgradeEndedAnywhereIsFinishedByTheNextRun) {
    // Held folders make the repair's move-in retry, or fail with its restore.
    // throttleBps slows the variant's download (the delta's for "delta").
    enum Hold { none, staged, stagedAndOld };
    struct Point {
        const char* variant;
        const char* line;
        DWORD delayMs;
        int throttleBps;
        const char* version = "1.1.0";
        Hold hold = none;
        bool recall = false;  // from 1.2.0, without --version
    };
    const Point points[] = {
        {"good", "INFO  Install folder: ", 0, 0},
        {"good", "INFO  Version to install: ", 0, 0},
        {"good", "INFO  Manifest: ", 0, 0},
        {"good", "INFO  Manifest: ", 700, 200000},  // in the middle of the download
        {"good", "Checking the download", 0, 0},
        {"good", "INFO  Installing QuorvelAI 1.1.0", 0, 0},
        {"good", "INFO  Unpacked ", 0, 0},
        {"good", "INFO  Signature of ", 0, 0},
        {"good", "Finishing", 0, 0},
        {"good", "INFO  Switched ", 0, 0},
        {"good", "\\QuorvelAI.exe\r\n", 0, 0},  // the launcher written
        {"good", "\\QuorvelAI.exe\r\n", 15, 0},
        {"good", "INFO  Install finished", 0, 0},
        {"good", "INFO  Installing QuorvelAI 1.0.0", 0, 0, "1.0.0"},
        {"good", "Finishing", 0, 0, "1.0.0"},
        {"good", nullptr, 0, 0, "1.0.0", staged},  // between the two renames
        {"good", "ERROR Could not restore ", 0, 0, "1.0.0", stagedAndOld},
        {"good", "INFO  Switched ", 0, 0, "1.0.0"},
        {"good", "INFO  Install finished", 0, 0, "1.0.0"},
        {"delta", "INFO  Delta update from ", 0, 0},
        {"delta", "INFO  Delta update from ", 700, 1000},  // in the middle of the delta's download
        {"delta", "INFO  Installing QuorvelAI 1.1.0", 0, 0},
        {"delta", "INFO  Installing QuorvelAI 1.1.0", 5, 0},  // while the tree is built
        {"delta", "INFO  Built ", 0, 0},
        {"delta", "INFO  Signature of ", 0, 0},
        {"delta", "INFO  Switched ", 0, 0},
        {"staged-recall", "WARN  Version 1.2.0 was withdrawn", 0, 0, "1.1.0", none, true},
        {"staged-recall", "INFO  Switched ", 0, 0, "1.1.0", none, true},
        {"staged-recall", "INFO  Switched ", 20, 0, "1.1.0", none, true},
        {"staged-recall", "INFO  Switched ", 60, 0, "1.1.0", none, true},
        {"staged-recall", "INFO  Removed ", 0, 0, "1.1.0", none, true},
    };
    const std::wstring defaultFolder = knownFolderPath(FOLDERID_LocalAppData) + L"\\QuorvelAI";
    int index = 0;
    for (const Point& point : points) {
        std::string name = std::string(point.variant) + ": " +
                           (point.line ? point.line : "(between the renames)") + " +" +
                           std::to_string(point.delayMs) + " " + point.version;
        std::wstring version = fromUtf8(point.version);
        std::wstring root = installFirstVersion(L"ended-" + std::to_wstring(index++), point.variant);
        if (point.recall) {
            SetupRun withdrawn = runSetup(temp.path(), silentArguments(point.variant, "1.2.0", root) + L" --no-shortcuts");
            ASSERT_EQ(withdrawn.result.exitCode, 0u) << withdrawn.log;
        }
        ASSERT_TRUE(control.reset());
        std::string download = std::string(point.variant) == "delta" ? deltaPath(point.variant, point.version)
                                                                     : payloadPath(point.variant, point.version);
        if (point.throttleBps)
            control.setFaults(download, "[{\"throttle_bps\":" + std::to_string(point.throttleBps) + "}]", true);
        TempFolder runTemp;
        std::wstring arguments = silentArguments(point.variant, point.version, root) + L" --no-shortcuts";
        std::wstring versionArgument = L" --version " + version;
        if (point.recall) {
            versionArgument.clear();
            arguments = L"--silent --base-url " + releaseUrl(point.variant) + L" --dir \"" + root + L"\" --no-shortcuts";
        }
        // A copy of the app that ends on its own holds the run in its wait
        // for a moment, with the new version staged: time to hold folders.
        // It must outlast the run's way to that wait (discovery with both
        // signatures, download, unpack) on a busy machine.
        RunningChild app;
        if (point.hold != none) {
            std::wstring program = root + L"\\app-1.0.0\\QuorvelAI.exe";
            writeFile(root + L"\\app-1.0.0\\demo.ini", "delay_ms=5000\n");
            app = startChild(program, L"\"" + program + L"\"");
            ASSERT_TRUE(waitForFile(root + L"\\app-1.0.0\\demo-started.txt", 10000)) << name;
        }
        RunningChild child = startChild(setupProgram(), L"\"" + setupProgram() + L"\" " + arguments,
                                        withTempFolder(runTemp.path()));
        ASSERT_TRUE(child.process) << name;
        std::wstring final = root + L"\\app-" + version;
        FileHandle heldStaged, heldOld;
        if (point.hold != none) {
            ASSERT_TRUE(endWhenLogged(child, runTemp.path(), "INFO  Still running: ", 0, false)) << name;
            heldStaged = holdFolder(final + L".tmp");
            ASSERT_TRUE(heldStaged) << name;
            EXPECT_TRUE(waitUntil([&] { return exists(final + L".old") && !exists(final); }, 30000)) << name;
            if (point.hold == stagedAndOld) heldOld = holdFolder(final + L".old");
        }
        bool ended = point.line ? endWhenLogged(child, runTemp.path(), point.line, point.delayMs)
                                : endWhenLogged(child, runTemp.path(), "", 0);
        EXPECT_TRUE(ended) << name << "\n" << readFile(runTemp / L"QuorvelAI-Setup.log");
        heldStaged.reset();
        heldOld.reset();
        finishChild(app, 5000);
        ASSERT_TRUE(control.reset());

        // The newest version folder that still holds the program.
        std::wstring startable = point.recall && exists(root + L"\\app-1.2.0\\QuorvelAI.exe") ? L"1.2.0"
                                 : exists(final + L"\\QuorvelAI.exe")                         ? version
                                 : exists(root + L"\\app-1.0.0\\QuorvelAI.exe")        ? L"1.0.0"
                                                                                        : L"1.0.0.old";
        // A copy left running there would keep the next run from putting it back.
        if (startable == L"1.0.0.old") writeFile(root + L"\\app-1.0.0.old\\demo.ini", "delay_ms=1\n");
        EXPECT_TRUE(launcherStartsVersion(root, startable)) << name;
        if (startable == L"1.0.0.old") Sleep(300);

        std::wstring plain = L"--silent --base-url " + releaseUrl(point.variant) + versionArgument + L" --no-shortcuts";
        SetupRun next = runSetup(runTemp.path(), plain);
        EXPECT_EQ(next.result.exitCode, 0u) << name << "\n" << next.log;
        // Put back first, so that an upgrade to another version keeps it as the fallback.
        if (point.hold != none) {
            EXPECT_TRUE(next.has(toUtf8(L"INFO  Restored " + final + L"\r\n"))) << name << "\n" << next.log;
        }
        EXPECT_TRUE(equalsIgnoreCase(entryText(L"InstallLocation"), root)) << name;
        EXPECT_EQ(entryText(L"DisplayVersion"), version) << name;
        for (const std::wstring& leftover :
             {final + L".tmp", final + L".old", root + L"\\QuorvelAI.exe.new", root + L"\\app-1.2.0"})
            EXPECT_FALSE(exists(leftover)) << name << " " << toUtf8(leftover);
        EXPECT_TRUE(exists(root + L"\\Uninstall.exe")) << name;
        EXPECT_TRUE(launcherStartsVersion(root, version)) << name;
        EXPECT_FALSE(exists(defaultFolder)) << name;
        if (exists(defaultFolder)) removeTree(defaultFolder);
    }
}

// Catches two runs on one install that do not keep apart: the second must
// wait, then give up with QV-RUN-2, and the first must finish unharmed.
TEST_F(InstallFaults, ASecondRunWaitsForTheFirst) {
    std::wstring root = temp / L"shared";
    ASSERT_TRUE(control.reset());
    control.setFaults(payloadPath("good", "1.1.0"), "[{\"throttle_bps\":60000}]", true);
    TempFolder firstTemp, secondTemp;
    std::wstring arguments = silentArguments("good", "1.1.0", root) + L" --no-shortcuts";
    std::wstring program = fastSetupProgram();
    RunningChild first = startChild(program, L"\"" + program + L"\" " + arguments, withTempFolder(firstTemp.path()));
    ASSERT_TRUE(first.process);
    ASSERT_TRUE(waitForFile(firstTemp / L"QuorvelAI-Setup.log", 10000));
    while (readFile(firstTemp / L"QuorvelAI-Setup.log").find("Manifest: ") == std::string::npos &&
           WaitForSingleObject(first.process.get(), 20) == WAIT_TIMEOUT) {
    }
    SetupRun second = runSetup(secondTemp.path(), arguments, program);
    EXPECT_EQ(second.result.exitCode, 1u) << second.log;
    EXPECT_TRUE(second.has("INFO  Waiting for another QuorvelAI setup to finish")) << second.log;
    EXPECT_TRUE(second.has("ERROR QV-RUN-2: Another QuorvelAI setup is running.")) << second.log;
    ChildResult firstResult = finishChild(first, 120000);
    EXPECT_EQ(firstResult.exitCode, 0u) << readFile(firstTemp / L"QuorvelAI-Setup.log");
    EXPECT_TRUE(exists(root + L"\\app-1.1.0\\QuorvelAI.exe"));
}

// Catches the folder check of a silent run made before the run lock: the
// check makes and removes the folder, which may be the one the run that
// holds the lock has just made.
TEST_F(InstallFaults, NoFolderIsCheckedBeforeTheRunLock) {
    std::wstring root = temp / L"locked";
    makeFolders(root);
    writeFile(root + L"\\notes.txt", "the check fails here");
    HeldRunLock otherRun;
    SetupRun run = runSetup(temp.path(), silentArguments("good", "1.1.0", root), fastSetupProgram());
    EXPECT_EQ(run.result.exitCode, 1u) << run.log;
    EXPECT_TRUE(run.has("ERROR QV-RUN-2: ")) << run.log;
    EXPECT_FALSE(run.has("Folder check failed")) << run.log;
}

// Catches a switch-over while the app still runs from its version folder,
// or a windowless helper keeping the install waiting for ever. (Without a
// display no window of the app is visible here, so the visible copy's wait
// is covered with a stand-in process list in the component tests.)
TEST_F(InstallFaults, EndsALeftoverHelperBeforeTheSwitchOver) {
    struct Case { const char* name; const char* ini; DWORD exitCode; const char* line; };
    const Case cases[] = {
        {"windowless helper", "helper=1\ndelay_ms=200\n", 0, "INFO  Ending leftover helper "},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::wstring root = installFirstVersion(L"running-" + std::to_wstring(index++));
        std::wstring app = root + L"\\app-1.0.0\\QuorvelAI.exe";
        writeFile(root + L"\\app-1.0.0\\demo.ini", c.ini);
        RunningChild running = startChild(app, L"\"" + app + L"\"");
        ASSERT_TRUE(running.process) << c.name;
        ASSERT_TRUE(waitForFile(root + L"\\app-1.0.0\\demo-started.txt", 10000)) << c.name;
        if (std::string(c.ini).find("helper") != std::string::npos) {
            finishChild(running, 10000);
            for (int i = 0; i < 100 && readFile(root + L"\\app-1.0.0\\demo-started.txt").find("helper=1") ==
                                            std::string::npos; ++i)
                Sleep(50);
        }
        SetupRun run = runSetup(temp.path(), silentArguments("good", "1.1.0", root) + L" --no-shortcuts",
                                fastSetupProgram());
        EXPECT_EQ(run.result.exitCode, c.exitCode) << c.name << "\n" << run.log;
        EXPECT_TRUE(run.has(c.line)) << c.name << "\n" << run.log;
        EXPECT_TRUE(run.has("INFO  Still running: ")) << c.name;
        if (running.process) {
            EXPECT_EQ(WaitForSingleObject(running.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << c.name;
            TerminateProcess(running.process.get(), 0);
            finishChild(running, 5000);
        }
        writeFile(root + L"\\app-1.0.0\\demo.ini", "exit_code=0\ndelay_ms=300\n");
        EXPECT_EQ(exists(root + L"\\app-1.1.0\\QuorvelAI.exe"), c.exitCode == 0) << c.name;
        EXPECT_FALSE(exists(root + L"\\app-1.1.0.tmp")) << c.name;
    }
}

// Catches an install or uninstall that goes on (or ends the app) while a
// copy the user can see still runs: both must wait, then give up with
// QV-RUN-1 and leave the install as it was. Needs a display for the window.
TEST_F(InstallFaults, AVisibleCopyIsWaitedForThenRefused) {
    if (environmentVariable(L"QV_TEST_DISPLAY").empty()) GTEST_SKIP() << "needs tests/window/with_display.sh";
    std::wstring root = installFirstVersion(L"visible");
    std::wstring app = root + L"\\app-1.0.0\\QuorvelAI.exe";
    writeFile(root + L"\\app-1.0.0\\demo.ini", "exit_code=0\n");
    RunningChild running = startChild(app, L"\"" + app + L"\"");
    ASSERT_TRUE(running.process);
    ASSERT_TRUE(waitForFile(root + L"\\app-1.0.0\\demo-started.txt", 10000));
    Sleep(1000);  // until its window is up

    const std::wstring runs[] = {
        silentArguments("good", "1.1.0", root) + L" --no-shortcuts",
        L"--silent --uninstall --uninstall-root \"" + root + L"\"",
    };
    for (const std::wstring& arguments : runs) {
        SetupRun run = runSetup(temp.path(), arguments, fastSetupProgram());
        EXPECT_EQ(run.result.exitCode, 1u) << run.log;
        EXPECT_TRUE(run.has("ERROR QV-RUN-1: QuorvelAI is still open. Close it and run the setup again.")) << run.log;
        EXPECT_TRUE(run.has("1 process(es) under " + toUtf8(root))) << run.log;
        EXPECT_FALSE(run.has("Ending leftover helper")) << run.log;
        EXPECT_EQ(WaitForSingleObject(running.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    TerminateProcess(running.process.get(), 0);
    finishChild(running, 5000);
    writeFile(root + L"\\app-1.0.0\\demo.ini", "exit_code=0\ndelay_ms=300\n");
    EXPECT_FALSE(exists(root + L"\\app-1.1.0"));
    EXPECT_TRUE(exists(root + L"\\Uninstall.exe"));
    expectFirstVersionWorks(root, "after the refused runs");
}

}  // namespace
}  // namespace qv::test
