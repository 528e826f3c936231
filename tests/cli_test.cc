// The built tool end to end: containers made in code, run in a fresh
// directory, checked by what it prints, its exit status and the files it leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>

#include <clocale>
#include <chrono>
#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <utility>

#include "tests/known_disks.h"
#include "tests/test_dir.h"

namespace d88test {
namespace {

using d88cut::DiskKind;

std::string recognitionLine(DiskKind kind) {
    switch (kind) {
        case DiskKind::ProgramDisk:
            return "PROGRAM DISK" + kRecognised;
        case DiskKind::DiskA:
            return "DISK A" + kRecognised;
        case DiskKind::DiskB:
            return "DISK B" + kRecognised;
    }
    return {};
}

// Bytes of a file, or "" where it is missing.
Bytes fileBytes(const fs::path& path) { return readFile(path.string()).value_or(Bytes{}); }

// Names in Japanese, spelt in UTF-8: "ゲーム.d88" and "出力". Wine gives them
// to a Windows build in a UTF-8 locale, whatever its ANSI code page.
const std::string kJapaneseContainer = "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0.d88";
const std::string kJapaneseFolder = "\xE5\x87\xBA\xE5\x8A\x9B";

// True when the tool under test is a Windows build (run by wine).
bool windowsBuild() {
    const char* command = std::getenv("D88CUT_COMMAND");
    return command != nullptr && std::string(command).find(".exe") != std::string::npos;
}

class CliTest : public ::testing::Test {
protected:
    // Writes the container into the work directory and runs the tool on it.
    RunResult cut(const Bytes& container, const std::string& name = "c.d88") {
        EXPECT_TRUE(writeFile((dir_ / name).string(), container));
        return runTool(dir_.path(), {name});
    }
    // The files in the work directory other than the container.
    std::vector<std::string> outputs(const std::string& container = "c.d88") {
        std::vector<std::string> names = listDir(dir_.path());
        names.erase(std::remove(names.begin(), names.end(), container), names.end());
        return names;
    }

    ScopedTempDir dir_;
};

TEST_F(CliTest, CommandLineAndOpenFailures) {
    const std::string usage = std::string("Usage: ") + D88CUT_BINARY + " [d88file]\n";
    // Empty containers, named like options.
    const std::vector<std::string> files = {"--", "--directoryout", "--help", "-x.d88", "empty"};
    for (const std::string& name : files) {
        ASSERT_TRUE(writeFile((dir_ / name).string(), {}));
    }
    fs::create_directory(dir_ / "folder");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string prefix;
        int status;
        std::string err;
        std::string out = {};
    } cases[] = {
        {"no argument", {}, "", 1, usage},
        {"two arguments", {"a", "b"}, "", 1, usage},
        {"two arguments and an option", {"-C", "folder", "empty", "empty"}, "", 1, usage},
        {"-C without its folder", {"empty", "-C"}, "", 1, usage},
        {"only options", {"--directory=folder"}, "", 1, usage},
        {"missing file", {"missing"}, "", 1, kCannotOpen},
        {"an unknown option is a path", {"-x"}, "", 1, kCannotOpen},
        {"a directory", {"folder"}, "", 1, kCannotOpen},
        {"a pipe with no writer", {"fifo"}, "mkfifo fifo && timeout 20 ", 1, kCannotOpen},
        {"a pipe on standard input", {"/dev/stdin"}, "echo data | ", 1, kCannotOpen},
        // Standard input a pipe that never ends: a run that read it would
        // never end.
        {"standard input never read", {"empty"},
         "mkfifo fifo && exec 3<>fifo && timeout 20 <&3 ", 0, ""},
        {"empty file", {"empty"}, "", 0, ""},
        {"empty file listed", {"-l", "empty"}, "", 0, "",
         "no disk image: the file holds 0 bytes, fewer than a disk header (688)\n"},
        {"empty file, verbose", {"-v", "empty"}, "", 0,
         "no disk image: the file holds 0 bytes, fewer than a disk header (688)\n"},
        {"an encoding", {"--encoding", "utf-8", "empty"}, "", 0, ""},
        {"an encoding in capitals", {"--encoding=Shift_JIS", "empty"}, "", 0, ""},
        {"an encoding it does not know", {"--encoding=latin1", "empty"}, "", 1, usage},
        {"an encoding by part of its name", {"--encoding=u", "empty"}, "", 1, usage},
        {"an encoding left empty", {"--encoding=", "empty"}, "", 1, usage},
        {"an option's name run on is a path", {"--directoryout"}, "", 0, ""},
        {"a path that starts with -", {"-x.d88"}, "", 0, ""},
        {"an option after --", {"--", "--help"}, "", 0, ""},
        {"a path named --", {"--", "--"}, "", 0, ""},
        {"an option spelt as a path", {"./--help"}, "", 0, ""},
        {"into a folder", {"-C", "folder", "empty"}, "", 0, ""},
        {"folder missing", {"empty", "-C", "missing"}, "", 1, "missing" + kCannotEnter},
        {"folder is a file", {"--directory", "-x.d88", "empty"}, "", 1, "-x.d88" + kCannotEnter},
        {"folder named in Japanese, in UTF-8",
         {"--encoding=utf-8", "-C", kJapaneseFolder, "empty"}, "", 1,
         kJapaneseFolder + fromShiftJis(kCannotEnter)},
        {"the container is opened first", {"-C", "missing", "missing"}, "", 1, kCannotOpen},
        {"why not opened", {"-v", "missing"}, "", 1,
         kCannotOpen + "d88cut: missing: No such file or directory\n"},
        {"why not opened: a directory", {"folder", "--verbose"}, "", 1,
         kCannotOpen + "d88cut: folder: is a directory\n"},
        {"why the folder cannot be entered", {"-C", "missing", "empty", "-v"}, "", 1,
         "missing" + kCannotEnter + "d88cut: missing: No such file or directory\n"},
    };
    const bool foreign = std::getenv("D88CUT_COMMAND") != nullptr;
    for (Case& c : cases) {
        if (foreign && c.err == usage) {
            c.err = "";  // another program name; checked by status only
        }
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (foreign && c.args == std::vector<std::string>{"/dev/stdin"}) {
            continue;  // a path of this system's own, not the foreign one's
        }
        const RunResult result = runTool(dir_.path(), c.args, c.prefix);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        if (!c.err.empty() || c.status == 0) {
            EXPECT_EQ(result.err, c.err);
        }
        fs::remove(dir_ / "fifo");
    }
    EXPECT_EQ(listDir(dir_.path()),
              (std::vector<std::string>{"--", "--directoryout", "--help", "-x.d88", "empty", "folder"}));
    EXPECT_TRUE(fs::is_empty(dir_ / "folder"));
}

// Help wins over everything else given; then the version.
TEST_F(CliTest, HelpAndVersion) {
    const std::string version = std::string("d88cut ") + D88CUT_VERSION + "\n";
    const std::vector<std::vector<std::string>> helps = {
        {"--help"}, {"-h"}, {"c.d88", "-x", "-h", "more"}, {"-V", "--help", "-C"}};
    const std::vector<std::vector<std::string>> versions = {{"--version"}, {"missing", "-V"}};
    // Each system's notes: a Windows build speaks of Ctrl-C and the text
    // manual, of no signal and no manual page.
    const std::vector<std::string> notes =
        windowsBuild() ? std::vector<std::string>{"Ctrl-C", "0xC000013A", "d88cut.txt"}
                       : std::vector<std::string>{"signal", "UTF-8 terminal", "d88cut(1)"};
    const std::vector<std::string> otherNotes =
        windowsBuild() ? std::vector<std::string>{"signal", "UTF-8 terminal", "d88cut(1)"}
                       : std::vector<std::string>{"Ctrl-C", "d88cut.txt"};
    for (const auto& args : helps) {
        SCOPED_TRACE(args.front());
        const RunResult result = runTool(dir_.path(), args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        std::vector<std::string> shown = {"-h, --help",    "-V, --version", "-C, --directory DIR",
                                          "-l, --list",    "-v, --verbose", "--encoding=WHICH",
                                          "\nExit status: 0 when"};
        shown.insert(shown.end(), notes.begin(), notes.end());
        for (const std::string& text : shown) {
            EXPECT_NE(result.out.find(text), std::string::npos) << text;
        }
        for (const std::string& text : otherNotes) {
            EXPECT_EQ(result.out.find(text), std::string::npos) << text;
        }
    }
    for (const auto& args : versions) {
        const RunResult result = runTool(dir_.path(), args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, version);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_TRUE(listDir(dir_.path()).empty());
}

// Every order of the three disks, and one disk twice: each recognised disk's
// lines follow its recognition line, and the files hold exactly the catalogued bytes.
TEST_F(CliTest, CutsKnownDisksInContainerOrder) {
    const std::vector<std::vector<std::pair<DiskKind, std::uint32_t>>> containers = {
        {{DiskKind::ProgramDisk, 1}, {DiskKind::DiskA, 2}, {DiskKind::DiskB, 3}},
        {{DiskKind::DiskB, 4}, {DiskKind::DiskA, 5}, {DiskKind::ProgramDisk, 6}},
        {{DiskKind::DiskA, 7}, {DiskKind::ProgramDisk, 8}, {DiskKind::DiskB, 9}},
        {{DiskKind::DiskA, 10}, {DiskKind::DiskA, 11}},
    };
    for (const auto& kinds : containers) {
        SCOPED_TRACE(kinds.size() * 100 + kinds[0].second);
        ScopedTempDir dir;
        std::vector<Disk> disks;
        std::string expectedOut;
        std::map<std::string, Bytes> expected;
        for (const auto& [kind, seed] : kinds) {
            disks.push_back(makeKnownDisk(kind, seed));
            expectedOut += recognitionLine(kind);
            for (ExpectedFile& file : expectedFiles(disks.back(), kind)) {
                expectedOut += "cutting ... " + file.name + "\n";
                expected[file.name] = std::move(file.bytes);
            }
        }
        ASSERT_TRUE(writeFile((dir / "c.d88").string(), buildContainer(disks)));
        const RunResult result = runTool(dir.path(), {"c.d88"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, expectedOut);
        std::vector<std::string> names = listDir(dir.path());
        names.erase(std::find(names.begin(), names.end(), "c.d88"));
        EXPECT_EQ(names.size(), expected.size());
        for (const auto& [name, bytes] : expected) {
            EXPECT_EQ(fileBytes(dir / name), bytes) << name;
        }
    }
}

// Every way of naming the output folder, before and after the path, and a
// container and a folder named in Japanese: the 49 files go there and
// nothing is made anywhere else; a listing by either name is the same.
TEST_F(CliTest, CutsIntoDirectory) {
    const std::vector<std::pair<DiskKind, Disk>> disks = {
        {DiskKind::ProgramDisk, makeKnownDisk(DiskKind::ProgramDisk, 6)},
        {DiskKind::DiskA, makeKnownDisk(DiskKind::DiskA, 7)},
        {DiskKind::DiskB, makeKnownDisk(DiskKind::DiskB, 8)}};
    const Bytes container = buildContainer({disks[0].second, disks[1].second, disks[2].second});
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), container));
    ASSERT_TRUE(writeFile((dir_ / kJapaneseContainer).string(), container));
    std::map<std::string, Bytes> expected;
    for (const auto& [kind, disk] : disks) {
        for (ExpectedFile& file : expectedFiles(disk, kind)) {
            expected[file.name] = std::move(file.bytes);
        }
    }
    ASSERT_EQ(expected.size(), 49u);
    const std::vector<std::vector<std::string>> forms = {
        {"-C", "out", "c.d88"}, {"c.d88", "--directory=out"}, {"--directory", "out", "--", "c.d88"},
        {"-C", kJapaneseFolder, kJapaneseContainer}};
    // Each file gets mode 0666 less the umask, here 022 and 002 in turn.
    const std::pair<const char*, unsigned> masks[] = {{"022", 0644}, {"002", 0664}};
    std::size_t round = 0;
    for (const auto& args : forms) {
        SCOPED_TRACE(args.front() + " " + args.back());
        const std::string folder = args.back() == kJapaneseContainer ? kJapaneseFolder : "out";
        fs::remove_all(dir_ / folder);
        fs::create_directory(dir_ / folder);
        const auto& [mask, mode] = masks[round++ % 2];
        const RunResult result = runTool(dir_.path(), args, std::string("umask ") + mask + " && ");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        std::vector<std::string> names;
        for (const auto& [name, bytes] : expected) {
            EXPECT_EQ(fileBytes(dir_ / folder / name), bytes) << name;
            EXPECT_TRUE(windowsBuild() ||
                        static_cast<unsigned>(fs::status(dir_ / folder / name).permissions()) == mode)
                << name;
            names.push_back(name);
        }
        EXPECT_EQ(listDir(dir_ / folder), names);
        fs::remove_all(dir_ / folder);
        EXPECT_EQ(listDir(dir_.path()), (std::vector<std::string>{"c.d88", kJapaneseContainer}));
    }
    const RunResult listed = runTool(dir_.path(), {"--list", kJapaneseContainer});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, runTool(dir_.path(), {"--list", "c.d88"}).out);
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 49 + 3);
}

// On a terminal whose locale speaks UTF-8 the Japanese messages are UTF-8;
// through a pipe, or with another locale, they stay Shift_JIS, unless
// --encoding says otherwise. A terminal is told why things fail, what is
// wrong with a command line, and where the files went.
TEST_F(CliTest, TerminalShowsUtf8) {
    if (std::getenv("D88CUT_COMMAND") != nullptr) {
        GTEST_SKIP() << "the terminal rule is this system's; a foreign build writes to no terminal here";
    }
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(),
                          buildContainer({makeKnownDisk(DiskKind::ProgramDisk, 1),
                                          makeKnownDisk(DiskKind::DiskA, 2),
                                          makeKnownDisk(DiskKind::DiskB, 3)})));
    // Containers with no known disk, named so that a shell needs quotes or not.
    for (const std::string& name : {std::string("empty.d88"), std::string("it's.d88"),
                                    std::string("no disk.d88"), kJapaneseContainer, std::string("-x.d88")}) {
        ASSERT_TRUE(writeFile((dir_ / name).string(), {}));
    }
    // A program disk that gives PROG incomplete and not QXBIG, and one that gives nothing.
    Disk damaged = makeKnownDisk(DiskKind::ProgramDisk, 4);
    findSector(damaged, 4, 5)->data.resize(100);
    damaged.tracks[53].resize(1);
    ASSERT_TRUE(writeFile((dir_ / "damaged.d88").string(),
                          buildContainer({makeKnownDisk(DiskKind::DiskA, 5), damaged,
                                          makeKnownDisk(DiskKind::DiskB, 6)})));
    Disk bare = makeKnownDisk(DiskKind::ProgramDisk, 7);
    keepOnly(bare, {{79, 5}});
    ASSERT_TRUE(writeFile((dir_ / "bare.d88").string(), buildContainer({bare})));
    std::vector<Disk> disks = {makeKnownDisk(DiskKind::ProgramDisk, 1),
                               makeKnownDisk(DiskKind::DiskA, 2),
                               makeKnownDisk(DiskKind::DiskB, 3)};
    findSector(disks[0], 2, 3)->status = 0xB0;
    ASSERT_TRUE(writeFile((dir_ / "flagged.d88").string(), buildContainer(disks)));
    disks[2].diskSize = static_cast<std::uint32_t>(buildDisk(disks[2]).size() + 5000);
    ASSERT_TRUE(writeFile((dir_ / "short.d88").string(), buildContainer({disks[1], disks[2]})));
    fs::create_directory(dir_ / "out");
    const std::string out = (dir_ / "out").string();
    const std::string utf8Recognised = "DISK A\xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.";
    const std::string utf8CannotEnter = "none: \xE3\x83\x87\xE3\x82\xA3\xE3\x83\xAC";
    struct Case {
        const char* locale;
        std::string args;
        std::string shown;
        int status = 0;
    } cases[] = {
        {"C.UTF-8", "c.d88", utf8Recognised},
        {"C", "c.d88", "DISK A" + kRecognised.substr(0, 14)},
        {"C.UTF-8", "c.d88 | cat", "DISK A" + kRecognised.substr(0, 14)},
        {"C.UTF-8", "--encoding=shift_jis c.d88", "DISK A" + kRecognised.substr(0, 14)},
        {"C", "--encoding=utf-8 c.d88 | cat", utf8Recognised},
        {"C.UTF-8", "-C none c.d88", utf8CannotEnter, 1},
        {"C.UTF-8", "-C none c.d88", ".\r\nd88cut: none: No such file or directory\r\n", 1},
        {"C", "-C none c.d88", "none" + kCannotEnter.substr(0, 8), 1},
        {"C", "missing.d88", kCannotOpen.substr(0, 29) + "\r\nd88cut: missing.d88: No such file or directory\r\n", 1},
        {"C", "--lsit c.d88", "d88cut: unknown option '--lsit'\r\nUsage: ", 1},
        {"C", "--lsit c.d88", "[d88file]\r\nTry 'd88cut --help'.\r\n", 1},
        {"C", "c.d88 empty.d88", "d88cut: one container at a time: 2 were given\r\nUsage: ", 1},
        {"C", "-C out c.d88", "EXB015\r\nd88cut: 49 files cut into " + (dir_ / "out").string() + "\r\n"},
        {"C", "empty.d88", "d88cut: no known disk in empty.d88; see why with: d88cut -l empty.d88\r\n"},
        {"C", "-C out flagged.d88",
         "EXB015\r\nd88cut: 49 files cut into " + (dir_ / "out").string() + " (1 damaged)\r\n", 1},
        {"C", "-C out flagged.d88",
         "d88cut: PROG: 1024 bytes read with errors: C1 H0 R3 (data CRC error)\r\n", 1},
        {"C", "-C out short.d88",
         "EXB015\r\nd88cut: short.d88: the file ends 416688 bytes into disk image 2 of 421688 "
         "bytes: it was cut short\r\nd88cut: 35 files cut into "},
        // A Japanese setting: the lines for a person are Japanese.
        {"ja_JP.UTF-8", "-C out c.d88",
         "d88cut: 49 \xE5\x80\x8B\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92 " +
             (dir_ / "out").string()},
        {"ja_JP.UTF-8", "--help", "\r\n  -l, --list            \xE5\x88\x87"},
        // LC_ALL, where set, speaks over LANG.
        {"ja_JP.UTF-8 LC_ALL=C.UTF-8", "-C out c.d88", "d88cut: 49 files cut into "},
        {"C", "-C out damaged.d88", "d88cut: 48 files cut into " + out + " (1 incomplete); 1 file could not be cut\r\n", 1},
        {"C", "-C out bare.d88", "d88cut: 0 files cut into " + out + "; 14 files could not be cut\r\n", 1},
        {"C", "\"it's.d88\"", "; see why with: d88cut -l 'it'\\''s.d88'\r\n"},
        {"C", "'no disk.d88'", "; see why with: d88cut -l 'no disk.d88'\r\n"},
        {"C.UTF-8", kJapaneseContainer, "; see why with: d88cut -l " + kJapaneseContainer + "\r\n"},
        {"C", "-x.d88", "; see why with: d88cut -l -- -x.d88\r\n"},
        {"C", "- c.d88", "d88cut: one container at a time: 2 were given\r\nUsage: ", 1},
        // A file whose first read fails: the process's memory, unmapped at 0.
        {"C", "/proc/self/mem", "d88cut: no known disk in /proc/self/mem, as far as it could be read; see why", 1},
    };
    // Where the Japanese locale is not installed, no terminal shows it.
    const bool japanese = std::setlocale(LC_CTYPE, "ja_JP.UTF-8") != nullptr;
    (void)std::setlocale(LC_CTYPE, "C");
    ScopedTempDir capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.args);
        if (!japanese && std::string(c.locale).starts_with("ja")) {
            continue;
        }
        const std::string command = "cd " + shellQuote(dir_.path().string()) +
                                    " && env -u LC_ALL -u LC_CTYPE LANG=" + c.locale + " script -qec " +
                                    shellQuote(toolCommand() + " " + c.args) + " /dev/null </dev/null >" +
                                    shellQuote((capture / "shown").string());
        const int raw = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
        const Bytes shown = fileBytes(capture / "shown");
        EXPECT_NE(std::string(shown.begin(), shown.end()).find(c.shown), std::string::npos)
            << std::string(shown.begin(), shown.end());
    }
    // Into a pipe a Japanese setting changes no byte.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-v", "-C", "out", "c.d88"}, {"-l", "-v", "c.d88", "empty.d88"}, {"--lsit"}}) {
        SCOPED_TRACE(args.front());
        const RunResult english = runTool(dir_.path(), args, "env -u LC_ALL LANG=C ");
        const RunResult japaneseSetting = runTool(dir_.path(), args, "env -u LC_ALL LANG=ja_JP.UTF-8 ");
        EXPECT_EQ(japaneseSetting.out, english.out);
        EXPECT_EQ(japaneseSetting.err, english.err);
    }
}

// Started in a console of its own, as from Explorer (wine start /wait gives
// one, with input at its end at once) with a file dropped onto it (its full
// path the argument, its folder the current one), the tool ends with its
// summary, or says how it is used when given nothing to cut, and waits for
// Enter, which ends with the input. Wine shows such a console nowhere: D88CUT_CONSOLE_LOG
// has the tool copy what it writes there into a file. (Its status is no
// concern here: wine's console takes no writes, so the cutting lines are
// lost and the status is 1.)
TEST_F(CliTest, ConsoleOfItsOwn) {
    const std::string command = toolCommand();
    if (!windowsBuild() || command.rfind("wine ", 0) != 0) {
        GTEST_SKIP() << "a console of its own is Windows's, given here by wine start";
    }
    ASSERT_TRUE(writeFile((dir_ / kJapaneseContainer).string(),
                          buildContainer({makeKnownDisk(DiskKind::ProgramDisk, 1),
                                          makeKnownDisk(DiskKind::DiskA, 2),
                                          makeKnownDisk(DiskKind::DiskB, 3)})));
    ASSERT_TRUE(writeFile((dir_ / "no disk.d88").string(), {}));
    std::string here = "Z:" + dir_.path().string();
    std::replace(here.begin(), here.end(), '/', '\\');
    const std::string wait = "Press Enter to close this window.\n";
    const std::string empty = here + "\\no disk.d88";
    struct Case {
        std::vector<std::string> args;
        std::string shownLast;  // what the console shows at the end
        std::size_t files;
    } cases[] = {
        {{here + "\\" + kJapaneseContainer},
         fromShiftJis("DISK B" + kRecognised) + "d88cut: 49 files cut into " + here + "\n" + wait,
         49},
        {{empty},
         "d88cut: no known disk in " + empty + "; see why with: d88cut -l \"" + empty + "\"\n" +
             wait,
         0},
        // Several files dropped at once: each cut, one closing line, one wait.
        {{empty, here + "\\" + kJapaneseContainer},
         fromShiftJis("DISK B" + kRecognised) + "d88cut: 49 files cut into " + here + "\n" + wait,
         49},
        {{}, "The manual is d88cut.txt, beside d88cut.exe.\n" + wait, 0},
    };
    ScopedTempDir capture;
    std::string log = "Z:" + (capture / "console.log").string();
    std::replace(log.begin(), log.end(), '/', '\\');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "nothing to cut" : c.args.front());
        std::string line = "D88CUT_CONSOLE_LOG=" + shellQuote(log) + " timeout 60 wine start /d " +
                           shellQuote(here) + " /wait /unix " + command.substr(5);
        for (const std::string& arg : c.args) {
            line += " " + shellQuote(arg);
        }
        const int raw = std::system((line + " </dev/null >/dev/null 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) != 124) << "it did not end by itself";
        const Bytes shown = fileBytes(capture / "console.log");
        EXPECT_TRUE(std::string(shown.begin(), shown.end()).ends_with(c.shownLast))
            << std::string(shown.begin(), shown.end());
        EXPECT_EQ(outputs(kJapaneseContainer).size(), c.files + 1);
        for (const std::string& name : outputs(kJapaneseContainer)) {
            if (name != "no disk.d88") {
                fs::remove(dir_ / name);
            }
        }
        fs::remove(capture / "console.log");
    }
}

// Each way a disk fails to be recognised: silent in a cut, its reason in a
// listing and, with -v, on standard error, after the disk's name and media as
// shown (printable ASCII as it is, media by name).
TEST_F(CliTest, DisksThatAreNotRecognised) {
    const auto media = [](std::uint8_t type) {
        return [type](std::vector<Disk>& d) {
            putSignature(d.back(), '3');
            d.back().mediaType = type;
        };
    };
    struct Case {
        const char* name;
        std::function<void(std::vector<Disk>&)> make;
        std::string reason;
        std::string out = {};
        int status = 0;
        std::string shown = "\"MADE-UP 3\" 2D";  // the disk's name and media
        std::string after = {};  // lines that follow the disk's line
        std::size_t number = 0;  // the disk of the line, when not the last
    } cases[] = {
        {"kind digit 3", [](std::vector<Disk>& d) { putSignature(d.back(), '3'); },
         "unknown disk number 3"},
        {"kind digit NUL", [](std::vector<Disk>& d) { putSignature(d.back(), '\0'); },
         "unknown disk number \\x00"},
        {"kind digit space", [](std::vector<Disk>& d) { putSignature(d.back(), ' '); },
         "unknown disk number \\x20"},
        {"kind digit and name with ~, media 0x10",
         [](std::vector<Disk>& d) {
             putSignature(d.back(), '~');
             d.back().name = "~A~";
             d.back().mediaType = 0x10;
         },
         "unknown disk number ~", "", 0, "\"~A~\" 2DD"},
        {"media 0x20", media(0x20), "unknown disk number 3", "", 0, "\"MADE-UP 3\" 2HD"},
        {"media 0x30", media(0x30), "unknown disk number 3", "", 0, "\"MADE-UP 3\" 1D"},
        {"media 0x40", media(0x40), "unknown disk number 3", "", 0, "\"MADE-UP 3\" 1DD"},
        {"media 0x50", media(0x50), "unknown disk number 3", "", 0, "\"MADE-UP 3\" 0x50"},
        {"signature differs in one byte",
         [](std::vector<Disk>& d) { findSector(d.back(), 79, 5)->data[1010] ^= 1; }, "no signature"},
        {"signature differs in its last byte, the (",
         [](std::vector<Disk>& d) { findSector(d.back(), 79, 5)->data[1021] = ')'; }, "no signature"},
        {"name with \\ and \"",
         [](std::vector<Disk>& d) {
             putSignature(d.back(), '3');
             d.back().name = "A\\B\"C";
         },
         "unknown disk number 3", "", 0, "\"A\\\\B\\\"C\" 2D"},
        {"identification sector short",
         [](std::vector<Disk>& d) { findSector(d.back(), 79, 5)->data.resize(1023); },
         "sector C39 H1 R5 N3 holds 1023 bytes"},
        {"identification sector of another size", [](std::vector<Disk>& d) { findSector(d.back(), 79, 5)->n = 2; },
         "no sector C39 H1 R5 N3 on track side 79"},
        {"identification track missing after a recognised disk",
         [](std::vector<Disk>& d) {
             // The first disk is recognised but has nothing to cut, so its
             // signature may stay in the buffer.
             Disk first = makeFiveSectorDisk(2);
             putSignature(first, '1');
             for (int t = 0; t < 79; ++t) {
                 first.tracks[static_cast<std::size_t>(t)].clear();
             }
             d.insert(d.begin(), first);
             d.back().tracks[79].clear();
         },
         "no track side 79", "DISK A" + kRecognised, 1},
        {"stated size past the end of the file",
         [](std::vector<Disk>& d) {
             putSignature(d.back(), '~');
             d.back().diskSize = static_cast<std::uint32_t>(buildDisk(d.back()).size() + 5000);
         },
         "unknown disk number ~", "", 0, "\"MADE-UP 3\" 2D",
         "  (the file ends 416688 bytes into this disk image of 421688 bytes)\n"},
        {"more than 64 disk images",
         [](std::vector<Disk>& d) {
             putSignature(d.back(), '4');
             d.insert(d.end(), 65, Disk{"MADE-UP 3", 0x50, {}, {}});
         },
         "no track side 79", "", 0, "\"MADE-UP 3\" 0x50",
         "disks after the 64th: not read (at most 64 disk images are read)\n", 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Disk> disks = {makeKnownDisk(DiskKind::DiskB, 3)};
        c.make(disks);
        ScopedTempDir dir;
        ASSERT_TRUE(writeFile((dir / "c.d88").string(), buildContainer(disks)));
        const RunResult result = runTool(dir.path(), {"c.d88"});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        const std::string line = "disk " + std::to_string(c.number != 0 ? c.number : disks.size()) +
                                 " " + c.shown + ": not recognised: " + c.reason + "\n" + c.after;
        const RunResult listed = runTool(dir.path(), {"-l", "c.d88"});
        EXPECT_TRUE(listed.out.ends_with(line)) << listed.out;
        const RunResult verbose = runTool(dir.path(), {"c.d88", "-v"});
        EXPECT_EQ(verbose.out, c.out);
        EXPECT_TRUE(verbose.err.ends_with(line)) << verbose.err;
        EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"c.d88"});
    }
}

// Two reads of one disk in one container, in both orders: a damaged read's
// copy never replaces the whole copy that the run wrote, and is still
// reported; where the damaged read comes first, the whole one replaces it.
// What a damaged read did not deliver is 0 in its files.
TEST_F(CliTest, TwoReadsOfOneDisk) {
    const Disk intact = makeKnownDisk(DiskKind::ProgramDisk, 1);
    Disk damaged = makeKnownDisk(DiskKind::ProgramDisk, 2);
    damaged.tracks[3].clear();                        // PROG breaks off after 10,240 bytes
    putRecord(damaged, 58, 5, 0, 0x0041, 3000);       // QXOP01 runs past its one sector
    putRecord(damaged, 44, 5, 512, 0x4100, 100);      // QXGT02 is of another kind
    damaged.tracks[60].clear();                        // QXCONG and QXMINA are missing
    findSector(damaged, 46, 3)->status = 0xB0;        // FAN1 and FAN3 from a flagged sector
    // QXED01 runs on into track 60.
    const std::string err = "PROG" + kIncomplete + "QXGT02" + kCannotRead + "FAN1" + kIncomplete +
                            "FAN3" + kIncomplete + "QXOP01" + kIncomplete + "QXED01" +
                            kIncomplete + "QXCONG" + kCannotRead + "QXMINA" + kCannotRead;
    for (const bool damagedFirst : {false, true}) {
        SCOPED_TRACE(damagedFirst ? "damaged first" : "intact first");
        const RunResult result =
            cut(damagedFirst ? buildContainer({damaged, intact}) : buildContainer({intact, damaged}));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 2 + 14 + 11);
        // A name that both reads gave whole holds the later copy.
        const std::vector<ExpectedFile> later = expectedFiles(
            damagedFirst ? intact : makeKnownDisk(DiskKind::ProgramDisk, 2), DiskKind::ProgramDisk);
        for (const ExpectedFile& file : expectedFiles(intact, DiskKind::ProgramDisk)) {
            const bool failed = err.find(file.name + ": ") != std::string::npos;
            const auto same = [&](const ExpectedFile& f) { return f.name == file.name; };
            EXPECT_EQ(fileBytes(dir_ / file.name),
                      failed ? file.bytes : std::find_if(later.begin(), later.end(), same)->bytes)
                << file.name;
        }
    }
    // Alone, the damaged read gives what it can, the rest as 0.
    const RunResult alone = cut(buildContainer({damaged}));
    EXPECT_EQ(alone.err, err);
    Bytes prog = runBytes(damaged, 1, 1, 20480);
    ASSERT_EQ(prog.size(), 10240u);
    prog.resize(20480, 0);
    EXPECT_EQ(fileBytes(dir_ / "PROG"), prog);
    Bytes op01 = runBytes(damaged, 58, 5, 1024);
    op01.resize(3000, 0);
    EXPECT_EQ(fileBytes(dir_ / "QXOP01"), op01);
    // The same messages in UTF-8, wherever they go, when asked for.
    const RunResult utf8 = runTool(dir_.path(), {"--encoding=utf-8", "c.d88"});
    EXPECT_EQ(utf8.status, 1);
    EXPECT_EQ(utf8.out, fromShiftJis(alone.out));
    EXPECT_EQ(utf8.err, fromShiftJis(alone.err));

    // A damaged copy replaces an incomplete one, never the reverse, in
    // either order; of two damaged copies the later stays. -v tells which
    // copy was kept out, and which stays.
    Disk first = makeKnownDisk(DiskKind::ProgramDisk, 3);
    first.tracks[3].clear();                  // PROG incomplete
    findSector(first, 58, 5)->status = 0xB0;  // QXOP01 damaged
    findSector(first, 46, 3)->status = 0xB0;  // FAN1 and FAN3 damaged
    Disk second = makeKnownDisk(DiskKind::ProgramDisk, 4);
    findSector(second, 2, 3)->status = 0xA0;    // PROG damaged
    putRecord(second, 58, 5, 0, 0x0042, 3000);  // QXOP01 incomplete
    findSector(second, 46, 3)->status = 0xE0;   // FAN1 and FAN3 damaged
    const std::vector<ExpectedFile> ofFirst = expectedFiles(first, DiskKind::ProgramDisk);
    const std::vector<ExpectedFile> ofSecond = expectedFiles(second, DiskKind::ProgramDisk);
    const std::string each =
        "PROG" + kIncomplete + "FAN1" + kIncomplete + "FAN3" + kIncomplete + "QXOP01" + kIncomplete;
    const std::string keptOut = ": not written: the damaged copy from disk 1 stays\n";
    for (const bool secondFirst : {false, true}) {
        SCOPED_TRACE(secondFirst ? "incomplete QXOP01 first" : "incomplete PROG first");
        const RunResult result =
            cut(secondFirst ? buildContainer({second, first}) : buildContainer({first, second}));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, each + each);
        for (std::size_t i = 0; i < ofFirst.size(); ++i) {
            const std::string& name = ofFirst[i].name;
            const auto& stays = name == "PROG"     ? ofSecond
                                : name == "QXOP01" ? ofFirst
                                : secondFirst      ? ofFirst
                                                   : ofSecond;
            EXPECT_EQ(fileBytes(dir_ / name), stays[i].bytes) << name;
        }
        const RunResult verbose = runTool(dir_.path(), {"-v", "c.d88"});
        EXPECT_NE(verbose.err.find((secondFirst ? "PROG" : "QXOP01") + keptOut), std::string::npos);
        EXPECT_EQ(verbose.err.find(keptOut), verbose.err.rfind(keptOut)) << verbose.err;
    }
}

// Sectors that the drive flagged, and other sectors that fail a file, on a
// program disk: the file's line in a listing, its one message in a cut
// through a pipe, and with -v the reason that names each failing sector. A
// written file holds the container's bytes as they are, what was not read 0.
TEST_F(CliTest, FlaggedAndFailingSectors) {
    const auto flag = [](int track, int r, std::uint8_t status) {
        return [=](Disk& d) { findSector(d, track, r)->status = status; };
    };
    struct Case {
        const char* name;
        std::function<void(Disk&)> make;
        std::string file = {};    // the one file not whole, if any
        std::string listed = {};  // its listing line after "  NAME"
        std::string why = {};     // -v's reason after "d88cut: NAME: "
    } cases[] = {
        {"ID CRC error", flag(2, 3, 0xA0), "PROG", " 20480 damaged (1024 bytes read with errors)",
         "1024 bytes read with errors: C1 H0 R3 (ID CRC error)"},
        {"data CRC error", flag(2, 3, 0xB0), "PROG", " 20480 damaged (1024 bytes read with errors)",
         "1024 bytes read with errors: C1 H0 R3 (data CRC error)"},
        {"no address mark", flag(4, 5, 0xE0), "PROG",
         " 20480 damaged (1024 bytes read with errors)",
         "1024 bytes read with errors: C2 H0 R5 (no address mark)"},
        {"no data mark", flag(1, 1, 0xF0), "PROG", " 20480 damaged (1024 bytes read with errors)",
         "1024 bytes read with errors: C0 H1 R1 (no data mark)"},
        {"deleted data", flag(2, 3, 0x10)},
        {"status 0xC0", flag(2, 3, 0xC0)},
        {"flagged identification sector, and a sector that no file reads",
         [](Disk& d) { findSector(d, 79, 5)->status = findSector(d, 5, 1)->status = 0xB0; }},
        {"incomplete and damaged",
         [](Disk& d) {
             findSector(d, 2, 3)->status = 0xB0;
             d.tracks[3].clear();
         },
         "PROG", " 20480 incomplete (10240 bytes read, 1024 with errors)",
         "10240 of 20480 bytes read: C1 H0 R3 (data CRC error); C1 H1 R1 not on the disk"},
        {"a sector not on its track side",
         [](Disk& d) {
             putRecord(d, 59, 1, 0, 0x0041, 6000);
             findSector(d, 59, 1)->status = 0xF0;
             d.tracks[59].erase(d.tracks[59].begin() + 2);
         },
         "QXED01", " 6000 incomplete (2048 bytes read, 1024 with errors)",
         "2048 of 6000 bytes read: C29 H1 R1 (no data mark); C29 H1 R3 not on the disk"},
        {"a sector shorter than its size", [](Disk& d) { findSector(d, 4, 5)->data.resize(600); },
         "PROG", " 20480 incomplete (19456 bytes read)",
         "19456 of 20480 bytes read: C2 H0 R5 holds 600 bytes"},
        {"a record past the bytes read", [](Disk& d) { putRecord(d, 58, 5, 0, 0x0042, 3000); },
         "QXOP01", " 3000 incomplete (1024 bytes read)",
         "1024 of 3000 bytes read: the record is 3000 bytes long, past the 1024 bytes read for it"},
        {"missing", [](Disk& d) { d.tracks[60].erase(d.tracks[60].begin() + 2); }, "QXMINA",
         " missing", "not read: C30 H0 R3 not on the disk"},
        {"a record of another kind", [](Disk& d) { putRecord(d, 44, 5, 512, 0x4100, 100); },
         "QXGT02", " missing", "not read: C22 H0 R5 holds a record of kind 0x4100, not A or B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Disk disk = makeKnownDisk(DiskKind::ProgramDisk, 1);
        c.make(disk);
        ScopedTempDir dir;
        ASSERT_TRUE(writeFile((dir / "c.d88").string(), buildContainer({disk})));
        const RunResult listed = runTool(dir.path(), {"-l", "c.d88"});
        const RunResult result = runTool(dir.path(), {"c.d88"});
        std::string listing = "disk 1 \"MADE-UP 1\" 2D: PROGRAM DISK\n";
        std::string out = recognitionLine(DiskKind::ProgramDisk);
        const std::string message =
            c.file.empty() ? "" : c.file + (c.listed == " missing" ? kCannotRead : kIncomplete);
        for (ExpectedFile& file : expectedFiles(disk, DiskKind::ProgramDisk)) {
            const bool failed = file.name == c.file;
            const std::string size = std::to_string(file.bytes.size());
            listing += "  " + file.name + (failed ? c.listed : " " + size) + "\n";
            if (failed && c.listed == " missing") {
                EXPECT_FALSE(fs::exists(dir / file.name));
                continue;
            }
            out += "cutting ... " + file.name + "\n";
            file.bytes.resize(failed ? std::stoul(c.listed) : file.bytes.size(), 0);
            EXPECT_EQ(fileBytes(dir / file.name), file.bytes) << file.name;
        }
        const int status = c.file.empty() ? 0 : 1;
        EXPECT_EQ(listed.status, status);
        EXPECT_EQ(listed.out, listing);
        EXPECT_EQ(listed.err, "");
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, message);
        const RunResult verbose = runTool(dir.path(), {"-v", "c.d88"});
        EXPECT_EQ(verbose.out, out);
        EXPECT_EQ(verbose.err,
                  message + (c.file.empty() ? "" : "d88cut: " + c.file + ": " + c.why + "\n"));
    }
}

// A listing says what a cut would give, file by file, and touches nothing:
// the three disks intact, then a program disk without the sectors of QXBIG
// and with a short last sector in PROG, which a cut reports the same way.
TEST_F(CliTest, ListingSaysWhatACutWouldGive) {
    std::vector<Disk> disks = {makeKnownDisk(DiskKind::ProgramDisk, 1), makeKnownDisk(DiskKind::DiskA, 2),
                               makeKnownDisk(DiskKind::DiskB, 3)};
    std::string listing;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        const auto kind = static_cast<DiskKind>(i);
        listing += "disk " + std::to_string(i + 1) + " \"MADE-UP " + std::to_string(i + 1) + "\" 2D: " +
                   recognitionLine(kind).substr(0, recognitionLine(kind).size() - kRecognised.size()) + "\n";
        for (const ExpectedFile& file : expectedFiles(disks[i], kind)) {
            listing += "  " + file.name + " " + std::to_string(file.bytes.size()) + "\n";
        }
    }
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), buildContainer(disks)));
    ASSERT_TRUE(writeFile((dir_ / "PROG").string(), Bytes{'o'}));
    ASSERT_TRUE(writeFile((dir_ / ".QXBIG.d88cut").string(), Bytes{'t'}));
    RunResult result = runTool(dir_.path(), {"--list", "c.d88", "-C", "missing"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, listing);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(listDir(dir_.path()), (std::vector<std::string>{".QXBIG.d88cut", "PROG", "c.d88"}));
    EXPECT_EQ(fileBytes(dir_ / "PROG"), Bytes{'o'});

    Disk& program = disks[0];
    findSector(program, 4, 5)->data.resize(100);
    program.tracks[53].resize(1);
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), buildContainer({program})));
    result = runTool(dir_.path(), {"c.d88", "-l"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("\n  PROG 20480 incomplete (19456 bytes read)\n  QXGT01 "), std::string::npos);
    EXPECT_NE(result.out.find("\n  QXBIG missing\n  QXFIGH "), std::string::npos);
    result = runTool(dir_.path(), {"c.d88"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "PROG" + kIncomplete + "QXBIG" + kCannotRead);
    // The temporary file a killed run left under QXBIG is gone.
    EXPECT_EQ(listDir(dir_.path()).size(), 13u + 1);
    EXPECT_FALSE(fs::exists(dir_ / ".QXBIG.d88cut"));
}

// JSON's text object as its bytes: "text" as it is, "bytes" from base64.
std::string textOf(const nlohmann::json& text) {
    if (text.contains("text")) {
        return text.at("text");
    }
    const std::string_view digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned group = 0;
    int bits = 0;
    for (const char ch : text.at("bytes").get<std::string>()) {
        group = (group << 6) | static_cast<unsigned>(digits.find(ch) & 0x3F);
        if ((bits += 6) >= 8 && ch != '=') {
            bytes += static_cast<char>((group >> (bits -= 8)) & 0xFF);
        }
    }
    return bytes;
}

// True where `actual` holds every field of `expected`, as it is there: a
// reader's view of JSON whose objects may gain fields.
bool covers(const nlohmann::json& actual, const nlohmann::json& expected) {
    if (expected.is_array()) {
        bool all = actual.is_array() && actual.size() == expected.size();
        for (std::size_t i = 0; all && i < expected.size(); ++i) {
            all = covers(actual[i], expected[i]);
        }
        return all;
    }
    if (expected.is_object()) {
        for (const auto& [key, value] : expected.items()) {
            if (!actual.contains(key) || !covers(actual.at(key), value)) {
                return false;
            }
        }
        return actual.is_object();
    }
    return actual == expected;
}

// The text listing that the JSON Lines `out` of the containers `paths` tell,
// each field the text shows taken from the JSON. On the way, each line is
// checked to be JSON, and each container's end: its counts and `statuses`.
std::string listingOf(const std::string& out, const std::vector<std::string>& paths,
                      const std::vector<int>& statuses) {
    std::string text;
    std::string diskEnd;  // the line that follows a disk's files
    std::size_t containers = 0;
    std::size_t ends = 0;
    int disks = 0;
    int knownDisks = 0;
    std::map<std::string, int> files;
    std::istringstream in(out);
    for (std::string json; std::getline(in, json);) {
        const nlohmann::json line = nlohmann::json::parse(json, nullptr, false);
        if (line.is_discarded() || line.size() != 2) {
            ADD_FAILURE() << json;
            return {};
        }
        const std::string type = line.at("type");
        const nlohmann::json& d = line.at("data");
        const auto str = [&](const char* key) {
            return d.at(key).is_string() ? d.at(key).get<std::string>() : d.at(key).dump();
        };
        text += type != "file" ? std::exchange(diskEnd, "") : "";
        if (type == "container") {
            EXPECT_EQ(textOf(d.at("path")), paths.at(containers));
            if (paths.size() > 1) {
                text += (containers > 0 ? "\n" : "") + textOf(d.at("path")) + ":\n";
            }
            ++containers;
            disks = knownDisks = 0;
            files = {{"whole", 0}, {"damaged", 0}, {"incomplete", 0}, {"missing", 0}};
        } else if (type == "disk") {
            std::string name;
            for (const char ch : textOf(d.at("name"))) {
                char hex[8];
                (void)std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(ch));
                name += ch == '"' || ch == '\\'   ? std::string{'\\', ch}
                        : ch >= 0x20 && ch < 0x7F ? std::string(1, ch)
                                                  : hex;
            }
            const nlohmann::json& media = d.at("media");
            char byte[8];
            (void)std::snprintf(byte, sizeof byte, "0x%02X", media.at("byte").get<unsigned>());
            const std::string known = d.at("known").is_null() ? "" : str("known");
            text += "disk " + str("number") + " \"" + name + "\" " +
                    (media.at("name").is_null() ? byte : media.at("name").get<std::string>()) +
                    ": " + (known.empty() ? "not recognised: " + str("reason") : known) + "\n";
            if (!d.at("truncated_at").is_null()) {
                diskEnd = "  (the file ends " + str("truncated_at") +
                          " bytes into this disk image of " + str("size") + " bytes)\n";
            }
            ++disks;
            knownDisks += known.empty() ? 0 : 1;
        } else if (type == "file") {
            const std::string state = str("state");
            const std::string errors = str("read_with_errors");
            ++files[state];
            text += "  " + str("name") + " " + (state == "missing" ? "missing" : str("size"));
            if (state == "damaged") {
                text += " damaged (" + errors + " bytes read with errors)";
            } else if (state == "incomplete") {
                text += " incomplete (" + str("read") + " bytes read" +
                        (errors == "0" ? ")" : ", " + errors + " with errors)");
            }
            text += "\n";
        } else if (type == "note" && str("kind") == "no_disk_image") {
            text += "no disk image: the file holds " + str("file_size") +
                    " bytes, fewer than a disk header (" + str("header_size") + ")\n";
        } else if (type == "note" && str("kind") == "disks_beyond_limit") {
            text += "disks after the " + str("limit") + "th: not read (at most " + str("limit") +
                    " disk images are read)\n";
        } else if (type == "end") {
            EXPECT_TRUE(covers(d, {{"status", statuses.at(ends++)},
                                   {"disks", disks},
                                   {"known_disks", knownDisks},
                                   {"files", files}}))
                << json;
        }
    }
    EXPECT_EQ(ends, paths.size());
    return text;
}

// Containers listed together as text and as JSON Lines: intact, with flagged
// and failing sectors and a disk named in Shift_JIS, cut short, of more than
// 64 disks, empty, and missing. Every line of the text is told by the JSON,
// field by field, and every end by the lines before it.
TEST_F(CliTest, JsonTellsWhatTheListingTells) {
    std::vector<Disk> disks = {makeKnownDisk(DiskKind::ProgramDisk, 1),
                               makeKnownDisk(DiskKind::DiskA, 2),
                               makeKnownDisk(DiskKind::DiskB, 3)};
    ASSERT_TRUE(writeFile((dir_ / "intact.d88").string(), buildContainer(disks)));
    Bytes cutShort = buildContainer({disks[1], disks[2]});
    truncateTo(cutShort, cutShort.size() - 200000);
    ASSERT_TRUE(writeFile((dir_ / "short.d88").string(), cutShort));
    Disk unknown = makeFiveSectorDisk(4);
    unknown.name = "\x83\x51\x81\x5B\x83\x80";    // "ゲーム" in Shift_JIS
    findSector(disks[0], 2, 3)->status = 0xB0;    // PROG damaged
    putRecord(disks[0], 59, 1, 0, 0x0041, 6000);  // QXED01 incomplete and damaged
    findSector(disks[0], 59, 1)->status = 0xF0;
    disks[0].tracks[59].erase(disks[0].tracks[59].begin() + 2);
    disks[0].tracks[60].erase(disks[0].tracks[60].begin() + 2);  // QXMINA missing
    ASSERT_TRUE(writeFile((dir_ / "flagged.d88").string(), buildContainer({unknown, disks[0]})));
    ASSERT_TRUE(writeFile((dir_ / "many.d88").string(),
                          buildContainer(std::vector<Disk>(66, Disk{"MADE-UP", 0x50, {}, {}}))));
    ASSERT_TRUE(writeFile((dir_ / "empty.d88").string(), {}));
    std::vector<std::string> args = {"--list",   "intact.d88", "flagged.d88", "short.d88",
                                     "many.d88", "empty.d88",  "missing.d88"};
    const RunResult listed = runTool(dir_.path(), args);
    EXPECT_EQ(listed.status, 1);
    EXPECT_EQ(listed.err, kCannotOpen);
    args.front() = "--json";
    const RunResult json = runTool(dir_.path(), args);
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err, kCannotOpen);
    EXPECT_EQ(listingOf(json.out, {args.begin() + 1, args.end()}, {0, 1, 0, 0, 0, 1}), listed.out);
    // What the text does not show: the name's bytes, the failing sectors,
    // why a container cannot be opened.
    const char* const shownInJsonAlone[] = {
        R"({"type":"disk","data":{"number":1,"offset":0,"size":416688,"name":{"bytes":"g1GBW4OA"},)"
        R"("media":{"byte":0,"name":"2D"},"known":null,"reason":"no signature",)"
        R"("reason_code":"no_signature","truncated_at":null}})",
        R"({"type":"file","data":{"disk":2,"name":"PROG","size":20480,"state":"damaged",)"
        R"("read":20480,"read_with_errors":1024,"sectors":[{"c":1,"h":0,"r":3,)"
        R"("problem":"data CRC error","code":"data_crc_error"}]}})",
        R"({"type":"file","data":{"disk":2,"name":"QXED01","size":6000,"state":"incomplete",)"
        R"("read":2048,"read_with_errors":1024,"sectors":[{"c":29,"h":1,"r":1,)"
        R"("problem":"no data mark","code":"no_data_mark"},{"c":29,"h":1,"r":3,)"
        R"("problem":"not on the disk","code":"not_on_disk"}]}})",
        R"({"type":"file","data":{"disk":2,"name":"QXMINA","size":null,"state":"missing",)"
        R"("read":0,"read_with_errors":0,"sectors":[{"c":30,"h":0,"r":3,)"
        R"("problem":"not on the disk"}]}})",
        R"({"type":"note","data":{"kind":"cannot_open","reason":"No such file or directory"}})"};
    for (const char* expected : shownInJsonAlone) {
        bool found = false;
        std::istringstream in(json.out);
        for (std::string line; !found && std::getline(in, line);) {
            found = covers(nlohmann::json::parse(line, nullptr, false), nlohmann::json::parse(expected));
        }
        EXPECT_TRUE(found) << expected;
    }
}

// Cuts `disks` (the container at `argument`, from `dir`) where some files
// cannot be written, and checks what must hold all the same: every entry's
// cutting line in order, each followed by a message if its file was not
// written, status 1 when any was not, each name holding the last version
// written to it or, if none was, what it held before (`earlier`; absent when
// not there before), and nothing else in `dir` but `others`. The result
// names the files not written, in order.
std::vector<std::string> cutAndCheck(const fs::path& dir, const std::string& argument,
                                     const std::vector<std::pair<DiskKind, Disk>>& disks,
                                     const std::map<std::string, Bytes>& earlier,
                                     const std::set<std::string>& others) {
    const RunResult result = runTool(dir, {argument}, "", true);
    std::string console;
    std::vector<std::string> failed;
    std::map<std::string, Bytes> held = earlier;
    for (const auto& [kind, disk] : disks) {
        console += recognitionLine(kind);
        for (const ExpectedFile& file : expectedFiles(disk, kind)) {
            console += "cutting ... " + file.name + "\n";
            const std::string message = file.name + kCannotWrite;
            if (result.out.compare(console.size(), message.size(), message) == 0) {
                failed.push_back(file.name);
                console += message;
            } else {
                held[file.name] = file.bytes;
            }
        }
    }
    EXPECT_EQ(result.status, failed.empty() ? 0 : 1);
    EXPECT_EQ(result.out, console);
    std::set<std::string> left = others;
    for (const auto& [name, bytes] : held) {
        left.insert(name);
        EXPECT_EQ(fileBytes(dir / name), bytes) << name;
    }
    // No temporary, kept or partial file stays behind.
    EXPECT_EQ(listDir(dir), std::vector<std::string>(left.begin(), left.end()));
    return failed;
}

// Output names that are directories, one of them not empty: those files
// fail, the directories stay as they were, and the rest is still cut.
TEST_F(CliTest, OutputNameThatIsADirectory) {
    const Disk disk = makeKnownDisk(DiskKind::DiskA, 3);
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), buildContainer({disk})));
    fs::create_directory(dir_ / "EXA003");
    fs::create_directory(dir_ / "QXBG02");
    ASSERT_TRUE(writeFile((dir_ / "QXBG02" / "inside").string(), Bytes{'i', 'n'}));
    const std::vector<std::string> failed = cutAndCheck(
        dir_.path(), "c.d88", {{DiskKind::DiskA, disk}}, {}, {"c.d88", "EXA003", "QXBG02"});
    EXPECT_EQ(failed, (std::vector<std::string>{"QXBG02", "EXA003"}));
    EXPECT_TRUE(fs::is_empty(dir_ / "EXA003"));
    EXPECT_EQ(listDir(dir_ / "QXBG02"), std::vector<std::string>{"inside"});
    EXPECT_EQ(fileBytes(dir_ / "QXBG02" / "inside"), (Bytes{'i', 'n'}));
}

// A current directory where no file can be created: every entry is still
// tried and reported, status 1, and the files already there are untouched.
void expectNothingWritten(const fs::path& dir, const Disk& disk, const Bytes& earlier) {
    const std::vector<std::string> failed = cutAndCheck(
        dir, "c.d88", {{DiskKind::ProgramDisk, disk}}, {{"QXGT01", earlier}}, {"c.d88", "QXGT01"});
    EXPECT_EQ(failed.size(), 14u);
}

TEST_F(CliTest, DirectoryWithoutWritePermission) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root, which writes whatever the permissions say; "
                        "DirectoryMountedReadOnly covers this case";
    }
    const Disk disk = makeKnownDisk(DiskKind::ProgramDisk, 4);
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), buildContainer({disk})));
    ASSERT_TRUE(writeFile((dir_ / "QXGT01").string(), Bytes(300, 'o')));
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
    expectNothingWritten(dir_.path(), disk, Bytes(300, 'o'));
}

TEST_F(CliTest, DirectoryMountedReadOnly) {
    const Disk disk = makeKnownDisk(DiskKind::ProgramDisk, 5);
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), buildContainer({disk})));
    ASSERT_TRUE(writeFile((dir_ / "QXGT01").string(), Bytes(300, 'o')));
    const ScopedMount readOnly(dir_.path(), dir_.path().c_str(), nullptr, MS_BIND | MS_RDONLY, "");
    if (!readOnly.why().empty()) {
        GTEST_SKIP() << "cannot bind the directory read-only (needs root with the right to mount): "
                     << readOnly.why();
    }
    ASSERT_FALSE(writeFile((dir_ / "probe").string(), Bytes{1}));
    expectNothingWritten(dir_.path(), disk, Bytes(300, 'o'));
}

// A small file system that fills up as the program disk is cut, after an
// earlier PROG or after a program disk this run cut itself: the file that
// does not fit is reported and the version before it stays, and the smaller
// files after it that still fit are written.
TEST_F(CliTest, FileSystemRunsFull) {
    struct Case {
        const char* what;
        std::vector<std::pair<DiskKind, Disk>> disks;
        std::map<std::string, Bytes> earlier;
    };
    const std::vector<Case> cases = {
        {"PROG there before",
         {{DiskKind::DiskA, makeKnownDisk(DiskKind::DiskA, 6)},
          {DiskKind::ProgramDisk, makeKnownDisk(DiskKind::ProgramDisk, 7)}},
         {{"PROG", Bytes(100, 'o')}}},
        {"PROG of an earlier disk",
         {{DiskKind::ProgramDisk, makeKnownDisk(DiskKind::ProgramDisk, 8)},
          {DiskKind::ProgramDisk, makeKnownDisk(DiskKind::ProgramDisk, 9)}},
         {}},
    };
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const auto pages = [&](std::size_t bytes) { return (bytes + page - 1) / page; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Disk> disks;
        for (const auto& [kind, disk] : c.disks) {
            disks.push_back(disk);
        }
        const fs::path dir = dir_ / "case";
        fs::remove_all(dir);
        fs::create_directory(dir);
        ASSERT_TRUE(writeFile((dir / "c.d88").string(), buildContainer(disks)));
        // Room for the earlier files, those of every disk but the last and
        // four pages more: PROG needs five, each of the next four files one.
        std::size_t room = 4;
        for (const auto& [name, bytes] : c.earlier) {
            room += pages(bytes.size());
        }
        for (std::size_t i = 0; i + 1 < c.disks.size(); ++i) {
            for (const ExpectedFile& file : expectedFiles(c.disks[i].second, c.disks[i].first)) {
                room += pages(file.bytes.size());
            }
        }
        const fs::path full = dir / "full";
        fs::create_directory(full);
        const ScopedMount tmpfs(full, "tmpfs", "tmpfs", 0, "size=" + std::to_string(room * page));
        if (!tmpfs.why().empty()) {
            GTEST_SKIP() << "cannot mount a small tmpfs (needs root with the right to mount): "
                         << tmpfs.why();
        }
        for (const auto& [name, bytes] : c.earlier) {
            ASSERT_TRUE(writeFile((full / name).string(), bytes));
        }
        const std::vector<std::string> failed = cutAndCheck(full, "../c.d88", c.disks, c.earlier, {});
        ASSERT_FALSE(failed.empty());
        EXPECT_EQ(failed.front(), "PROG");
        for (const char* name : {"QXGT01", "QXGT02", "FAN1", "FAN3"}) {
            EXPECT_EQ(std::count(failed.begin(), failed.end(), name), 0) << name;
        }
    }
}

TEST_F(CliTest, ExistingFilesAndLinksAreReplaced) {
    const Disk disk = makeKnownDisk(DiskKind::DiskB, 3);
    ScopedTempDir elsewhere;
    ASSERT_TRUE(writeFile((dir_ / "QXBG07").string(), Bytes(100000, 'x')));
    ASSERT_TRUE(writeFile((elsewhere / "target").string(), Bytes{'k', 'e', 'e', 'p'}));
    fs::create_symlink(elsewhere / "target", dir_ / "QXBG08");
    fs::create_symlink(elsewhere / "nowhere", dir_ / "QXBG09");
    const RunResult result = cut(buildContainer({disk}));
    EXPECT_EQ(result.status, 0);
    for (const ExpectedFile& file : expectedFiles(disk, DiskKind::DiskB)) {
        EXPECT_FALSE(fs::is_symlink(dir_ / file.name)) << file.name;
        EXPECT_EQ(fileBytes(dir_ / file.name), file.bytes) << file.name;
    }
    EXPECT_EQ(fileBytes(elsewhere / "target"), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(listDir(elsewhere.path()), std::vector<std::string>{"target"});
}

// What stands under the temporary names: a file that a killed run left is
// taken over where this run writes the name and removed where it does not,
// one that another run holds is left alone, a folder, a second name of
// another file or a symbolic link (never followed) makes its file fail (and
// -v says why), and other names are no concern. Each file holds the later
// disk's bytes.
TEST_F(CliTest, TemporaryNamesThatAreTaken) {
    const Disk earlier = makeKnownDisk(DiskKind::DiskB, 4);
    const Disk later = makeKnownDisk(DiskKind::DiskB, 5);
    for (const char* name : {".QXBG07.d88cut", ".PROG.d88cut", ".QXBG09.d88cut-old", ".FAN1.d88cut"}) {
        ASSERT_TRUE(writeFile((dir_ / name).string(), Bytes{'o', 'l', 'd'}));
    }
    fs::create_directory(dir_ / ".QXBG08.d88cut");
    fs::create_hard_link(dir_ / ".QXBG09.d88cut-old", dir_ / ".QXBG10.d88cut");
    // Another run at work on FAN1, as far as the locks tell; a Windows build
    // sees no lock of this system's, and follows a link of this system's.
    const bool windows = windowsBuild();
    if (!windows) {
        fs::create_symlink(".QXBG09.d88cut-old", dir_ / ".QXBG11.d88cut");
    }
    const int held = ::open((dir_ / ".FAN1.d88cut").c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(held, F_SETLK, &lock), 0);
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), buildContainer({earlier, later})));
    const RunResult result = runTool(dir_.path(), {"-v", "c.d88"});
    (void)::close(held);
    EXPECT_EQ(result.status, 1);
    std::string err = result.err;
    const std::string folder = "d88cut: .QXBG08.d88cut: ";
    // The folder's reason is the system's own words, which on Windows are not pinned here.
    for (std::size_t at = 0; windows && (at = err.find(folder, at)) != std::string::npos;
         at += folder.size()) {
        err.erase(at + folder.size(), err.find('\n', at) - at - folder.size());
    }
    const std::string twice =
        "QXBG08" + kCannotWrite + folder + (windows ? "" : "Is a directory") + "\n" + "QXBG10" +
        kCannotWrite + "d88cut: .QXBG10.d88cut: is in the way of the temporary file\n" +
        (windows ? "" : "QXBG11" + kCannotWrite + "d88cut: .QXBG11.d88cut: Too many levels of symbolic links\n");
    EXPECT_EQ(err, twice + twice);
    std::vector<std::string> expected = {".QXBG08.d88cut", ".QXBG09.d88cut-old", ".QXBG10.d88cut"};
    if (!windows) {
        expected.insert(expected.end(), {".FAN1.d88cut", ".QXBG11.d88cut"});
    }
    for (const ExpectedFile& file : expectedFiles(later, DiskKind::DiskB)) {
        if (file.name != "QXBG08" && file.name != "QXBG10" && (windows || file.name != "QXBG11")) {
            EXPECT_EQ(fileBytes(dir_ / file.name), file.bytes) << file.name;
            expected.push_back(file.name);
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(outputs(), expected);
    EXPECT_TRUE(fs::is_empty(dir_ / ".QXBG08.d88cut"));
    EXPECT_EQ(fileBytes(dir_ / ".QXBG09.d88cut-old"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(fileBytes(dir_ / ".QXBG10.d88cut"), (Bytes{'o', 'l', 'd'}));
}

// A run that waits for a temporary file that another process holds and
// never lets go (the test itself): an interrupt ends it within a moment, by
// the signal, and the other's file stays as it is; one that was ignored when
// the run started (under nohup) stays ignored, and once the file is let go
// the run cuts as usual.
TEST_F(CliTest, InterruptWhileWaitingForAnotherRun) {
    if (windowsBuild()) {
        GTEST_SKIP() << "a Windows build sees no lock of this system's";
    }
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(),
                          buildContainer({makeKnownDisk(DiskKind::ProgramDisk, 1)})));
    const std::string held = (dir_ / ".PROG.d88cut").string();
    struct Case {
        const char* name;
        int signal;
        std::string prefix = {};
    } cases[] = {{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP},
                 {"SIGHUP under nohup", SIGHUP, "nohup "}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeFile(held, Bytes{'o', 't', 'h', 'e', 'r'}));
        const int other = ::open(held.c_str(), O_RDWR | O_CLOEXEC);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        ASSERT_EQ(::fcntl(other, F_SETLK, &lock), 0);
        const std::string command = "cd " + shellQuote(dir_.path().string()) + " && exec " +
                                    c.prefix + toolCommand() + " c.d88 >/dev/null 2>&1";
        // Spawned, so that the held file is closed in the child (on exec)
        // before anything looks at it.
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ), 0);
        // Waits at most `seconds` for the run to end: its wait status, or -1.
        const auto ended = [pid](double seconds) {
            int status = 0;
            for (int waited = 0; waited < seconds * 100; ++waited) {
                if (::waitpid(pid, &status, WNOHANG) == pid) {
                    return status;
                }
                ::usleep(10000);
            }
            return -1;
        };
        // Waiting once it has the held file open, unless it ended first.
        const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
        bool waiting = false;
        int status = -1;
        for (int i = 0; i < 6000 && !waiting && status == -1; ++i) {
            std::error_code error;
            for (auto it = fs::directory_iterator(fds, error); !error && it != fs::directory_iterator();
                 it.increment(error)) {
                waiting = waiting || fs::read_symlink(it->path(), error) == held;
            }
            status = ended(0.01);
        }
        EXPECT_TRUE(waiting);
        const auto sent = std::chrono::steady_clock::now();
        if (status == -1) {
            (void)::kill(pid, c.signal);
            status = ended(c.prefix.empty() ? 5 : 0.5);
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
        (void)::close(other);
        if (status == -1 && !c.prefix.empty()) {
            status = ended(60);
        }
        if (status == -1) {
            (void)::kill(pid, SIGKILL);
            (void)::waitpid(pid, &status, 0);
            ADD_FAILURE() << "it did not end";
        }
        if (c.prefix.empty()) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
            std::printf("%s ended the waiting run in %.3f s\n", c.name, took.count());
            EXPECT_EQ(outputs(), (std::vector<std::string>{".PROG.d88cut"}));
            EXPECT_EQ(fileBytes(held), (Bytes{'o', 't', 'h', 'e', 'r'}));
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_EQ(outputs().size(), 14u);
            EXPECT_FALSE(fs::exists(held));
            for (const std::string& name : outputs()) {
                fs::remove(dir_ / name);
            }
        }
    }
}

// An output name that is the container itself, by any path: never written.
TEST_F(CliTest, ContainerIsNeverOverwritten) {
    const Disk disk = makeKnownDisk(DiskKind::ProgramDisk, 5);
    const Bytes container = buildContainer({disk});
    struct Case {
        const char* name;
        std::string file;       // where the container is written
        std::string argument;   // how the tool is given it
        std::function<void(const fs::path&)> links;
        std::vector<std::string> refused;
        std::string into = {};  // the output folder given with -C, if any
    } cases[] = {
        {"named like an output", "PROG", "PROG", {}, {"PROG"}},
        {"spelt another way", "PROG", "", {}, {"PROG"}},
        {"cut into its folder", "in/PROG", "in/PROG", {}, {"PROG"}, "in"},
        {"hard and symbolic links",
         "c.d88", "c.d88",
         [](const fs::path& d) {
             fs::create_hard_link(d / "c.d88", d / "QXGT01");
             fs::create_symlink("c.d88", d / "FAN1");
         },
         {"QXGT01", "FAN1"}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempDir dir;
        const fs::path out = dir / c.into;
        fs::create_directories(out);
        ASSERT_TRUE(writeFile((dir / c.file).string(), container));
        if (c.links) {
            c.links(dir.path());
        }
        if (c.argument.empty()) {
            c.argument = "./../" + dir.path().filename().string() + "/PROG";
        }
        const RunResult result =
            runTool(dir.path(), c.into.empty() ? std::vector<std::string>{c.argument}
                                               : std::vector<std::string>{"-C", c.into, c.argument});
        EXPECT_EQ(result.status, 1);
        std::string err;
        for (const std::string& name : c.refused) {
            err += name + kCannotWrite;
            EXPECT_NE(result.out.find("cutting ... " + name + "\n"), std::string::npos);
            EXPECT_EQ(fileBytes(out / name), container) << name;
        }
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(fileBytes(dir / c.file), container);
        EXPECT_EQ(listDir(out).size(), 14u + (c.refused.front() == "PROG" ? 0 : 1));
    }
}

// A container "prog" beside the output "PROG": where names ignore letter case
// (Windows) they are one file, which is refused; elsewhere PROG is cut as
// usual. Either way the container keeps its bytes.
TEST_F(CliTest, ContainerNamedInOtherLetterCase) {
    const Disk disk = makeKnownDisk(DiskKind::ProgramDisk, 6);
    const Bytes container = buildContainer({disk});
    const RunResult result = cut(container, "prog");
    EXPECT_EQ(fileBytes(dir_ / "prog"), container);
    if (std::getenv("D88CUT_COMMAND") == nullptr) {
        EXPECT_EQ(result.status, 0);  // the native build on this system's case-sensitive names
    }
    const bool refused = result.status == 1;
    EXPECT_EQ(result.err, refused ? "PROG" + kCannotWrite : "");
    std::vector<std::string> expected;
    for (const ExpectedFile& file : expectedFiles(disk, DiskKind::ProgramDisk)) {
        if (file.name == "PROG" && refused) {
            continue;
        }
        expected.push_back(file.name);
        EXPECT_EQ(fileBytes(dir_ / file.name), file.bytes) << file.name;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(outputs("prog"), expected);
}

// A name that is the container is refused for every disk that cuts it (and
// -v says why), while the names the first disk wrote are replaced with the
// second disk's files.
TEST_F(CliTest, ContainerIsRefusedForEveryDisk) {
    const Disk first = makeKnownDisk(DiskKind::ProgramDisk, 1);
    const Disk second = makeKnownDisk(DiskKind::ProgramDisk, 2);
    const Bytes container = buildContainer({first, second});
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), container));
    fs::create_hard_link(dir_ / "c.d88", dir_ / "FAN1");
    const RunResult result = runTool(dir_.path(), {"-v", "c.d88"});
    EXPECT_EQ(result.status, 1);
    const std::string why = "d88cut: FAN1: is the container being read\n";
    EXPECT_EQ(result.err, "FAN1" + kCannotWrite + why + "FAN1" + kCannotWrite + why);
    EXPECT_EQ(fileBytes(dir_ / "c.d88"), container);
    EXPECT_EQ(fileBytes(dir_ / "FAN1"), container);
    for (const ExpectedFile& file : expectedFiles(second, DiskKind::ProgramDisk)) {
        if (file.name != "FAN1") {
            EXPECT_EQ(fileBytes(dir_ / file.name), file.bytes) << file.name;
        }
    }
}

// Progress lines that cannot be written fail the run, though every file is cut.
TEST_F(CliTest, StandardOutputThatFails) {
    const Disk disk = makeKnownDisk(DiskKind::DiskA, 4);
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), buildContainer({disk})));
    const std::string command = "cd " + shellQuote(dir_.path().string()) + " && " + toolCommand() +
                                " c.d88 >/dev/full 2>/dev/null";
    const int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
    for (const ExpectedFile& file : expectedFiles(disk, DiskKind::DiskA)) {
        EXPECT_EQ(fileBytes(dir_ / file.name), file.bytes) << file.name;
    }
}

TEST_F(CliTest, RealImagesAreNotRecognised) {
    const std::pair<const char*, const char*> images[] = {
        {"d88dmp_HuBASIC_Format_2D.d88", "by_github_ORYZAP"},
        {"sosweb_SOS_TEST.d88", ""},
        {"x1sgl_x1balls.d88", "x1balls"},
    };
    for (const auto& [file, name] : images) {
        SCOPED_TRACE(file);
        const std::string path = std::string(D88CUT_REALDATA_DIR) + "/" + file;
        const std::string line =
            "disk 1 \"" + std::string(name) + "\" 2D: not recognised: no sector C39 H1 R5 N3 on track side 79\n";
        for (const char* option : {"", "-v", "-l"}) {
            const RunResult result =
                runTool(dir_.path(), *option != '\0' ? std::vector<std::string>{path, option}
                                                       : std::vector<std::string>{path});
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(result.out, std::string(option) == "-l" ? line : "");
            EXPECT_EQ(result.err, std::string(option) == "-v" ? line : "");
        }
        EXPECT_TRUE(listDir(dir_.path()).empty());
    }
}

}  // namespace
}  // namespace d88test
