// A person's words, in English or Japanese: the entries of words/en.txt and
// words/ja.txt, which the build puts into the program as they are.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace d88cut {

enum class Language { English, Japanese };

// The text of `key` in `language`, each {name} in it replaced by its value.
// An entry that the language lacks is taken from English, and one that
// English lacks is the key itself.
[[nodiscard]] std::string words(
    Language language, std::string_view key,
    std::initializer_list<std::pair<std::string_view, std::string>> values = {});

// Named values, for words of which a program decides the names at run time.
using WordValues = std::vector<std::pair<std::string, std::string>>;
[[nodiscard]] std::string words(Language language, std::string_view key, const WordValues& values);

// The texts of the words files, NUL-terminated (made by the build).
extern const char kEnglishWords[];
extern const char kJapaneseWords[];

}  // namespace d88cut
