// The command line: the options, the help, what is wrong with a command
// line, and the run of one: a cut of one container, or a listing of one or
// more.
#include <algorithm>
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
    const char* put = nullptr;
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
    const char* help;  // the key of its line of help in the words files
};

constexpr Option kOptions[] = {
    {"-h", "--help", nullptr, &CommandLine::help, nullptr, "help.help"},
    {"-V", "--version", nullptr, &CommandLine::version, nullptr, "help.version"},
    {"-C", "--directory", "DIR", nullptr, &CommandLine::directory, "help.directory"},
    {"-l", "--list", nullptr, &CommandLine::list, nullptr, "help.list"},
    {nullptr, "--json", nullptr, &CommandLine::json, nullptr, "help.json"},
    {"-v", "--verbose", nullptr, &CommandLine::verbose, nullptr, "help.verbose"},
    {nullptr, "--encoding", "WHICH", nullptr, &CommandLine::encoding, "help.encoding"},
    {nullptr, "--put", "NEW.d88", nullptr, &CommandLine::put, "help.put"},
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

// The help, in the language of the person who reads it on a terminal or a
// console; into a pipe or a file, in English.
void printHelp(Run& run) {
    const Language language = run.language(stdout);
    std::string help = words(language, "help.usage") + "\n";
    for (const Option& option : kOptions) {
        std::string names = "    ";
        if (option.shortName != nullptr) {
            names.assign(option.shortName).append(", ");
        }
        names.append(option.longName);
        if (option.value != nullptr) {
            names.append(option.shortName != nullptr ? " " : "=").append(option.value);
        }
        char line[48];
        (void)std::snprintf(line, sizeof line, "  %-21s ", names.c_str());
        help.append(line).append(words(language, option.help)).append("\n");
    }
    help.append("  --                    ").append(words(language, "help.end")).append("\n\n");
    help.append(words(language, kHelpNotesKey));
    if (run.screen(stdout) == Screen::Console) {
        writeConsole(stdout, nullptr, help.c_str());
    } else {
        (void)std::fputs(bytesOf(help, run.writesUtf8(stdout)).c_str(), stdout);
    }
}

// Progress lines that could not be written (a full disk behind a
// redirection, say) make the run a failure too.
int withOutputChecked(int status) {
    const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    return lost ? 1 : status;
}

// A wrong command line: the usage line, and for a person what is wrong
// with it and where to look.
int usage(Run& run, const CommandLine& line, const char* program) {
    const bool toPerson = run.toPerson();
    const Language language = run.language(stderr);
    const auto hint = [&](const char* key,
                          std::initializer_list<std::pair<std::string_view, std::string>> values) {
        tell(run, "d88cut: " + words(language, key, values) + "\n");
    };
    if (toPerson) {
        std::size_t unknown = 0;
        for (const char* argument : line.dashed) {
            if (nothingNamed(argument)) {
                hint("hint.unknown-option", {{"option", argument}});
                ++unknown;
            }
        }
        if (line.valueMissing != nullptr) {
            hint("hint.needs-value", {{"option", line.valueMissing}});
        } else if (line.put != nullptr && line.list) {
            hint("hint.put-list", {});
        } else if (line.put != nullptr && line.paths.size() != 1) {
            hint("hint.put-one", {{"count", std::to_string(line.paths.size())}});
        } else if (line.paths.size() > unknown && line.encoding != nullptr) {
            hint("hint.encoding", {{"value", line.encoding}});
        }
    }
    (void)std::fprintf(stderr, kUsageFormat, bytesOf(program, run.writesUtf8(stderr)).c_str());
    if (toPerson) {
        tell(run, words(language, "hint.try-help") + "\n");
    }
    return 1;
}

// A file dropped onto the program with others, in a console of its own:
// cut into the folder that holds it. The names that the run wrote into
// another folder are other files: they are kept apart, for that folder.
int cutDropped(Run& run, const char* path) {
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(pathOf(path), error);
    const std::u8string file = whole.u8string();
    const std::u8string folder = whole.parent_path().u8string();
    const std::string fileText(file.begin(), file.end());
    const std::string folderText(folder.begin(), folder.end());
    if (error) {
        return runContainer(run, path, path, nullptr, false);
    }
    if (folderText != run.folder) {
        if (!run.names.empty() || !run.folder.empty()) {
            run.otherFolders[run.folder] = std::move(run.names);
        }
        run.names = std::move(run.otherFolders[folderText]);
        run.otherFolders.erase(folderText);
        run.folder = folderText;
    }
    return runContainer(run, fileText.c_str(), fileText.c_str(), folderText.c_str(), false);
}

// The run of a command line; the result is the exit status.
int runCommandLine(Run& run, int argc, const char* const* argv) {
    // Started with nothing to cut in a console of its own, from Explorer,
    // the tool tells how it is used there.
    if (run.ownConsole && argc <= 1) {
        tell(run, words(run.language(stderr), "console.how-to-start"));
        return 1;
    }
    const CommandLine line = parseCommandLine(argc, argv);
    if (line.help) {
        printHelp(run);
        return withOutputChecked(0);
    }
    if (line.version) {
        (void)std::printf("d88cut %s\n", D88CUT_VERSION);
        return withOutputChecked(0);
    }
    run.mode = line.json ? Mode::Json : line.list ? Mode::List : Mode::Cut;
    run.verbose = line.verbose;
    bool encodingKnown = line.encoding == nullptr;
    for (const EncodingName& name : kEncodingNames) {
        if (line.encoding != nullptr && sameLetters(line.encoding, name.name)) {
            run.encoding = name.encoding;
            encodingKnown = true;
        }
    }
    // Files dropped onto the program together are cut each into its own
    // folder.
    const bool dropped = run.ownConsole && !run.listing() && line.directory == nullptr &&
                         line.paths.size() > 1;
    // A put makes one new container of one container.
    const bool putRight = line.put == nullptr || (line.paths.size() == 1 && !line.list);
    if (line.valueMissing != nullptr || line.paths.empty() || !encodingKnown || !putRight) {
        return usage(run, line, (argc > 0 && argv[0] != nullptr) ? argv[0] : "d88cut");
    }
    catchInterrupts();
    if (line.put != nullptr) {
        run.putting = true;
        run.newContainer = line.put;
        const int put = runPut(run, line.put, line.paths.front(), line.directory);
        printRunEnd(run, put);
        const int status = withOutputChecked(put);
        if (run.mode == Mode::Cut && run.toPerson()) {
            printClosingLine(run);
        }
        releaseInterrupts();
        return status;
    }
    run.containerCount = static_cast<int>(line.paths.size());
    // Every container is named from where the run started, also once the
    // output folder is entered; and none of them may be written over (the
    // one at hand is known by its open file).
    std::vector<std::string> openPaths;
    for (const char* path : line.paths) {
        openPaths.emplace_back(path);
        if (line.directory != nullptr && !run.listing()) {
            std::error_code error;
            const std::u8string whole = std::filesystem::absolute(pathOf(path), error).u8string();
            if (!error) {
                openPaths.back().assign(whole.begin(), whole.end());
            }
        }
        if (FileIdentity identity; !run.listing() && line.paths.size() > 1 && identifyPath(path, identity)) {
            run.containerFiles.push_back(identity);
        }
    }
    for (std::size_t i = 0; i < line.paths.size(); ++i) {
        const char* path = line.paths[i];
        const bool mayBeOption =
            std::find(line.dashed.begin(), line.dashed.end(), path) != line.dashed.end();
        const int status = dropped ? cutDropped(run, path)
                                   : runContainer(run, path, openPaths[i].c_str(), line.directory,
                                                  mayBeOption);
        ++run.containerIndex;
        if (status < 0 && !dropped) {
            break;  // the output folder could not be entered
        }
    }
    printRunEnd(run, run.status());
    const int status = withOutputChecked(run.status());
    if (!run.listing() && run.containersCut > 0 && run.toPerson()) {
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
        waitForEnter(words(run.language(stderr), "console.press-enter"));
    }
    return status;
}

}  // namespace d88cut
