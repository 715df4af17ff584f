#include "setup/core/options.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

std::vector<std::wstring> args(std::initializer_list<const wchar_t*> list) {
    std::vector<std::wstring> result{L"QuorvelAI-Setup.exe"};
    for (const wchar_t* a : list) result.emplace_back(a);
    return result;
}

bool parse(std::initializer_list<const wchar_t*> list, SetupOptions& options, std::wstring& error) {
    return parseCommandLine(args(list), options, error);
}

// Catches changed defaults, which every later step relies on.
TEST(ParseCommandLine, NoArgumentsGiveTheDefaults) {
    SetupOptions options;
    std::wstring error;
    ASSERT_TRUE(parseCommandLine({L"x"}, options, error));
    EXPECT_EQ(options.uninstall, 0);
    EXPECT_FALSE(options.update);
    EXPECT_FALSE(options.silent);
    EXPECT_EQ(options.launch, -1);
    EXPECT_EQ(options.waitPid, 0u);
    EXPECT_TRUE(options.dir.empty());
    EXPECT_EQ(options.baseUrl, defaultBaseUrl);
    EXPECT_EQ(options.baseUrl.compare(0, 8, L"https://"), 0);
    EXPECT_NE(options.baseUrl.back(), L'/');
    EXPECT_TRUE(error.empty());
}

// The whole record as one text, so that a flag changing a field it should
// leave alone shows as well as one missing its own.
std::wstring describe(const SetupOptions& o) {
    return L"uninstall=" + std::to_wstring(o.uninstall) + L" update=" + std::to_wstring(o.update) +
           L" silent=" + std::to_wstring(o.silent) + L" launch=" + std::to_wstring(o.launch) +
           L" allowUnsigned=" + std::to_wstring(o.allowUnsigned) + L" noShortcuts=" +
           std::to_wstring(o.noShortcuts) + L" removeData=" + std::to_wstring(o.removeData) +
           L" confirmed=" + std::to_wstring(o.confirmed) + L" waitPid=" +
           std::to_wstring(o.waitPid) + L" dir=" + o.dir + L" baseUrl=" + o.baseUrl +
           L" version=" + o.version + L" channel=" + o.channel + L" uninstallRoot=" + o.uninstallRoot +
           L" language=" + o.language;
}

struct FlagCase {
    const wchar_t* flag;
    void (*expect)(SetupOptions&);
};

// Catches a flag that sets the wrong field, none, or a second one (two
// flags swapped, such as --confirmed and --remove-data).
TEST(ParseCommandLine, EachFlagSetsItsFieldAlone) {
    const FlagCase cases[] = {
        {L"--update", [](SetupOptions& o) { o.update = true; }},
        {L"--silent", [](SetupOptions& o) { o.silent = true; }},
        {L"/S", [](SetupOptions& o) { o.silent = true; }},
        {L"-s", [](SetupOptions& o) { o.silent = true; }},
        {L"--launch", [](SetupOptions& o) { o.launch = 1; }},
        {L"--no-launch", [](SetupOptions& o) { o.launch = 0; }},
        {L"--allow-unsigned", [](SetupOptions& o) { o.allowUnsigned = true; }},
        {L"--no-shortcuts", [](SetupOptions& o) { o.noShortcuts = true; }},
        {L"--uninstall", [](SetupOptions& o) { o.uninstall = 1; }},
        {L"--remove-data", [](SetupOptions& o) { o.removeData = true; }},
        {L"--confirmed", [](SetupOptions& o) { o.confirmed = true; }},
    };
    for (const FlagCase& c : cases) {
        SetupOptions parsed;
        std::wstring error;
        ASSERT_TRUE(parse({c.flag}, parsed, error)) << c.flag;
        SetupOptions expected;
        c.expect(expected);
        EXPECT_EQ(describe(parsed), describe(expected)) << c.flag;
    }
}

// Catches the first occurrence winning instead of the last.
TEST(ParseCommandLine, LaterOptionOverridesEarlier) {
    SetupOptions o;
    std::wstring error;
    ASSERT_TRUE(parse({L"--launch", L"--no-launch", L"--version", L"1.0", L"--version", L"2.0"}, o, error));
    EXPECT_EQ(o.launch, 0);
    EXPECT_EQ(o.version, L"2.0");
}

// Catches value options that refuse values looking like options, and
// missing normalisation of --dir and --base-url.
TEST(ParseCommandLine, ValueOptionsTakeTheNextArgumentWhatever_it_is) {
    SetupOptions o;
    std::wstring error;
    ASSERT_TRUE(parse({L"--dir", L"--silent"}, o, error));
    EXPECT_FALSE(o.silent);
    EXPECT_EQ(o.dir.substr(o.dir.size() - 8), L"--silent");

    SetupOptions p;
    ASSERT_TRUE(parse({L"--dir", L"C:/Apps/Q/", L"--base-url", L"http://127.0.0.1:8080///",
                       L"--uninstall-root", L"C:/Keep/As/Is/", L"--version", L"1.2.3",
                       L"--language", L"pt-BR", L"--channel", L"--beta"},
                      p, error));
    EXPECT_EQ(p.dir, L"C:\\Apps\\Q");
    EXPECT_EQ(p.baseUrl, L"http://127.0.0.1:8080");
    EXPECT_EQ(p.uninstallRoot, L"C:/Keep/As/Is/");
    EXPECT_EQ(p.version, L"1.2.3");
    EXPECT_EQ(p.language, L"pt-BR");
    EXPECT_EQ(p.channel, L"--beta");
    EXPECT_EQ(p.uninstallRoot + p.version, L"C:/Keep/As/Is/1.2.3");

    SetupOptions q;
    ASSERT_TRUE(parse({L"--dir", L""}, q, error));
    EXPECT_TRUE(q.dir.empty());
}

// Catches a pid parser that fails the line or reads past the digits.
TEST(ParseCommandLine, WaitPidReadsLeadingDigits) {
    struct Case { const wchar_t* text; uint32_t pid; };
    const Case cases[] = {{L"1234", 1234}, {L"  42abc", 42}, {L"abc", 0}, {L"", 0}, {L"-5", 0}};
    for (const auto& c : cases) {
        SetupOptions o;
        std::wstring error;
        ASSERT_TRUE(parse({L"--wait-pid", c.text}, o, error)) << c.text;
        EXPECT_EQ(o.waitPid, c.pid) << c.text;
    }
}

struct ErrorCase {
    std::vector<const wchar_t*> arguments;
    const wchar_t* error;
};

// Catches wrong error texts and checks made in the wrong order.
TEST(ParseCommandLine, ErrorsNameTheFirstProblem) {
    const ErrorCase cases[] = {
        {{L"--Silent"}, L"Unknown argument: --Silent"},
        {{L"--silent", L"extra"}, L"Unknown argument: extra"},
        {{L"--dir"}, L"--dir needs a value"},
        {{L"--base-url"}, L"--base-url needs a value"},
        {{L"--version"}, L"--version needs a value"},
        {{L"--language"}, L"--language needs a value"},
        {{L"--uninstall-root"}, L"--uninstall-root needs a value"},
        {{L"--wait-pid"}, L"--wait-pid needs a value"},
        {{L"--channel"}, L"--channel needs a value"},
        {{L"--version", L"1.2.3.4.5"}, L"Not a version: 1.2.3.4.5"},
        {{L"--version", L"1.2a"}, L"Not a version: 1.2a"},
        // The version check runs after all arguments.
        {{L"--version", L"bad", L"--bogus"}, L"Unknown argument: --bogus"},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> list{L"setup.exe"};
        for (const wchar_t* a : c.arguments) list.emplace_back(a);
        SetupOptions o;
        std::wstring error;
        EXPECT_FALSE(parseCommandLine(list, o, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

// Catches Squirrel's arguments failing the line.
TEST(ParseCommandLine, SquirrelArgumentsAreIgnored) {
    SetupOptions o;
    std::wstring error;
    EXPECT_TRUE(parse({L"--squirrel-firstrun", L"--squirrel-install", L"1.0.0"}, o, error) == false);
    EXPECT_EQ(error, L"Unknown argument: 1.0.0");
    SetupOptions p;
    EXPECT_TRUE(parse({L"--squirrel-firstrun"}, p, error));
}

// Catches any drift in the usage text shown under a command-line error.
TEST(UsageText, HasFifteenLinesAndTheOptionColumn) {
    const std::wstring& text = usageText();
    EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 15);
    EXPECT_EQ(text.find(L'\r'), std::wstring::npos);
    EXPECT_EQ(text.compare(0, 17, L"QuorvelAI Setup\n\n"), 0);
    EXPECT_NE(text.find(L"\n  --base-url <url>      release server (testing)\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\n  --uninstall [--remove-data]\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\n  --language <tag>      language of the window, such as pt-BR\n"),
              std::wstring::npos);
    EXPECT_NE(text.find(L"\n  --channel <name>      follow this release channel (passed by the app)\n"),
              std::wstring::npos);
    // Descriptions start at column 25: the option column is 24 characters.
    size_t start = 0;
    int described = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        std::wstring line = text.substr(start, end - start);
        if (line.size() <= 24 || line.compare(0, 2, L"  ") != 0) continue;
        if (line.find(L"  ", 2) == std::wstring::npos) continue;  // an option without description
        ++described;
        EXPECT_EQ(line[23], L' ') << line;
        EXPECT_NE(line[24], L' ') << line;
    }
    EXPECT_EQ(described, 10);
    EXPECT_EQ(text.size(), 693u);
}

}  // namespace
}  // namespace qv
