// The user texts of one language, read from the program's string tables,
// and the way English texts made by the steps become the user's: a text
// is matched against the English sentence it was made from, and its
// values go into the same places of the translated sentence.
#pragma once

#include "language.h"
#include "text_ids.h"

#include <string>
#include <vector>

namespace qv {

using TextId = int;

class Texts {
public:
    // English, without reading any resource (English is also compiled in
    // as the fallback of every string a table lacks).
    Texts();
    // The tables of language from module (nullptr: this program).
    static Texts load(Language language, HMODULE module = nullptr);

    Language language() const { return language_; }
    bool rightToLeft() const { return languageInfo(language_).rightToLeft; }

    const std::wstring& get(TextId id) const;
    // The text with %1 to %9 replaced by values[0] to values[8].
    std::wstring format(TextId id, const std::vector<std::wstring>& values) const;
    // The user's text for english, which was made from one of the
    // candidates' English sentences; english itself when none fits.
    std::wstring translate(const std::wstring& english, const std::vector<TextId>& candidates) const;

private:
    Language language_ = Language::English;
    std::vector<std::wstring> strings_;
};

// The string table of one language as compiled into module: one entry per
// id below TX_END, empty where the table has none.
std::vector<std::wstring> readStringTable(HMODULE module, LANGID language);
// The English sentences built into the program, indexed by id.
const std::vector<std::wstring>& englishTexts();

// Fills %1 to %9 of pattern from values; a % before anything else stays.
std::wstring fillPlaceholders(const std::wstring& pattern, const std::vector<std::wstring>& values);
// The values that make pattern give text, in placeholder number order;
// false when text was not made from pattern.
bool matchPlaceholders(const std::wstring& pattern, const std::wstring& text,
                       std::vector<std::wstring>& values);

}  // namespace qv
