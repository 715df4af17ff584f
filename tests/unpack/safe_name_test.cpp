#include "setup/unpack/safe_name.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

struct NameCase {
    const wchar_t* name;
    const wchar_t* relative;  // nullptr: refused
};

// Each refused name would reach outside the staging folder, be altered by
// Windows into another entry, or open a device instead of a file.
const NameCase refusedNames[] = {
    {L"", nullptr},
    {L"/", nullptr},
    {L"//", nullptr},
    {L"/a", nullptr},
    {L"\\a", nullptr},
    {L"\\\\server\\share\\a", nullptr},
    {L"./a.txt", nullptr},
    {L"../a.txt", nullptr},
    {L"a/../b", nullptr},
    {L"a\\..\\..\\b", nullptr},
    {L"a/./b", nullptr},
    {L"a/..", nullptr},
    {L"..", nullptr},
    {L"C:/a", nullptr},
    {L"C:a", nullptr},
    {L"a//b", nullptr},
    {L"a.", nullptr},
    {L"a ", nullptr},
    {L"a/b./c", nullptr},
    {L"a/b /c", nullptr},
    {L"a|b", nullptr},
    {L"a:b", nullptr},
    {L"file.txt:stream", nullptr},
    {L"a*b", nullptr},
    {L"a?b", nullptr},
    {L"a<b", nullptr},
    {L"a>b", nullptr},
    {L"a\"b", nullptr},
    {L"a\x01" L"b", nullptr},
    {L"a\x1F", nullptr},
    {L"a\tb", nullptr},
    {L"CON", nullptr},
    {L"con", nullptr},
    {L"NUL.txt", nullptr},
    {L"bin/nul", nullptr},
    {L"Aux", nullptr},
    {L"aux .js", nullptr},
    {L"PRN.tar.gz", nullptr},
    {L"COM1", nullptr},
    {L"com9.log", nullptr},
    {L"LPT1", nullptr},
    {L"lpt0", nullptr},
    {L"COM\u00B9", nullptr},
    {L"lpt\u00B3.txt", nullptr},
    {L"CONIN$", nullptr},
    {L"conout$.txt", nullptr},
    {L"a/COM2/b.txt", nullptr},
};

// Ordinary names, including ones close to a refused form, must pass as the
// same path with backslashes; refusing them would break real payloads.
const NameCase acceptedNames[] = {
    {L"a.txt", L"a.txt"},
    {L"a/b/c.txt", L"a\\b\\c.txt"},
    {L"a/b/", L"a\\b"},
    {L"a/b//", L"a\\b"},
    {L"a\\b", L"a\\b"},
    {L".hidden", L".hidden"},
    {L"a..b", L"a..b"},
    {L"...a", L"...a"},
    {L" leading", L" leading"},
    {L"console.txt", L"console.txt"},
    {L"CONFIG", L"CONFIG"},
    {L"com10", L"com10"},
    {L"com.txt", L"com.txt"},
    {L"lpt", L"lpt"},
    {L"nul_driver.dll", L"nul_driver.dll"},
    {L"auxiliary/aux_data.bin", L"auxiliary\\aux_data.bin"},
    {L"resources/app.asar", L"resources\\app.asar"},
    {L"\u00DCn\u00EFc\u00F8d\u00E9/\u30D5\u30A1\u30A4\u30EB.txt",
     L"\u00DCn\u00EFc\u00F8d\u00E9\\\u30D5\u30A1\u30A4\u30EB.txt"},
    {L"a\uFFFDb", L"a\uFFFDb"},
};

TEST(SafeName, RefusesUnsafeNames) {
    for (const NameCase& c : refusedNames) {
        std::wstring relative = L"untouched";
        EXPECT_FALSE(safeRelativePath(c.name, relative)) << "name: " << testing::PrintToString(c.name);
        EXPECT_EQ(relative, L"untouched");
    }
}

TEST(SafeName, AcceptsOrdinaryNames) {
    for (const NameCase& c : acceptedNames) {
        std::wstring relative;
        ASSERT_TRUE(safeRelativePath(c.name, relative)) << testing::PrintToString(c.name);
        EXPECT_EQ(relative, c.relative);
    }
}

// A device test that matched prefixes would refuse "console.txt"; one that
// ignored the extension rule would let "nul.txt" open the null device.
TEST(SafeName, DeviceNamesLookOnlyAtTheTextBeforeTheFirstDot) {
    EXPECT_TRUE(isDeviceName(L"nul"));
    EXPECT_TRUE(isDeviceName(L"NUL.a.b"));
    EXPECT_TRUE(isDeviceName(L"con  .x"));
    EXPECT_FALSE(isDeviceName(L"nul1"));
    EXPECT_FALSE(isDeviceName(L"xnul"));
    EXPECT_FALSE(isDeviceName(L".nul"));
    EXPECT_FALSE(isDeviceName(L"COMA"));
    EXPECT_FALSE(isDeviceName(L"LPT\u00B4"));
}

}  // namespace
}  // namespace qv
