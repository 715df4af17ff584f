#include "foundation/paths.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

struct TextCase {
    const wchar_t* input;
    const wchar_t* expected;
};

// Catches prefixes added to the wrong forms or missing on UNC paths.
TEST(LongPath, PrefixesOnlyDriveAndUncPaths) {
    const TextCase cases[] = {
        {L"C:\\a\\b", L"\\\\?\\C:\\a\\b"},
        {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"},
        {L"relative\\x", L"relative\\x"},
        {L"C:x", L"C:x"},
        {L"C:/a", L"C:/a"},
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(longPath(c.input), c.expected) << c.input;
}

// Catches slashes left in place and drive roots losing their backslash.
TEST(FullPath, NormalisesSeparatorsAndTrailingBackslashes) {
    const TextCase cases[] = {
        {L"C:/a/b/", L"C:\\a\\b"},
        {L"C:\\a\\b\\\\", L"C:\\a\\b"},
        {L"C:\\", L"C:\\"},
        {L"C:/", L"C:\\"},
        {L"C:\\a\\..\\b", L"C:\\b"},
        {L"\\\\server\\share\\dir\\", L"\\\\server\\share\\dir"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(fullPath(c.input), c.expected) << c.input;
}

// Catches doubled or missing separators.
TEST(JoinPath, AddsExactlyOneSeparator) {
    EXPECT_EQ(joinPath(L"", L"name"), L"name");
    EXPECT_EQ(joinPath(L"C:\\", L"name"), L"C:\\name");
    EXPECT_EQ(joinPath(L"C:\\a", L"name"), L"C:\\a\\name");
    EXPECT_EQ(joinPath(L"C:/a/", L"name"), L"C:/a/name");
}

// Catches a drive root losing its backslash and slash separators ignored.
TEST(ParentFolderAndFileName, SplitAtTheLastSeparator) {
    EXPECT_EQ(parentFolder(L"C:\\file.txt"), L"C:\\");
    EXPECT_EQ(parentFolder(L"C:\\a\\b\\c.txt"), L"C:\\a\\b");
    EXPECT_EQ(parentFolder(L"C:/a/b"), L"C:/a");
    EXPECT_EQ(parentFolder(L"name"), L"");
    EXPECT_EQ(parentFolder(L"\\name"), L"");
    EXPECT_EQ(fileNamePart(L"C:\\a\\b.exe"), L"b.exe");
    EXPECT_EQ(fileNamePart(L"C:/a/b.exe"), L"b.exe");
    EXPECT_EQ(fileNamePart(L"b.exe"), L"b.exe");
    EXPECT_EQ(fileNamePart(L"C:\\a\\"), L"");
}

// Catches a prefix match that takes a sibling folder for a child.
TEST(IsUnderFolder, NeedsASeparatorAfterTheFolder) {
    EXPECT_TRUE(isUnderFolder(L"C:\\App\\x.exe", L"C:\\App"));
    EXPECT_TRUE(isUnderFolder(L"C:\\App", L"C:\\App"));
    EXPECT_TRUE(isUnderFolder(L"c:\\app\\sub", L"C:\\APP"));
    EXPECT_TRUE(isUnderFolder(L"C:\\App\\sub", L"C:\\App\\"));
    EXPECT_TRUE(isUnderFolder(L"C:\\x", L"C:\\"));
    EXPECT_FALSE(isUnderFolder(L"C:\\AppX\\y", L"C:\\App"));
    EXPECT_FALSE(isUnderFolder(L"C:\\Ap", L"C:\\App"));
    EXPECT_FALSE(isUnderFolder(L"D:\\App", L"C:\\App"));
}

// Catches a case-sensitive or culture-dependent comparison.
TEST(EqualsIgnoreCase, IsOrdinalAndCaseBlind) {
    EXPECT_TRUE(equalsIgnoreCase(L"Uninstall.exe", L"UNINSTALL.EXE"));
    EXPECT_TRUE(equalsIgnoreCase(L"\u00e9t\u00e9", L"\u00c9T\u00c9"));
    EXPECT_FALSE(equalsIgnoreCase(L"Uninstall.exe", L"Uninstall.ex"));
    EXPECT_FALSE(equalsIgnoreCase(L"e", L"\u00e9"));
}

// Catches a trailing backslash or a short (8.3) name from GetTempPathW.
TEST(Places, TempFolderIsFullWithoutTrailingBackslash) {
    std::wstring temp = tempFolder();
    ASSERT_GT(temp.size(), 3u);
    EXPECT_NE(temp.back(), L'\\');
    EXPECT_EQ(temp, fullPath(temp));
    EXPECT_EQ(temp.find(L'~'), std::wstring::npos);
}

// Catches a module path cut short or empty.
TEST(Places, ModulePathNamesThisProgram) {
    EXPECT_TRUE(equalsIgnoreCase(fileNamePart(modulePath()), L"foundation_tests.exe"));
}

// Catches the environment fallback not being used, and unset variables
// reading as something.
TEST(Places, KnownFolderAndEnvironment) {
    EXPECT_FALSE(knownFolder(FOLDERID_LocalAppData, L"LOCALAPPDATA").empty());
    EXPECT_FALSE(knownFolder(FOLDERID_RoamingAppData, nullptr).empty());
    EXPECT_EQ(environmentVariable(L"QV_SURELY_NOT_SET_12345"), L"");
    SetEnvironmentVariableW(L"QV_TEST_VALUE", L"abc \u00e9");
    EXPECT_EQ(environmentVariable(L"QV_TEST_VALUE"), L"abc \u00e9");
    SetEnvironmentVariableW(L"QV_TEST_VALUE", nullptr);
}

}  // namespace
}  // namespace qv
