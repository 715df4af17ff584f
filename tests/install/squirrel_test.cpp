#include "setup/install/squirrel.h"

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/install/logged_test.h"

#include <algorithm>
#include <vector>

namespace qv {
namespace {

using SquirrelTakeover = test::LoggedTest;

TEST_F(SquirrelTakeover, RemovesOnlySquirrelsOwnFiles) {
    struct Case {
        std::vector<const wchar_t*> files;  // made in the root
        const wchar_t* held;                // open without sharing during the run
        std::vector<const wchar_t*> kept;
        const wchar_t* warning;  // %ls is the root
        bool reported = true;    // the INFO line
    } cases[] = {
        // Catches a leftover missed, or files of the install taken along.
        {{L"Update.exe", L"SquirrelSetup.log", L".dead", L"app.ico", L"packages\\a\\RELEASES",
          L"Squirrel-Update.log", L"QuorvelAI.exe", L"app-1.0.0\\squirrel.exe"},
         nullptr,
         {L"Squirrel-Update.log", L"QuorvelAI.exe", L"app-1.0.0\\squirrel.exe"},
         nullptr},
        // Catches a running Update.exe stopping the rest or losing its error number.
        {{L"Update.exe", L"app.ico", L"packages\\RELEASES"},
         L"Update.exe",
         {L"Update.exe"},
         L"WARN  Could not delete %ls\\Update.exe (32)\r\n"},
        // Catches a packages folder only partly removed passing quietly.
        {{L"packages\\RELEASES", L"packages\\b.nupkg"},
         L"packages\\RELEASES",
         {L"packages\\RELEASES"},
         L"WARN  Could not fully delete %ls\\packages (first: \\\\?\\"},
        // Catches the INFO line written when there was nothing to remove.
        {{L"QuorvelAI.exe"}, nullptr, {L"QuorvelAI.exe"}, nullptr, false},
    };
    int run = 0;
    for (const Case& c : cases) {
        std::wstring root = temp / formatText(L"root%d", run++);
        SCOPED_TRACE(toUtf8(root));
        for (const wchar_t* file : c.files) {
            test::makeFolders(parentFolder(joinPath(root, file)));
            test::writeFile(joinPath(root, file), "x");
        }
        FileHandle held;
        if (c.held)
            held.reset(CreateFileW(longPath(joinPath(root, c.held)).c_str(), GENERIC_READ, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
        size_t warnings = logLines("WARN");
        removeSquirrelLeftovers(SetupContext(SetupOptions{}, nullptr, nullptr), root);
        held.reset();
        for (const wchar_t* file : c.files) {
            bool kept = std::find_if(c.kept.begin(), c.kept.end(), [&](const wchar_t* k) {
                            return std::wstring(k) == file;
                        }) != c.kept.end();
            EXPECT_EQ(GetFileAttributesW(longPath(joinPath(root, file)).c_str()) !=
                          INVALID_FILE_ATTRIBUTES,
                      kept)
                << toUtf8(file);
        }
        EXPECT_EQ(logLines("WARN"), warnings + (c.warning ? 1 : 0)) << logText();
        if (c.warning) {
            EXPECT_EQ(logLines(toUtf8(formatText(c.warning, root.c_str()))), 1u);
        }
        EXPECT_EQ(logLines(toUtf8(L"INFO  Removed Squirrel's files from " + root + L"\r\n")),
                  c.reported ? 1u : 0u);
    }
}

}  // namespace
}  // namespace qv
