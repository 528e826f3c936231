// What the tool asks of the system beyond the standard library: how the
// console shows text, and the working directory.
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#else
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#endif

#include "cutter/cutter.h"

namespace d88cut {

namespace {

#ifdef _WIN32

// The console behind the stream, or nullptr where it goes elsewhere.
HANDLE consoleOf(std::FILE* stream) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0
               ? handle
               : nullptr;
}

void appendWide(std::wstring& text, UINT codePage, const char* bytes) {
    const int length = static_cast<int>(std::strlen(bytes));
    const int count = MultiByteToWideChar(codePage, 0, bytes, length, nullptr, 0);
    if (count > 0) {
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(count));
        (void)MultiByteToWideChar(codePage, 0, bytes, length, &text[at], count);
    }
}

#else

// True when the stream is a terminal whose locale's character set is UTF-8.
// Asked once per stream, and the locale only when a terminal is there.
bool showsUtf8(std::FILE* stream) {
    static int answers[2] = {-1, -1};
    int& answer = answers[stream == stderr ? 1 : 0];
    if (answer < 0) {
        answer = 0;
        if (::isatty(::fileno(stream)) != 0) {
            static const bool utf8Locale = [] {
                (void)std::setlocale(LC_CTYPE, "");
                const char* codeset = ::nl_langinfo(CODESET);
                return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
            }();
            answer = utf8Locale ? 1 : 0;
        }
    }
    return answer == 1;
}

#endif

}  // namespace

void putMessage(std::FILE* stream, const char* subject, const Message& message) {
#ifdef _WIN32
    // A console shows UTF-16 right whatever its code page; names are in the
    // code page that the arguments came in.
    if (HANDLE console = consoleOf(stream)) {
        std::wstring text;
        if (subject != nullptr) {
            appendWide(text, CP_ACP, subject);
        }
        appendWide(text, CP_UTF8, message.utf8);
        (void)std::fflush(stream);
        DWORD written = 0;
        (void)WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written,
                            nullptr);
        return;
    }
    const char* text = message.shiftJis;
#else
    const char* text = showsUtf8(stream) ? message.utf8 : message.shiftJis;
#endif
    // One write for the whole line, so that it stays whole on a shared console.
    std::string line = subject != nullptr ? subject : "";
    line += text;
    (void)std::fputs(line.c_str(), stream);
    if (stream == stderr) {
        (void)std::fflush(stderr);  // some C runtimes buffer it when it is a file
    }
}

bool enterDirectory(const char* path) {
#ifdef _WIN32
    return ::_chdir(path) == 0;
#else
    return ::chdir(path) == 0;
#endif
}

}  // namespace d88cut
