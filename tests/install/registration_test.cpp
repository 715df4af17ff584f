#include "setup/install/registration.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/release/rollout_bucket.h"
#include "tests/install/logged_test.h"

#include <set>

#include <vector>

namespace qv {
namespace {

// HKEY_CURRENT_USER is mapped onto a scratch key for each registry test and
// the key removed afterwards: the prefix's real entry is never touched.
class RegistryTest : public test::LoggedTest {
protected:
    std::wstring scratch = formatText(L"Software\\QuorvelAI-tests\\%lu", GetCurrentProcessId());
    RegKey scratchKey;
    void SetUp() override {
        LoggedTest::SetUp();
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, scratchKey.put(), nullptr),
                  0);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratchKey.get()), 0);
    }
    void TearDown() override {
        registryWriteGate() = nullptr;
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QuorvelAI-tests");
        LoggedTest::TearDown();
    }
    // Type and bytes as stored; type 0 when missing.
    static std::pair<DWORD, std::wstring> stored(const wchar_t* name) {
        DWORD type = 0;
        wchar_t data[512] = {};
        DWORD size = sizeof(data);
        if (RegGetValueW(HKEY_CURRENT_USER, uninstallKeyPath, name, RRF_RT_ANY | RRF_NOEXPAND,
                         &type, data, &size) != ERROR_SUCCESS)
            return {0, {}};
        return {type, std::wstring(data, size / sizeof(wchar_t))};
    }
};

const wchar_t* const kRoot = L"C:\\Users\\u\\AppData\\Local\\QuorvelAI";

// Name, type and data (a text with its NUL, or the DWORD's bytes) in order.
std::vector<std::tuple<const wchar_t*, DWORD, std::wstring>> expectedEntry() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::wstring uninstall = L"\"" + std::wstring(kRoot) + L"\\Uninstall.exe\" --uninstall";
    auto sz = [](const std::wstring& text) { return text + L'\0'; };
    auto dword = [](DWORD n) { return std::wstring(reinterpret_cast<wchar_t*>(&n), 2); };
    return {
        {L"DisplayName", REG_SZ, sz(L"QuorvelAI")},
        {L"DisplayVersion", REG_SZ, sz(L"1.2.3")},
        {L"Publisher", REG_SZ, sz(L"Quorvel, LLC")},
        {L"DisplayIcon", REG_SZ, sz(std::wstring(kRoot) + L"\\app-1.2.3\\QuorvelAI.exe,0")},
        {L"InstallLocation", REG_SZ, sz(kRoot)},
        {L"UninstallString", REG_SZ, sz(uninstall)},
        {L"QuietUninstallString", REG_SZ, sz(uninstall + L" --silent")},
        {L"InstallDate", REG_SZ, sz(formatText(L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay))},
        {L"SetupVersion", REG_SZ, sz(L"1.0.0")},
        {L"NoModify", REG_DWORD, dword(1)},
        {L"NoRepair", REG_DWORD, dword(1)},
        {L"EstimatedSize", REG_DWORD, dword(300 * 1024)},
        {L"RolloutBucket", REG_DWORD, dword(37)}};
}

SetupContext installed() {
    SetupContext context(SetupOptions{}, nullptr, nullptr);
    context.releaseVersion = L"1.2.3";
    context.unpackedSize = 300ull * 1024 * 1024 + 1023;  // rounded down to KiB
    context.rolloutBucket = 37;
    return context;
}

// Catches a wrong name, type, data, missing NUL or rounding; a value that
// fails to stop the rest or that gives no (or more than one) WARN line; and
// a key wiped first, which would drop another installer's values.
TEST_F(RegistryTest, UninstallEntryWrittenInOrderUpToAFailure) {
    static const wchar_t* refused;
    for (const wchar_t* failing : {L"", L"DisplayName", L"InstallDate", L"EstimatedSize"}) {
        SCOPED_TRACE(toUtf8(failing));
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
        ASSERT_TRUE(writeRegistryString(uninstallKeyPath, L"Extra", L"left by someone"));
        refused = failing;
        registryWriteGate() = [](const wchar_t*, const wchar_t* name) {
            return name != std::wstring(refused);
        };
        size_t warnings = logLines("WARN");
        size_t entryWarnings = logLines("WARN  Could not write all of the uninstall entry\r\n");
        writeUninstallEntry(installed(), kRoot);
        registryWriteGate() = nullptr;
        bool written = true;
        for (const auto& [name, type, data] : expectedEntry()) {
            written = written && name != std::wstring(failing);
            std::pair<DWORD, std::wstring> expected{written ? type : 0, written ? data : L""};
            EXPECT_EQ(stored(name), expected) << toUtf8(name);
        }
        EXPECT_EQ(readRegistryString(uninstallKeyPath, L"Extra"), L"left by someone");
        size_t failed = *failing ? 1 : 0;
        EXPECT_EQ(logLines("WARN"), warnings + failed);
        EXPECT_EQ(logLines("WARN  Could not write all of the uninstall entry\r\n"),
                  entryWarnings + failed);
    }
}

// Catches a bucket read from another value or type, a value past 99 taken
// as a bucket, a draw outside 0 to 99 or always alike, a drawn bucket that
// is not kept, and a kept one that is drawn again.
TEST_F(RegistryTest, RolloutBucketIsDrawnOnceAndKept) {
    RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
    EXPECT_EQ(readRolloutBucket(), -1);
    struct Stored { DWORD type; DWORD value; int read; };
    for (const Stored& row : {Stored{REG_DWORD, 0, 0}, Stored{REG_DWORD, 99, 99}, Stored{REG_DWORD, 100, -1},
                              Stored{REG_BINARY, 5, -1}}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, uninstallKeyPath, rolloutBucketValue, row.type, &row.value, 4);
        EXPECT_EQ(readRolloutBucket(), row.read) << row.type << " " << row.value;
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
    SetupContext first(SetupOptions{}, nullptr, nullptr);
    takeRolloutBucket(first);
    ASSERT_TRUE(first.rolloutBucketDrawn);
    EXPECT_EQ(logLines(toUtf8(formatText(L"INFO  Drew rollout bucket %d\r\n", first.rolloutBucket))), 1u);
    keepDrawnRolloutBucket(first);
    SetupContext second(SetupOptions{}, nullptr, nullptr);
    takeRolloutBucket(second);
    EXPECT_FALSE(second.rolloutBucketDrawn);
    EXPECT_EQ(second.rolloutBucket, first.rolloutBucket);
    std::set<int> seen;
    for (int draw = 0; draw < 400; ++draw) {
        int bucket = drawRolloutBucket();
        ASSERT_TRUE(bucket >= 0 && bucket <= 99) << bucket;
        seen.insert(bucket);
    }
    EXPECT_GT(seen.size(), 90u);
}

// Catches the SZ|EXPAND_SZ flag pair (refused with error 87, so nothing
// would ever be read), an unexpanded text, a kept NUL, other types read as
// text, and a key that cannot be made (names over 255 characters) counting
// as written.
TEST_F(RegistryTest, ReadsTextValuesAndReportsFailedWrites) {
    const wchar_t* key = L"Software\\QuorvelAI-read";
    RegKey handle;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              handle.put(), nullptr),
              0);
    std::wstring windows = environmentVariable(L"SystemRoot");
    struct Case {
        const wchar_t* name;
        DWORD type;
        std::wstring stored, read;
    } cases[] = {{L"plain", REG_SZ, L"C:\\Apps", L"C:\\Apps"},
                 {L"expand", REG_EXPAND_SZ, L"%SystemRoot%\\Q", windows + L"\\Q"},
                 {nullptr, REG_SZ, L"default", L"default"},
                 {L"long", REG_SZ, std::wstring(5000, L'x'), std::wstring(5000, L'x')},
                 {L"binary", REG_BINARY, L"ab", L""}};
    for (const Case& c : cases) {
        RegSetValueExW(handle.get(), c.name, 0, c.type,
                       reinterpret_cast<const BYTE*>(c.stored.c_str()),
                       DWORD(c.stored.size() + 1) * 2);
        EXPECT_EQ(readRegistryString(key, c.name), c.read) << c.type;
    }
    EXPECT_EQ(readRegistryString(key, L"missing"), L"");
    EXPECT_EQ(readRegistryString(L"Software\\QuorvelAI-none", L"plain"), L"");
    std::wstring tooLong = L"Software\\" + std::wstring(300, L'k');
    EXPECT_FALSE(writeRegistryString(tooLong.c_str(), L"v", L"x"));
    EXPECT_FALSE(writeRegistryNumber(tooLong.c_str(), L"v", 1));
}

// The first "at_" that stands alone before exactly 16 ASCII letters or digits.
TEST(AttributionId, FromTheSetupFileName) {
    const wchar_t* const id = L"at_ABCDEFGHIJKLMNOP";
    std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"QuorvelAI-Setup at_ABCDEFGHIJKLMNOP.exe", id},
        {L"at_ABCDEFGHIJKLMNOP", id},  // nothing before or after
        // Catches the character before "at_" ignored (letter, digit).
        {L"Setupat_ABCDEFGHIJKLMNOP.exe", L""},
        {L"1at_ABCDEFGHIJKLMNOP.exe", L""},
        // Catches 15 or 17 characters taken; a non-ASCII letter counts as a letter after.
        {L"x at_ABCDEFGHIJKLMNO.exe", L""},
        {L"x at_ABCDEFGHIJKLMNOPQ", L""},
        {L"x at_ABCDEFGHIJKLMNOPé", L""},
        {L"at_ABCDEFGHIJKLMNO", L""},
        // Catches non-ASCII letters or signs inside, and a case-blind search.
        {L"x at_ABCDEFGHIJKLMNÖP.exe", L""},
        {L"x at_ABCDEFGH-JKLMNOP", L""},
        {L"x AT_ABCDEFGHIJKLMNOP.exe", L""},
        // Catches giving up after a failed occurrence, or skipping past its characters.
        {L"xat_0123456789abcdef at_ABCDEFGHIJKLMNOP.exe", id},
        {L"at_at_ABCDEFGHIJKLMNOP.exe", id},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(findAttributionId(name), expected) << toUtf8(name);
    EXPECT_EQ(attributionStampPath(),
              knownFolder(FOLDERID_RoamingAppData, L"APPDATA") + L"\\quorvelai\\attribution.json");
}

using Registration = test::LoggedTest;

// Catches a stamp overwritten by a later install, its folder not made, or
// content with spaces, another order or no final line feed.
TEST_F(Registration, StampWrittenOnceAndNeverOverwritten) {
    std::wstring path = temp / L"Roaming\\quorvelai\\attribution.json";
    const std::string first = "{\"aid\":\"at_ABCDEFGHIJKLMNOP\",\"source\":\"setup\"}\n";
    EXPECT_TRUE(writeAttributionStampFile(L"at_ABCDEFGHIJKLMNOP", path));
    EXPECT_FALSE(writeAttributionStampFile(L"at_0123456789abcdef", path));
    EXPECT_EQ(test::readFile(path), first);
}

// Catches a copy of the wrong file, an old uninstaller not replaced, a
// failure without its WARN line, the ".new" file left behind, or the Mark
// of the Web kept on the copy.
TEST_F(Registration, UninstallerCopiedOverTheOldOneOrWarned) {
    std::wstring root = temp / L"root", blocked = temp / L"blocked";
    test::makeFolders(root);
    test::writeFile(joinPath(root, L"Uninstall.exe"), "old");
    test::makeFolders(joinPath(blocked, L"Uninstall.exe"));  // a folder cannot be replaced
    // Wine keeps no streams: the mark a copy of a downloaded setup carries
    // is a file of the stream's name beside the copy there.
    std::wstring mark = joinPath(root, L"Uninstall.exe.new:Zone.Identifier");
    test::writeFile(mark, "[ZoneTransfer]\r\nZoneId=3\r\n");
    for (const std::wstring& folder : {root, blocked})
        copyUninstaller(SetupContext(SetupOptions{}, nullptr, nullptr), folder);
    EXPECT_FALSE(isFile(mark));
    EXPECT_EQ(test::readFile(joinPath(root, L"Uninstall.exe")), test::readFile(modulePath()));
    EXPECT_EQ(logLines("WARN"), 1u);
    EXPECT_EQ(logLines(toUtf8(L"WARN  Could not write " + blocked + L"\\Uninstall.exe: ")), 1u);
    EXPECT_FALSE(isFile(joinPath(root, L"Uninstall.exe.new")) ||
                 isFile(blocked + L"\\Uninstall.exe.new"));
}

}  // namespace
}  // namespace qv
