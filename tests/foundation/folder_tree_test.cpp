#include "foundation/folder_tree.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace qv {
namespace {

using test::TempFolder;

// Catches missing parents not being created, and existing folders failing.
TEST(CreateFolderTree, MakesEveryMissingParent) {
    TempFolder temp;
    std::wstring deep = temp / L"a\\b\\c";
    EXPECT_TRUE(createFolderTree(deep));
    EXPECT_TRUE(isFolder(deep));
    EXPECT_TRUE(createFolderTree(deep));
    EXPECT_TRUE(createFolderTree(L""));
}

// Catches the error code being lost when a file stands in the way.
TEST(CreateFolderTree, ReportsTheFailingError) {
    TempFolder temp;
    test::writeFile(temp / L"file", "x");
    DWORD error = 0;
    EXPECT_FALSE(createFolderTree(temp / L"file\\sub", &error));
    EXPECT_NE(error, 0u);
    error = 0;
    EXPECT_FALSE(createFolderTree(temp / L"file", &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

// Catches the 260-character limit in tree creation and removal.
TEST(FolderTree, HandlesPathsBeyond260Characters) {
    TempFolder temp;
    std::wstring deep = temp / L"root";
    while (deep.size() < 320) deep = joinPath(deep, std::wstring(50, L'x'));
    ASSERT_TRUE(createFolderTree(deep));
    test::writeFile(joinPath(deep, L"f.bin"), "data");
    EXPECT_TRUE(removeTree(temp / L"root"));
    EXPECT_FALSE(isFolder(temp / L"root"));
}

// Catches read-only files stopping the removal.
TEST(RemoveTree, RemovesReadOnlyFilesAndNestedFolders) {
    TempFolder temp;
    std::wstring root = temp / L"tree";
    test::makeFolders(root + L"\\a\\b");
    test::writeFile(root + L"\\a\\b\\ro.txt", "x");
    test::writeFile(root + L"\\top.txt", "y");
    SetFileAttributesW(longPath(root + L"\\a\\b\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    std::wstring failure;
    EXPECT_TRUE(removeTree(root, &failure));
    EXPECT_TRUE(failure.empty());
    EXPECT_FALSE(isFolder(root));
}

// Catches a missing folder reported as a failure.
TEST(RemoveTree, MissingFolderCountsAsRemoved) {
    TempFolder temp;
    EXPECT_TRUE(removeTree(temp / L"missing"));
    test::writeFile(temp / L"file", "x");
    EXPECT_TRUE(removeTree(temp / L"file"));  // not a folder: left alone
    EXPECT_TRUE(isFile(temp / L"file"));
}

// Catches a walk that stops at the first failure or forgets to name it.
TEST(RemoveTree, GoesOnAfterAFailureAndNamesTheFirst) {
    TempFolder temp;
    std::wstring root = temp / L"tree";
    test::makeFolders(root + L"\\held");
    test::makeFolders(root + L"\\other");
    test::writeFile(root + L"\\held\\open.txt", "x");
    test::writeFile(root + L"\\other\\free.txt", "y");
    HANDLE held = CreateFileW(longPath(root + L"\\held\\open.txt").c_str(), GENERIC_READ, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::wstring failure;
    EXPECT_FALSE(removeTree(root, &failure));
    CloseHandle(held);
    EXPECT_NE(failure.find(L"open.txt"), std::wstring::npos) << failure;
    EXPECT_EQ(failure.compare(0, 4, L"\\\\?\\"), 0) << failure;
    EXPECT_FALSE(isFile(root + L"\\other\\free.txt"));
    EXPECT_TRUE(removeTree(root));
}

// Catches a tree given as a folder link being emptied through the link,
// which would delete the files of the folder it points to.
TEST(RemoveTree, UnlinksALinkRootWithoutTouchingItsTarget) {
    TempFolder temp;
    std::wstring target = temp / L"target";
    test::makeFolders(target);
    test::writeFile(target + L"\\keep.txt", "not ours");
    std::wstring link = temp / L"link";
    if (!CreateSymbolicLinkW(longPath(link).c_str(), longPath(target).c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
        !(GetFileAttributesW(longPath(link).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "folder links cannot be made here";
    EXPECT_TRUE(removeTree(link));
    EXPECT_FALSE(isFolder(link));
    EXPECT_EQ(test::readFile(target + L"\\keep.txt"), "not ours");
}

// Catches a free-space query that fails for folders not made yet.
TEST(FreeDiskSpace, WalksUpToAnExistingFolder) {
    TempFolder temp;
    uint64_t here = freeDiskSpace(temp.path());
    EXPECT_GT(here, 0u);
    uint64_t missing = freeDiskSpace(temp / L"not\\made\\yet");
    EXPECT_GT(missing, 0u);
    EXPECT_EQ(freeDiskSpace(L"relative-nothing"), freeDiskSpace(fullPath(L"relative-nothing")));
}

}  // namespace
}  // namespace qv
