// What the tool asks of the system, on Windows.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "cutter/system.h"
#include "image/d88_image.h"

namespace d88cut {

namespace {

constexpr const char* kNotTemporary = "why.not-temporary";
constexpr const char* kIsContainer = "why.is-container";

// Names and words go between the system's UTF-16 and the tool's UTF-8 here.
std::wstring wide(const char* utf8) {
    std::wstring text;
    const int length = static_cast<int>(std::strlen(utf8));
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8, length, nullptr, 0);
    if (count > 0) {
        text.resize(static_cast<std::size_t>(count));
        (void)MultiByteToWideChar(CP_UTF8, 0, utf8, length, text.data(), count);
    }
    return text;
}

std::string narrow(UINT codePage, const wchar_t* text, int length) {
    std::string bytes;
    const int count = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (count > 0) {
        bytes.resize(static_cast<std::size_t>(count));
        (void)WideCharToMultiByte(codePage, 0, text, length, bytes.data(), count, nullptr, nullptr);
    }
    return bytes;
}

// The system's words for a Windows error code.
std::string windowsWords(DWORD error) {
    wchar_t text[256] = {};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, 256, nullptr);
    std::string words = narrow(CP_UTF8, text, static_cast<int>(length));
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
        words.pop_back();
    }
    return words.empty() ? "error " + std::to_string(error) : words;
}

bool fail(WriteFailure& failure, const std::string& path, DWORD error) {
    failure = {path, 0, nullptr, windowsWords(error)};
    return false;
}

// The tests' window on a console of the tool's own. Wine without a display
// gives one (wine start /wait) but shows nothing of it, and its handles
// answer no console call. Where D88CUT_CONSOLE_LOG names a file, a character
// device in a console of the tool's own counts as that console, and what is
// written to the console is appended to the file too.
const wchar_t* consoleLog() {
    const wchar_t* name = _wgetenv(L"D88CUT_CONSOLE_LOG");
    return name != nullptr && *name != L'\0' ? name : nullptr;
}

// The console behind the stream, or nullptr where it goes elsewhere.
HANDLE consoleOf(std::FILE* stream) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        return nullptr;
    }
    return GetConsoleMode(handle, &mode) != 0 || (consoleLog() != nullptr && inConsoleOfItsOwn())
               ? handle
               : nullptr;
}

}  // namespace

// Names.

std::filesystem::path pathOf(const char* path) { return wide(path); }

std::FILE* openToRead(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"rb"); }

bool openContainer(d88::D88Image& image, const char* path) {
    const std::wstring name = wide(path);
    // A directory, a pipe or a socket is no container, as D88Image::open
    // has it.
    std::error_code ignored;
    const auto type = std::filesystem::status(std::filesystem::path(name), ignored).type();
    if (type == std::filesystem::file_type::directory || type == std::filesystem::file_type::fifo ||
        type == std::filesystem::file_type::socket) {
        (void)image.open(nullptr);
        image.clearSystemError();  // that of a file opened before is not this one's
        return false;
    }
    return image.adopt(_wfopen(name.c_str(), L"rb"));
}

std::string bytesOf(const std::string& text, bool utf8) {
    bool ascii = true;
    for (const char ch : text) {
        ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
    }
    if (utf8 || ascii) {
        return text;
    }
    const std::wstring wideText = wide(text.c_str());
    return narrow(CP_ACP, wideText.data(), static_cast<int>(wideText.size()));
}

bool decodeShiftJis(const std::string& bytes, std::string& utf8) {
    const int length = static_cast<int>(bytes.size());
    const int count = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (count <= 0) {
        // Nothing to decode is no failure.
        utf8.clear();
        return length == 0;
    }
    std::wstring text(static_cast<std::size_t>(count), L'\0');
    (void)MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), length, text.data(), count);
    utf8 = narrow(CP_UTF8, text.data(), count);
    return true;
}

// In double quotes where the command prompt would split it or take a
// character for its own; no Windows name holds a double quote.
std::string commandWord(const std::string& path) {
    const bool plain =
        !path.empty() && path.find_first_of(" \t&()[]{}^=;!'+,`~%<>|") == std::string::npos;
    return plain ? path : "\"" + path + "\"";
}

const char kHelpNotesKey[] = "help.notes.windows";

bool personReadsJapanese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

// Streams: the messages are bytes, written unchanged as on every other
// system, so no carriage return is put before their line ends.

void useBinaryStreams() {
    (void)_setmode(_fileno(stdout), _O_BINARY);
    (void)_setmode(_fileno(stderr), _O_BINARY);
}

Screen screenOf(std::FILE* stream) {
    return consoleOf(stream) != nullptr ? Screen::Console : Screen::Bytes;
}

// A console shows UTF-16 right whatever its code page.
void writeConsole(std::FILE* stream, const char* subject, const char* utf8) {
    const std::string line = std::string(subject != nullptr ? subject : "") + utf8;
    const std::wstring text = wide(line.c_str());
    (void)std::fflush(stream);
    DWORD written = 0;
    (void)WriteConsoleW(consoleOf(stream), text.data(), static_cast<DWORD>(text.size()), &written,
                        nullptr);
    if (const wchar_t* log = consoleLog(); log != nullptr) {
        if (std::FILE* file = _wfopen(log, L"ab"); file != nullptr) {
            (void)std::fputs(line.c_str(), file);
            (void)std::fclose(file);
        }
    }
}

// A console of its own: the only process in it, started with the console's
// streams. A program that started the tool in a new console but took one
// of its streams (a pipe, a file) reads the tool itself.

bool inConsoleOfItsOwn() {
    DWORD processes[2] = {};
    if (GetConsoleProcessList(processes, 2) != 1) {
        return false;
    }
    for (const DWORD stream : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        if (GetFileType(GetStdHandle(stream)) != FILE_TYPE_CHAR) {
            return false;
        }
    }
    return true;
}

void waitForEnter(const std::string& prompt) {
    (void)std::fflush(stdout);
    writeConsole(stderr, nullptr, (prompt + "\n").c_str());
    for (int ch = std::getchar(); ch != EOF && ch != '\n'; ch = std::getchar()) {
    }
}

bool enterDirectory(const char* path) { return ::_wchdir(wide(path).c_str()) == 0; }

// The C library's words are English here; the system's own (windowsWords)
// come in its language.
std::string systemWords(int error, Language /*language*/) { return std::strerror(error); }

// Interrupts.

namespace {

// Set by the console's interrupt handler, which runs on a thread of its own.
volatile LONG consoleInterrupt = 0;

// Ctrl-C, Ctrl-Break and the console being closed: the run is marked, and
// this thread waits while the run's own thread finishes the file in flight
// and ends the process.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    (void)InterlockedExchange(&consoleInterrupt, 1);
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void catchInterrupts() { (void)SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool interrupted() { return consoleInterrupt != 0; }

void releaseInterrupts() {
    (void)SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    if (interrupted()) {
        endInterrupted();
    }
}

void endInterrupted() {
    (void)std::fflush(stdout);
    (void)std::fflush(stderr);
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

// Files.

namespace {

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, true};
}

// True when the file is one of the containers of the run.
bool isContainer(const BY_HANDLE_FILE_INFORMATION& info, Containers containers) {
    const FileIdentity identity = identityOf(info);
    return std::any_of(containers.begin(), containers.end(), [&](const FileIdentity& file) {
        return file.known && identity.device == file.device && identity.number == file.number;
    });
}

// True when `name` may be replaced: nothing is there, or a file that is not
// the container. A look that fails for any other reason refuses.
bool mayReplace(const char* name, Containers containers, WriteFailure& failure) {
    if (containers.empty()) {
        return true;
    }
    // Opened for no access at all, which no other program's sharing refuses.
    HANDLE file =
        CreateFileW(wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || fail(failure, name, error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    const DWORD error = GetLastError();
    (void)CloseHandle(file);
    if (!known) {
        return fail(failure, name, error);
    }
    if (isContainer(info, containers)) {
        failure = {name, 0, kIsContainer, {}};
        return false;
    }
    return true;
}

// Opens the temporary file for writing, shared with nobody but for renaming
// and removing, so that no other run can open it while this one holds it.
// Created when missing; a file left by a run that was killed is taken over.
HANDLE openTemporary(const std::string& temporaryName, bool create, Containers containers,
                     WriteFailure& failure) {
    HANDLE file = INVALID_HANDLE_VALUE;
    // Another run that writes the same name holds it for a moment; a program
    // that holds it for half a minute is given up on.
    for (int wait = 0; wait < 3000 && !interrupted(); ++wait) {
        file = CreateFileW(wide(temporaryName.c_str()).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                           nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION || !create) {
            break;
        }
        Sleep(10);
    }
    if (file == INVALID_HANDLE_VALUE) {
        (void)fail(failure, temporaryName, GetLastError());
        return file;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file, &info) == 0) {
        (void)fail(failure, temporaryName, GetLastError());
    } else if (info.nNumberOfLinks != 1 || isContainer(info, containers)) {
        failure = {temporaryName, 0, isContainer(info, containers) ? kIsContainer : kNotTemporary, {}};
    } else if (SetEndOfFile(file) == 0) {
        (void)fail(failure, temporaryName, GetLastError());
    } else {
        return file;
    }
    (void)CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

// Renames the temporary file to `name`. Where nothing stands under the name
// yet, nothing needs a look; what stands there must not be the container,
// unless it was `looked` at already.
bool moveOver(const std::string& temporaryName, const char* name, bool looked,
              Containers containers, WriteFailure& failure) {
    const std::wstring from = wide(temporaryName.c_str());
    const std::wstring to = wide(name);
    if (!looked) {
        if (MoveFileExW(from.c_str(), to.c_str(), 0) != 0) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return fail(failure, name, error);
        }
        if (!mayReplace(name, containers, failure)) {
            return false;
        }
    }
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0 ||
           fail(failure, name, GetLastError());
}

}  // namespace

bool identify(std::FILE* file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0) {
        return false;
    }
    identity = identityOf(info);
    return true;
}

bool identifyPath(const char* path, FileIdentity& identity) {
    // Opened for no access at all, which no other program's sharing refuses.
    HANDLE file =
        CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    (void)CloseHandle(file);
    if (known) {
        identity = identityOf(info);
    }
    return known;
}

bool replaceFile(const char* name, const std::string& temporaryName, const std::uint8_t* bytes,
                 int length, bool looked, Containers containers, WriteFailure& failure) {
    HANDLE file = openTemporary(temporaryName, true, containers, failure);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool done =
        length == 0 ||
        (WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr) != 0 &&
         written == static_cast<DWORD>(length)) ||
        fail(failure, temporaryName, GetLastError() != 0 ? GetLastError() : ERROR_DISK_FULL);
    // Renamed while held: the sharing of the handle allows it, and no other
    // run can open the file in between.
    done = done && moveOver(temporaryName, name, looked, containers, failure);
    if (!done) {
        (void)DeleteFileW(wide(temporaryName.c_str()).c_str());
    }
    (void)CloseHandle(file);
    return done;
}

void removeLeftover(const std::string& temporaryName, Containers containers) {
    WriteFailure ignored;
    HANDLE file = openTemporary(temporaryName, false, containers, ignored);
    if (file != INVALID_HANDLE_VALUE) {
        (void)DeleteFileW(wide(temporaryName.c_str()).c_str());
        (void)CloseHandle(file);
    }
}

}  // namespace d88cut
