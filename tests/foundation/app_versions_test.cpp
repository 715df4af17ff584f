#include "foundation/app_versions.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TempFolder;

void makeApp(const TempFolder& root, const std::wstring& folder) {
    test::makeFolders(root / folder);
    test::writeFile(root / (folder + L"\\QuorvelAI.exe"), "MZ");
}

// Catches text ordering and a scan that trusts names without the program.
TEST(FindAppVersions, ListsValidFoldersWithTheProgramNewestFirst) {
    TempFolder root;
    makeApp(root, L"app-1.9");
    makeApp(root, L"app-1.10");
    makeApp(root, L"app-1.2");
    makeApp(root, L"APP-2.0.1");              // other letter case: still a version folder
    makeApp(root, L"app-3.0.0.tmp");          // staging: not a valid version
    makeApp(root, L"app-3.0.0.old");          // set aside: not a valid version
    makeApp(root, L"app-x");                  // not a version
    test::makeFolders(root / L"app-4.0");     // no program file
    test::makeFolders(root / L"app-5.0\\QuorvelAI.exe");  // a folder named like the program
    test::writeFile(root / L"app-6.0", "a file named like a folder");
    makeApp(root, L"other-7.0");

    EXPECT_EQ(findAppVersions(root.path(), L"QuorvelAI.exe"),
              (std::vector<std::wstring>{L"2.0.1", L"1.10", L"1.9", L"1.2"}));
}

// Catches a set-aside copy offered beside its own version folder, one
// without the program, or one whose name holds no version.
TEST(FindSetAsideVersions, OnlyCopiesWhoseVersionFolderIsGone) {
    TempFolder root;
    makeApp(root, L"app-1.0.0.old");
    makeApp(root, L"APP-1.2.0.OLD");
    makeApp(root, L"app-2.0.0.old");
    makeApp(root, L"app-2.0.0");               // in place again: the copy is a leftover
    test::makeFolders(root / L"app-3.0.0.old");  // no program
    makeApp(root, L"app-4.0.0.tmp");
    makeApp(root, L"app-x.old");

    EXPECT_EQ(findSetAsideVersions(root.path(), L"QuorvelAI.exe"),
              (std::vector<std::wstring>{L"1.2.0", L"1.0.0"}));
}

// Catches a missing root being treated as an error rather than "none".
TEST(FindAppVersions, EmptyForMissingOrEmptyRoot) {
    TempFolder root;
    EXPECT_TRUE(findAppVersions(root.path(), L"QuorvelAI.exe").empty());
    EXPECT_TRUE(findAppVersions(root / L"missing", L"QuorvelAI.exe").empty());
}

}  // namespace
}  // namespace qv
