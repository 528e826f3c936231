#include "cutter/cutter.h"

#include <cstdio>
#include <cstring>
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
};

constexpr KnownDisk kKnownDisks[] = {
    {'0', DiskKind::ProgramDisk, kProgramDiskMessage},
    {'1', DiskKind::DiskA, kDiskAMessage},
    {'2', DiskKind::DiskB, kDiskBMessage},
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

// The options: whole arguments, recognised anywhere before "--". Every
// other argument is a path.
enum class OptionId { Help, Version, Directory };

struct Option {
    const char* shortName;
    const char* longName;
    const char* value;  // the name of its value, nullptr when it takes none
    OptionId id;
    const char* help;
};

constexpr Option kOptions[] = {
    {"-h", "--help", nullptr, OptionId::Help, "show this help and exit"},
    {"-V", "--version", nullptr, OptionId::Version, "show the version and exit"},
    {"-C", "--directory", "DIR", OptionId::Directory,
     "cut into DIR (it must exist), not the current directory"},
};

struct CommandLine {
    bool help = false;
    bool version = false;
    bool valueMissing = false;
    const char* directory = nullptr;
    std::vector<const char*> paths;
};

// The option that `argument` is, with its value when given as "--name=value".
const Option* findOption(const char* argument, const char*& value) {
    for (const Option& option : kOptions) {
        if (std::strcmp(argument, option.shortName) == 0 ||
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
            continue;
        }
        if (option->value != nullptr && value == nullptr) {
            if (i + 1 == argc) {
                line.valueMissing = true;
                continue;
            }
            value = argv[++i];
        }
        switch (option->id) {
            case OptionId::Help:
                line.help = true;
                break;
            case OptionId::Version:
                line.version = true;
                break;
            case OptionId::Directory:
                line.directory = value;
                break;
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
        char names[40];
        (void)std::snprintf(names, sizeof names, "%s, %s%s%s", option.shortName, option.longName,
                            option.value != nullptr ? " " : "",
                            option.value != nullptr ? option.value : "");
        (void)std::printf("  %-21s %s\n", names, option.help);
    }
    (void)std::fputs(
        "  --                    end of options: what follows is the path\n\n"
        "Exit status: 0 when every file was cut, 1 on a wrong command line, a\n"
        "container that cannot be opened or a file that could not be written.\n"
        "Messages are Shift_JIS but on a UTF-8 terminal. See d88cut(1).\n",
        stdout);
}

// Progress lines that could not be written (a full disk behind a
// redirection, say) make the run a failure too.
int withOutputChecked(int status) {
    const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    return lost ? 1 : status;
}

}  // namespace

int runCutter(int argc, const char* const* argv) {
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.help) {
        printHelp();
        return withOutputChecked(0);
    }
    if (line.version) {
        (void)std::printf("d88cut %s\n", D88CUT_VERSION);
        return withOutputChecked(0);
    }
    if (line.valueMissing || line.paths.size() != 1) {
        const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "d88cut";
        (void)std::fprintf(stderr, kUsageFormat, program);
        return 1;
    }
    const char* path = line.paths.front();
    if (!diskImage.open(path)) {
        putMessage(stderr, nullptr, kCannotOpenMessage);
        return 1;
    }
    // The container is opened, and its path taken, before the output folder
    // is entered.
    setContainerPath(path);
    if (line.directory != nullptr && !enterDirectory(line.directory)) {
        putMessage(stderr, line.directory, kCannotEnterMessage);
        return 1;
    }
    const int count = diskImage.diskCount();
    for (int i = 0; i < count; ++i) {
        (void)diskImage.selectDisk(i);
        diskImage.setSectorRange(kFirstSector, kLastSector);
        if (const KnownDisk* known = identifyCurrentDisk()) {
            putMessage(stdout, nullptr, known->message);
            runCatalog(known->kind);
        }
    }
    return withOutputChecked(outputFailed ? 1 : 0);
}

}  // namespace d88cut
