#include "setup/release/json.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

struct FailCase {
    std::string document;
    std::string message;
};

class JsonFailure : public testing::TestWithParam<FailCase> {};

// Catches wrong, missing or overwritten error messages: the first error of a
// parse is the one reported.
TEST_P(JsonFailure, ReportsTheFirstError) {
    JsonValue value;
    std::string error = "untouched";
    EXPECT_FALSE(ParseJson(GetParam().document, value, &error)) << GetParam().document;
    EXPECT_EQ(error, GetParam().message) << GetParam().document;
}

INSTANTIATE_TEST_SUITE_P(
    Documents, JsonFailure,
    testing::Values(FailCase{"", "unexpected end"}, FailCase{"  \r\n\t", "unexpected end"},
                    FailCase{"\xEF\xBB\xBF", "unexpected end"},
                    FailCase{"\xEF\xBB\xBF  ", "unexpected end"},
                    FailCase{"[1,]", "unexpected character"},
                    FailCase{"{\"a\":1,}", "expected key"}, FailCase{"[1 2]", "expected ',' or ']'"},
                    FailCase{"[1", "expected ',' or ']'"}, FailCase{"{\"a\" 1}", "expected ':'"},
                    FailCase{"{\"a\"", "expected ':'"}, FailCase{"{\"a\":1 \"b\":2}", "expected ',' or '}'"},
                    FailCase{"{\"a\":1", "expected ',' or '}'"}, FailCase{"{1:2}", "expected key"},
                    FailCase{"\"abc", "unterminated string"}, FailCase{"\"abc\\", "unterminated string"},
                    FailCase{"\"a\nb\"", "control character in string"},
                    FailCase{"\"\\x\"", "bad escape"}, FailCase{"\"\\u12\"", "bad \\u escape"},
                    FailCase{"\"\\u12G4\"", "bad \\u escape"},
                    FailCase{"\"\\uD83D\\uDE0G\"", "bad \\u escape"},
                    FailCase{"true1", "trailing characters"}, FailCase{"{} {}", "trailing characters"},
                    FailCase{"nul", "unexpected character"}, FailCase{"+1", "unexpected character"},
                    FailCase{"[truex]", "expected ',' or ']'"}, FailCase{"'a'", "unexpected character"},
                    // The inner error wins over the array's own complaint.
                    FailCase{"[\"a\\q\"]", "bad escape"}));

// Catches an off-by-one in the depth limit in either direction.
TEST(JsonDepth, SixtyFourLevelsParseSixtyFiveDoNot) {
    JsonValue value;
    std::string error;
    EXPECT_TRUE(ParseJson(std::string(64, '[') + std::string(64, ']'), value, &error)) << error;
    EXPECT_FALSE(ParseJson(std::string(65, '[') + std::string(65, ']'), value, &error));
    EXPECT_EQ(error, "nested too deep");
    // Depth comes back down after each value: many siblings are not nesting.
    std::string wide = "[" ;
    for (int i = 0; i < 200; ++i) wide += std::string(i ? "," : "") + "[[1]]";
    EXPECT_TRUE(ParseJson(wide + "]", value, &error)) << error;
}

// Catches a stack overflow on hostile input: the limit must hold long before.
TEST(JsonDepth, VeryDeepInputFailsCleanly) {
    JsonValue value;
    std::string error;
    EXPECT_FALSE(ParseJson(std::string(100000, '['), value, &error));
    EXPECT_EQ(error, "nested too deep");
}

// Catches a hostile document of many tiny values costing hundreds of
// megabytes, and an off-by-one in the cap (the array counts as a value; so
// do member values across objects).
TEST(JsonLimits, ValueCountIsCapped) {
    auto arrayOf = [](size_t zeros) {
        std::string text = "[";
        for (size_t i = 0; i < zeros; ++i) text += i ? ",0" : "0";
        return text + "]";
    };
    JsonValue value;
    std::string error;
    EXPECT_TRUE(ParseJson(arrayOf(maxJsonValues - 1), value, &error)) << error;
    EXPECT_FALSE(ParseJson(arrayOf(maxJsonValues), value, &error));
    EXPECT_EQ(error, "too many values");
    std::string objects = "[";
    for (size_t i = 0; i < maxJsonValues / 2; ++i) objects += i ? ",{\"a\":0}" : "{\"a\":0}";
    EXPECT_FALSE(ParseJson(objects + "]", value, &error));
    EXPECT_EQ(error, "too many values");
}

// Catches lost structure: types, order of items, duplicate keys, BOM skip.
TEST(JsonParse, BuildsTheTree) {
    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson("\xEF\xBB\xBF {\"a\": [true, false, null, -1.5e3, \"x\"], \"a\": {}}\r\n",
                          value, &error))
        << error;
    ASSERT_EQ(value.type, JsonType::Object);
    ASSERT_EQ(value.members.size(), 2u);
    EXPECT_EQ(value.members[0].first, "a");
    EXPECT_EQ(value.members[1].first, "a");
    const JsonValue& items = value.members[0].second;
    ASSERT_EQ(items.type, JsonType::Array);
    ASSERT_EQ(items.items.size(), 5u);
    EXPECT_TRUE(items.items[0].type == JsonType::Bool && items.items[0].boolValue);
    EXPECT_TRUE(items.items[1].type == JsonType::Bool && !items.items[1].boolValue);
    EXPECT_EQ(items.items[2].type, JsonType::Null);
    EXPECT_EQ(items.items[3].type, JsonType::Number);
    EXPECT_EQ(items.items[3].text, "-1.5e3");
    EXPECT_EQ(items.items[4].text, "x");
    EXPECT_EQ(value.members[1].second.type, JsonType::Object);
}

// Catches a parser that validates or reformats numbers (it must keep the text).
TEST(JsonParse, NumbersKeepTheirText) {
    for (const char* text : {"0", "-0", "123.000", "1e", "1-2", "00012", "-"}) {
        JsonValue value;
        std::string error;
        ASSERT_TRUE(ParseJson(text, value, &error)) << text << ": " << error;
        EXPECT_EQ(value.type, JsonType::Number);
        EXPECT_EQ(value.text, text);
    }
}

// Catches a reset that forgets old contents when a value is parsed again.
TEST(JsonParse, ResetsTheOutput) {
    JsonValue value;
    ASSERT_TRUE(ParseJson("[1,2,3]", value));
    ASSERT_TRUE(ParseJson("\"s\"", value));
    EXPECT_EQ(value.type, JsonType::String);
    EXPECT_TRUE(value.items.empty());
}

struct StringCase {
    std::string document;
    std::string decoded;
};

class JsonString : public testing::TestWithParam<StringCase> {};

// Catches wrong escape decoding and broken UTF-8 output.
TEST_P(JsonString, Decodes) {
    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(GetParam().document, value, &error)) << error;
    ASSERT_EQ(value.type, JsonType::String);
    EXPECT_EQ(value.text, GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, JsonString,
    testing::Values(
        StringCase{"\"\\\"\\/\\\\\\b\\f\\n\\r\\t\"", "\"/\\\b\f\n\r\t"},
        StringCase{"\"\\u0041\\u00e9\\u20AC\"", "A\xC3\xA9\xE2\x82\xAC"},
        StringCase{"\"h\xC3\xA9llo\"", "h\xC3\xA9llo"},  // raw UTF-8 passes through
        StringCase{"\"\\uD83D\\uDE00\"", "\xF0\x9F\x98\x80"},
        StringCase{"\"\\ud83d\\ude00\"", "\xF0\x9F\x98\x80"},
        // A lone high surrogate keeps the character of the escape after it.
        StringCase{"\"\\uD83D\\u0041\"", "\xED\xA0\xBD" "A"},
        // ...and that escape can still start a pair of its own.
        StringCase{"\"\\uD83D\\uD83D\\uDE00\"", "\xED\xA0\xBD\xF0\x9F\x98\x80"},
        StringCase{"\"\\uD83D\"", "\xED\xA0\xBD"},        // high surrogate at the end
        StringCase{"\"\\uD83Dx\"", "\xED\xA0\xBDx"},      // followed by a plain byte
        StringCase{"\"\\uDE00\"", "\xED\xB8\x80"},        // lone low surrogate
        StringCase{"\"\\u0000\"", std::string(1, '\0')}));

// Catches a lookup that takes the last duplicate, or reads non-integers.
TEST(JsonLookups, GetInt) {
    JsonValue value;
    ASSERT_TRUE(ParseJson("{\"a\":1,\"a\":2,\"n\":5,\"f\":5.0,\"e\":5e0,\"s\":\"5\",\"neg\":-42,"
                          "\"big\":99999999999999999999,\"small\":-99999999999999999999,"
                          "\"max\":9223372036854775807,\"min\":-9223372036854775808,"
                          "\"bad\":1-2,\"dash\":-}",
                          value));
    EXPECT_EQ(GetInt(value, "a", 7), 1);
    EXPECT_EQ(GetInt(value, "n", 7), 5);
    EXPECT_EQ(GetInt(value, "f", 7), 7);
    EXPECT_EQ(GetInt(value, "e", 7), 7);
    EXPECT_EQ(GetInt(value, "s", 7), 7);
    EXPECT_EQ(GetInt(value, "neg", 7), -42);
    EXPECT_EQ(GetInt(value, "big", 7), INT64_MAX);
    EXPECT_EQ(GetInt(value, "small", 7), INT64_MIN);
    EXPECT_EQ(GetInt(value, "max", 7), INT64_MAX);
    EXPECT_EQ(GetInt(value, "min", 7), INT64_MIN);
    EXPECT_EQ(GetInt(value, "bad", 7), 7);
    EXPECT_EQ(GetInt(value, "dash", 7), 7);
    EXPECT_EQ(GetInt(value, "missing", 7), 7);
}

// Catches lookups that accept the wrong type or a non-object container.
TEST(JsonLookups, GetStringAndFindMember) {
    JsonValue value;
    ASSERT_TRUE(ParseJson("{\"s\":\"x\",\"n\":1,\"A\":\"upper\"}", value));
    EXPECT_EQ(GetString(value, "s", "d"), "x");
    EXPECT_EQ(GetString(value, "n", "d"), "d");
    EXPECT_EQ(GetString(value, "a", "d"), "d");  // keys match byte for byte
    JsonValue array;
    ASSERT_TRUE(ParseJson("[{\"s\":\"x\"}]", array));
    EXPECT_EQ(FindMember(array, "s"), nullptr);
}

// Catches a path walk that goes through non-objects or splits wrongly.
TEST(JsonLookups, FindPath) {
    JsonValue value;
    ASSERT_TRUE(ParseJson("{\"platforms\":{\"windows\":{\"version\":\"1.2.3\"}},\"a.b\":1}", value));
    const JsonValue* found = FindPath(value, "platforms.windows.version");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->text, "1.2.3");
    EXPECT_EQ(FindPath(value, "platforms.mac.version"), nullptr);
    EXPECT_EQ(FindPath(value, "platforms.windows.version.more"), nullptr);
    EXPECT_EQ(FindPath(value, "a.b"), nullptr);  // a key with a dot cannot be reached
    JsonValue flat;
    ASSERT_TRUE(ParseJson("{\"platforms\":{\"windows\":\"1.2.3\"}}", flat));
    EXPECT_EQ(FindPath(flat, "platforms.windows.version"), nullptr);
}

}  // namespace
}  // namespace qv
