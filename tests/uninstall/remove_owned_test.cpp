// removeOwnedEntries on hand-made install roots.
#include "setup/uninstall/uninstall.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "tests/support/temp_folder.h"
#include "tests/uninstall/user_state.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TempFolder;

struct Entry {
    const wchar_t* name;
    bool folder;
    bool owned;
};

// Owned entries go, look-alikes and the user's own entries stay.
const Entry rootEntries[] = {
    {L"app-1.0.0", true, true},
    {L"app-2.0.0.tmp", true, true},
    {L"app-2.0.0.old", true, true},
    {L"APP-1.2.3.4.OLD", true, true},
    {L"packages", true, true},
    {L"QuorvelAI.exe", false, true},
    {L"QuorvelAI.exe.new", false, true},
    {L"QuorvelAI.exe.old-12345", false, true},
    {L"Uninstall.exe", false, true},
    {L"Uninstall.exe.new", false, true},
    {L"Update.exe", false, true},
    {L"SquirrelSetup.log", false, true},
    {L"Squirrel-Update.log", false, true},
    {L".dead", false, true},
    {L"app.ico", false, true},
    {L"app-2.0", true, false},          // two components only
    {L"app-1.2.3", false, false},       // a file, not a folder
    {L"packages.txt", false, false},
    {L"QuorvelAI.exe.old-", false, false},
    {L"Uninstall.exe.bak", true, false},
    {L"notes.txt", false, false},
    {L"Projects", true, false},
};

void make(const std::wstring& path, bool folder) {
    if (folder) {
        test::makeFolders(path);
        test::writeFile(path + L"\\inside.txt", "x");
    } else {
        test::writeFile(path, "x");
    }
}

bool exists(const std::wstring& path) { return isFile(path) || isFolder(path); }

// Catches an entry removed that the setup never made, an owned one left, or
// a read-only launcher that stays.
TEST(RemoveOwnedEntries, RemovesOwnedEntriesAndKeepsTheRest) {
    TempFolder temp;
    std::wstring root = temp / L"QuorvelAI";
    for (const Entry& entry : rootEntries) make(joinPath(root, entry.name), entry.folder);
    SetFileAttributesW(longPath(root + L"\\QuorvelAI.exe").c_str(), FILE_ATTRIBUTE_READONLY);

    std::wstring failure;
    EXPECT_TRUE(removeOwnedEntries(root, failure));
    EXPECT_EQ(failure, L"");
    for (const Entry& entry : rootEntries)
        EXPECT_EQ(exists(joinPath(root, entry.name)), !entry.owned) << entry.name;
    EXPECT_EQ(test::readFile(root + L"\\Projects\\inside.txt"), "x");
}

// Catches a root left behind when nothing of the user's is in it.
TEST(RemoveOwnedEntries, RemovesARootThatBecomesEmpty) {
    TempFolder temp;
    std::wstring root = temp / L"QuorvelAI";
    make(root + L"\\app-1.0.0", true);
    make(root + L"\\QuorvelAI.exe", false);
    std::wstring failure;
    EXPECT_TRUE(removeOwnedEntries(root, failure));
    EXPECT_FALSE(isFolder(root));
}

// Catches a link named like a version folder being followed, which would
// delete the files of the folder it points to.
TEST(RemoveOwnedEntries, UnlinksAVersionNamedLinkWithoutTouchingItsTarget) {
    TempFolder temp;
    std::wstring root = temp / L"QuorvelAI";
    std::wstring target = temp / L"elsewhere";
    test::makeFolders(root);
    test::makeFolders(target);
    test::writeFile(target + L"\\QuorvelAI.exe", "not ours");
    if (!test::makeFolderLink(root + L"\\app-1.0.0", target))
        GTEST_SKIP() << "neither a junction nor a folder link can be made here";
    std::wstring failure;
    EXPECT_TRUE(removeOwnedEntries(root, failure));
    EXPECT_FALSE(exists(root + L"\\app-1.0.0"));
    EXPECT_EQ(test::readFile(target + L"\\QuorvelAI.exe"), "not ours");
}

// Catches a stop at the first failure, a failure reported as success, the
// first failure overwritten, or a detail that names the folder instead of
// the file that is held.
TEST(RemoveOwnedEntries, GoesOnPastAHeldFileAndNamesIt) {
    TempFolder temp;
    std::wstring root = temp / L"QuorvelAI";
    make(root + L"\\app-1.0.0", true);
    make(root + L"\\app-0.9.0", true);
    make(root + L"\\Uninstall.exe", false);
    std::wstring held = root + L"\\app-1.0.0\\inside.txt";
    FileHandle handle(CreateFileW(longPath(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle);

    std::wstring failure;
    EXPECT_FALSE(removeOwnedEntries(root, failure));
    EXPECT_TRUE(equalsIgnoreCase(failure, held)) << failure;
    EXPECT_FALSE(exists(root + L"\\Uninstall.exe"));
    EXPECT_FALSE(exists(root + L"\\app-0.9.0"));

    std::wstring earlier = L"C:\\first";
    EXPECT_FALSE(removeOwnedEntries(root, earlier));
    EXPECT_EQ(earlier, L"C:\\first");

    handle.reset();
    failure.clear();
    EXPECT_TRUE(removeOwnedEntries(root, failure));
    EXPECT_FALSE(isFolder(root));
}

// Catches a missing root counted as a failure.
TEST(RemoveOwnedEntries, AMissingRootHasNothingToRemove) {
    TempFolder temp;
    std::wstring failure;
    EXPECT_TRUE(removeOwnedEntries(temp / L"never-made", failure));
    EXPECT_EQ(failure, L"");
}

}  // namespace
}  // namespace qv
