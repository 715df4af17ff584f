// The languages the setup window and message boxes speak, and how one is
// chosen: a --language tag wins, then the user's Windows display
// languages in their order, then English. The log stays English.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qv {

enum class Language : int {
    English,
    Spanish,
    PortugueseBrazil,
    French,
    German,
    Italian,
    Polish,
    Russian,
    Turkish,
    Japanese,
    Korean,
    ChineseSimplified,
    ChineseTraditional,
    Indonesian,
    Thai,
    Vietnamese,
    Arabic,
    // English lengthened by 40 % and accented, to prove that every text
    // fits; selectable only where allowPseudoLanguage() was called.
    Pseudo,
};

// The script a language is written in picks the UI font.
enum class Script { Latin, Japanese, Korean, ChineseSimplified, ChineseTraditional, Thai, Arabic };

struct LanguageInfo {
    Language language;
    const wchar_t* tag;  // BCP 47, as logged: "pt-BR"
    LANGID langId;       // the LANGUAGE of its string table
    Script script;
    bool rightToLeft;
};

// Every language with a string table, English first (Pseudo is not listed).
const std::vector<LanguageInfo>& shippedLanguages();
const LanguageInfo& languageInfo(Language language);

// The language for one tag, matched ignoring case: the same tag, else the
// same primary language (pt-PT gives pt-BR, es-MX gives es); Chinese by
// script (zh-TW, zh-HK, zh-MO and zh-Hant give Traditional, other zh
// Simplified). False when no shipped language fits.
bool languageForTag(const std::wstring& tag, Language& language);

// requested (the --language value, may be empty) wins when it fits; else
// the first of the user's preferred UI languages that fits; else English.
Language chooseLanguage(const std::wstring& requested, const std::vector<std::wstring>& preferred);

// The user's preferred UI languages, most preferred first (empty when
// Windows does not say).
std::vector<std::wstring> userPreferredUiLanguages();

// Makes the pseudo-language ("qps-ploc") selectable; the test programs'
// mains call it, the shipped setup never does.
void allowPseudoLanguage();

}  // namespace qv
