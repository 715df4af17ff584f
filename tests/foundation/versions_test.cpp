#include "foundation/versions.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

struct VersionCase {
    const wchar_t* text;
    bool valid;
};

// Catches a parser that accepts what a folder name or server answer must not carry.
TEST(ParseVersion, AcceptsOnlyOneToFourNumericParts) {
    const VersionCase cases[] = {
        {L"1", true},          {L"1.2.3", true},     {L"1.2.3.4", true},
        {L"007.0", true},      {L"1000000", true},   {L"1.1000000.0", true},
        {L"1000001", false},   {L"1.2.3.4.5", false}, {L"", false},
        {L".1", false},        {L"1.", false},        {L"1..2", false},
        {L"a1", false},        {L"1.2-beta", false},  {L" 1.2", false},
        {L"1.2 ", false},      {L"+1", false},        {L"-1", false},
        {L"1.2.3a", false},    {L"99999999999", false},
    };
    for (const auto& c : cases) EXPECT_EQ(parseVersion(c.text), c.valid) << c.text;
}

// Catches values read wrongly (leading zeros, overflow near the limit).
TEST(ParseVersion, FillsTheParts) {
    std::vector<uint32_t> parts;
    ASSERT_TRUE(parseVersion(L"007.10.1000000", &parts));
    EXPECT_EQ(parts, (std::vector<uint32_t>{7, 10, 1000000}));
}

struct CompareCase {
    const wchar_t* a;
    const wchar_t* b;
    int expected;
};

// Catches text ordering (1.10 before 1.9) and missing-part handling.
TEST(CompareVersions, OrdersByNumbers) {
    const CompareCase cases[] = {
        {L"1.10", L"1.9", 1},       {L"1.9", L"1.10", -1},     {L"2", L"1.99.99.99", 1},
        {L"1.2", L"1.2.0", 0},      {L"1.2.0.0", L"1.2", 0},   {L"1.2.1", L"1.2", 1},
        {L"1.0", L"bad", 1},        {L"bad", L"1.0", -1},      {L"bad", L"", 0},
        {L"0.0.1", L"0.0.0.9", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compareVersions(c.a, c.b), c.expected) << c.a << L" vs " << c.b;
}

}  // namespace
}  // namespace qv
