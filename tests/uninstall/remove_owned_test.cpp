// removeOwnedEntries on hand-made install roots.
#include "setup/uninstall/uninstall.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

struct Entry {
    const wchar_t* name;
    bool folder, owned;
};

const Entry rootEntries[] = {
    {L"app-1.0.0", true, true},           {L"app-2.0.0.tmp", true, true},
    {L"APP-1.2.3.4.OLD", true, true},     {L"packages", true, true},
    {L"QuorvelAI.exe", false, true},      {L"QuorvelAI.exe.new", false, true},
    {L"QuorvelAI.exe.old-1", false, true}, {L"Uninstall.exe", false, true},
    {L"Update.exe", false, true},         {L"Squirrel-Update.log", false, true},
    {L".dead", false, true},              {L"app.ico", false, true},
    {L"app-2.0", true, false},            {L"app-1.2.3", false, false},
    {L"packages", false, false},          {L"QuorvelAI.exe.old-", false, false},
    {L"notes.txt", false, false},         {L"Projects", true, false},
};

// Catches an entry removed that the setup never made, an owned one left, a
// read-only launcher that stays, or a root kept once nothing is left in it.
TEST(RemoveOwnedEntries, RemovesOwnedEntriesAndKeepsTheRest) {
    test::TempFolder temp;
    for (const Entry& entry : rootEntries) {
        // A file named like an owned folder needs a root of its own.
        std::wstring root = temp / (entry.folder || entry.owned ? L"a" : L"b");
        std::wstring path = joinPath(root, entry.name);
        test::makeFolders(entry.folder ? path : root);
        test::writeFile(entry.folder ? path + L"\\inside.txt" : path, "x");
    }
    SetFileAttributesW(longPath(temp / L"a\\QuorvelAI.exe").c_str(), FILE_ATTRIBUTE_READONLY);

    for (const wchar_t* root : {L"a", L"b"}) {
        std::wstring failure;
        EXPECT_TRUE(removeOwnedEntries(temp / root, failure));
        EXPECT_EQ(failure, L"");
    }
    for (const Entry& entry : rootEntries) {
        std::wstring path = temp / (entry.folder || entry.owned ? L"a\\" : L"b\\") + entry.name;
        EXPECT_EQ(isFile(path) || isFolder(path), !entry.owned) << entry.name;
    }

    for (const Entry& entry : rootEntries)
        if (!entry.owned) DeleteFileW(longPath(temp / L"b\\" + entry.name).c_str());
    std::wstring failure;
    EXPECT_TRUE(removeOwnedEntries(temp / L"b", failure));
    EXPECT_FALSE(isFolder(temp / L"b"));
}

// Catches a link named like a version folder being followed, which would
// delete the files of the folder it points to.
TEST(RemoveOwnedEntries, UnlinksAVersionNamedLinkWithoutTouchingItsTarget) {
    test::TempFolder temp;
    std::wstring link = temp / L"root\\app-1.0.0";
    test::makeFolders(temp / L"root");
    test::makeFolders(temp / L"target");
    test::writeFile(temp / L"target\\QuorvelAI.exe", "not ours");
    // Wine 8 answers success and makes nothing: look at what is there.
    CreateSymbolicLinkW(
        longPath(link).c_str(), longPath(temp / L"target").c_str(),
        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    DWORD attributes = GetFileAttributesW(longPath(link).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "folder links cannot be made here";
    std::wstring failure;
    EXPECT_TRUE(removeOwnedEntries(temp / L"root", failure));
    EXPECT_FALSE(isFolder(link));
    EXPECT_EQ(test::readFile(temp / L"target\\QuorvelAI.exe"), "not ours");
}

}  // namespace
}  // namespace qv
