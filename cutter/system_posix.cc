// What the tool asks of the system, on POSIX systems (and in the WebAssembly
// build, whose file locks are no-ops and which delivers no signal).
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "cutter/system.h"
#include "image/d88_image.h"

namespace d88cut {

namespace {

constexpr const char* kNotTemporary = "why.not-temporary";
constexpr const char* kIsContainer = "why.is-container";

bool fail(WriteFailure& failure, const std::string& path, int error) {
    failure = {path, error, nullptr, {}};
    return false;
}

}  // namespace

// Names: bytes, taken and shown as they are.

std::filesystem::path pathOf(const char* path) { return path; }

std::FILE* openToRead(const std::filesystem::path& path) { return std::fopen(path.c_str(), "rb"); }

bool openContainer(d88::D88Image& image, const char* path) { return image.open(path); }

std::string bytesOf(const std::string& text, bool /*utf8*/) { return text; }

// In single quotes where a POSIX shell would take a character for its own.
std::string commandWord(const std::string& path) {
    bool plain = !path.empty();
    for (const char ch : path) {
        const auto byte = static_cast<unsigned char>(ch);
        plain = plain && (std::isalnum(byte) != 0 || byte >= 0x80 ||
                          std::strchr("._/+,:@%=-", ch) != nullptr);
    }
    if (plain) {
        return path;
    }
    std::string text = "'";
    for (const char ch : path) {
        text += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    }
    return text + "'";
}

const char kHelpNotesKey[] = "help.notes.posix";

// The first of LC_ALL, LC_MESSAGES and LANG that is set, as setlocale
// would take it for messages.
bool personReadsJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return std::strncmp(value, "ja", 2) == 0;
        }
    }
    return false;
}

// Streams: the bytes are written as they are already.

void useBinaryStreams() {}

Screen screenOf(std::FILE* stream) {
    if (::isatty(::fileno(stream)) == 0) {
        return Screen::Bytes;
    }
    (void)std::setlocale(LC_CTYPE, "");
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0 ? Screen::Utf8Terminal
                                                                     : Screen::Terminal;
}

// There is no console of that kind here; the text goes out as UTF-8.
void writeConsole(std::FILE* stream, const char* subject, const char* utf8) {
    (void)std::fputs((std::string(subject != nullptr ? subject : "") + utf8).c_str(), stream);
}

// A terminal stays open when the tool ends: it never waits.

bool inConsoleOfItsOwn() { return false; }

void waitForEnter(const std::string& /*prompt*/) {}

bool enterDirectory(const char* path) { return ::chdir(path) == 0; }

// In Japanese, the C library's messages of the person's locale (where it has
// none, English).
std::string systemWords(int error, Language language) {
    if (language == Language::Japanese) {
        if (const locale_t locale = ::newlocale(LC_ALL_MASK, "", locale_t{}); locale != locale_t{}) {
            std::string text = ::strerror_l(error, locale);
            ::freelocale(locale);
            return text;
        }
    }
    return std::strerror(error);
}

// Interrupts.

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t caughtSignal = 0;

// What each interrupt did before it was caught, put back on release.
struct Previous {
    struct sigaction action;
    bool caught;
};
Previous previous[std::size(kInterrupts)] = {};

extern "C" void onInterrupt(int signal) { caughtSignal = signal; }

}  // namespace

void catchInterrupts() {
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
        Previous& before = previous[i];
        if (::sigaction(kInterrupts[i], &action, &before.action) == 0) {
            before.caught = before.action.sa_handler != SIG_IGN;
            if (!before.caught) {
                (void)::sigaction(kInterrupts[i], &before.action, nullptr);
            }
        }
    }
}

bool interrupted() { return caughtSignal != 0; }

void releaseInterrupts() {
    for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
        if (previous[i].caught) {
            (void)::sigaction(kInterrupts[i], &previous[i].action, nullptr);
            previous[i].caught = false;
        }
    }
    if (interrupted()) {
        endInterrupted();
    }
}

void endInterrupted() {
    (void)std::fflush(stdout);
    (void)std::fflush(stderr);
    const int signal = caughtSignal != 0 ? caughtSignal : SIGINT;
    (void)std::signal(signal, SIG_DFL);
    (void)std::raise(signal);
    std::_Exit(128 + signal);
}

// Files.

bool identify(std::FILE* file, FileIdentity& identity) {
    struct stat status {};
    if (::fstat(::fileno(file), &status) != 0) {
        return false;
    }
    identity = {static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino), true};
    return true;
}

bool identifyPath(const char* path, FileIdentity& identity) {
    struct stat status {};
    if (::stat(path, &status) != 0) {
        return false;
    }
    identity = {static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino), true};
    return true;
}

namespace {

// True when the file is one of the containers of the run.
bool isContainer(const struct stat& status, Containers containers) {
    return std::any_of(containers.begin(), containers.end(), [&](const FileIdentity& file) {
        return file.known && static_cast<std::uint64_t>(status.st_dev) == file.device &&
               static_cast<std::uint64_t>(status.st_ino) == file.number;
    });
}

// True when `name` may be replaced: nothing is there, or a file that is not
// the container. A look that fails for any other reason refuses.
bool mayReplace(const char* name, Containers containers, WriteFailure& failure) {
    if (containers.empty()) {
        return true;
    }
    struct stat status {};
    if (::stat(name, &status) != 0) {
        return errno == ENOENT || fail(failure, name, errno);
    }
    if (isContainer(status, containers)) {
        failure = {name, 0, kIsContainer, {}};
        return false;
    }
    return true;
}

bool lockFile(int descriptor, bool wait) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(descriptor, wait ? F_SETLKW : F_SETLK, &lock) == 0;
}

// Waits for the run that holds the lock, asking again every 10 ms, and gives
// up at an interrupt: the interrupts' handler restarts a waiting F_SETLKW,
// which would wait on past it. A pause ends when a signal comes.
bool waitForLock(int descriptor) {
    while (!lockFile(descriptor, false)) {
        if ((errno != EAGAIN && errno != EACCES) || interrupted()) {
            return false;
        }
        const struct timespec pause = {0, 10'000'000};
        (void)::nanosleep(&pause, nullptr);
    }
    return true;
}

// A run holds a lock on each temporary file from just after creating it
// until it has renamed it; only the run that created a temporary file
// renames it. A temporary file that no run holds was left by a run that was
// killed. This removes one under `temporaryName`: after waiting for the run
// that holds it (with `wait`, until an interrupt; without, such a file is
// left alone), and only when the name still stands for the file locked.
// True when the name may be taken anew; false, with `failure` filled, when
// it may not.
bool clearTemporary(const std::string& temporaryName, bool wait, Containers containers,
                    WriteFailure& failure) {
    const char* path = temporaryName.c_str();
    const int descriptor = ::open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        return errno == ENOENT || fail(failure, temporaryName, errno);
    }
    const bool locked = wait ? waitForLock(descriptor) : lockFile(descriptor, false);
    struct stat held {};
    struct stat named {};
    bool cleared = false;
    if (!locked || ::fstat(descriptor, &held) != 0) {
        (void)fail(failure, temporaryName, errno);
    } else if (::lstat(path, &named) != 0) {
        cleared = errno == ENOENT || fail(failure, temporaryName, errno);
    } else if (named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
        cleared = true;  // renamed by the run that held it; another stands there now
    } else if (!S_ISREG(held.st_mode) || held.st_nlink != 1 || isContainer(held, containers)) {
        failure = {temporaryName, 0, isContainer(held, containers) ? kIsContainer : kNotTemporary, {}};
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
int openTemporary(const std::string& temporaryName, Containers containers,
                  WriteFailure& failure) {
    const char* path = temporaryName.c_str();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int descriptor = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno != EEXIST) {
                (void)fail(failure, temporaryName, errno);
                return -1;
            }
            if (!clearTemporary(temporaryName, true, containers, failure)) {
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
    failure = {temporaryName, 0, "why.taken-again", {}};
    return -1;
}

// Renames the temporary file to `name`. Where nothing stands under the name
// yet, nothing needs a look; what stands there must not be the container,
// unless it was `looked` at already.
bool moveOver(const std::string& temporaryName, const char* name, bool looked,
              Containers containers, WriteFailure& failure) {
    const char* from = temporaryName.c_str();
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
        if (!mayReplace(name, containers, failure)) {
            return false;
        }
    }
    return ::rename(from, name) == 0 || fail(failure, name, errno);
}

}  // namespace

bool replaceFile(const char* name, const std::string& temporaryName, const std::uint8_t* bytes,
                 int length, bool looked, Containers containers, WriteFailure& failure) {
    const int descriptor = openTemporary(temporaryName, containers, failure);
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
    done = done && moveOver(temporaryName, name, looked, containers, failure);
    if (!done) {
        (void)::unlink(temporaryName.c_str());
    }
    if (::close(descriptor) != 0 && done) {
        done = fail(failure, name, errno);
    }
    return done;
}

void removeLeftover(const std::string& temporaryName, Containers containers) {
    WriteFailure ignored;
    (void)clearTemporary(temporaryName, false, containers, ignored);
}

}  // namespace d88cut
