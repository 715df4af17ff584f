#include "foundation/text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

// Catches ASCII-only conversion and surrogate pairs split wrongly.
TEST(Utf8, RoundTripsNonAsciiText) {
    std::wstring wide = L"Caf\u00e9 \u65e5\u672c \U0001F600";
    std::string narrow = toUtf8(wide);
    EXPECT_EQ(narrow, "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80");
    EXPECT_EQ(fromUtf8(narrow), wide);
    EXPECT_EQ(toUtf8(L""), "");
    EXPECT_EQ(fromUtf8(""), L"");
}

// Catches invalid bytes dropped silently instead of replaced.
TEST(Utf8, ReplacesInvalidSequences) {
    std::wstring text = fromUtf8("a\xff" "b");
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(text[1], 0xFFFD);
}

// Catches upper-case digits or swapped nibbles.
TEST(ToHex, IsLowerCaseHighNibbleFirst) {
    const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(toHex(bytes, sizeof(bytes)), "000fa5ff");
    EXPECT_EQ(toHex(std::string()), "");
}

// Catches output cut at the first buffer size and wrong %hs/%ls handling.
TEST(FormatText, HasNoLengthLimitAndKnowsNarrowAndWide) {
    std::wstring long_(5000, L'x');
    EXPECT_EQ(formatText(L"[%ls]", long_.c_str()), L"[" + long_ + L"]");
    EXPECT_EQ(formatText(L"%ls|%hs|%llu|%d|0x%08lx|%.1f|%%", L"w", "n", 18446744073709551615ull, -3,
                         0xABCul, 20.0),
              L"w|n|18446744073709551615|-3|0x00000abc|20.0|%");
    // Exactly at the first room size: the result must not lose its last character.
    std::wstring edge(255, L'y');
    EXPECT_EQ(formatText(L"%ls", edge.c_str()), edge);
    std::wstring edge2(256, L'z');
    EXPECT_EQ(formatText(L"%ls", edge2.c_str()), edge2);
}

// Catches a control character let through (NUL hides the rest of a log
// line, CR and LF forge new ones), a wrong or upper-case code, and the
// escape reaching characters it should leave alone (space, DEL, non-ASCII).
TEST(EscapeControlCharacters, WritesCharactersBelowSpaceAsHex) {
    struct Case {
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {L"plain name.txt", L"plain name.txt"},
        {std::wstring(L"a\0b", 3), L"a\\x00b"},
        {L"x\r\n2026-01-01 ERROR forged", L"x\\x0d\\x0a2026-01-01 ERROR forged"},
        {L"\x01\x1f\x1a\t", L"\\x01\\x1f\\x1a\\x09"},
        {L"\x7f\u00fc\u2026 ", L"\x7f\u00fc\u2026 "},
        {L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(escapeControlCharacters(c.text), c.expected) << testing::PrintToString(c.expected);
}

}  // namespace
}  // namespace qv
