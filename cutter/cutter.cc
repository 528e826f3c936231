#include "cutter/cutter.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cutter/messages.h"

namespace d88cut {

std::array<std::uint8_t, kSectorBufferSize> SectorBuffer{};
d88::D88Image diskImage;

namespace {

// The identification sector: the last of the five sectors on track side 79.
constexpr int kIdTrackIndex = 79;
constexpr int kIdCylinder = 39;
constexpr int kIdHead = 1;
constexpr int kIdSector = 5;
constexpr int kSizeCode = 3;
constexpr int kSectorSize = 128 << kSizeCode;
constexpr int kFirstSector = 1;
constexpr int kLastSector = 5;
constexpr char kSignature[] = "PRANEK.VOSKE.(";
constexpr int kSignatureOffset = 1008;
constexpr int kSignatureSize = sizeof(kSignature) - 1;
constexpr int kKindDigitOffset = 1022;
static_assert(kSignatureOffset + kSignatureSize == kKindDigitOffset);

struct KnownDisk {
    char digit;
    DiskKind kind;
    const Message& message;
    const char* name;  // in the listing
};

constexpr KnownDisk kKnownDisks[] = {
    {'0', DiskKind::ProgramDisk, kProgramDiskMessage, "PROGRAM DISK"},
    {'1', DiskKind::DiskA, kDiskAMessage, "DISK A"},
    {'2', DiskKind::DiskB, kDiskBMessage, "DISK B"},
};

// The known disk that the current disk is, or nullptr. The whole
// identification sector must be read: a shorter read leaves earlier bytes in
// the buffer, which must not pass for a signature.
const KnownDisk* identifyCurrentDisk() {
    if (diskImage.readRun(kIdTrackIndex, kIdCylinder, kIdHead, kIdSector, kSizeCode,
                          SectorBuffer.data(), kSectorSize) != kSectorSize) {
        return nullptr;
    }
    if (std::memcmp(&SectorBuffer[kSignatureOffset], kSignature, kSignatureSize) != 0) {
        return nullptr;
    }
    for (const KnownDisk& known : kKnownDisks) {
        if (SectorBuffer[kKindDigitOffset] == static_cast<std::uint8_t>(known.digit)) {
            return &known;
        }
    }
    return nullptr;
}

// A byte as it is when it is printable ASCII from `lowest` on, else as \xHH.
std::string shownByte(std::uint8_t byte, std::uint8_t lowest) {
    if (byte >= lowest && byte <= 0x7E) {
        return std::string(1, static_cast<char>(byte));
    }
    char escaped[8];
    (void)std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
    return escaped;
}

// Why the current disk is not one of the known disks: the first step of
// the identification that fails, told by the reader's own lookups.
std::string whyNotRecognised() {
    if (!diskImage.hasTrack(kIdTrackIndex)) {
        return "no track side 79";
    }
    if (!diskImage.hasSector(kIdTrackIndex, kIdCylinder, kIdHead, kIdSector, kSizeCode)) {
        return "no sector C39 H1 R5 N3 on track side 79";
    }
    const int copied = diskImage.readSector(kIdTrackIndex, kIdCylinder, kIdHead, kIdSector,
                                            kSizeCode, SectorBuffer.data(), kSectorSize);
    if (copied < kSectorSize) {
        return "sector C39 H1 R5 N3 holds " + std::to_string(copied) + " bytes";
    }
    if (std::memcmp(&SectorBuffer[kSignatureOffset], kSignature, kSignatureSize) != 0) {
        return "no signature";
    }
    const std::uint8_t digit = SectorBuffer[kKindDigitOffset];
    return "unknown disk number " + shownByte(digit, 0x21);
}

// "disk N "NAME" MEDIA: " for the current disk, the N-th of the container.
std::string diskLine(int number) {
    std::string line = "disk " + std::to_string(number) + " \"";
    for (const char* p = diskImage.diskName(); *p != '\0'; ++p) {
        const auto byte = static_cast<std::uint8_t>(*p);
        line += byte == '"' || byte == '\\' ? std::string{'\\', *p} : shownByte(byte, 0x20);
    }
    static constexpr const char* kMedia[] = {"2D", "2DD", "2HD", "1D", "1DD"};
    const int media = diskImage.mediaType();
    char mediaName[8];
    (void)std::snprintf(mediaName, sizeof mediaName, "0x%02X", media & 0xFF);
    const bool named = media >= 0 && media % 0x10 == 0 && media / 0x10 < 5;
    return line + "\" " + (named ? kMedia[media / 0x10] : mediaName) + ": ";
}

// What the command line asks for.
struct CommandLine {
    bool help = false;
    bool version = false;
    bool list = false;
    bool verbose = false;
    const char* directory = nullptr;
    const char* encoding = nullptr;
    const char* valueMissing = nullptr;  // the option given without its value
    std::vector<const char*> paths;
    // Paths that start with "-" before any "--": typing errors of options,
    // where no file has the name.
    std::vector<const char*> dashed;
};

// The options: whole arguments, recognised anywhere before "--". Every
// other argument is a path. An option sets its field of the command line:
// to its value where it takes one, to true where it does not.
struct Option {
    const char* shortName;  // nullptr where there is none
    const char* longName;
    const char* value;  // the name of its value, nullptr when it takes none
    bool CommandLine::*flag;
    const char* CommandLine::*setting;
    const char* help;
};

constexpr Option kOptions[] = {
    {"-h", "--help", nullptr, &CommandLine::help, nullptr, "show this help and exit"},
    {"-V", "--version", nullptr, &CommandLine::version, nullptr, "show the version and exit"},
    {"-C", "--directory", "DIR", nullptr, &CommandLine::directory,
     "cut into DIR (it must exist), not the current directory"},
    {"-l", "--list", nullptr, &CommandLine::list, nullptr,
     "list what a cut would give, writing nothing"},
    {"-v", "--verbose", nullptr, &CommandLine::verbose, nullptr, "say why a disk or file fails"},
    {nullptr, "--encoding", "WHICH", nullptr, &CommandLine::encoding,
     "messages in auto (the default), utf-8 or shift_jis"},
};

// The names that --encoding takes, in any letter case.
struct EncodingName {
    const char* name;
    Encoding encoding;
};
constexpr EncodingName kEncodingNames[] = {
    {"auto", Encoding::Auto},          {"utf-8", Encoding::Utf8},
    {"utf8", Encoding::Utf8},          {"shift_jis", Encoding::ShiftJis},
    {"shift-jis", Encoding::ShiftJis}, {"sjis", Encoding::ShiftJis},
    {"cp932", Encoding::ShiftJis},
};

bool sameLetters(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

// The option that `argument` is, with its value when given as "--name=value".
const Option* findOption(const char* argument, const char*& value) {
    for (const Option& option : kOptions) {
        if ((option.shortName != nullptr && std::strcmp(argument, option.shortName) == 0) ||
            std::strcmp(argument, option.longName) == 0) {
            return &option;
        }
        const std::size_t length = std::strlen(option.longName);
        if (option.value != nullptr && std::strncmp(argument, option.longName, length) == 0 &&
            argument[length] == '=') {
            value = argument + length + 1;
            return &option;
        }
    }
    return nullptr;
}

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!optionsEnded && std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        const char* value = nullptr;
        const Option* option = optionsEnded ? nullptr : findOption(argument, value);
        if (option == nullptr) {
            line.paths.push_back(argument);
            if (!optionsEnded && argument[0] == '-' && argument[1] != '\0') {
                line.dashed.push_back(argument);
            }
        } else if (option->value == nullptr) {
            line.*(option->flag) = true;
        } else if (value != nullptr || i + 1 < argc) {
            line.*(option->setting) = value != nullptr ? value : argv[++i];
        } else {
            line.valueMissing = argument;
        }
    }
    return line;
}

void printHelp() {
    (void)std::fputs(
        "Usage: d88cut [OPTION]... d88file\n"
        "Cut the catalogued files of the known disks in a D88 container.\n\n",
        stdout);
    for (const Option& option : kOptions) {
        std::string names = "    ";
        if (option.shortName != nullptr) {
            names.assign(option.shortName).append(", ");
        }
        names.append(option.longName);
        if (option.value != nullptr) {
            names.append(option.shortName != nullptr ? " " : "=").append(option.value);
        }
        (void)std::printf("  %-21s %s\n", names.c_str(), option.help);
    }
    (void)std::fputs("  --                    end of options: what follows is the path\n\n",
                     stdout);
    (void)std::fputs(kHelpNotes, stdout);
}

// Progress lines that could not be written (a full disk behind a
// redirection, say) make the run a failure too.
int withOutputChecked(int status) {
    const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    return lost ? 1 : status;
}

// Why the container at `path` could not be opened.
std::string whyNotOpened(const char* path) {
    if (const int error = diskImage.systemError(); error != 0) {
        return systemWords(error);
    }
    std::error_code ignored;
    switch (std::filesystem::status(pathOf(path), ignored).type()) {
        case std::filesystem::file_type::directory:
            return "is a directory";
        case std::filesystem::file_type::fifo:
            return "is a pipe";
        case std::filesystem::file_type::socket:
            return "is a socket";
        default:
            return "cannot be read";
    }
}

// A plain line of the tool's own on standard error, for a person to read.
void tell(Run& run, const std::string& line) {
    (void)std::fflush(stdout);
    if (run.screen(stderr) == Screen::Console) {
        writeConsole(stderr, nullptr, line.c_str());
    } else {
        (void)std::fputs(bytesOf(line, run.writesUtf8(stderr)).c_str(), stderr);
        (void)std::fflush(stderr);
    }
}

// A line about the container and its disks: part of a listing, or with -v,
// told on standard error beside what a cut says.
void note(Run& run, const std::string& line) {
    if (run.listing) {
        (void)std::fputs(line.c_str(), stdout);
    } else if (run.verbose) {
        tell(run, line);
    }
}

// What a run says of the `number`-th disk image of the container: a cut
// names a known disk, and with -v tells why another is not one; a listing
// gives every disk its line.
void tellDisk(Run& run, int number, const KnownDisk* known, const std::string& why) {
    if (known != nullptr && !run.listing) {
        putMessage(run, stdout, nullptr, known->message);
    } else {
        note(run,
             diskLine(number) + (known != nullptr ? known->name : "not recognised: " + why) + "\n");
    }
}

std::string counted(std::size_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// The closing word of a cut, for a person: how many files were cut and
// where, and how many were not; or that no known disk was found.
void summarise(Run& run) {
    std::size_t written = 0;
    std::size_t incomplete = 0;
    std::size_t notWritten = 0;
    for (const auto& [name, outcome] : run.names) {
        written += outcome != Outcome::NotWritten ? 1 : 0;
        incomplete += outcome == Outcome::Incomplete ? 1 : 0;
        notWritten += outcome == Outcome::NotWritten ? 1 : 0;
    }
    std::string line = "d88cut: ";
    if (!run.knownDisk) {
        line += "no known disk in " + std::string(run.containerPath);
        line += run.containerReadReported ? ", as far as it could be read" : "";
        line += "; see why with: d88cut -l ";
        line += (run.containerPath[0] == '-' ? "-- " : "") + commandWord(run.containerPath);
    } else {
        std::error_code error;
        const std::u8string folder = std::filesystem::current_path(error).u8string();
        line += counted(written, "file") + " cut into " +
                (error ? std::string(".") : std::string(folder.begin(), folder.end()));
        line += incomplete != 0 ? " (" + std::to_string(incomplete) + " incomplete)" : "";
        line += notWritten != 0 ? "; " + counted(notWritten, "file") + " could not be cut" : "";
    }
    tell(run, line + "\n");
}

// True where nothing at all goes by the name `path`.
bool nothingNamed(const char* path) {
    std::error_code error;
    return std::filesystem::symlink_status(pathOf(path), error).type() ==
           std::filesystem::file_type::not_found;
}

// Cuts (or lists) the container at `path`, into `directory` when one is
// given; the result is the exit status. A path that `mayBeOption` was
// perhaps meant as an option.
int cut(Run& run, const char* path, const char* directory, bool mayBeOption) {
    run.containerPath = path;
    // The container's identity is taken at once, so that no output name can
    // ever stand for it; where the system cannot tell it, nothing is cut. A
    // listing writes nowhere, so it needs none.
    if (!openContainer(diskImage, path) ||
        (!run.listing && !identify(diskImage.file(), run.container))) {
        const std::string why =
            diskImage.file() != nullptr ? systemWords(errno) : whyNotOpened(path);
        putMessage(run, stderr, nullptr, kCannotOpenMessage);
        explain(run, path, why);
        if (mayBeOption && run.toPerson() && nothingNamed(path)) {
            tell(run, "d88cut: unknown option '" + std::string(path) + "'\nTry 'd88cut --help'.\n");
        }
        return 1;
    }
    (void)containerReadFailed(run);  // in the scan of its disk headers
    // The container is opened before the output folder is entered; a
    // listing enters none.
    if (directory != nullptr && !run.listing && !enterDirectory(directory)) {
        const int error = errno;
        putMessage(run, stderr, directory, kCannotEnterMessage);
        explain(run, directory, systemWords(error));
        return 1;
    }
    // Where the disks are said to run past the end of the file.
    const std::int64_t fileSize = run.listing || run.verbose ? diskImage.fileSize() : -1;
    const int count = diskImage.diskCount();
    if (count == 0 && fileSize >= 0 && fileSize < d88::kDiskHeaderSize) {
        note(run, "no disk image: the file holds " + std::to_string(fileSize) +
                      " bytes, fewer than a disk header (" + std::to_string(d88::kDiskHeaderSize) +
                      ")\n");
    }
    for (int i = 0; i < count; ++i) {
        if (interrupted()) {
            endInterrupted();
        }
        (void)diskImage.selectDisk(i);
        diskImage.setSectorRange(kFirstSector, kLastSector);
        const KnownDisk* known = identifyCurrentDisk();
        std::string why;
        if (containerReadFailed(run)) {
            known = nullptr;
            why = "read error";
        } else if (known == nullptr && (run.listing || run.verbose)) {
            why = whyNotRecognised();
            why = containerReadFailed(run) ? "read error" : why;
        }
        tellDisk(run, i + 1, known, why);
        if (known != nullptr) {
            run.knownDisk = true;
            runCatalog(run, known->kind);
        }
        const std::int64_t offset = diskImage.diskOffset();
        const std::uint32_t size = diskImage.statedDiskSize();
        if (fileSize >= 0 && offset >= 0 && offset + size > fileSize) {
            note(run, "  (the file ends " + std::to_string(fileSize - offset) +
                          " bytes into this disk image of " + std::to_string(size) + " bytes)\n");
        }
        if (i + 1 == d88::kMaxDisks && diskImage.disksBeyondLimit()) {
            note(run, "disks after the " + std::to_string(d88::kMaxDisks) +
                          "th: not read (at most " + std::to_string(d88::kMaxDisks) +
                          " disk images are read)\n");
        }
    }
    if (run.listing) {
        return withOutputChecked(run.failed ? 1 : 0);
    }
    if (interrupted()) {
        endInterrupted();
    }
    removeLeftovers(run);
    const int status = withOutputChecked(run.failed ? 1 : 0);
    if (run.toPerson()) {
        summarise(run);
    }
    return status;
}

}  // namespace

Screen Run::screen(std::FILE* stream) {
    std::optional<Screen>& known = screens[stream == stderr ? 1 : 0];
    if (!known) {
        known = screenOf(stream);
    }
    return *known;
}

bool Run::writesUtf8(std::FILE* stream) {
    return encoding == Encoding::Utf8 ||
           (encoding == Encoding::Auto && screen(stream) == Screen::Utf8Terminal);
}

bool Run::wrote(std::string_view name) const {
    const auto found = names.find(name);
    return found != names.end() && found->second != Outcome::NotWritten;
}

// The difference between a cut and a listing for each file: a cut writes
// it, or says on standard error why it cannot; a listing says what a cut
// would give, on standard output.
bool fileGiven(Run& run, const char* name, const std::uint8_t* bytes, int length, int delivered) {
    const bool incomplete = delivered < length;
    run.failed = run.failed || incomplete;
    if (run.listing) {
        if (incomplete) {
            (void)std::printf("  %s %d incomplete (%d bytes read)\n", name, length, delivered);
        } else {
            (void)std::printf("  %s %d\n", name, length);
        }
        return true;
    }
    if (!writeOutputFile(run, name, bytes, length)) {
        return false;
    }
    if (incomplete) {
        run.names.insert_or_assign(name, Outcome::Incomplete);
        (void)std::fflush(stdout);
        putMessage(run, stderr, name, kIncompleteMessage);
    }
    return true;
}

bool fileNotGiven(Run& run, const char* name) {
    run.failed = true;
    if (run.listing) {
        (void)std::printf("  %s missing\n", name);
    } else {
        (void)run.names.try_emplace(name, Outcome::NotWritten);
        (void)std::fflush(stdout);
        putMessage(run, stderr, name, kCannotReadMessage);
    }
    return false;
}

bool containerReadFailed(Run& run) {
    const int error = diskImage.systemError();
    if (error == 0) {
        return false;
    }
    diskImage.clearSystemError();
    run.failed = true;
    if (!run.containerReadReported) {
        run.containerReadReported = true;
        (void)std::fflush(stdout);
        putMessage(run, stderr, run.containerPath, kCannotReadMessage);
        explain(run, run.containerPath, systemWords(error));
    }
    return true;
}

void putMessage(Run& run, std::FILE* stream, const char* subject, const Message& message) {
    const Screen screen = run.screen(stream);
    if (screen == Screen::Console) {
        writeConsole(stream, subject, message.utf8);
        return;
    }
    const bool utf8 = run.writesUtf8(stream);
    // One write for the whole line, so that it stays whole on a shared console.
    std::string line = subject != nullptr ? bytesOf(subject, utf8) : "";
    line += utf8 ? message.utf8 : message.shiftJis;
    (void)std::fputs(line.c_str(), stream);
    if (stream == stderr) {
        (void)std::fflush(stderr);  // some C runtimes buffer it when it is a file
    }
}

void explain(Run& run, const std::string& path, const std::string& reason) {
    if (run.verbose || run.toPerson()) {
        tell(run, "d88cut: " + path + ": " + reason + "\n");
    }
}

// A wrong command line: the usage line, and for a person what is wrong
// with it and where to look.
int usage(Run& run, const CommandLine& line, const char* program) {
    const bool toPerson = run.toPerson();
    if (toPerson) {
        std::size_t unknown = 0;
        for (const char* argument : line.dashed) {
            if (nothingNamed(argument)) {
                tell(run, "d88cut: unknown option '" + std::string(argument) + "'\n");
                ++unknown;
            }
        }
        if (line.valueMissing != nullptr) {
            tell(run, "d88cut: option '" + std::string(line.valueMissing) + "' needs a value\n");
        } else if (line.paths.size() > unknown + 1) {
            tell(run, "d88cut: one container at a time: " +
                          std::to_string(line.paths.size() - unknown) + " were given\n");
        } else if (line.paths.size() == 1 && line.encoding != nullptr) {
            tell(run, "d88cut: --encoding takes auto, utf-8 or shift_jis, not '" +
                          std::string(line.encoding) + "'\n");
        }
    }
    (void)std::fprintf(stderr, kUsageFormat, bytesOf(program, run.writesUtf8(stderr)).c_str());
    if (toPerson) {
        tell(run, "Try 'd88cut --help'.\n");
    }
    return 1;
}

namespace {

// The run of a command line; the result is the exit status.
int runCommandLine(Run& run, int argc, const char* const* argv) {
    // Started with nothing to cut in a console of its own, from Explorer,
    // the tool tells how it is used there.
    if (run.ownConsole && argc <= 1) {
        tell(run, kHowToStart);
        return 1;
    }
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.help) {
        printHelp();
        return withOutputChecked(0);
    }
    if (line.version) {
        (void)std::printf("d88cut %s\n", D88CUT_VERSION);
        return withOutputChecked(0);
    }
    run.listing = line.list;
    run.verbose = line.verbose;
    bool encodingKnown = line.encoding == nullptr;
    for (const EncodingName& name : kEncodingNames) {
        if (line.encoding != nullptr && sameLetters(line.encoding, name.name)) {
            run.encoding = name.encoding;
            encodingKnown = true;
        }
    }
    if (line.valueMissing != nullptr || line.paths.size() != 1 || !encodingKnown) {
        return usage(run, line, (argc > 0 && argv[0] != nullptr) ? argv[0] : "d88cut");
    }
    catchInterrupts();
    const int status = cut(run, line.paths.front(), line.directory, !line.dashed.empty());
    releaseInterrupts();
    return status;
}

}  // namespace

int runCutter(int argc, const char* const* argv) {
    Run run;
    // A console of its own closes when the tool ends: what it said stays
    // until the person there has read it.
    run.ownConsole = inConsoleOfItsOwn();
    const int status = runCommandLine(run, argc, argv);
    if (run.ownConsole) {
        waitForEnter();
    }
    return status;
}

}  // namespace d88cut
