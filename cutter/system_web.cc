// Shift_JIS decoded in the page's build, by the browser's own decoder
// (TextDecoder), which the page needs for the messages anyway. The C
// library's iconv knows Shift_JIS there without the characters that code
// page 932 adds, and would bring the tables of every encoding it knows into
// the program.
#include <emscripten.h>

#include <utility>

#include "cutter/system.h"

// Decodes `length` bytes at `bytes` into `utf8`, which has room for `room`
// bytes and a NUL: the length of the text, or -1 where the bytes are not
// Shift_JIS.
EM_JS(int, decodeInBrowser, (const char* bytes, int length, char* utf8, int room), {
    try {
        const text = new TextDecoder("shift_jis", {fatal: true})
                         .decode(HEAPU8.subarray(bytes, bytes + length));
        return lengthBytesUTF8(text) <= room ? stringToUTF8(text, utf8, room + 1) : -1;
    } catch (error) {
        return -1;
    }
});

namespace d88cut {

bool decodeShiftJis(const std::string& bytes, std::string& utf8) {
    // A byte gives at most three of UTF-8 (a half-width katakana does).
    std::string text(3 * bytes.size(), '\0');
    const int length = decodeInBrowser(bytes.data(), static_cast<int>(bytes.size()), text.data(),
                                       static_cast<int>(text.size()));
    if (length < 0) {
        return false;
    }
    text.resize(static_cast<std::size_t>(length));
    utf8 = std::move(text);
    return true;
}

}  // namespace d88cut
