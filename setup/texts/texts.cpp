#include "texts.h"

#include "pseudo_language.h"

namespace qv {
namespace {

HMODULE thisProgram() { return GetModuleHandleW(nullptr); }

// Placeholder number at text[at] ("%1" to "%9"), or 0.
int placeholderAt(const std::wstring& text, size_t at) {
    if (at + 1 >= text.size() || text[at] != L'%') return 0;
    wchar_t digit = text[at + 1];
    return digit >= L'1' && digit <= L'9' ? digit - L'0' : 0;
}

// Matches pattern from p against text from t, filling values; a value
// takes the shortest run that lets the rest match.
bool matchFrom(const std::wstring& pattern, size_t p, const std::wstring& text, size_t t,
               std::vector<std::wstring>& values) {
    while (p < pattern.size()) {
        int number = placeholderAt(pattern, p);
        if (number == 0) {
            if (t >= text.size() || text[t] != pattern[p]) return false;
            ++p;
            ++t;
            continue;
        }
        if (values.size() < static_cast<size_t>(number)) values.resize(number);
        for (size_t end = t; end <= text.size(); ++end) {
            values[number - 1] = text.substr(t, end - t);
            if (matchFrom(pattern, p + 2, text, end, values)) return true;
        }
        return false;
    }
    return t == text.size();
}

}  // namespace

std::vector<std::wstring> readStringTable(HMODULE module, LANGID language) {
    std::vector<std::wstring> strings(TX_END);
    if (!module) module = thisProgram();
    // Strings are stored sixteen to a block, block n holding ids
    // 16 (n - 1) to 16 n - 1, each as a length and that many characters.
    for (int block = 0; block * 16 < TX_END; ++block) {
        HRSRC resource = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block + 1), language);
        HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
        const WCHAR* data = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
        if (!data) continue;
        DWORD size = SizeofResource(module, resource) / sizeof(WCHAR);
        DWORD at = 0;
        for (int i = 0; i < 16 && at < size; ++i) {
            DWORD length = data[at++];
            if (at + length > size) break;
            int id = block * 16 + i;
            if (id < TX_END) strings[id].assign(data + at, length);
            at += length;
        }
    }
    return strings;
}

const std::vector<std::wstring>& englishTexts() {
    static const std::vector<std::wstring> english =
        readStringTable(thisProgram(), languageInfo(Language::English).langId);
    return english;
}

Texts::Texts() : strings_(englishTexts()) {}

Texts Texts::load(Language language, HMODULE module) {
    Texts texts;
    texts.language_ = language;
    if (language == Language::English) return texts;
    if (language == Language::Pseudo) {
        for (std::wstring& text : texts.strings_) text = pseudoText(text);
        return texts;
    }
    std::vector<std::wstring> table = readStringTable(module, languageInfo(language).langId);
    // A string the table lacks stays English rather than blank.
    for (size_t id = 0; id < table.size(); ++id)
        if (!table[id].empty()) texts.strings_[id] = table[id];
    return texts;
}

const std::wstring& Texts::get(TextId id) const {
    static const std::wstring none;
    if (id < 0 || static_cast<size_t>(id) >= strings_.size()) return none;
    return strings_[id];
}

std::wstring Texts::format(TextId id, const std::vector<std::wstring>& values) const {
    return fillPlaceholders(get(id), values);
}

std::wstring Texts::translate(const std::wstring& english,
                              const std::vector<TextId>& candidates) const {
    const std::vector<std::wstring>& sentences = englishTexts();
    for (TextId id : candidates) {
        if (id < 0 || static_cast<size_t>(id) >= sentences.size() || sentences[id].empty()) continue;
        std::vector<std::wstring> values;
        if (matchPlaceholders(sentences[id], english, values)) return format(id, values);
    }
    return english;
}

std::wstring fillPlaceholders(const std::wstring& pattern, const std::vector<std::wstring>& values) {
    std::wstring result;
    result.reserve(pattern.size() + 32);
    for (size_t at = 0; at < pattern.size(); ++at) {
        int number = placeholderAt(pattern, at);
        if (number == 0) {
            result.push_back(pattern[at]);
            continue;
        }
        if (static_cast<size_t>(number) <= values.size()) result += values[number - 1];
        ++at;
    }
    return result;
}

bool matchPlaceholders(const std::wstring& pattern, const std::wstring& text,
                       std::vector<std::wstring>& values) {
    values.clear();
    return matchFrom(pattern, 0, text, 0, values);
}

}  // namespace qv
