// A small, strict, read-only JSON reader for the release server's documents.
// Input is UTF-8; strings stay UTF-8 and numbers keep the text they were
// written with, so nothing is converted or rounded while parsing. Nothing
// here throws for bad input and nothing depends on Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv {

// A document with more values than this is refused ("too many values"):
// the release server's documents hold a few hundred, and each value costs
// about a hundred bytes however short its text.
inline constexpr size_t maxJsonValues = 262144;

enum class JsonType : int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

struct JsonValue {
    JsonType type = JsonType::Null;
    bool boolValue = false;
    // String: the decoded text. Number: the number exactly as written.
    std::string text;
    std::vector<JsonValue> items;
    // In document order; duplicate keys are all kept.
    std::vector<std::pair<std::string, JsonValue>> members;
};

// The state of one parse. Only the first error is kept: later failures
// (which are consequences of the first) never overwrite it.
class JsonParser {
public:
    JsonParser(const char* begin, const char* end) : at_(begin), end_(end) {}

    // Parses one value at the current position into out.
    bool parseValue(JsonValue& out);
    void skipWhitespace();
    bool atEnd() const { return at_ == end_; }
    bool fail(const char* message);
    const std::string& error() const { return error_; }

private:
    bool parseArray(JsonValue& out);
    bool parseObject(JsonValue& out);
    bool parseString(std::string& out);
    bool parseEscape(std::string& out);
    bool parseUnicodeEscape(std::string& out);
    bool readHex4(uint32_t& unit);
    bool parseLiteral(JsonValue& out);
    void parseNumber(JsonValue& out);

    const char* at_;
    const char* end_;
    std::string error_;
    int depth_ = 0;
    size_t values_ = 0;
};

// Parses a whole document (an optional UTF-8 byte order mark, one value,
// optional whitespace). On failure returns false, stores the message in
// *error when given and leaves out partly filled.
bool ParseJson(const std::string& document, JsonValue& out, std::string* error = nullptr);

// The value of the first member named key (compared byte for byte), or
// nullptr when there is none or value is not an object.
const JsonValue* FindMember(const JsonValue& value, const std::string& key);

// The member as a plain decimal integer; the default when it is missing,
// not a number, or written with a fraction, an exponent or anything else
// after the digits. Values beyond the 64-bit range give the nearest limit.
int64_t GetInt(const JsonValue& object, const std::string& key, int64_t fallback);

// The member's text when it is a string, else the default.
std::string GetString(const JsonValue& object, const std::string& key, const std::string& fallback);

// Follows a dotted path of member names ("platforms.windows.version");
// nullptr when a step is missing or not an object.
const JsonValue* FindPath(const JsonValue& value, const std::string& path);

}  // namespace qv
