// Looking words up in the text of a words file: an entry is "key: text" on
// one line, or "key:" followed by lines indented by four spaces; a text in
// double quotes keeps the spaces at its ends.
#include "cutter/words.h"

#include <algorithm>

namespace d88cut {

namespace {

constexpr std::string_view kIndent = "    ";

// The next line of `text` from `at` on, without its line end; `at` moves past it.
std::string_view nextLine(std::string_view text, std::size_t& at) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// The text of `key` in the words file `text`, or false.
bool lookUp(std::string_view text, std::string_view key, std::string& found) {
    for (std::size_t at = 0; at < text.size();) {
        const std::string_view line = nextLine(text, at);
        if (line.size() <= key.size() || !line.starts_with(key) || line[key.size()] != ':') {
            continue;
        }
        std::string_view value = line.substr(key.size() + 1);
        if (value.empty()) {
            // The lines indented below it.
            found.clear();
            for (std::size_t next = at; next < text.size();) {
                const std::string_view more = nextLine(text, next);
                if (!more.starts_with(kIndent)) {
                    break;
                }
                found.append(more.substr(kIndent.size())).append("\n");
                at = next;
            }
            return true;
        }
        value.remove_prefix(value.starts_with(' ') ? 1 : 0);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        found.assign(value);
        return true;
    }
    return false;
}

// The text of `key` in `language`, or in English, or the key itself.
std::string textOf(Language language, std::string_view key) {
    std::string text;
    if (!(language == Language::Japanese && lookUp(kJapaneseWords, key, text)) &&
        !lookUp(kEnglishWords, key, text)) {
        text.assign(key);
    }
    return text;
}

// Puts `value` in place of each {name} in `text`.
void putValue(std::string& text, std::string_view name, const std::string& value) {
    std::string mark(1, '{');
    mark.append(name).append("}");
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size())) {
        text.replace(at, mark.size(), value);
    }
}

}  // namespace

std::string words(Language language, std::string_view key,
                  std::initializer_list<std::pair<std::string_view, std::string>> values) {
    WordValues named;
    for (const auto& [name, value] : values) {
        named.emplace_back(name, value);
    }
    return words(language, key, named);
}

std::string words(Language language, std::string_view key, const WordValues& values) {
    std::string text = textOf(language, key);
    for (const auto& [name, value] : values) {
        putValue(text, name, value);
    }
    return text;
}

}  // namespace d88cut
