// What the tool asks of the system, on Windows.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

#include "cutter/system.h"

namespace d88cut {

namespace {

constexpr const char* kNotTemporary = "is in the way of the temporary file";
constexpr const char* kIsContainer = "is the container being read";

// The system's words for a Windows error code.
std::string windowsWords(DWORD error) {
    char text[256] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string words(text, length);
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
        words.pop_back();
    }
    return words.empty() ? "error " + std::to_string(error) : words;
}

bool fail(WriteFailure& failure, const std::string& path, DWORD error) {
    failure = {path, windowsWords(error)};
    return false;
}

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

}  // namespace

// Streams: the messages are bytes, written unchanged as on every other
// system, so no carriage return is put before their line ends.

void useBinaryStreams() {
    (void)_setmode(_fileno(stdout), _O_BINARY);
    (void)_setmode(_fileno(stderr), _O_BINARY);
}

Screen screenOf(std::FILE* stream) {
    return consoleOf(stream) != nullptr ? Screen::Console : Screen::Bytes;
}

// A console shows UTF-16 right whatever its code page; names are in the
// code page that the arguments came in.
void writeConsole(std::FILE* stream, const char* subject, const char* utf8) {
    std::wstring text;
    if (subject != nullptr) {
        appendWide(text, CP_ACP, subject);
    }
    appendWide(text, CP_UTF8, utf8);
    (void)std::fflush(stream);
    DWORD written = 0;
    (void)WriteConsoleW(consoleOf(stream), text.data(), static_cast<DWORD>(text.size()), &written,
                        nullptr);
}

bool enterDirectory(const char* path) { return ::_chdir(path) == 0; }

std::string currentDirectory() {
    const DWORD length = GetCurrentDirectoryA(0, nullptr);
    std::string path(length, '\0');
    if (length == 0 || GetCurrentDirectoryA(length, path.data()) + 1 != length) {
        return ".";
    }
    path.resize(length - 1);
    return path;
}

std::string systemWords(int error) { return std::strerror(error); }

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

bool isFile(const BY_HANDLE_FILE_INFORMATION& info, const FileIdentity& file) {
    const FileIdentity identity = identityOf(info);
    return file.known && identity.device == file.device && identity.number == file.number;
}

// True when `name` may be replaced: nothing is there, or a file that is not
// the container. A look that fails for any other reason refuses.
bool mayReplace(const char* name, const FileIdentity& container, WriteFailure& failure) {
    if (!container.known) {
        return true;
    }
    // Opened for no access at all, which no other program's sharing refuses.
    HANDLE file = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
    if (isFile(info, container)) {
        failure = {name, kIsContainer};
        return false;
    }
    return true;
}

// Opens the temporary file for writing, shared with nobody but for renaming
// and removing, so that no other run can open it while this one holds it.
// Created when missing; a file left by a run that was killed is taken over.
HANDLE openTemporary(const std::string& temporaryName, bool create, const FileIdentity& container,
                     WriteFailure& failure) {
    HANDLE file = INVALID_HANDLE_VALUE;
    // Another run that writes the same name holds it for a moment; a program
    // that holds it for half a minute is given up on.
    for (int wait = 0; wait < 3000 && !interrupted(); ++wait) {
        file = CreateFileA(temporaryName.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                           create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    } else if (info.nNumberOfLinks != 1 || isFile(info, container)) {
        failure = {temporaryName, isFile(info, container) ? kIsContainer : kNotTemporary};
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
              const FileIdentity& container, WriteFailure& failure) {
    const char* from = temporaryName.c_str();
    if (!looked) {
        if (MoveFileExA(from, name, 0) != 0) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return fail(failure, name, error);
        }
        if (!mayReplace(name, container, failure)) {
            return false;
        }
    }
    return MoveFileExA(from, name, MOVEFILE_REPLACE_EXISTING) != 0 ||
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

bool replaceFile(const char* name, const std::string& temporaryName, const std::uint8_t* bytes,
                 int length, bool looked, const FileIdentity& container, WriteFailure& failure) {
    HANDLE file = openTemporary(temporaryName, true, container, failure);
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
    done = done && moveOver(temporaryName, name, looked, container, failure);
    if (!done) {
        (void)DeleteFileA(temporaryName.c_str());
    }
    (void)CloseHandle(file);
    return done;
}

void removeLeftover(const std::string& temporaryName, const FileIdentity& container) {
    WriteFailure ignored;
    HANDLE file = openTemporary(temporaryName, false, container, ignored);
    if (file != INVALID_HANDLE_VALUE) {
        (void)DeleteFileA(temporaryName.c_str());
        (void)CloseHandle(file);
    }
}

}  // namespace d88cut
