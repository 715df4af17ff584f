#include "setup/install/registration.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/core/options.h"
#include "tests/install/logged_test.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

// Every registry test runs with HKEY_CURRENT_USER mapped onto a scratch key
// of its own, removed afterwards, so the prefix's real entry is never seen
// nor changed.
class RegistryTest : public test::LoggedTest {
protected:
    std::wstring scratch = formatText(L"Software\\QuorvelAI-tests\\%lu", GetCurrentProcessId());
    RegKey scratchKey;

    void SetUp() override {
        LoggedTest::SetUp();
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, scratchKey.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratchKey.get()), ERROR_SUCCESS);
    }
    void TearDown() override {
        registryWriteGate() = nullptr;
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        scratchKey.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QuorvelAI-tests");
        LoggedTest::TearDown();
    }

    struct Stored {
        bool present = false;
        DWORD type = 0;
        std::vector<BYTE> bytes;
    };
    static Stored stored(const wchar_t* key, const wchar_t* name) {
        Stored value;
        DWORD size = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                         nullptr, &size) != ERROR_SUCCESS)
            return value;
        value.bytes.resize(size);
        value.present = RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND,
                                     &value.type, value.bytes.data(), &size) == ERROR_SUCCESS;
        value.bytes.resize(size);
        return value;
    }
    static std::vector<BYTE> textBytes(const std::wstring& text) {
        const BYTE* start = reinterpret_cast<const BYTE*>(text.c_str());
        return std::vector<BYTE>(start, start + (text.size() + 1) * sizeof(wchar_t));
    }
    static std::vector<BYTE> numberBytes(DWORD number) {
        const BYTE* start = reinterpret_cast<const BYTE*>(&number);
        return std::vector<BYTE>(start, start + sizeof(number));
    }
};

const wchar_t* const kRoot = L"C:\\Users\\u\\AppData\\Local\\QuorvelAI";

struct ExpectedValue {
    const wchar_t* name;
    DWORD type;
    std::wstring text;
    DWORD number;
};

std::vector<ExpectedValue> expectedEntry() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::wstring today = formatText(L"%04u%02u%02u", unsigned(now.wYear), unsigned(now.wMonth),
                                    unsigned(now.wDay));
    std::wstring uninstall = L"\"C:\\Users\\u\\AppData\\Local\\QuorvelAI\\Uninstall.exe\" --uninstall";
    return {
        {L"DisplayName", REG_SZ, L"QuorvelAI", 0},
        {L"DisplayVersion", REG_SZ, L"1.2.3", 0},
        {L"Publisher", REG_SZ, L"Quorvel, LLC", 0},
        {L"DisplayIcon", REG_SZ, L"C:\\Users\\u\\AppData\\Local\\QuorvelAI\\app-1.2.3\\QuorvelAI.exe,0", 0},
        {L"InstallLocation", REG_SZ, kRoot, 0},
        {L"UninstallString", REG_SZ, uninstall, 0},
        {L"QuietUninstallString", REG_SZ, uninstall + L" --silent", 0},
        {L"InstallDate", REG_SZ, today, 0},
        {L"SetupVersion", REG_SZ, L"1.0.0", 0},
        {L"NoModify", REG_DWORD, {}, 1},
        {L"NoRepair", REG_DWORD, {}, 1},
        {L"EstimatedSize", REG_DWORD, {}, 300 * 1024},
    };
}

SetupContext installedContext() {
    SetupContext context(SetupOptions{}, nullptr, nullptr);
    context.releaseVersion = L"1.2.3";
    context.unpackedSize = 300ull * 1024 * 1024 + 1023;  // rounded down to KiB
    return context;
}

// Catches a wrong name, type, NUL-less text, rounding or order of a value;
// and a key wiped first, which would drop values another installer left.
TEST_F(RegistryTest, UninstallEntryHoldsEveryValue) {
    ASSERT_TRUE(writeRegistryString(uninstallKeyPath, L"Extra", L"left by someone"));
    writeUninstallEntry(installedContext(), kRoot);
    for (const ExpectedValue& value : expectedEntry()) {
        SCOPED_TRACE(toUtf8(value.name));
        Stored got = stored(uninstallKeyPath, value.name);
        ASSERT_TRUE(got.present);
        EXPECT_EQ(got.type, value.type);
        EXPECT_EQ(got.bytes, value.type == REG_SZ ? textBytes(value.text) : numberBytes(value.number));
    }
    EXPECT_EQ(readRegistryString(uninstallKeyPath, L"Extra"), L"left by someone");
    EXPECT_EQ(logLines("WARN"), 0u) << logText();
}

// Catches writing on after a failure, or giving up without the WARN line,
// or more than one line for one entry.
TEST_F(RegistryTest, FailedWriteStopsTheEntryWithOneWarning) {
    for (const wchar_t* failing : {L"DisplayName", L"InstallDate", L"EstimatedSize"}) {
        SCOPED_TRACE(toUtf8(failing));
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
        static const wchar_t* refused;
        refused = failing;
        registryWriteGate() = [](const wchar_t*, const wchar_t* name) {
            return std::wstring(name) != refused;
        };
        size_t warningsBefore = logLines("WARN  Could not write all of the uninstall entry\r\n");
        writeUninstallEntry(installedContext(), kRoot);
        registryWriteGate() = nullptr;

        bool beforeFailure = true;
        for (const ExpectedValue& value : expectedEntry()) {
            if (std::wstring(value.name) == failing) beforeFailure = false;
            EXPECT_EQ(stored(uninstallKeyPath, value.name).present, beforeFailure)
                << toUtf8(value.name);
        }
        EXPECT_EQ(logLines("WARN  Could not write all of the uninstall entry\r\n"),
                  warningsBefore + 1);
        EXPECT_EQ(logLines("WARN"), warningsBefore + 1) << logText();
    }
}

// Catches a key that cannot be opened counting as written. Key names are
// limited to 255 characters, on Windows as under Wine.
TEST_F(RegistryTest, WriteFailsWhenTheKeyCannotBeMade) {
    std::wstring tooLong = L"Software\\" + std::wstring(300, L'k');
    EXPECT_FALSE(writeRegistryString(tooLong.c_str(), L"v", L"x"));
    EXPECT_FALSE(writeRegistryNumber(tooLong.c_str(), L"v", 1));
}

// Catches the SZ|EXPAND_SZ flag pair (refused by Windows with error 87, so
// nothing is ever read), an unexpanded text, a kept NUL, and other types
// read as text.
TEST_F(RegistryTest, ReadsTextValuesOnly) {
    const wchar_t* key = L"Software\\QuorvelAI-read";
    RegKey handle;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              handle.put(), nullptr),
              ERROR_SUCCESS);
    auto set = [&](const wchar_t* name, DWORD type, const std::wstring& text) {
        ASSERT_EQ(RegSetValueExW(handle.get(), name, 0, type,
                                 reinterpret_cast<const BYTE*>(text.c_str()),
                                 DWORD((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    };
    std::wstring windows = environmentVariable(L"SystemRoot");
    ASSERT_FALSE(windows.empty());
    set(L"plain", REG_SZ, L"C:\\Apps\\QuorvelAI");
    set(L"expand", REG_EXPAND_SZ, L"%SystemRoot%\\QuorvelAI");
    set(nullptr, REG_SZ, L"default text");
    set(L"long", REG_SZ, std::wstring(5000, L'x'));
    DWORD number = 7;
    ASSERT_EQ(RegSetValueExW(handle.get(), L"number", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&number), sizeof(number)),
              ERROR_SUCCESS);

    struct Read {
        const wchar_t* name;
        std::wstring expected;
    } reads[] = {
        {L"plain", L"C:\\Apps\\QuorvelAI"},
        {L"expand", windows + L"\\QuorvelAI"},
        {nullptr, L"default text"},
        {L"long", std::wstring(5000, L'x')},
        {L"number", L""},
        {L"missing", L""},
    };
    for (const Read& read : reads) {
        EXPECT_EQ(readRegistryString(key, read.name), read.expected)
            << (read.name ? toUtf8(read.name) : "(default)");
    }
    EXPECT_EQ(readRegistryString(L"Software\\QuorvelAI-no-such-key", L"plain"), L"");
}

// findAttributionId: the first "at_" that stands alone before exactly 16
// ASCII letters or digits.
TEST(AttributionId, FromTheSetupFileName) {
    struct Case {
        const wchar_t* name;
        const wchar_t* id;
    } cases[] = {
        {L"QuorvelAI-Setup at_ABCDEFGHIJKLMNOP.exe", L"at_ABCDEFGHIJKLMNOP"},
        {L"at_0123456789abcdef", L"at_0123456789abcdef"},  // whole name, nothing after
        {L"Setup-at_ABCDEFGHIJKLMNOP_2.exe", L"at_ABCDEFGHIJKLMNOP"},
        // Catches ignoring the character before "at_".
        {L"Setupat_ABCDEFGHIJKLMNOP.exe", L""},
        {L"Setup1at_ABCDEFGHIJKLMNOP.exe", L""},
        // Catches too short or too long ids taken.
        {L"Setup at_ABCDEFGHIJKLMNO.exe", L""},
        {L"Setup at_ABCDEFGHIJKLMNOPQ.exe", L""},
        {L"Setup at_ABCDEFGHIJKLMNOPé.exe", L""},  // a letter is a letter, ASCII or not
        {L"at_ABCDEFGHIJKLMNO", L""},
        // Catches non-ASCII letters or other signs inside the id.
        {L"Setup at_ABCDEFGHIJKLMNÖP.exe", L""},
        {L"Setup at_ABCDEFGH-JKLMNOP.exe", L""},
        // Catches a case-blind search.
        {L"Setup AT_ABCDEFGHIJKLMNOP.exe", L""},
        // Catches stopping at the first occurrence, or skipping past an
        // occurrence's own characters.
        {L"xat_ABCDEFGHIJKLMNOP at_0123456789abcdef.exe", L"at_0123456789abcdef"},
        {L"at_at_ABCDEFGHIJKLMNOP.exe", L"at_ABCDEFGHIJKLMNOP"},
        {L"QuorvelAI-Setup.exe", L""},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(findAttributionId(c.name), c.id) << toUtf8(c.name);
}

using AttributionStamp = test::LoggedTest;

// Catches a stamp overwritten by a later install, a missing folder not
// made, or content with spaces, another order or no final line feed.
TEST_F(AttributionStamp, WrittenOnceAndNeverOverwritten) {
    std::wstring path = temp / L"Roaming\\quorvelai\\attribution.json";
    EXPECT_TRUE(writeAttributionStampFile(L"at_ABCDEFGHIJKLMNOP", path));
    const std::string first = "{\"aid\":\"at_ABCDEFGHIJKLMNOP\",\"source\":\"setup\"}\n";
    EXPECT_EQ(test::readFile(path), first);
    EXPECT_FALSE(writeAttributionStampFile(L"at_0123456789abcdef", path));
    EXPECT_EQ(test::readFile(path), first);
}

// Catches the stamp landing somewhere the uninstall's data removal does
// not look.
TEST(AttributionStampPath, InTheRoamingQuorvelaiFolder) {
    std::wstring roaming = knownFolder(FOLDERID_RoamingAppData, L"APPDATA");
    EXPECT_EQ(attributionStampPath(), roaming + L"\\quorvelai\\attribution.json");
}

using Uninstaller = test::LoggedTest;

// Catches a copy of the wrong file, an older uninstaller not replaced, a
// failure without its WARN line, or the ".new" file left behind.
TEST_F(Uninstaller, CopiedOverTheOldOneOrWarned) {
    SetupContext context(SetupOptions{}, nullptr, nullptr);
    std::wstring root = temp / L"root";
    test::makeFolders(root);
    test::writeFile(joinPath(root, L"Uninstall.exe"), "old");
    copyUninstaller(context, root);
    EXPECT_EQ(test::readFile(joinPath(root, L"Uninstall.exe")), test::readFile(modulePath()));
    EXPECT_FALSE(isFile(joinPath(root, L"Uninstall.exe.new")));
    EXPECT_EQ(logLines("WARN"), 0u) << logText();

    // A folder in the way cannot be replaced by a file.
    std::wstring blocked = temp / L"blocked";
    test::makeFolders(joinPath(blocked, L"Uninstall.exe"));
    copyUninstaller(context, blocked);
    EXPECT_EQ(logLines(toUtf8(L"WARN  Could not write " + joinPath(blocked, L"Uninstall.exe") +
                              L": ")),
              1u)
        << logText();
    EXPECT_FALSE(isFile(joinPath(blocked, L"Uninstall.exe.new")));
}

}  // namespace
}  // namespace qv
