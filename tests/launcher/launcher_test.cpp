// The real launcher started in real folders, with the demo application in
// its app folders.
#include "launcher/launcher.h"

#include "foundation/command_line.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>

namespace qv {
namespace {

using test::TempFolder;

struct ArgumentCase {
    const wchar_t* commandLine;
    const wchar_t* expected;
};

// Catches re-quoting or trimming of what the user typed after the launcher.
TEST(LauncherArguments, RestOfTheLineIsHandedOnUnchanged) {
    const ArgumentCase cases[] = {
        {L"\"C:\\Q\\QuorvelAI.exe\" --a \"b c\"", L"--a \"b c\""},
        {L"C:\\Q\\QuorvelAI.exe   \t x\\\"y  ", L"x\\\"y  "},
        {L"QuorvelAI.exe", L""},
        {L"\"C:\\No closing quote", L""},
        {L"\"\"rest", L"rest"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(launcherArgumentText(c.commandLine), c.expected) << c.commandLine;
    EXPECT_EQ(launcherArgumentText(nullptr), L"");
}

// The DLL names in the import table of a PE32+ file; empty when the file
// cannot be read as one.
std::vector<std::string> importedDlls(const std::string& image) {
    std::vector<std::string> names;
    auto at = [&image](size_t offset, size_t size) -> const char* {
        return offset <= image.size() && size <= image.size() - offset ? image.data() + offset
                                                                        : nullptr;
    };
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return names;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        at(static_cast<size_t>(dos->e_lfanew), sizeof(IMAGE_NT_HEADERS64)));
    if (!nt || nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return names;
    const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        at(static_cast<size_t>(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
               nt->FileHeader.SizeOfOptionalHeader,
           sizeof(IMAGE_SECTION_HEADER) * nt->FileHeader.NumberOfSections));
    if (!sections) return names;
    auto fileOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& section = sections[i];
            if (rva >= section.VirtualAddress &&
                rva < section.VirtualAddress + section.SizeOfRawData)
                return rva - section.VirtualAddress + section.PointerToRawData;
        }
        return SIZE_MAX;
    };
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (size_t offset = fileOffset(directory.VirtualAddress);;
         offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
            at(offset, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (!entry || entry->Name == 0) break;
        const char* name = at(fileOffset(entry->Name), 1);
        if (!name) break;
        names.emplace_back(name, strnlen(name, static_cast<size_t>(image.data() + image.size() - name)));
    }
    return names;
}

// Catches the launcher importing the shell, COM or anything else: each DLL
// loaded at start costs every start of the application.
TEST(LauncherImports, OnlyKernelUserAndTheCRuntime) {
    std::vector<std::string> dlls =
        importedDlls(test::readFile(test::binFolder() + L"\\QuorvelAI.exe"));
    ASSERT_FALSE(dlls.empty());
    std::vector<std::string> kernel;
    for (std::string name : dlls) {
        for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        bool allowed = name == "kernel32.dll" || name == "user32.dll" || name == "msvcrt.dll" ||
                       name == "ucrtbase.dll" || name.rfind("api-ms-win-crt-", 0) == 0;
        EXPECT_TRUE(allowed) << name;
        if (name == "kernel32.dll") kernel.push_back(name);
    }
    // A reader that found no table at all would pass the loop above.
    EXPECT_EQ(kernel.size(), 1u);
}

struct Start {
    std::string version;
    std::string commandLine;
    std::vector<std::string> args;
    std::string cwd;
    DWORD pid = 0;
};

// One install root with the launcher and demo-app version folders.
class LauncherRoot {
public:
    LauncherRoot() {
        CopyFileW((test::binFolder() + L"\\QuorvelAI.exe").c_str(), launcher().c_str(), FALSE);
    }
    ~LauncherRoot() {
        for (DWORD pid : toEnd) {
            KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (process) {
                TerminateProcess(process.get(), 0);
                WaitForSingleObject(process.get(), 5000);
            }
        }
    }

    std::wstring launcher() const { return temp / L"QuorvelAI.exe"; }
    std::wstring appFolder(const std::wstring& version) const { return temp / (L"app-" + version); }

    void addVersion(const std::wstring& version, const std::string& behaviour) {
        test::makeFolders(appFolder(version));
        CopyFileW((test::binFolder() + L"\\qv-demo-app.exe").c_str(),
                  joinPath(appFolder(version), L"QuorvelAI.exe").c_str(), FALSE);
        test::writeFile(joinPath(appFolder(version), L"demo.ini"), behaviour);
    }

    test::ChildResult run(const std::wstring& arguments, DWORD timeoutMs = 30000) {
        std::wstring line = quoteArgument(launcher()) + (arguments.empty() ? L"" : L" " + arguments);
        return test::runChild(launcher(), line, test::withTempFolder(logFolder.path(), timeoutMs));
    }

    std::string log() const { return test::readFile(logFolder / L"QuorvelAI-Launcher.log"); }

    // The starts the demo app recorded in a version folder; waits up to
    // waitMs for at least one when asked.
    std::vector<Start> starts(const std::wstring& version, DWORD waitMs = 0) {
        std::wstring record = joinPath(appFolder(version), L"demo-started.txt");
        for (DWORD waited = 0; waited < waitMs && !isFile(record); waited += 50) Sleep(50);
        if (waitMs) Sleep(100);  // let the record's single write land
        std::vector<Start> result;
        std::string text = test::readFile(record);
        Start current;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = text.substr(start, end - start);
            auto value = [&](const char* key) { return line.substr(strlen(key)); };
            if (line.rfind("version=", 0) == 0) current.version = value("version=");
            else if (line.rfind("commandline=", 0) == 0) current.commandLine = value("commandline=");
            else if (line.rfind("arg=", 0) == 0) current.args.push_back(value("arg="));
            else if (line.rfind("cwd=", 0) == 0) current.cwd = value("cwd=");
            else if (line.rfind("pid=", 0) == 0) current.pid = std::stoul(value("pid="));
            else if (line == "---") {
                result.push_back(current);
                toEnd.push_back(current.pid);
                current = Start();
            }
        }
        return result;
    }

private:
    TempFolder temp;
    TempFolder logFolder;
    std::vector<DWORD> toEnd;
};

const char* exitsAfter(int ms, int code) {
    static std::map<std::pair<int, int>, std::string> texts;
    std::string& text = texts[{ms, code}];
    text = "delay_ms=" + std::to_string(ms) + "\nexit_code=" + std::to_string(code) + "\n";
    return text.c_str();
}

// Catches text ordering of versions (1.9 would sort after 1.10 as text).
TEST(Launcher, StartsTheNewestVersionFirst) {
    LauncherRoot root;
    root.addVersion(L"1.9", exitsAfter(200, 0));
    root.addVersion(L"1.10", exitsAfter(200, 0));
    test::ChildResult result = root.run(L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_EQ(root.starts(L"1.10", 5000).size(), 1u);
    // 1.10 ended with code 0 within 8 seconds: the older version stays unused.
    EXPECT_TRUE(root.starts(L"1.9").empty());
    EXPECT_TRUE(root.log().empty()) << root.log();
}

// Catches arguments re-parsed and re-quoted on the way to the application.
TEST(Launcher, HandsArgumentsOnCharacterForCharacter) {
    LauncherRoot root;
    root.addVersion(L"2.0.0", exitsAfter(100, 0));
    const std::wstring typed =
        L"--open \"C:\\My Projects\\game one\" back\\slash\\ \"quo\\\"ted\" trailing\\\\ \"\"";
    ASSERT_TRUE(root.run(typed).finished);
    std::vector<Start> starts = root.starts(L"2.0.0", 5000);
    ASSERT_EQ(starts.size(), 1u);
    std::string expectedTail = " " + std::string(typed.begin(), typed.end());
    const std::string& line = starts[0].commandLine;
    ASSERT_GE(line.size(), expectedTail.size());
    EXPECT_EQ(line.substr(line.size() - expectedTail.size()), expectedTail) << line;
    EXPECT_EQ(starts[0].args,
              (std::vector<std::string>{"--open", "C:\\My Projects\\game one", "back\\slash\\",
                                        "quo\"ted", "trailing\\\\", ""}));
    // The application runs in its own version folder.
    EXPECT_NE(starts[0].cwd.find("app-2.0.0"), std::string::npos) << starts[0].cwd;
}

// Catches a missing fallback, or one that waits the whole 8 seconds.
TEST(Launcher, FallsBackWhenTheNewestFailsRightAway) {
    LauncherRoot root;
    root.addVersion(L"1.0.0", exitsAfter(300, 0));
    root.addVersion(L"1.1.0", exitsAfter(2000, 1));
    test::ChildResult result = root.run(L"--x");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_LT(result.elapsedMs, 8000u);
    EXPECT_EQ(root.starts(L"1.1.0").size(), 1u);
    std::vector<Start> older = root.starts(L"1.0.0", 5000);
    ASSERT_EQ(older.size(), 1u);
    EXPECT_EQ(older[0].args, std::vector<std::string>{"--x"});
    std::string log = root.log();
    EXPECT_NE(log.find("ERROR "), std::string::npos);
    EXPECT_NE(log.find("app-1.1.0\\QuorvelAI.exe exited with 0x00000001 right after starting; "
                       "trying the previous version\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("ERROR", log.find("ERROR") + 1), std::string::npos) << "one line only";
}

// Catches a window longer than 8 seconds (the failure at 9 seconds would
// then start the older version) or shorter than 7.5 seconds.
TEST(Launcher, FailingAfterEightSecondsCountsAsStarted) {
    LauncherRoot root;
    root.addVersion(L"1.0.0", exitsAfter(100, 0));
    root.addVersion(L"1.1.0", exitsAfter(9000, 1));
    test::ChildResult result = root.run(L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_GE(result.elapsedMs, 7500u);
    EXPECT_EQ(root.starts(L"1.1.0", 1000).size(), 1u);
    EXPECT_TRUE(root.starts(L"1.0.0", 2500).empty());
    EXPECT_TRUE(root.log().empty()) << root.log();
}

// Catches waiting on the last candidate: nothing could take over anyway.
TEST(Launcher, SingleVersionIsNotWaitedFor) {
    LauncherRoot root;
    root.addVersion(L"3.0.0", exitsAfter(6000, 1));
    test::ChildResult result = root.run(L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    // Waiting would last until the app fails at 6 seconds.
    EXPECT_LT(result.elapsedMs, 5000u);
    EXPECT_EQ(root.starts(L"3.0.0", 5000).size(), 1u);
    EXPECT_TRUE(root.log().empty()) << root.log();
}

// Catches folders without the program being tried (and logged).
TEST(Launcher, SkipsFoldersThatAreNotCandidates) {
    LauncherRoot root;
    root.addVersion(L"1.0.0", exitsAfter(100, 0));
    test::makeFolders(root.appFolder(L"9.0.0"));              // no program
    test::makeFolders(root.appFolder(L"8.0.0.tmp"));          // staging leftover
    test::makeFolders(joinPath(root.appFolder(L"7.0.0"), L"QuorvelAI.exe"));  // a folder, not a file
    test::ChildResult result = root.run(L"");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(root.starts(L"1.0.0", 5000).size(), 1u);
    EXPECT_TRUE(root.log().empty()) << root.log();
}

// Catches a repair ended between its two renames leaving nothing to start,
// and a set-aside copy tried while a real version folder is there.
TEST(Launcher, ASetAsideCopyIsTheLastResort) {
    LauncherRoot alone;
    alone.addVersion(L"1.0.0.old", exitsAfter(100, 0));
    EXPECT_EQ(alone.run(L"").exitCode, 0u);
    EXPECT_EQ(alone.starts(L"1.0.0.old", 5000).size(), 1u);
    EXPECT_TRUE(alone.log().empty()) << alone.log();

    LauncherRoot beside;
    beside.addVersion(L"1.0.0", exitsAfter(100, 1));
    beside.addVersion(L"2.0.0.old", exitsAfter(100, 0));
    beside.run(L"");
    EXPECT_EQ(beside.starts(L"1.0.0", 5000).size(), 1u);
    EXPECT_TRUE(beside.starts(L"2.0.0.old").empty());
}

// Catches a broken program file ending the launcher instead of the next candidate.
TEST(Launcher, StartFailureMovesOnToTheNextVersion) {
    LauncherRoot root;
    root.addVersion(L"1.0.0", exitsAfter(100, 0));
    test::makeFolders(root.appFolder(L"2.0.0"));
    test::writeFile(joinPath(root.appFolder(L"2.0.0"), L"QuorvelAI.exe"), "not a program");
    test::ChildResult result = root.run(L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(root.starts(L"1.0.0", 5000).size(), 1u);
    std::string log = root.log();
    EXPECT_NE(log.find("ERROR Could not start "), std::string::npos) << log;
    EXPECT_NE(log.find("app-2.0.0\\QuorvelAI.exe: "), std::string::npos) << log;
    EXPECT_NE(log.find(" (193)\r\n"), std::string::npos) << log;
}

// Catches success reported when nothing could be started.
TEST(Launcher, LastCandidateFailingToStartEndsWithOne) {
    LauncherRoot root;
    test::makeFolders(root.appFolder(L"2.0.0"));
    test::writeFile(joinPath(root.appFolder(L"2.0.0"), L"QuorvelAI.exe"), "not a program");
    test::ChildResult result = root.run(L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_NE(root.log().find("ERROR Could not start "), std::string::npos) << root.log();
}

// Catches a silent exit when the install has no program files at all.
TEST(Launcher, NoAppFoldersShowsNotInstalledAndEndsWithOne) {
    LauncherRoot root;
    test::ChildResult result = root.run(L"--anything");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1u);
    std::string log = root.log();
    EXPECT_NE(log.find("ERROR No app-* folder with QuorvelAI.exe under "), std::string::npos) << log;
}

}  // namespace
}  // namespace qv
