// What the tool asks of the system beyond the standard library: how the
// console shows text, its interrupts, the working directory, the identity
// of the container, and temporary files that no other run touches.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#endif

#include "cutter/cutter.h"

namespace d88cut {

namespace {

constexpr const char* kNotTemporary = "is in the way of the temporary file";
constexpr const char* kIsContainer = "is the container being read";

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

struct Identity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool known = false;
};
Identity container;

bool isContainer(const BY_HANDLE_FILE_INFORMATION& info) {
    return container.known && info.dwVolumeSerialNumber == container.volume &&
           info.nFileIndexHigh == container.indexHigh && info.nFileIndexLow == container.indexLow;
}

// Opens the temporary file for writing, shared with nobody but for renaming
// and removing, so that no other run can open it while this one holds it.
// Created when missing; a file left by a run that was killed is taken over.
HANDLE openTemporary(const std::string& temporaryName, bool create, WriteFailure& failure) {
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
    } else if (info.nNumberOfLinks != 1 || isContainer(info)) {
        failure = {temporaryName, isContainer(info) ? kIsContainer : kNotTemporary};
    } else if (SetEndOfFile(file) == 0) {
        (void)fail(failure, temporaryName, GetLastError());
    } else {
        return file;
    }
    (void)CloseHandle(file);
    return INVALID_HANDLE_VALUE;
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

bool fail(WriteFailure& failure, const std::string& path, int error) {
    failure = {path, std::strerror(error)};
    return false;
}

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t caughtSignal = 0;
// The actions before catching, put back on release.
struct sigaction previousActions[std::size(kInterrupts)] = {};
bool caught[std::size(kInterrupts)] = {};

extern "C" void onInterrupt(int signal) { caughtSignal = signal; }

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;
};
Identity container;

bool isContainer(const struct stat& status) {
    return container.known && status.st_dev == container.device && status.st_ino == container.inode;
}

bool lockFile(int descriptor, bool wait) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(descriptor, wait ? F_SETLKW : F_SETLK, &lock) == 0;
}

// A run holds a lock on each temporary file from just after creating it
// until it has renamed it; only the run that created a temporary file
// renames it. A temporary file that no run holds was left by a run that was
// killed. This removes one under `temporaryName`: after waiting for the run
// that holds it (with `wait`; without, such a file is left alone), and only
// when the name still stands for the file locked. True when the name may be
// taken anew; false, with `failure` filled, when it may not.
bool clearTemporary(const std::string& temporaryName, bool wait, WriteFailure& failure) {
    const char* path = temporaryName.c_str();
    const int descriptor = ::open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        return errno == ENOENT || fail(failure, temporaryName, errno);
    }
    bool locked = false;
    while (!(locked = lockFile(descriptor, wait)) && errno == EINTR && !interrupted()) {
    }
    struct stat held {};
    struct stat named {};
    bool cleared = false;
    if (!locked || ::fstat(descriptor, &held) != 0) {
        (void)fail(failure, temporaryName, errno);
    } else if (::lstat(path, &named) != 0) {
        cleared = errno == ENOENT || fail(failure, temporaryName, errno);
    } else if (named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
        cleared = true;  // renamed by the run that held it; another stands there now
    } else if (!S_ISREG(held.st_mode) || held.st_nlink != 1 || isContainer(held)) {
        failure = {temporaryName, isContainer(held) ? kIsContainer : kNotTemporary};
    } else {
        cleared = ::unlink(path) == 0 || fail(failure, temporaryName, errno);
    }
    (void)::close(descriptor);
    return cleared;
}

// Creates the temporary file and locks it. What stands under its name is
// cleared first. A run that took the new file for one left by a killed run,
// in the moment before it was locked, has removed it: then it is created
// anew.
int openTemporary(const std::string& temporaryName, WriteFailure& failure) {
    const char* path = temporaryName.c_str();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int descriptor = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno != EEXIST) {
                (void)fail(failure, temporaryName, errno);
                return -1;
            }
            if (!clearTemporary(temporaryName, true, failure)) {
                return -1;
            }
            continue;
        }
        // Only a run clearing the name can hold the lock, for a moment; an
        // interrupt waits for it too, so that the file is never left. On a
        // file system that has no locks the file is written unlocked.
        while (!lockFile(descriptor, true) && errno == EINTR) {
        }
        struct stat held {};
        if (::fstat(descriptor, &held) != 0) {
            (void)fail(failure, temporaryName, errno);
            (void)::unlink(path);
            (void)::close(descriptor);
            return -1;
        }
        if (held.st_nlink > 0) {
            return descriptor;
        }
        (void)::close(descriptor);
    }
    failure = {temporaryName, "is taken by other runs again and again"};
    return -1;
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

void catchInterrupts() {
#ifdef _WIN32
    (void)SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    (void)sigemptyset(&action.sa_mask);
    for (int signal : kInterrupts) {
        (void)sigaddset(&action.sa_mask, signal);
    }
    // A signal that the tool was started with ignored (nohup, a background
    // job) stays ignored.
    for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
        struct sigaction& previous = previousActions[i];
        if (::sigaction(kInterrupts[i], &action, &previous) == 0) {
            caught[i] = previous.sa_handler != SIG_IGN;
            if (!caught[i]) {
                (void)::sigaction(kInterrupts[i], &previous, nullptr);
            }
        }
    }
#endif
}

bool interrupted() {
#ifdef _WIN32
    return consoleInterrupt != 0;
#else
    return caughtSignal != 0;
#endif
}

void releaseInterrupts() {
#ifdef _WIN32
    (void)SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
        if (caught[i]) {
            (void)::sigaction(kInterrupts[i], &previousActions[i], nullptr);
            caught[i] = false;
        }
    }
#endif
    if (interrupted()) {
        endInterrupted();
    }
}

void endInterrupted() {
    (void)std::fflush(stdout);
    (void)std::fflush(stderr);
#ifdef _WIN32
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
#else
    const int signal = caughtSignal != 0 ? caughtSignal : SIGINT;
    (void)std::signal(signal, SIG_DFL);
    (void)std::raise(signal);
    std::_Exit(128 + signal);
#endif
}

bool takeContainerIdentity(std::FILE* file) {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION info{};
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0) {
        return false;
    }
    container = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
#else
    struct stat status {};
    if (::fstat(::fileno(file), &status) != 0) {
        return false;
    }
    container = {status.st_dev, status.st_ino, true};
#endif
    return true;
}

bool mayReplace(const char* name, WriteFailure& failure) {
    if (!container.known) {
        return true;
    }
#ifdef _WIN32
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
    if (isContainer(info)) {
        failure = {name, kIsContainer};
        return false;
    }
#else
    struct stat status {};
    if (::stat(name, &status) != 0) {
        return errno == ENOENT || fail(failure, name, errno);
    }
    if (isContainer(status)) {
        failure = {name, kIsContainer};
        return false;
    }
#endif
    return true;
}

namespace {

// Renames the temporary file to `name`. Where nothing stands under the name
// yet, nothing needs a look; what stands there must not be the container,
// unless it was `looked` at already.
bool moveOver(const std::string& temporaryName, const char* name, bool looked,
              WriteFailure& failure) {
    const char* from = temporaryName.c_str();
#ifdef _WIN32
    if (!looked) {
        if (MoveFileExA(from, name, 0) != 0) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            return fail(failure, name, error);
        }
        if (!mayReplace(name, failure)) {
            return false;
        }
    }
    return MoveFileExA(from, name, MOVEFILE_REPLACE_EXISTING) != 0 ||
           fail(failure, name, GetLastError());
#else
    if (!looked) {
#ifdef RENAME_NOREPLACE
        if (::renameat2(AT_FDCWD, from, AT_FDCWD, name, RENAME_NOREPLACE) == 0) {
            return true;
        }
        // Some file systems cannot rename without replacing.
        if (errno != EEXIST && errno != EINVAL && errno != ENOSYS) {
            return fail(failure, name, errno);
        }
#endif
        if (!mayReplace(name, failure)) {
            return false;
        }
    }
    return ::rename(from, name) == 0 || fail(failure, name, errno);
#endif
}

}  // namespace

bool replaceFile(const char* name, const std::string& temporaryName, const std::uint8_t* bytes,
                 int length, bool looked, WriteFailure& failure) {
#ifdef _WIN32
    HANDLE file = openTemporary(temporaryName, true, failure);
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
    done = done && moveOver(temporaryName, name, looked, failure);
    if (!done) {
        (void)DeleteFileA(temporaryName.c_str());
    }
    (void)CloseHandle(file);
    return done;
#else
    const int descriptor = openTemporary(temporaryName, failure);
    if (descriptor < 0) {
        return false;
    }
    bool done = true;
    for (int at = 0; done && at < length;) {
        const ::ssize_t count =
            ::write(descriptor, bytes + at, static_cast<std::size_t>(length - at));
        if (count > 0) {
            at += static_cast<int>(count);
        } else if (count == 0 || errno != EINTR) {
            done = fail(failure, temporaryName, count == 0 ? ENOSPC : errno);
        }
    }
    // Renamed while the lock is held, so that no other run takes the file
    // over in between.
    done = done && moveOver(temporaryName, name, looked, failure);
    if (!done) {
        (void)::unlink(temporaryName.c_str());
    }
    if (::close(descriptor) != 0 && done) {
        done = fail(failure, name, errno);
    }
    return done;
#endif
}

void removeLeftover(const std::string& temporaryName) {
    WriteFailure ignored;
#ifdef _WIN32
    HANDLE file = openTemporary(temporaryName, false, ignored);
    if (file != INVALID_HANDLE_VALUE) {
        (void)DeleteFileA(temporaryName.c_str());
        (void)CloseHandle(file);
    }
#else
    (void)clearTemporary(temporaryName, false, ignored);
#endif
}

std::string systemWords(int error) { return std::strerror(error); }

}  // namespace d88cut
