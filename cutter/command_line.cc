// The command line: the options, the help, what is wrong with a command
// line, and the run of one: a cut of one container, or a listing of one or
// more.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cutter/cutter.h"
#include "cutter/messages.h"

namespace d88cut {

namespace {

// What the command line asks for.
struct CommandLine {
    bool help = false;
    bool version = false;
    bool list = false;
    bool json = false;
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
    {nullptr, "--json", nullptr, &CommandLine::json, nullptr,
     "list as JSON Lines, for programs (implies --list)"},
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
        "       d88cut --list [OPTION]... d88file...\n"
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

// True where nothing at all goes by the name `path`.
bool nothingNamed(const char* path) {
    std::error_code error;
    return std::filesystem::symlink_status(pathOf(path), error).type() ==
           std::filesystem::file_type::not_found;
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
    run.mode = line.json ? Mode::Json : line.list ? Mode::List : Mode::Cut;
    run.listing = run.mode != Mode::Cut;
    run.verbose = line.verbose;
    bool encodingKnown = line.encoding == nullptr;
    for (const EncodingName& name : kEncodingNames) {
        if (line.encoding != nullptr && sameLetters(line.encoding, name.name)) {
            run.encoding = name.encoding;
            encodingKnown = true;
        }
    }
    // A cut takes one container; a listing one or more.
    const bool pathsRight = run.listing ? !line.paths.empty() : line.paths.size() == 1;
    if (line.valueMissing != nullptr || !pathsRight || !encodingKnown) {
        return usage(run, line, (argc > 0 && argv[0] != nullptr) ? argv[0] : "d88cut");
    }
    catchInterrupts();
    int status = 0;
    run.containerCount = static_cast<int>(line.paths.size());
    for (const char* path : line.paths) {
        const bool mayBeOption = run.containerCount == 1 && !line.dashed.empty();
        if (runContainer(run, path, line.directory, mayBeOption) != 0) {
            status = 1;
        }
        ++run.containerIndex;
    }
    status = withOutputChecked(status);
    if (!run.listing && run.containersCut > 0 && run.toPerson()) {
        printClosingLine(run);
    }
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
