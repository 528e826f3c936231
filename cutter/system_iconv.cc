// Shift_JIS decoded on POSIX systems, by the C library's iconv as code page
// 932 ("CP932" in glibc). Not in the page's build (system_web.cc).
#include <iconv.h>

#include <utility>

#include "cutter/system.h"

namespace d88cut {

bool decodeShiftJis(const std::string& bytes, std::string& utf8) {
    const iconv_t converter = ::iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    // A byte gives at most three of UTF-8 (a half-width katakana does).
    std::string text(3 * bytes.size(), '\0');
    std::string in = bytes;
    char* from = in.data();
    std::size_t fromLeft = in.size();
    char* to = text.data();
    std::size_t toLeft = text.size();
    const bool decoded =
        ::iconv(converter, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1);
    (void)::iconv_close(converter);
    if (decoded) {
        text.resize(text.size() - toLeft);
        utf8 = std::move(text);
    }
    return decoded;
}

}  // namespace d88cut
