// The command lines of the temporary copy and of its delayed self-delete.
#include "setup/uninstall/relaunch.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TempFolder;

struct CopyLineCase {
    const wchar_t* copy;
    const wchar_t* root;
    bool silent, removeData, confirmed;
    const wchar_t* expected;
};

// Catches a missing or misplaced piece, quotes where none are needed or
// missing where a space is, and options passed on that must not be.
TEST(TempCopyCommandLine, HoldsThePiecesInOrder) {
    const CopyLineCase cases[] = {
        {L"C:\\T\\QuorvelAI-Uninstall-7.exe", L"C:\\Q", false, false, false,
         L"C:\\T\\QuorvelAI-Uninstall-7.exe --uninstall --uninstall-root C:\\Q --wait-pid 42"},
        {L"C:\\Users\\Test User\\Temp\\QuorvelAI-Uninstall-7.exe",
         L"C:\\Users\\Test User\\AppData\\Local\\QuorvelAI", false, true, false,
         L"\"C:\\Users\\Test User\\Temp\\QuorvelAI-Uninstall-7.exe\" --uninstall --uninstall-root "
         L"\"C:\\Users\\Test User\\AppData\\Local\\QuorvelAI\" --wait-pid 42 --remove-data"},
        {L"C:\\T\\c.exe", L"C:\\Q", true, true, true,
         L"C:\\T\\c.exe --uninstall --uninstall-root C:\\Q --wait-pid 42 --silent --remove-data "
         L"--confirmed"},
        {L"C:\\T\\c.exe", L"C:\\Q", false, false, true,
         L"C:\\T\\c.exe --uninstall --uninstall-root C:\\Q --wait-pid 42 --confirmed"},
        {L"C:\\Users\\R&D (x)\\c.exe", L"C:\\R&D", true, false, false,
         L"\"C:\\Users\\R&D (x)\\c.exe\" --uninstall --uninstall-root C:\\R&D --wait-pid 42 "
         L"--silent"},
    };
    for (const CopyLineCase& c : cases) {
        SetupOptions options;
        options.silent = c.silent;
        options.removeData = c.removeData;
        options.confirmed = c.confirmed;
        options.launch = 1;
        options.dir = L"C:\\Elsewhere";
        options.noShortcuts = true;
        EXPECT_EQ(tempCopyCommandLine(c.copy, options, c.root, 42), c.expected);
    }
}

struct DeleteLineCase {
    const wchar_t* program;
    const wchar_t* expected;  // empty: no self-delete
};

// Catches a path left bare for the command processor (where & or ( would
// split it into other commands), and paths it would expand let through.
TEST(SelfDeleteCommandLine, QuotesEveryPathAndRefusesExpansions) {
    const wchar_t* cmd = L"C:\\Windows\\System32\\cmd.exe";
    const DeleteLineCase cases[] = {
        {L"C:\\T\\c.exe",
         L"\"C:\\Windows\\System32\\cmd.exe\" /c ping -n 3 127.0.0.1 >nul & del /f /q "
         L"\"C:\\T\\c.exe\""},
        {L"C:\\Users\\R&D (x)\\Temp\\c.exe",
         L"\"C:\\Windows\\System32\\cmd.exe\" /c ping -n 3 127.0.0.1 >nul & del /f /q "
         L"\"C:\\Users\\R&D (x)\\Temp\\c.exe\""},
        {L"C:\\Users\\Test User\\Temp\\c.exe",
         L"\"C:\\Windows\\System32\\cmd.exe\" /c ping -n 3 127.0.0.1 >nul & del /f /q "
         L"\"C:\\Users\\Test User\\Temp\\c.exe\""},
        {L"C:\\Users\\50%\\Temp\\c.exe", L""},
        {L"C:\\Users\\%USERNAME%\\c.exe", L""},
        {L"C:\\Users\\Wow!\\Temp\\c.exe", L""},
    };
    for (const DeleteLineCase& c : cases)
        EXPECT_EQ(selfDeleteCommandLine(cmd, c.program), c.expected) << c.program;
}

// Catches a copy name the chain guard would not recognise, or another
// program taken for a copy.
TEST(TempCopyName, IsRecognisedByItsExactShape) {
    EXPECT_EQ(tempCopyName(4242), L"QuorvelAI-Uninstall-4242.exe");
    EXPECT_TRUE(isTempCopyName(L"quorvelai-uninstall-1.EXE"));
    for (const wchar_t* name : {L"QuorvelAI-Uninstall-.exe", L"QuorvelAI-Uninstall-1a.exe",
                                L"QuorvelAI-Uninstall-1.exe.bak", L"Uninstall.exe"})
        EXPECT_FALSE(isTempCopyName(name)) << name;
    EXPECT_FALSE(runsAsTempCopy());
}

// Catches the Mark of the Web kept on the temporary copy, which would put a
// security prompt before an uninstall started from Apps & features. Wine
// keeps no streams: the mark is a file of the stream's name beside the copy
// there. The copy is of this test program, told by GTEST_FILTER to run
// nothing.
TEST(RelaunchFromTemp, TheCopyCarriesNoMarkOfTheWeb) {
    TempFolder temp;
    std::wstring saved[2] = {environmentVariable(L"TEMP"), environmentVariable(L"TMP")};
    for (const wchar_t* name : {L"TEMP", L"TMP"}) SetEnvironmentVariableW(name, temp.path().c_str());
    SetEnvironmentVariableW(L"GTEST_FILTER", L"NothingAtAll.*");
    std::wstring copy = temp / tempCopyName(GetCurrentProcessId());
    test::writeFile(copy + L":Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");

    EXPECT_TRUE(relaunchFromTemp(SetupOptions{}, temp / L"root"));
    EXPECT_TRUE(isFile(copy));
    EXPECT_FALSE(isFile(copy + L":Zone.Identifier"));

    SetEnvironmentVariableW(L"GTEST_FILTER", nullptr);
    SetEnvironmentVariableW(L"TEMP", saved[0].c_str());
    SetEnvironmentVariableW(L"TMP", saved[1].c_str());
    Sleep(500);  // until the copy has run its no tests
}

// Catches a line the command processor misreads: in a folder named with &
// and ( the copy must go and the file named like the part before & stay.
// Also catches the command processor taken from SystemRoot: unset, that
// gives a relative "System32\cmd.exe", looked up in the temporary folder.
TEST(SelfDeleteCommandLine, TheCommandProcessorDeletesExactlyTheCopy) {
    TempFolder temp;
    std::wstring folder = temp / L"R&D (x)";
    test::makeFolders(folder);
    std::wstring copy = folder + L"\\QuorvelAI-Uninstall-1.exe";
    test::writeFile(copy, "copy");
    SetFileAttributesW(longPath(copy).c_str(), FILE_ATTRIBUTE_READONLY);
    std::wstring decoy = temp / L"R";
    test::writeFile(decoy, "decoy");

    // Wine gives every new process a SystemRoot, so only this process can
    // stand for one started without it.
    std::wstring systemRoot = environmentVariable(L"SystemRoot");
    SetEnvironmentVariableW(L"SystemRoot", nullptr);
    std::wstring cmd = commandProcessorPath();
    SetEnvironmentVariableW(L"SystemRoot", systemRoot.c_str());
    EXPECT_TRUE(cmd.size() > 3 && cmd[1] == L':' && isFile(cmd)) << cmd;
    std::wstring line = selfDeleteCommandLine(cmd, copy);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, temp.path().c_str(), &startup, &info));
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    ASSERT_EQ(WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
    EXPECT_FALSE(isFile(copy));
    EXPECT_TRUE(isFile(decoy));
    EXPECT_TRUE(isFolder(folder));
}

}  // namespace
}  // namespace qv
