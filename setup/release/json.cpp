#include "json.h"

namespace qv {
namespace {

// Deeper documents are refused before they can exhaust the stack.
constexpr int maxDepth = 64;

bool isWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isNumberByte(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Lone surrogates come out in their three-byte form, like any other unit
// below 0x10000.
void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint <= 0xFFFF) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Keeps the nesting depth right on every way out of a value.
class DepthGuard {
public:
    explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
    ~DepthGuard() { --depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& depth_;
};

bool startsWith(const char* at, const char* end, const char* word, size_t length) {
    return static_cast<size_t>(end - at) >= length && std::string(at, length) == word;
}

}  // namespace

bool JsonParser::fail(const char* message) {
    if (error_.empty()) error_ = message;
    return false;
}

void JsonParser::skipWhitespace() {
    while (at_ != end_ && isWhitespace(*at_)) ++at_;
}

bool JsonParser::parseValue(JsonValue& out) {
    DepthGuard depth(depth_);
    if (depth_ > maxDepth) return fail("nested too deep");
    if (++values_ > maxJsonValues) return fail("too many values");
    skipWhitespace();
    if (at_ == end_) return fail("unexpected end");
    char first = *at_;
    if (first == '"') {
        out.type = JsonType::String;
        return parseString(out.text);
    }
    if (first == '[') return parseArray(out);
    if (first == '{') return parseObject(out);
    if (parseLiteral(out)) return true;
    if (first == '-' || (first >= '0' && first <= '9')) {
        parseNumber(out);
        return true;
    }
    return fail("unexpected character");
}

// The byte after a literal is not looked at: "truex" fails later as a
// missing separator or as trailing characters.
bool JsonParser::parseLiteral(JsonValue& out) {
    if (startsWith(at_, end_, "true", 4)) {
        out.type = JsonType::Bool;
        out.boolValue = true;
        at_ += 4;
        return true;
    }
    if (startsWith(at_, end_, "false", 5)) {
        out.type = JsonType::Bool;
        out.boolValue = false;
        at_ += 5;
        return true;
    }
    if (startsWith(at_, end_, "null", 4)) {
        out.type = JsonType::Null;
        at_ += 4;
        return true;
    }
    return false;
}

// The text is kept unvalidated; GetInt decides later what it means.
void JsonParser::parseNumber(JsonValue& out) {
    out.type = JsonType::Number;
    const char* start = at_;
    if (*at_ == '-') ++at_;
    while (at_ != end_ && isNumberByte(*at_)) ++at_;
    out.text.assign(start, at_);
}

bool JsonParser::parseArray(JsonValue& out) {
    out.type = JsonType::Array;
    ++at_;
    skipWhitespace();
    if (at_ != end_ && *at_ == ']') {
        ++at_;
        return true;
    }
    for (;;) {
        out.items.emplace_back();
        if (!parseValue(out.items.back())) return false;
        skipWhitespace();
        if (at_ == end_ || (*at_ != ',' && *at_ != ']')) return fail("expected ',' or ']'");
        if (*at_++ == ']') return true;
    }
}

bool JsonParser::parseObject(JsonValue& out) {
    out.type = JsonType::Object;
    ++at_;
    skipWhitespace();
    if (at_ != end_ && *at_ == '}') {
        ++at_;
        return true;
    }
    for (;;) {
        skipWhitespace();
        if (at_ == end_ || *at_ != '"') return fail("expected key");
        out.members.emplace_back();
        auto& member = out.members.back();
        if (!parseString(member.first)) return false;
        skipWhitespace();
        if (at_ == end_ || *at_ != ':') return fail("expected ':'");
        ++at_;
        if (!parseValue(member.second)) return false;
        skipWhitespace();
        if (at_ == end_ || (*at_ != ',' && *at_ != '}')) return fail("expected ',' or '}'");
        if (*at_++ == '}') return true;
    }
}

bool JsonParser::parseString(std::string& out) {
    ++at_;
    for (;;) {
        if (at_ == end_) return fail("unterminated string");
        unsigned char c = static_cast<unsigned char>(*at_);
        if (c == '"') {
            ++at_;
            return true;
        }
        if (c < 0x20) return fail("control character in string");
        if (c == '\\') {
            ++at_;
            if (!parseEscape(out)) return false;
            continue;
        }
        out.push_back(static_cast<char>(c));
        ++at_;
    }
}

// The position is on the byte after the backslash.
bool JsonParser::parseEscape(std::string& out) {
    if (at_ == end_) return fail("unterminated string");
    char c = *at_++;
    switch (c) {
        case '"': case '/': case '\\': out.push_back(c); return true;
        case 'b': out.push_back('\b'); return true;
        case 'f': out.push_back('\f'); return true;
        case 'n': out.push_back('\n'); return true;
        case 'r': out.push_back('\r'); return true;
        case 't': out.push_back('\t'); return true;
        case 'u': return parseUnicodeEscape(out);
        default: return fail("bad escape");
    }
}

bool JsonParser::readHex4(uint32_t& unit) {
    if (end_ - at_ < 4) return fail("bad \\u escape");
    unit = 0;
    for (int i = 0; i < 4; ++i) {
        int digit = hexDigit(at_[i]);
        if (digit < 0) return fail("bad \\u escape");
        unit = unit * 16 + static_cast<uint32_t>(digit);
    }
    at_ += 4;
    return true;
}

// The position is on the four hex digits after "\u".
bool JsonParser::parseUnicodeEscape(std::string& out) {
    uint32_t unit = 0;
    if (!readHex4(unit)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF && end_ - at_ > 5 && at_[0] == '\\' && at_[1] == 'u') {
        const char* second = at_;
        at_ += 2;
        uint32_t low = 0;
        if (!readHex4(low)) return false;
        if (low >= 0xDC00 && low <= 0xDFFF) {
            appendUtf8(out, unit * 1024 + low - 0x35FDC00);
            return true;
        }
        // Not a pair: the high unit stands alone and the second escape is
        // read again on its own, so its character is kept, not dropped.
        at_ = second;
    }
    appendUtf8(out, unit);
    return true;
}

bool ParseJson(const std::string& document, JsonValue& out, std::string* error) {
    out = JsonValue();
    const char* begin = document.data();
    const char* end = begin + document.size();
    if (document.size() > 2 && document.compare(0, 3, "\xEF\xBB\xBF") == 0) begin += 3;
    JsonParser parser(begin, end);
    bool ok = parser.parseValue(out);
    if (ok) {
        parser.skipWhitespace();
        if (!parser.atEnd()) ok = parser.fail("trailing characters");
    }
    if (!ok && error) *error = parser.error();
    return ok;
}

const JsonValue* FindMember(const JsonValue& value, const std::string& key) {
    if (value.type != JsonType::Object) return nullptr;
    for (const auto& member : value.members)
        if (member.first == key) return &member.second;
    return nullptr;
}

int64_t GetInt(const JsonValue& object, const std::string& key, int64_t fallback) {
    const JsonValue* member = FindMember(object, key);
    if (!member || member->type != JsonType::Number) return fallback;
    const std::string& text = member->text;
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
    size_t firstDigit = at;
    // Accumulated as a negative number so that the lowest value fits too.
    int64_t value = 0;
    bool saturated = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        int digit = text[at] - '0';
        if (value < (INT64_MIN + digit) / 10) saturated = true;
        if (!saturated) value = value * 10 - digit;
    }
    if (at == firstDigit || at != text.size()) return fallback;
    if (saturated) return negative ? INT64_MIN : INT64_MAX;
    if (negative) return value;
    return value == INT64_MIN ? INT64_MAX : -value;
}

std::string GetString(const JsonValue& object, const std::string& key, const std::string& fallback) {
    const JsonValue* member = FindMember(object, key);
    if (!member || member->type != JsonType::String) return fallback;
    return member->text;
}

const JsonValue* FindPath(const JsonValue& value, const std::string& path) {
    const JsonValue* current = &value;
    size_t start = 0;
    for (;;) {
        size_t dot = path.find('.', start);
        std::string segment = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        current = FindMember(*current, segment);
        if (!current) return nullptr;
        if (dot == std::string::npos) return current;
        start = dot + 1;
    }
}

}  // namespace qv
