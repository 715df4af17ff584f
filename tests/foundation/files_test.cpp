#include "foundation/files.h"

#include "foundation/paths.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TempFolder;

// Catches files and folders mistaken for each other.
TEST(Files, TellsFilesFromFolders) {
    TempFolder temp;
    test::writeFile(temp / L"f.txt", "12345");
    EXPECT_TRUE(isFile(temp / L"f.txt"));
    EXPECT_FALSE(isFolder(temp / L"f.txt"));
    EXPECT_TRUE(isFolder(temp.path()));
    EXPECT_FALSE(isFile(temp.path()));
    EXPECT_FALSE(isFile(temp / L"missing"));
    EXPECT_FALSE(isFolder(temp / L"missing"));
    EXPECT_EQ(fileSize(temp / L"f.txt"), 5u);
    EXPECT_EQ(fileSize(temp / L"missing"), 0u);
}

// Catches the 260-character limit: every primitive must take long paths.
TEST(Files, WorkBeyond260Characters) {
    TempFolder temp;
    std::wstring deep = temp.path();
    while (deep.size() < 300) deep = joinPath(deep, std::wstring(40, L'd'));
    test::makeFolders(deep);
    std::wstring file = joinPath(deep, L"long.txt");
    test::writeFile(file, "abc");
    EXPECT_TRUE(isFolder(deep));
    EXPECT_TRUE(isFile(file));
    EXPECT_EQ(fileSize(file), 3u);
    ASSERT_TRUE(moveReplacing(file, joinPath(deep, L"moved.txt")));
    EXPECT_TRUE(isFile(joinPath(deep, L"moved.txt")));
}

// Catches a move that refuses to replace, or that loses the error code.
TEST(Files, MoveReplacesAndReportsErrors) {
    TempFolder temp;
    test::writeFile(temp / L"a", "new");
    test::writeFile(temp / L"b", "old");
    ASSERT_TRUE(moveReplacing(temp / L"a", temp / L"b"));
    EXPECT_EQ(test::readFile(temp / L"b"), "new");
    EXPECT_FALSE(isFile(temp / L"a"));

    DWORD error = 0;
    EXPECT_FALSE(moveReplacing(temp / L"missing", temp / L"c", &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(moveReplacing(temp / L"missing", temp / L"c"));
}

}  // namespace
}  // namespace qv
