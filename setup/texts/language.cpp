#include "language.h"

#include <atomic>
#include <cwctype>

namespace qv {
namespace {

std::atomic<bool> pseudoAllowed{false};

const LanguageInfo pseudoInfo{Language::Pseudo, L"qps-ploc", 0x0501, Script::Latin, false};

std::wstring lowerCase(const std::wstring& text) {
    std::wstring result = text;
    for (wchar_t& c : result) c = static_cast<wchar_t>(std::towlower(c));
    return result;
}

// The subtags of a tag, lower case: "zh-Hant-TW" gives zh, hant, tw.
std::vector<std::wstring> subtags(const std::wstring& tag) {
    std::vector<std::wstring> parts(1);
    for (wchar_t c : lowerCase(tag)) {
        if (c == L'-' || c == L'_') parts.emplace_back();
        else parts.back().push_back(c);
    }
    return parts;
}

bool isTraditionalChinese(const std::vector<std::wstring>& parts) {
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::wstring& part = parts[i];
        if (part == L"hant" || part == L"tw" || part == L"hk" || part == L"mo") return true;
        if (part == L"hans") return false;
    }
    return false;
}

}  // namespace

const std::vector<LanguageInfo>& shippedLanguages() {
    static const std::vector<LanguageInfo> languages = {
        {Language::English, L"en", 0x0409, Script::Latin, false},
        {Language::Spanish, L"es", 0x0C0A, Script::Latin, false},
        {Language::PortugueseBrazil, L"pt-BR", 0x0416, Script::Latin, false},
        {Language::French, L"fr", 0x040C, Script::Latin, false},
        {Language::German, L"de", 0x0407, Script::Latin, false},
        {Language::Italian, L"it", 0x0410, Script::Latin, false},
        {Language::Polish, L"pl", 0x0415, Script::Latin, false},
        {Language::Russian, L"ru", 0x0419, Script::Latin, false},
        {Language::Turkish, L"tr", 0x041F, Script::Latin, false},
        {Language::Japanese, L"ja", 0x0411, Script::Japanese, false},
        {Language::Korean, L"ko", 0x0412, Script::Korean, false},
        {Language::ChineseSimplified, L"zh-CN", 0x0804, Script::ChineseSimplified, false},
        {Language::ChineseTraditional, L"zh-TW", 0x0404, Script::ChineseTraditional, false},
        {Language::Indonesian, L"id", 0x0421, Script::Latin, false},
        {Language::Thai, L"th", 0x041E, Script::Thai, false},
        {Language::Vietnamese, L"vi", 0x042A, Script::Latin, false},
        {Language::Arabic, L"ar", 0x0401, Script::Arabic, true},
    };
    return languages;
}

const LanguageInfo& languageInfo(Language language) {
    for (const LanguageInfo& info : shippedLanguages())
        if (info.language == language) return info;
    return language == Language::Pseudo ? pseudoInfo : shippedLanguages().front();
}

bool languageForTag(const std::wstring& tag, Language& language) {
    std::vector<std::wstring> parts = subtags(tag);
    const std::wstring& primary = parts.front();
    if (primary.empty()) return false;
    if (lowerCase(tag) == L"qps-ploc") {
        if (!pseudoAllowed.load()) return false;
        language = Language::Pseudo;
        return true;
    }
    if (primary == L"zh") {
        language = isTraditionalChinese(parts) ? Language::ChineseTraditional
                                               : Language::ChineseSimplified;
        return true;
    }
    // Each shipped language is the only one of its primary language, so
    // the exact tag and the primary language lead to the same table.
    for (const LanguageInfo& info : shippedLanguages()) {
        if (subtags(info.tag).front() != primary) continue;
        language = info.language;
        return true;
    }
    return false;
}

Language chooseLanguage(const std::wstring& requested, const std::vector<std::wstring>& preferred) {
    Language language = Language::English;
    if (!requested.empty() && languageForTag(requested, language)) return language;
    for (const std::wstring& tag : preferred)
        if (languageForTag(tag, language)) return language;
    return Language::English;
}

std::vector<std::wstring> userPreferredUiLanguages() {
    ULONG count = 0, length = 0;
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &length) || length == 0)
        return {};
    std::wstring buffer(length, L'\0');
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buffer.data(), &length)) return {};
    // A list of zero-ended names, ended by an empty one.
    std::vector<std::wstring> tags;
    for (size_t at = 0; at < buffer.size() && buffer[at] != L'\0';) {
        std::wstring tag(buffer.c_str() + at);
        at += tag.size() + 1;
        tags.push_back(tag);
    }
    return tags;
}

void allowPseudoLanguage() { pseudoAllowed.store(true); }

}  // namespace qv
