// The pseudo-language of the test programs: every English text with its
// letters accented and 40 % more words, placeholders and the product name
// kept, to show where a longer translation would not fit.
#pragma once

#include <string>

namespace qv {

// At least 1.4 times as long as english (rounded up), in whole words.
std::wstring pseudoText(const std::wstring& english);

}  // namespace qv
