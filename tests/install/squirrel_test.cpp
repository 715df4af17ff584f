#include "setup/install/squirrel.h"

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/core/options.h"
#include "tests/install/logged_test.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

struct TakeoverCase {
    const char* what;
    std::vector<const wchar_t*> files;  // made in the root; "packages\..." inside it
    const wchar_t* held;                // opened without sharing during the run, or null
    std::vector<const wchar_t*> kept;   // still there afterwards
    std::vector<const wchar_t*> warnings;  // %ls is the root
    bool reported;                      // the INFO line
};

const TakeoverCase kCases[] = {
    // Catches a leftover missed, or the others' files taken along.
    {"all leftovers",
     {L"Update.exe", L"SquirrelSetup.log", L".dead", L"app.ico", L"packages\\RELEASES",
      L"packages\\QuorvelAI-1.0.0-full.nupkg", L"Squirrel-Update.log", L"QuorvelAI.exe",
      L"app-1.0.0\\squirrel.exe"},
     nullptr,
     {L"Squirrel-Update.log", L"QuorvelAI.exe", L"app-1.0.0\\squirrel.exe"},
     {},
     true},
    // Catches a held Update.exe stopping the rest, or failing without its
    // error number, or the INFO line dropped.
    {"Update.exe still running",
     {L"Update.exe", L"SquirrelSetup.log", L"app.ico", L"packages\\RELEASES"},
     L"Update.exe",
     {L"Update.exe"},
     {L"WARN  Could not delete %ls\\Update.exe (32)\r\n"},
     true},
    // Catches a packages folder that cannot be fully removed passing quietly.
    {"held package",
     {L"packages\\RELEASES", L"packages\\QuorvelAI-1.0.0-full.nupkg"},
     L"packages\\RELEASES",
     {L"packages\\RELEASES"},
     {L"WARN  Could not fully delete %ls\\packages (first: \\\\?\\"},
     true},
    // Catches the INFO line written when nothing was there.
    {"nothing of Squirrel", {L"QuorvelAI.exe"}, nullptr, {L"QuorvelAI.exe"}, {}, false},
};

using SquirrelTakeover = test::LoggedTest;

TEST_F(SquirrelTakeover, RemovesOnlySquirrelsOwnFiles) {
    SetupContext context(SetupOptions{}, nullptr, nullptr);
    int run = 0;
    for (const TakeoverCase& c : kCases) {
        SCOPED_TRACE(c.what);
        std::wstring root = temp / formatText(L"root%d", run++);
        for (const wchar_t* file : c.files) {
            std::wstring path = joinPath(root, file);
            test::makeFolders(parentFolder(path));
            test::writeFile(path, "x");
        }
        FileHandle held;
        if (c.held) {
            held.reset(CreateFileW(longPath(joinPath(root, c.held)).c_str(), GENERIC_READ, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held.valid());
        }
        size_t warnings = logLines("WARN");
        size_t reports = logLines(toUtf8(L"INFO  Removed Squirrel's files from " + root + L"\r\n"));

        removeSquirrelLeftovers(context, root);
        held.reset();

        for (const wchar_t* file : c.files) {
            bool keep = false;
            for (const wchar_t* kept : c.kept) keep = keep || std::wstring(kept) == file;
            EXPECT_EQ(GetFileAttributesW(longPath(joinPath(root, file)).c_str()) !=
                          INVALID_FILE_ATTRIBUTES,
                      keep)
                << toUtf8(file);
        }
        EXPECT_EQ(logLines("WARN"), warnings + c.warnings.size()) << logText();
        for (const wchar_t* warning : c.warnings) {
            EXPECT_EQ(logLines(toUtf8(formatText(warning, root.c_str()))), 1u) << logText();
        }
        EXPECT_EQ(logLines(toUtf8(L"INFO  Removed Squirrel's files from " + root + L"\r\n")),
                  reports + (c.reported ? 1 : 0));
    }
}

}  // namespace
}  // namespace qv
