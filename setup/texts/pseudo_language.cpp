#include "pseudo_language.h"

namespace qv {
namespace {

const wchar_t* const productName = L"QuorvelAI";

wchar_t accented(wchar_t c) {
    static const wchar_t plain[] = L"aeiouyncAEIOUYNC";
    static const wchar_t marked[] = L"áéíóúýñçÅÉÍÓÚÝÑÇ";
    for (size_t i = 0; plain[i]; ++i)
        if (plain[i] == c) return marked[i];
    return c;
}

// Accents every letter outside placeholders and the product name.
std::wstring accentLetters(const std::wstring& english) {
    std::wstring result;
    const std::wstring name = productName;
    for (size_t at = 0; at < english.size(); ++at) {
        if (english.compare(at, name.size(), name) == 0) {
            result += name;
            at += name.size() - 1;
        } else if (english[at] == L'%' && at + 1 < english.size()) {
            result += english.substr(at, 2);
            ++at;
        } else {
            result.push_back(accented(english[at]));
        }
    }
    return result;
}

}  // namespace

std::wstring pseudoText(const std::wstring& english) {
    if (english.empty()) return english;
    static const wchar_t* const filler[] = {L"ļőŕéɱ", L"ïƥšüɱ", L"ďőļőŕ", L"šïţ", L"àɱéţ"};
    std::wstring result = accentLetters(english);
    size_t wanted = (english.size() * 14 + 9) / 10;
    for (size_t word = 0; result.size() < wanted; ++word) {
        result += L' ';
        result += filler[word % 5];
    }
    return result;
}

}  // namespace qv
