// What the tool asks of the system beyond the standard library: names, how
// a standard stream shows text, a console of the tool's own, interrupts, the
// working directory, the identity of a file, and temporary files that no
// other run touches. One file for each platform answers it: system_posix.cc
// (which serves the WebAssembly build too) and system_windows.cc, chosen by
// CMake; on POSIX one more answers how Shift_JIS is decoded: system_iconv.cc,
// or system_web.cc in the page's build.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

#include "cutter/words.h"

namespace d88 {
class D88Image;
}

namespace d88cut {

// Names: a path or a name is taken as the command line gives it, bytes on
// POSIX; on Windows the entry point takes the command line as UTF-16, so that
// any name works, and hands it on as UTF-8, which every function here takes.

// `path` as the standard library's file system functions take it.
[[nodiscard]] std::filesystem::path pathOf(const char* path);
// Opens the file at `path` for reading bytes; nullptr, with errno set, where
// it cannot be opened.
[[nodiscard]] std::FILE* openToRead(const std::filesystem::path& path);
// Opens the container at `path` in the reader, as D88Image::open does.
[[nodiscard]] bool openContainer(d88::D88Image& image, const char* path);
// `text` (names, and the tool's own words) as the bytes that go into a pipe
// or a file: on Windows in the ANSI code page, as the names were given to
// programs that take them so, or as UTF-8 when `utf8` asks for it; on POSIX
// as it is.
[[nodiscard]] std::string bytesOf(const std::string& text, bool utf8);
// `path` as one word of a command that a person types into the shell: as it
// is, or quoted.
[[nodiscard]] std::string commandWord(const std::string& path);
// `bytes` (a disk's name, say) read as Shift_JIS, in the form of code page
// 932, into UTF-8 `utf8`; false where they are not such text. Decoded by the
// system's own converter: iconv on POSIX (system_iconv.cc), the code page
// API on Windows, the browser's decoder in the page (system_web.cc).
[[nodiscard]] bool decodeShiftJis(const std::string& bytes, std::string& utf8);

// The key of the end of the help in the words files (words/*.txt): the
// exit statuses, the messages' encoding and where the manual is, in the
// system's terms.
extern const char kHelpNotesKey[];
// True where the person's own setting asks for Japanese: on POSIX the
// locale's environment (LC_ALL, LC_MESSAGES, LANG) names ja; on Windows the
// user's interface language is Japanese.
[[nodiscard]] bool personReadsJapanese();

// Puts the standard streams where the C library would change line ends into
// binary mode, so that every byte is written as it is.
void useBinaryStreams();

// What a standard stream shows text on.
enum class Screen {
    Bytes,         // a pipe, a file, a device: the bytes as they are
    Terminal,      // a terminal whose locale's character set is not UTF-8
    Utf8Terminal,  // a terminal whose locale's character set is UTF-8
    Console,       // a Windows console, which takes wide characters
};
[[nodiscard]] Screen screenOf(std::FILE* stream);
// Writes `subject` (a name as it was given, or nullptr) and the UTF-8 text
// `utf8` to the console behind `stream` as its wide characters.
void writeConsole(std::FILE* stream, const char* subject, const char* utf8);

// True when the tool runs in a console of its own, which closes when the
// tool ends: started from Explorer (a double-click, or a file dropped onto
// it), none of its standard streams redirected. Never on POSIX.
[[nodiscard]] bool inConsoleOfItsOwn();
// Shows `prompt` to the person at the console of its own, and reads
// standard input up to a line end or its end.
void waitForEnter(const std::string& prompt);

// Makes `path` the current directory; false, with errno set, when it cannot
// be entered.
[[nodiscard]] bool enterDirectory(const char* path);
// The system's words for an error number of the C library, in `language`
// where the system has them (POSIX: the locale's messages), else in English.
[[nodiscard]] std::string systemWords(int error, Language language = Language::English);

// Interrupts (SIGINT, SIGTERM and SIGHUP; on Windows Ctrl-C, Ctrl-Break and
// the console being closed) only mark the run while they are caught, so that
// the file in flight is finished: the run checks between files and ends as
// the interrupt would have ended it. Releasing acts on a caught one, and
// lets later ones act at once.
void catchInterrupts();
[[nodiscard]] bool interrupted();
void releaseInterrupts();
// Flushes what was printed and ends the process as the interrupt ends one:
// killed by the signal (a shell sees 128 + its number), or on Windows with
// the status of a console program ended by Ctrl-C.
[[noreturn]] void endInterrupted();

// A file as the system knows it, whatever name it goes by.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    bool known = false;
};
// The identity of an open file, or of the file at `path`; false when the
// system cannot tell it.
[[nodiscard]] bool identify(std::FILE* file, FileIdentity& identity);
[[nodiscard]] bool identifyPath(const char* path, FileIdentity& identity);
// The containers of a run: no output name may stand for one of them.
using Containers = std::span<const FileIdentity>;

// Why a file could not be written: the path that a step failed on, and why:
// the C library's error number, or the key of the tool's own words where the
// system gave none, or the system's own words (Windows, in its language).
struct WriteFailure {
    std::string path;
    int error = 0;
    const char* key = nullptr;
    std::string systemText;
};

// Writes the bytes to the temporary file `temporaryName` and renames it over
// `name`, holding it all the while so that no other run touches it; a
// temporary file that a killed run left is removed first. Whatever stands
// under `name` must be a file other than the containers or nothing, unless
// `looked` says that it was looked at already; a look that fails for any
// other reason than that nothing is there refuses. On failure nothing is
// left under `temporaryName` and `name` is as it was.
[[nodiscard]] bool replaceFile(const char* name, const std::string& temporaryName,
                               const std::uint8_t* bytes, int length, bool looked,
                               Containers containers, WriteFailure& failure);
// Removes `temporaryName` if a run that was killed left it there; a file
// that another run holds, or that is no temporary file, is left alone.
void removeLeftover(const std::string& temporaryName, Containers containers);

}  // namespace d88cut
