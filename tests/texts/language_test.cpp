// The choice of the user's language from --language and Windows' list.
#include "setup/texts/language.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

struct Choice {
    const wchar_t* requested;
    std::vector<std::wstring> preferred;
    Language expected;
};

// Each row catches one wrong rule: a requested tag that does not win, an
// order not followed, a region that blocks its language, Chinese by the
// wrong script, an unknown language that does not fall through.
TEST(LanguageChoice, FollowsTheRequestThenTheUsersOrderThenEnglish) {
    const Choice cases[] = {
        {L"", {}, Language::English},
        {L"", {L"de-DE"}, Language::German},
        {L"", {L"DE-de"}, Language::German},
        {L"", {L"pt-BR"}, Language::PortugueseBrazil},
        {L"", {L"pt-PT"}, Language::PortugueseBrazil},
        {L"", {L"es-MX"}, Language::Spanish},
        {L"", {L"fr-CA", L"es-ES"}, Language::French},
        {L"", {L"sw-KE", L"ja-JP", L"de-DE"}, Language::Japanese},
        {L"", {L"sw-KE", L"nl-NL"}, Language::English},
        {L"", {L"en-GB", L"de-DE"}, Language::English},
        {L"", {L"zh-CN"}, Language::ChineseSimplified},
        {L"", {L"zh-SG"}, Language::ChineseSimplified},
        {L"", {L"zh"}, Language::ChineseSimplified},
        {L"", {L"zh-TW"}, Language::ChineseTraditional},
        {L"", {L"zh-HK"}, Language::ChineseTraditional},
        {L"", {L"zh-MO"}, Language::ChineseTraditional},
        {L"", {L"zh-Hant"}, Language::ChineseTraditional},
        {L"", {L"zh-Hans-HK"}, Language::ChineseSimplified},
        {L"", {L"ar-EG"}, Language::Arabic},
        {L"", {L"ko-KR"}, Language::Korean},
        {L"", {L"th-TH"}, Language::Thai},
        {L"", {L"vi-VN"}, Language::Vietnamese},
        {L"", {L"id-ID"}, Language::Indonesian},
        {L"", {L"tr-TR"}, Language::Turkish},
        {L"", {L"ru-RU"}, Language::Russian},
        {L"", {L"pl-PL"}, Language::Polish},
        {L"", {L"it-IT"}, Language::Italian},
        {L"pt-BR", {L"de-DE"}, Language::PortugueseBrazil},
        {L"en", {L"de-DE"}, Language::English},
        {L"xx-YY", {L"ja-JP"}, Language::Japanese},
        {L"qps-ploc", {L"de-DE"}, Language::German},  // not allowed here
        {L"", {L""}, Language::English},
    };
    for (const Choice& c : cases) {
        std::wstring list;
        for (const std::wstring& tag : c.preferred) list += tag + L" ";
        EXPECT_EQ(chooseLanguage(c.requested, c.preferred), c.expected)
            << "requested \"" << std::string(c.requested, c.requested + wcslen(c.requested))
            << "\", list " << list.size();
    }
}

// Catches a table whose LANGID or tag does not fit its language.
TEST(LanguageChoice, EachShippedTagLeadsBackToItsLanguage) {
    for (const LanguageInfo& info : shippedLanguages()) {
        Language found = Language::Pseudo;
        ASSERT_TRUE(languageForTag(info.tag, found));
        EXPECT_EQ(found, info.language);
        EXPECT_EQ(&languageInfo(info.language), &info);
    }
    EXPECT_EQ(shippedLanguages().size(), 17u);
    EXPECT_TRUE(languageInfo(Language::Arabic).rightToLeft);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// Catches the pseudo-language leaking into the shipped choice, or not
// being selectable once the test programs allow it. Runs last in this
// file: allowing is for the whole process.
TEST(LanguageChoice, PseudoLanguageOnlyOnceAllowed) {
    Language found = Language::English;
    EXPECT_FALSE(languageForTag(L"qps-ploc", found));
    allowPseudoLanguage();
    EXPECT_EQ(chooseLanguage(L"qps-ploc", {L"de-DE"}), Language::Pseudo);
    EXPECT_STREQ(languageInfo(Language::Pseudo).tag, L"qps-ploc");
}

}  // namespace
}  // namespace qv
