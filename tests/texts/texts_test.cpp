// The string tables and the way an English text becomes the user's.
#include "setup/texts/pseudo_language.h"
#include "setup/texts/texts.h"

#include "foundation/text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qv {
namespace {

std::vector<std::wstring> placeholders(const std::wstring& text) {
    std::vector<std::wstring> found;
    for (size_t at = 0; at + 1 < text.size(); ++at)
        if (text[at] == L'%' && text[at + 1] >= L'1' && text[at + 1] <= L'9')
            found.push_back(text.substr(at, 2));
    std::sort(found.begin(), found.end());
    return found;
}

size_t count(const std::wstring& text, const std::wstring& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string narrow(const std::wstring& text) { return toUtf8(text); }

// The names that stay as they are in every language.
const wchar_t* const keptNames[] = {L"QuorvelAI", L"Roblox", L"Quorvel, LLC", L"Windows"};

// Refuses a table that lacks a string, changes the placeholders, or
// translates a name; also an English table with holes.
TEST(StringTables, EveryLanguageHasEveryStringWithTheSamePlaceholdersAndNames) {
    const std::vector<std::wstring>& english = englishTexts();
    size_t englishCount = std::count_if(english.begin(), english.end(),
                                        [](const std::wstring& s) { return !s.empty(); });
    EXPECT_EQ(englishCount, 99u);
    for (const LanguageInfo& info : shippedLanguages()) {
        std::vector<std::wstring> table = readStringTable(nullptr, info.langId);
        for (size_t id = 0; id < english.size(); ++id) {
            if (english[id].empty()) {
                EXPECT_TRUE(table[id].empty()) << narrow(info.tag) << " has extra id " << id;
                continue;
            }
            ASSERT_FALSE(table[id].empty()) << narrow(info.tag) << " lacks id " << id;
            EXPECT_EQ(placeholders(table[id]), placeholders(english[id]))
                << narrow(info.tag) << " id " << id << ": " << narrow(table[id]);
            for (const wchar_t* name : keptNames) {
                if (count(english[id], name) == 0) continue;
                EXPECT_GE(count(table[id], name), 1u)
                    << narrow(info.tag) << " id " << id << " lost " << narrow(name);
            }
        }
    }
}

// Catches a language that shows English although its table exists, and
// a missing string that shows blank instead of English.
TEST(StringTables, LoadedTextsAreTheLanguagesWithEnglishForTheRest) {
    EXPECT_EQ(Texts::load(Language::German).get(TX_BUTTON_CLOSE), L"Schließen");
    EXPECT_EQ(Texts::load(Language::Japanese).get(TX_BUTTON_CLOSE), L"閉じる");
    EXPECT_EQ(Texts::load(Language::English).get(TX_BUTTON_CLOSE), L"Close");
    EXPECT_EQ(Texts().get(TX_END), L"");
}

struct Translation {
    Language language;
    const wchar_t* english;
    std::vector<TextId> candidates;
    const wchar_t* expected;
};

// Each row catches a wrong value split: values moved to other places,
// a value that holds the sentence's own words, a text that fits no
// candidate (stays English), the later candidate of one code.
TEST(StringTables, EnglishTextsBecomeTheUsersWithTheirValues) {
    const Translation cases[] = {
        {Language::German, L"Downloading QuorvelAI 1.2.0\u2026", {TX_STATUS_DOWNLOADING},
         L"QuorvelAI 1.2.0 wird heruntergeladen\u2026"},
        {Language::German,
         L"Not enough free disk space for the download. It needs 80.0 MB on the drive of "
         L"C:\\Temp, which has 2.5 MB free.",
         {TX_ERR_DISK_2},
         L"Nicht genug Speicherplatz für den Download. Er braucht 80.0 MB auf dem Laufwerk von "
         L"C:\\Temp, dort sind 2.5 MB frei."},
        {Language::Turkish,
         L"Not enough free disk space for the download. It needs 80.0 MB on the drive of "
         L"D:\\Games, which has 2.5 MB free.",
         {TX_ERR_DISK_2},
         L"İndirme için yeterli boş alan yok. D:\\Games sürücüsünde 80.0 MB gerekiyor, "
         L"ama 2.5 MB boş."},
        {Language::German, L"QuorvelAI is not installed in D:\\x.y.", {TX_ERR_UN_1},
         L"QuorvelAI ist nicht in D:\\x.y installiert."},
        {Language::German, L"The setup cannot write to this folder: Access denied. (error 5).",
         {TX_ERR_DIR_3_BLOCKED, TX_ERR_DIR_3},
         L"Das Setup kann in diesem Ordner nicht speichern: Access denied. (Fehler 5)."},
        {Language::German, L"Something new the tables do not know.", {TX_ERR_DIR_3},
         L"Something new the tables do not know."},
        {Language::English, L"Finishing\u2026", {TX_STATUS_FINISHING}, L"Finishing\u2026"},
    };
    for (const Translation& c : cases)
        EXPECT_EQ(Texts::load(c.language).translate(c.english, c.candidates), c.expected)
            << narrow(c.english);
}

// Catches a pseudo text that is not longer, loses a placeholder or the
// product name, or is not accented.
TEST(StringTables, PseudoTextsAreLongerAccentedAndKeepTheirPlaceholders) {
    Texts pseudo = Texts::load(Language::Pseudo);
    const std::vector<std::wstring>& english = englishTexts();
    for (size_t id = 0; id < english.size(); ++id) {
        if (english[id].empty()) continue;
        const std::wstring& text = pseudo.get(static_cast<TextId>(id));
        EXPECT_GE(text.size() * 10, english[id].size() * 14) << narrow(text);
        EXPECT_EQ(placeholders(text), placeholders(english[id])) << narrow(text);
        EXPECT_EQ(count(text, L"QuorvelAI"), count(english[id], L"QuorvelAI")) << narrow(text);
    }
    EXPECT_EQ(pseudoText(L"Install %1"), L"Íñstáll %1 ļőŕéɱ");
}

}  // namespace
}  // namespace qv
