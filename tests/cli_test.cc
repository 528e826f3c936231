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
// Disk names: "ゲーム ディスク" in Shift_JIS, as most of these disks are named,
// and one with control bytes, which no screen shows as they are.
const std::string kShiftJisName = "\x83\x51\x81\x5B\x83\x80 \x83\x66\x83\x42\x83\x58\x83\x4E";
const std::string kShiftJisNameText =
    "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0 \xE3\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF";
const std::string kControlName = "A\x01\x1B[2J";

// True when the tool under test is a Windows build (run by wine).
bool windowsBuild() {
    const char* command = std::getenv("D88CUT_COMMAND");
    return command != nullptr && std::string(command).find(".exe") != std::string::npos;
}

// What a terminal shows of the tool run in `dir` with `args` (words for the
// shell) under LANG=`locale` (and any settings after it), and its status:
// standard output and error together in `out`, each line ended by CR LF.
RunResult onTerminal(const fs::path& dir, const std::string& locale, const std::string& args) {
    ScopedTempDir capture;
    const std::string command = "cd " + shellQuote(dir.string()) +
                                " && env -u LC_ALL -u LC_CTYPE LANG=" + locale + " script -qec " +
                                shellQuote(toolCommand() + " " + args) + " /dev/null </dev/null >" +
                                shellQuote((capture / "shown").string());
    const int raw = std::system(command.c_str());
    const Bytes shown = readFile((capture / "shown").string()).value_or(Bytes{});
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(shown.begin(), shown.end()), ""};
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
        // Several containers are one run: one that cannot be opened is told,
        // and the run goes on; the folder is entered once.
        {"two containers not there", {"a", "b"}, "", 1, kCannotOpen + kCannotOpen},
        {"one of two containers not there", {"missing", "empty"}, "", 1, kCannotOpen},
        {"two containers into a folder", {"-C", "folder", "empty", "empty"}, "", 0, ""},
        {"two containers, folder missing", {"-C", "missing", "empty", "empty"}, "", 1,
         "missing" + kCannotEnter},
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
        {"--json with --list", {"--json", "empty", "-l"}, "", 0, "",
         R"({"type":"container","data":{"container":1,"path":{"text":"empty"},"size":0}})" "\n"
         R"({"type":"note","data":{"kind":"no_disk_image","container":1,"file_size":0,"header_size":688}})" "\n"
         R"({"type":"end","data":{"container":1,"status":0,"disks":0,"known_disks":0,)"
         R"("files":{"whole":0,"damaged":0,"incomplete":0,"missing":0}}})" "\n"
         R"({"type":"summary","data":{"status":0,"containers":1,)"
         R"("files":{"whole":0,"damaged":0,"incomplete":0,"missing":0}}})" "\n"},
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
        {"why not opened: a directory after a missing file", {"-v", "missing", "folder"}, "", 1,
         kCannotOpen + "d88cut: missing: No such file or directory\n" + kCannotOpen +
             "d88cut: folder: is a directory\n"},
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
                                          "\nExit status: 0 when every file was cut whole, or put "
                                          "back; 1 on a wrong\n"};
        shown.insert(shown.end(), notes.begin(), notes.end());
        for (const std::string& text : shown) {
            EXPECT_NE(result.out.find(text), std::string::npos) << text;
        }
        // Line by line, as it was written, each within 80 columns.
        EXPECT_TRUE(result.out.starts_with("Usage: d88cut [OPTION]... d88file...\n       d88cut --put"))
            << result.out;
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LT(line.size(), 80u) << line;
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

// Every order of the three disks, and two editions of one disk: each
// recognised disk's lines follow its recognition line, and the files hold
// exactly the catalogued bytes; of two whole copies that differ, the longer,
// or the later of two alike long.
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
                Bytes& kept = expected[file.name];
                if (file.bytes.size() >= kept.size()) {
                    kept = std::move(file.bytes);
                }
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
    // Disk names in Shift_JIS, and with control bytes before a character in it.
    ASSERT_TRUE(writeFile((dir_ / "names.d88").string(),
                          buildContainer({Disk{kShiftJisName, 0, {}, {}},
                                          Disk{kControlName + "\x83\x51", 0, {}, {}}})));
    const std::string names = "disk 1 \"" + kShiftJisNameText +
                              "\" 2D: not recognised: no track side 79\r\ndisk 2 \"A\\x01\\x1B[2J\xE3\x82\xB2\" 2D";
    const std::string escapedName = "disk 1 \"\\x83Q\\x81[\\x83\\x80 \\x83f";
    fs::create_directory(dir_ / "out");
    const std::string out = (dir_ / "out").string();
    // Folders to put files back from: PROG changed, PROG too short, nothing.
    for (const char* folder : {"put", "refused", "nothing"}) {
        fs::create_directory(dir_ / folder);
    }
    ASSERT_TRUE(writeFile((dir_ / "put" / "PROG").string(), Bytes(20480, 1)));
    ASSERT_TRUE(writeFile((dir_ / "refused" / "PROG").string(), Bytes(3, 1)));
    ASSERT_TRUE(writeFile((dir_ / "twice.d88").string(), buildContainer({makeKnownDisk(DiskKind::ProgramDisk, 1),
                                                                          makeKnownDisk(DiskKind::ProgramDisk, 1)})));
    const std::string utf8Recognised = "DISK A\xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.";
    const std::string utf8CannotEnter = "none: \xE3\x83\x87\xE3\x82\xA3\xE3\x83\xAC";
    const std::string usage =
        std::string("Usage: ") + D88CUT_BINARY + " [d88file]\r\nTry 'd88cut --help'.\r\n";
    const std::string cut = "cutting ... EXB015\r\nd88cut: 49 files cut into " + out;
    // "d88cut: 49 個のファイルを OUT に切り出しました"
    const std::string japaneseCut =
        "cutting ... EXB015\r\nd88cut: 49 \xE5\x80\x8B\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4"
        "\xE3\x83\xAB\xE3\x82\x92 " + out + " \xE3\x81\xAB\xE5\x88\x87\xE3\x82\x8A\xE5\x87\xBA\xE3\x81\x97"
        "\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F\r\n";
    // What the terminal shows from the start of a line on: a row that ends a
    // line ends what it shows, and one that does not names what follows.
    struct Case {
        const char* locale;  // LANG, and any settings after it
        std::string args;
        std::string shown;
        int status = 0;
    } cases[] = {
        {"C.UTF-8", "c.d88", utf8Recognised + "\r\ncutting ... QXBG01"},
        {"C", "c.d88", "DISK A" + kRecognised.substr(0, 14)},
        {"C.UTF-8", "c.d88 | cat", "DISK A" + kRecognised.substr(0, 14)},
        {"C.UTF-8", "--encoding=shift_jis c.d88", "DISK A" + kRecognised.substr(0, 14)},
        {"C", "--encoding=utf-8 c.d88 | cat", utf8Recognised + "\r\ncutting ... QXBG01"},
        {"C.UTF-8", "-C none c.d88", utf8CannotEnter, 1},
        {"C.UTF-8", "-C none c.d88", "d88cut: none: No such file or directory\r\n", 1},
        {"C", "-C none c.d88", "none" + kCannotEnter.substr(0, 8), 1},
        {"C", "missing.d88", kCannotOpen.substr(0, 29) + "\r\nd88cut: missing.d88: No such file or directory\r\n", 1},
        // A mistyped option is a container that cannot be opened, and the
        // run goes on.
        {"C", "-C out --lsit c.d88",
         "d88cut: unknown option '--lsit'\r\nTry 'd88cut --help'.\r\nPROGRAM DISK", 1},
        {"C", "--lsit", "d88cut: unknown option '--lsit'\r\nTry 'd88cut --help'.\r\n", 1},
        {"C", "-C out c.d88 empty.d88", cut + "\r\n"},
        {"C", "-C out c.d88", cut + "\r\n"},
        {"C", "empty.d88", "d88cut: no known disk in empty.d88; see why with: d88cut -l empty.d88\r\n"},
        // Last, the sectors that no read gave clean, to read again.
        {"C", "-C out flagged.d88",
         cut + " (1 damaged)\r\nd88cut: no read gave these sectors whole; read them again from the "
               "floppy:\r\n  PROGRAM DISK: C1 H0 R3\r\n", 1},
        {"C", "-C out flagged.d88 flagged.d88",
         cut + " (1 damaged)\r\nd88cut: no read gave these sectors whole; read them again from the "
               "floppy:\r\n  PROGRAM DISK: C1 H0 R3\r\n", 1},
        {"C", "-C out flagged.d88",
         "d88cut: PROG: 1024 bytes read with errors: C1 H0 R3 (data CRC error)\r\n"
         "cutting ... QXGT01", 1},
        {"C", "-C out short.d88",
         "cutting ... EXB015\r\nd88cut: short.d88: the file ends 416688 bytes into disk image 2 of 421688 "
         "bytes: it was cut short\r\nd88cut: 35 files cut into " + out + "\r\n"},
        // A Japanese setting: the lines for a person are Japanese, unless
        // the messages are asked for in Shift_JIS, which the terminal does
        // not show.
        {"ja_JP.UTF-8", "-C out c.d88", japaneseCut},
        {"ja_JP.UTF-8", "--help", "  -l, --list            \xE5\x88\x87"},
        {"ja_JP.UTF-8", "--encoding=shift_jis -C out c.d88", cut + "\r\n"},
        // LC_ALL, where set and not empty, speaks over LANG.
        {"ja_JP.UTF-8 LC_ALL=C.UTF-8", "-C out c.d88", cut + "\r\n"},
        {"ja_JP.UTF-8 LC_ALL=", "-C out c.d88", japaneseCut},
        // Why a file cannot be opened, in the same language: the system's
        // words ("no such file or directory") and the tool's own.
        {"ja_JP.UTF-8", "-C none c.d88",
         "d88cut: none: \xE3\x81\x9D\xE3\x81\xAE\xE3\x82\x88\xE3\x81\x86\xE3\x81\xAA\xE3\x83\x95\xE3\x82\xA1"
         "\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x84\xE3\x83\x87\xE3\x82\xA3\xE3\x83\xAC\xE3\x82\xAF\xE3\x83\x88"
         "\xE3\x83\xAA\xE3\x81\xAF\xE3\x81\x82\xE3\x82\x8A\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93\r\n", 1},
        {"ja_JP.UTF-8", "out",
         "d88cut: out: \xE3\x83\x87\xE3\x82\xA3\xE3\x83\xAC\xE3\x82\xAF\xE3\x83\x88\xE3\x83\xAA\xE3\x81\xA7\xE3\x81\x99\r\n", 1},
        {"C", "-C out damaged.d88", "d88cut: 48 files cut into " + out + " (1 incomplete); 1 file could not be cut\r\n"
         "d88cut: no read gave these sectors whole; read them again from the floppy:\r\n"
         "  PROGRAM DISK: C2 H0 R5, C26 H1 R2\r\n", 1},
        {"C", "-C out bare.d88", "d88cut: 0 files cut into " + out + "; 14 files could not be cut\r\n"
         "d88cut: no read gave these sectors whole; read them again from the floppy:\r\n"
         "  PROGRAM DISK: track side C0 H1, track side C1 H0, track side C1 H1, track side C2 H0, ", 1},
        {"C", "\"it's.d88\"",
         "d88cut: no known disk in it's.d88; see why with: d88cut -l 'it'\\''s.d88'\r\n"},
        {"C", "'no disk.d88'",
         "d88cut: no known disk in no disk.d88; see why with: d88cut -l 'no disk.d88'\r\n"},
        {"C.UTF-8", kJapaneseContainer,
         "d88cut: no known disk in " + kJapaneseContainer + "; see why with: d88cut -l " +
             kJapaneseContainer + "\r\n"},
        {"C", "-x.d88", "d88cut: no known disk in -x.d88; see why with: d88cut -l -- -x.d88\r\n"},
        // A screen that shows UTF-8 shows a disk's name as its text, but for
        // control bytes; any other keeps the escapes of a pipe.
        {"C.UTF-8", "-l names.d88", names},
        {"C.UTF-8", "-v names.d88", names},
        {"C", "-l names.d88", escapedName},
        {"C.UTF-8", "-l names.d88 | cat", escapedName},
        {"C.UTF-8", "--encoding=shift_jis -l names.d88", escapedName},
        // A put ends by telling what went into the new container, or why
        // nothing did.
        {"C", "--put new.d88 -C put c.d88", "d88cut: 1 file put into new.d88\r\n"},
        {"ja_JP.UTF-8", "--put new.d88 -C put c.d88", "d88cut: 1 \xE5\x80\x8B\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE6\x88\xBB\xE3\x81\x97\xE3\x81\xA6 new.d88 \xE3\x81\xAB\xE6\x9B\xB8\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F\r\n"},
        {"C", "--put new.d88 -C nothing c.d88",
         "d88cut: no file in the folder differs from the disks: new.d88 is the container as it was\r\n"},
        {"C", "--put new.d88 -C put empty.d88",
         "d88cut: no known disk in empty.d88, so nothing is put: new.d88 is the container as it was\r\n"},
        {"C", "--put new.d88 -C refused c.d88",
         "d88cut: PROG: not put: is 3 bytes, not the 20480 bytes that the catalog gives it\r\n"
         "d88cut: 1 file refused, so none is put: new.d88 is not written\r\n", 1},
        // A file counts once, however many reads of its disk it goes into.
        {"C", "--put new.d88 -C put twice.d88", "d88cut: 1 file put into new.d88\r\n"},
        {"C", "--put new.d88 -C refused twice.d88", "d88cut: 1 file refused, so none is put: new.d88 is not written\r\n", 1},
        // A file whose first read fails: the process's memory, unmapped at 0.
        {"C", "/proc/self/mem",
         "d88cut: no known disk in /proc/self/mem, as far as it could be read; see why with: "
         "d88cut -l /proc/self/mem\r\n", 1},
    };
    // Where the Japanese locale is not installed, no terminal shows it.
    const bool japanese = std::setlocale(LC_CTYPE, "ja_JP.UTF-8") != nullptr;
    (void)std::setlocale(LC_CTYPE, "C");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.args);
        if (!japanese && std::string(c.locale).starts_with("ja")) {
            continue;
        }
        const RunResult result = onTerminal(dir_.path(), c.locale, c.args);
        EXPECT_EQ(result.status, c.status);
        // A row begins a line; one that ends a line is the last thing shown.
        const std::string& text = result.out;
        const bool last = c.shown.ends_with('\n');
        const std::size_t at =
            last && text.ends_with(c.shown) ? text.size() - c.shown.size() : text.find(c.shown);
        EXPECT_TRUE(at != std::string::npos && (at == 0 || text[at - 1] == '\n') &&
                    (!last || at + c.shown.size() == text.size()))
            << text;
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
    const auto named = [](const std::string& name) {
        return [name](std::vector<Disk>& d) {
            putSignature(d.back(), '3');
            d.back().name = name;
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
        std::size_t cutBy = 0;   // bytes cut off the container's end
        bool told = false;       // a cut tells the lines on standard error
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
        {"name with \\ and \"", named("A\\B\"C"), "unknown disk number 3", "", 0, "\"A\\\\B\\\"C\" 2D"},
        // Into a pipe or a file, a name in Shift_JIS and control bytes are escaped.
        {"name in Shift_JIS", named(kShiftJisName), "unknown disk number 3", "", 0,
         "\"\\x83Q\\x81[\\x83\\x80 \\x83f\\x83B\\x83X\\x83N\" 2D"},
        {"name with control bytes", named(kControlName), "unknown disk number 3", "", 0, "\"A\\x01\\x1B[2J\" 2D"},
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
        // A size below a header's: the disk image runs to the end of the
        // file, and is the last one read.
        {"stated size 0",
         [](std::vector<Disk>& d) {
             putSignature(d.back(), '3');
             d.back().diskSize = 0;
         },
         "unknown disk number 3", "", 0, "\"MADE-UP 3\" 2D",
         "  (this disk image states 0 bytes, fewer than its header; read as the rest of the file, "
         "416688 bytes)\n"},
        {"stated size 687, a disk after it",
         [](std::vector<Disk>& d) {
             d.back().diskSize = 687;
             putSignature(d.back(), '3');
             d.push_back(makeKnownDisk(DiskKind::DiskA, 5));
         },
         "unknown disk number 3", "", 0, "\"MADE-UP 3\" 2D",
         "  (this disk image states 687 bytes, fewer than its header; read as the rest of the file, "
         "833376 bytes)\n", 1},
        // A download cut short before the identification sector: that disk
        // may be any, and its loss fails the run, told even into a pipe.
        {"the file ends inside the identification sector", [](std::vector<Disk>&) {},
         "the file ends before its identification sector", "", 1, "\"MADE-UP 3\" 2D",
         "  (the file ends 416188 bytes into this disk image of 416688 bytes)\n", 0, 500, true},
        {"the file ends inside a sector header of its track side", [](std::vector<Disk>&) {},
         "the file ends before its identification sector", "", 1, "\"MADE-UP 3\" 2D",
         "  (the file ends 413576 bytes into this disk image of 416688 bytes)\n", 0, 3112, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Disk> disks = {makeKnownDisk(DiskKind::DiskB, 3)};
        c.make(disks);
        ScopedTempDir dir;
        Bytes container = buildContainer(disks);
        truncateTo(container, container.size() - c.cutBy);
        ASSERT_TRUE(writeFile((dir / "c.d88").string(), container));
        const RunResult result = runTool(dir.path(), {"c.d88"});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        const std::string line = "disk " + std::to_string(c.number != 0 ? c.number : disks.size()) +
                                 " " + c.shown + ": not recognised: " + c.reason + "\n" + c.after;
        EXPECT_EQ(result.err.ends_with(line), c.told) << result.err;
        const RunResult listed = runTool(dir.path(), {"-l", "c.d88"});
        EXPECT_TRUE(listed.out.ends_with(line)) << listed.out;
        const RunResult verbose = runTool(dir.path(), {"c.d88", "-v"});
        EXPECT_EQ(verbose.out, c.out);
        EXPECT_TRUE(verbose.err.ends_with(line)) << verbose.err;
        EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"c.d88"});
    }
}

// Several reads of one disk, in one container or in several, merged sector
// by sector into the folder: each byte from the read that gave it best, so
// that reads that fail each somewhere else give whole files; a read that
// lacks a file forgets nothing; the message after each copy tells what the
// folder holds; the status is that of the folder at the end. Editions that
// differ are not merged: the better stays, by state, then by the bytes read
// clean, else the later.
TEST_F(CliTest, ReadsOfOneDisk) {
    const Disk intact = makeKnownDisk(DiskKind::ProgramDisk, 1);
    // Damage: a flagged sector whose bytes are the drive's garbage, or one
    // that is not there.
    const auto flagged = [](Disk d, std::initializer_list<std::pair<int, int>> sectors) {
        for (const auto& [track, r] : sectors) {
            findSector(d, track, r)->status = 0xB0;
            findSector(d, track, r)->data.assign(1024, 0xEE);
        }
        return d;
    };
    const auto without = [](Disk d, int track, int r) {
        d.tracks[static_cast<std::size_t>(track)].erase(
            d.tracks[static_cast<std::size_t>(track)].begin() + (r - 1));
        return d;
    };
    const Disk badProg = flagged(intact, {{2, 3}});         // PROG damaged at C1 H0 R3
    const Disk badProgLater = without(intact, 4, 1);        // ... incomplete at C2 H0 R1
    const Disk noMina = without(intact, 60, 3);             // QXMINA missing
    Disk badMina = intact;                                  // QXMINA damaged, its bytes right
    findSector(badMina, 60, 3)->status = 0xA0;
    const Disk edition = makeKnownDisk(DiskKind::ProgramDisk, 1 + 61);  // records as long
    const Disk shorter = makeKnownDisk(DiskKind::ProgramDisk, 2);  // records one byte shorter
    const std::string progPart = "PROG" + kIncomplete;
    struct Case {
        const char* name;
        std::vector<Disk> reads;
        std::string err;            // the messages, in order
        int status;
        const Disk* holds;          // whose files the folder holds at the end
        std::string damaged = {};   // a file that stays damaged, as the first read has it
    } cases[] = {
        {"a later read fails elsewhere: merged whole", {badProg, badProgLater}, progPart, 0, &intact},
        {"the other order", {badProgLater, badProg}, progPart, 0, &intact},
        {"whole, then a read that lacks a file, then one that has it damaged",
         {intact, noMina, badMina}, "", 0, &intact},
        {"a read that lacks a file first", {noMina, intact}, "QXMINA" + kCannotRead, 0, &intact},
        {"damaged in every read at one sector", {badProg, badProg}, progPart + progPart, 1, &intact,
         "PROG"},
        // Editions: not merged.
        {"two whole editions: the later", {intact, edition}, "", 0, &edition},
        {"two whole editions: the longer, or the later", {shorter, intact}, "", 0, nullptr},
        {"the other order", {intact, shorter}, "", 0, nullptr},
        {"five bad sectors against one: the one", {flagged(edition, {{2, 3}}),
          flagged(intact, {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}})}, progPart + progPart, 1,
         &intact, "PROG"},
    };
    for (const Case& c : cases) {
        for (const bool apart : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (apart ? ", containers apart" : ", one container"));
            ScopedTempDir dir;
            std::vector<std::string> args;
            if (apart) {
                for (std::size_t i = 0; i < c.reads.size(); ++i) {
                    args.push_back("read" + std::to_string(i + 1) + ".d88");
                    ASSERT_TRUE(writeFile((dir / args.back()).string(), buildContainer({c.reads[i]})));
                }
            } else {
                args.push_back("reads.d88");
                ASSERT_TRUE(writeFile((dir / args.back()).string(), buildContainer(c.reads)));
            }
            const RunResult result = runTool(dir.path(), args);
            EXPECT_EQ(result.status, c.status);
            EXPECT_EQ(result.err, c.err);
            // Every copy that gave anything has its cutting line.
            const auto lacking = std::count_if(c.reads.begin(), c.reads.end(),
                                               [](const Disk& d) { return d.tracks[60].size() < 5; });
            EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'),
                      static_cast<std::ptrdiff_t>(c.reads.size() * 15) - lacking);
            // A listing of the reads is one run too, its status the folder's.
            std::vector<std::string> listing = args;
            listing.insert(listing.begin(), "-l");
            EXPECT_EQ(runTool(dir.path(), listing).status, c.status);
            // Of whole editions, each name holds the longer copy, or the later.
            std::vector<ExpectedFile> held = expectedFiles(c.reads.front(), DiskKind::ProgramDisk);
            for (const Disk& read : c.reads) {
                const std::vector<ExpectedFile> files = expectedFiles(read, DiskKind::ProgramDisk);
                for (std::size_t i = 0; i < held.size(); ++i) {
                    if (c.holds != nullptr || files[i].bytes.size() >= held[i].bytes.size()) {
                        held[i] = c.holds != nullptr ? expectedFiles(*c.holds, DiskKind::ProgramDisk)[i] : files[i];
                    }
                }
            }
            for (ExpectedFile& file : held) {
                if (file.name == c.damaged) {
                    file = expectedFiles(c.reads.front(), DiskKind::ProgramDisk).front();
                }
                EXPECT_EQ(fileBytes(dir / file.name), file.bytes) << file.name;
            }
        }
    }
    // -v tells which reads a merged file came from; a copy not merged and
    // not written says which stays.
    ScopedTempDir dir;
    ASSERT_TRUE(writeFile((dir / "a.d88").string(), buildContainer({badProg})));
    ASSERT_TRUE(writeFile((dir / "b.d88").string(), buildContainer({badProgLater, noMina})));
    RunResult result = runTool(dir.path(), {"-v", "a.d88", "b.d88"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, progPart + "d88cut: PROG: 1024 bytes read with errors: C1 H0 R3 (data CRC error)\n"
                          "d88cut: PROG: 19456 of 20480 bytes read: C2 H0 R1 not on the disk\n"
                          "d88cut: PROG: merged from disk 1 of a.d88 and disk 1 of b.d88: the file is now whole\n"
                          "d88cut: QXMINA: not read: C30 H0 R3 not on the disk\n");
    ASSERT_TRUE(writeFile((dir / "a.d88").string(), buildContainer({intact, flagged(edition, {{2, 3}})})));
    result = runTool(dir.path(), {"-v", "a.d88"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "d88cut: PROG: 1024 bytes read with errors: C1 H0 R3 (data CRC error)\n"
                          "d88cut: PROG: not written: the whole copy from disk 1 stays\n");
    // For programs, after the last container: what the run holds of each
    // name and from which disks, the sectors no read gave clean, and the
    // run's status. Each container's end tells it as a run of it alone.
    Disk minaBad = badProg;
    findSector(minaBad, 60, 3)->status = 0xB0;
    Disk minaBadLater = badProgLater;
    findSector(minaBadLater, 60, 3)->status = 0xB0;
    ASSERT_TRUE(writeFile((dir / "a.d88").string(), buildContainer({minaBad})));
    ASSERT_TRUE(writeFile((dir / "b.d88").string(), buildContainer({minaBadLater})));
    result = runTool(dir.path(), {"--json", "a.d88", "b.d88"});
    EXPECT_EQ(result.status, 1);
    std::vector<nlohmann::json> ends;
    std::map<std::string, nlohmann::json> results;
    nlohmann::json summary;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json object = nlohmann::json::parse(line);
        if (object.at("type") == "end") {
            ends.push_back(object.at("data").at("status"));
        } else if (object.at("type") == "result") {
            results[object.at("data").at("name")] = object.at("data");
        } else if (object.at("type") == "summary") {
            summary = object.at("data");
        }
    }
    EXPECT_EQ(ends, (std::vector<nlohmann::json>{1, 1}));
    EXPECT_EQ(results["PROG"], nlohmann::json::parse(
        R"({"name":"PROG","state":"whole","size":20480,"from":[{"container":1,"disk":1},{"container":2,"disk":1}],"sectors":[]})"));
    EXPECT_EQ(results["QXMINA"].at("state"), "damaged");
    EXPECT_EQ(results["QXMINA"].at("from"), nlohmann::json::parse(R"([{"container":1,"disk":1}])"));
    EXPECT_EQ(results["QXMINA"].at("sectors"), nlohmann::json::parse(
        R"([{"c":30,"h":0,"r":3,"problem":"data CRC error","code":"data_crc_error","value":null}])"));
    EXPECT_EQ(summary, nlohmann::json::parse(
        R"({"status":1,"containers":2,"files":{"whole":13,"damaged":1,"incomplete":0,"missing":0}})"));
    // Two reads in one container that merge whole: its end, as the summary, 0.
    ASSERT_TRUE(writeFile((dir / "a.d88").string(), buildContainer({badProg, badProgLater})));
    result = runTool(dir.path(), {"--json", "a.d88"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find(R"({"type":"end","data":{"container":1,"status":0,)"), std::string::npos);
    // On a terminal the closing line counts the 14 names that the folder
    // holds, though a later read lacked one.
    const bool foreign = std::getenv("D88CUT_COMMAND") != nullptr;  // it writes to no terminal here
    const ExpectedFile qxmina = expectedFiles(intact, DiskKind::ProgramDisk).back();
    ASSERT_EQ(qxmina.name, "QXMINA");
    for (const std::vector<Disk>& reads :
         {std::vector<Disk>{intact, noMina}, std::vector<Disk>{intact, noMina, badMina}}) {
        SCOPED_TRACE(std::to_string(reads.size()) + " reads");
        ASSERT_TRUE(writeFile((dir / "c.d88").string(), buildContainer(reads)));
        result = foreign ? runTool(dir.path(), {"c.d88"}) : onTerminal(dir.path(), "C", "c.d88");
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(foreign || result.out.ends_with("\nd88cut: 14 files cut into " + dir.path().string() + "\r\n"))
            << result.out;
        EXPECT_EQ(fileBytes(dir / "QXMINA"), qxmina.bytes);
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
    // A second copy of C1 H0 R3, its bytes others and its status `status`,
    // stored before or after the first, whose status is `first`.
    const auto secondCopy = [](std::uint8_t status, bool before, std::uint8_t first = 0) {
        return [=](Disk& d) {
            findSector(d, 2, 3)->status = first;
            Sector copy = *findSector(d, 2, 3);
            copy.status = status;
            copy.data.assign(1024, 0xEE);
            d.tracks[2].insert(d.tracks[2].begin() + (before ? 2 : 3), copy);
        };
    };
    struct Case {
        const char* name;
        std::function<void(Disk&)> make;
        std::string file = {};    // the one file not whole, if any
        std::string listed = {};  // its listing line after "  NAME"
        std::string why = {};     // -v's reason after "d88cut: NAME: "
        std::function<void(Bytes&)> container = {};  // then done to the container's bytes
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
         "PROG", " 20480 incomplete (15360 bytes read, 1024 with errors)",
         "15360 of 20480 bytes read: C1 H0 R3 (data CRC error); track side C1 H1 not on the disk"},
        {"a sector not on its track side",
         [](Disk& d) {
             putRecord(d, 59, 1, 0, 0x0041, 6000);
             findSector(d, 59, 1)->status = 0xF0;
             d.tracks[59].erase(d.tracks[59].begin() + 2);
         },
         "QXED01", " 6000 incomplete (4976 bytes read, 1024 with errors)",
         "4976 of 6000 bytes read: C29 H1 R1 (no data mark); C29 H1 R3 not on the disk"},
        // The run reads on past a sector it cannot read whole.
        {"a sector shorter than its size", [](Disk& d) { findSector(d, 4, 5)->data.resize(600); },
         "PROG", " 20480 incomplete (20056 bytes read)",
         "20056 of 20480 bytes read: C2 H0 R5 holds 600 bytes"},
        {"a sector in the middle shorter", [](Disk& d) { findSector(d, 2, 2)->data.resize(600); },
         "PROG", " 20480 incomplete (20056 bytes read)",
         "20056 of 20480 bytes read: C1 H0 R2 holds 600 bytes"},
        {"an empty sector", [](Disk& d) { findSector(d, 2, 2)->data.clear(); },
         "PROG", " 20480 incomplete (19456 bytes read)",
         "19456 of 20480 bytes read: C1 H0 R2 holds no data"},
        {"no data mark and no data",
         [](Disk& d) {
             findSector(d, 2, 2)->data.clear();
             findSector(d, 2, 2)->status = 0xF0;
         },
         "PROG", " 20480 incomplete (19456 bytes read)",
         "19456 of 20480 bytes read: C1 H0 R2 (no data mark; no data)"},
        {"a missing sector", [](Disk& d) { d.tracks[2].erase(d.tracks[2].begin()); },
         "PROG", " 20480 incomplete (19456 bytes read)",
         "19456 of 20480 bytes read: C1 H0 R1 not on the disk"},
        {"a sector of another size code", [](Disk& d) { findSector(d, 2, 2)->n = 2; },
         "PROG", " 20480 incomplete (19456 bytes read)",
         "19456 of 20480 bytes read: C1 H0 R2 has size code N 2, not 3"},
        {"a missing track side", [](Disk& d) { d.tracks[3].clear(); },
         "PROG", " 20480 incomplete (15360 bytes read)",
         "15360 of 20480 bytes read: track side C1 H1 not on the disk"},
        // Of two copies of one sector, the one the drive read right.
        {"a flagged copy before a clean one", secondCopy(0xB0, true)},
        {"a flagged copy after a clean one", secondCopy(0xA0, false)},
        {"every copy flagged: the first", secondCopy(0xA0, false, 0xB0),
         "PROG", " 20480 damaged (1024 bytes read with errors)",
         "1024 bytes read with errors: C1 H0 R3 (data CRC error)"},
        {"a record past the bytes read", [](Disk& d) { putRecord(d, 58, 5, 0, 0x0042, 3000); },
         "QXOP01", " 3000 incomplete (1024 bytes read)",
         "1024 of 3000 bytes read: the record is 3000 bytes long, past the 1024 bytes read for it"},
        {"missing", [](Disk& d) { d.tracks[60].erase(d.tracks[60].begin() + 2); }, "QXMINA",
         " missing", "not read: C30 H0 R3 not on the disk"},
        {"a record whose header sector is gone", [](Disk& d) { d.tracks[54].erase(d.tracks[54].begin()); },
         "QXFIGH", " missing", "not read: C27 H0 R1 not on the disk"},
        {"a record of another kind", [](Disk& d) { putRecord(d, 44, 5, 512, 0x4100, 100); },
         "QXGT02", " missing", "not read: C22 H0 R5 holds a record of kind 0x4100, not A or B"},
        {"the file ends inside a sector",
         [](Disk& d) {
             findSector(d, 4, 5)->dataSize = 1024;
             findSector(d, 4, 5)->data.resize(924);
             d.tracks.push_back(d.tracks[4]);  // a copy laid out last: the file ends in C2 H0 R5
         },
         "PROG", " 20480 incomplete (20380 bytes read)",
         "20380 of 20480 bytes read: C2 H0 R5 past the end of the file",
         // Track side 4's entry in the track table points at that copy.
         [](Bytes& b) { std::copy_n(b.begin() + 0x20 + 4 * 80, 4, b.begin() + 0x20 + 4 * 4); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Disk disk = makeKnownDisk(DiskKind::ProgramDisk, 1);
        c.make(disk);
        ScopedTempDir dir;
        Bytes container = buildContainer({disk});
        if (c.container) {
            c.container(container);
        }
        ASSERT_TRUE(writeFile((dir / "c.d88").string(), container));
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
    EXPECT_NE(result.out.find("\n  PROG 20480 incomplete (19556 bytes read)\n  QXGT01 "), std::string::npos);
    EXPECT_NE(result.out.find("\n  QXBIG missing\n  QXFIGH "), std::string::npos);
    result = runTool(dir_.path(), {"c.d88"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "PROG" + kIncomplete + "QXBIG" + kCannotRead);
    // The temporary file a killed run left under QXBIG is gone.
    EXPECT_EQ(listDir(dir_.path()).size(), 13u + 1);
    EXPECT_FALSE(fs::exists(dir_ / ".QXBIG.d88cut"));
}

// JSON's text object as its bytes: "bytes" from base64 where it is there,
// else "text" as it is.
std::string textOf(const nlohmann::json& text) {
    if (!text.contains("bytes")) {
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
            EXPECT_EQ(d, nlohmann::json({{"container", ends + 1},
                                         {"status", statuses.at(ends++)},
                                         {"disks", disks},
                                         {"known_disks", knownDisks},
                                         {"files", files}}));
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
    unknown.name = kShiftJisName;
    unknown.writeProtect = 0x10;
    findSector(disks[0], 2, 3)->status = 0xB0;    // PROG damaged
    findSector(disks[0], 46, 3)->status = 0x10;   // FAN1 whole, from a sector of deleted data
    putRecord(disks[0], 59, 1, 0, 0x0041, 6000);  // QXED01 incomplete and damaged
    findSector(disks[0], 59, 1)->status = 0xF0;
    disks[0].tracks[59].erase(disks[0].tracks[59].begin() + 2);
    disks[0].tracks[60].erase(disks[0].tracks[60].begin() + 2);  // QXMINA missing
    ASSERT_TRUE(writeFile((dir_ / "flagged.d88").string(),
                          buildContainer({unknown, disks[0], Disk{kControlName, 0, {}, {}}})));
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
    EXPECT_EQ(listingOf(json.out, {args.begin() + 1, args.end()}, {0, 1, 1, 0, 0, 1}), listed.out);
    // What the text does not show: a name's text beside its bytes, whether a
    // disk is write-protected, the failing sectors, why a container cannot be
    // opened; and after the last container, what the run holds of each name
    // and its status. Whole objects, every field with its value: a null is
    // no number.
    const char* const shownInJsonAlone[] = {
        R"({"type":"disk","data":{"container":2,"number":1,"offset":0,"size":416688,)"
        R"("name":{"text":"\u30b2\u30fc\u30e0 \u30c7\u30a3\u30b9\u30af","bytes":"g1GBW4OAIINmg0KDWINO"},)"
        R"("media":{"byte":0,"name":"2D"},"write_protected":true,"known":null,"reason":"no signature",)"
        R"("reason_code":"no_signature","reason_value":null,"truncated_at":null}})",
        R"({"type":"disk","data":{"container":2,"number":3,"offset":831296,"size":688,)"
        R"("name":{"text":"A\u0001\u001b[2J"},"media":{"byte":0,"name":"2D"},"write_protected":false,)"
        R"("known":null,"reason":"no track side 79","reason_code":"no_track","reason_value":null,)"
        R"("truncated_at":null}})",
        R"({"type":"file","data":{"container":2,"disk":2,"name":"PROG","size":20480,"state":"damaged",)"
        R"("read":20480,"read_with_errors":1024,"sectors":[{"c":1,"h":0,"r":3,)"
        R"("problem":"data CRC error","code":"data_crc_error","value":null}],"deleted_data":[]}})",
        R"({"type":"file","data":{"container":2,"disk":2,"name":"FAN1","size":490,"state":"whole",)"
        R"("read":490,"read_with_errors":0,"sectors":[],"deleted_data":[{"c":23,"h":0,"r":3}]}})",
        R"({"type":"file","data":{"container":2,"disk":2,"name":"QXED01","size":6000,"state":"incomplete",)"
        R"("read":4976,"read_with_errors":1024,"sectors":[{"c":29,"h":1,"r":1,)"
        R"("problem":"no data mark","code":"no_data_mark","value":null},{"c":29,"h":1,"r":3,)"
        R"("problem":"not on the disk","code":"not_on_disk","value":null}],"deleted_data":[]}})",
        R"({"type":"file","data":{"container":2,"disk":2,"name":"QXMINA","size":null,"state":"missing",)"
        R"("read":0,"read_with_errors":0,"sectors":[{"c":30,"h":0,"r":3,"problem":"not on the disk",)"
        R"("code":"not_on_disk","value":null}],"deleted_data":[]}})",
        R"({"type":"note","data":{"kind":"cannot_open","container":6,"reason":"No such file or directory"}})",
        R"({"type":"result","data":{"name":"PROG","state":"whole","size":20480,)"
        R"("from":[{"container":1,"disk":1}],"sectors":[]}})",
        R"({"type":"summary","data":{"status":1,"containers":6,)"
        R"("files":{"whole":49,"damaged":0,"incomplete":0,"missing":0}}})"};
    for (const char* expected : shownInJsonAlone) {
        bool found = false;
        std::istringstream in(json.out);
        for (std::string line; !found && std::getline(in, line);) {
            // Where each file lies is checked with the files put back.
            nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
            if (object.contains("data") && object["data"].is_object()) {
                object["data"].erase("layout");
            }
            found = object == nlohmann::json::parse(expected);
        }
        EXPECT_TRUE(found) << expected;
    }
}

// Cuts `disks` (the container at `argument`, from `dir`) where some files
// cannot be written, and checks what must hold all the same: every entry's
// cutting line in order, each followed by a message if its file was not
// written, status 1 when any was not, each name holding the better version
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
    std::set<std::string> wrote;
    for (const auto& [kind, disk] : disks) {
        console += recognitionLine(kind);
        for (const ExpectedFile& file : expectedFiles(disk, kind)) {
            console += "cutting ... " + file.name + "\n";
            const std::string message = file.name + kCannotWrite;
            if (result.out.compare(console.size(), message.size(), message) == 0) {
                failed.push_back(file.name);
                console += message;
            } else if (!wrote.contains(file.name) || file.bytes.size() >= held[file.name].size()) {
                // Of two whole copies that differ, the longer stays, or the later.
                held[file.name] = file.bytes;
                wrote.insert(file.name);
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
    // Another edition: its records as long, their bytes others.
    const Disk earlier = makeKnownDisk(DiskKind::DiskB, 4);
    const Disk later = makeKnownDisk(DiskKind::DiskB, 4 + 61);
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
        ScopedTempDir capture;
        const std::string command =
            "cd " + shellQuote(dir_.path().string()) + " && exec " + c.prefix + toolCommand() +
            " c.d88 >" + shellQuote((capture / "out").string()) + " 2>" +
            shellQuote((capture / "err").string());
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
            // Its lines up to the file it waited for, and no word of a file not written.
            const Bytes out = fileBytes(capture / "out");
            EXPECT_EQ(std::string(out.begin(), out.end()),
                      recognitionLine(DiskKind::ProgramDisk) + "cutting ... PROG\n");
            EXPECT_EQ(fileBytes(capture / "err"), Bytes{});
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
        std::string before = {};  // a container given before it, a copy of it
    } cases[] = {
        {"named like an output", "PROG", "PROG", {}, {"PROG"}},
        // Several containers are one run: none is written over, also before
        // its turn comes.
        {"a later container named like a file of an earlier one", "PROG", "PROG", {}, {"PROG", "PROG"},
         "", "c.d88"},
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
        std::vector<std::string> args = {c.argument};
        if (!c.before.empty()) {
            ASSERT_TRUE(writeFile((dir / c.before).string(), container));
            args.insert(args.begin(), c.before);
        }
        if (!c.into.empty()) {
            args.insert(args.begin(), {"-C", c.into});
        }
        const RunResult result = runTool(dir.path(), args);
        EXPECT_EQ(result.status, 1);
        std::string err;
        for (const std::string& name : c.refused) {
            err += name + kCannotWrite;
            EXPECT_NE(result.out.find("cutting ... " + name + "\n"), std::string::npos);
            EXPECT_EQ(fileBytes(out / name), container) << name;
        }
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(fileBytes(dir / c.file), container);
        EXPECT_EQ(listDir(out).size(), 14u + (c.refused.front() == "PROG" ? 0 : 1) + (c.before.empty() ? 0 : 1));
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
// second disk's files, another edition.
TEST_F(CliTest, ContainerIsRefusedForEveryDisk) {
    // Another edition: its records as long, their bytes others.
    const Disk first = makeKnownDisk(DiskKind::ProgramDisk, 1);
    const Disk second = makeKnownDisk(DiskKind::ProgramDisk, 1 + 61);
    const Bytes container = buildContainer({first, second});
    ASSERT_TRUE(writeFile((dir_ / "c.d88").string(), container));
    fs::create_hard_link(dir_ / "c.d88", dir_ / "FAN1");
    const RunResult result = runTool(dir_.path(), {"-v", "c.d88"});
    EXPECT_EQ(result.status, 1);
    const std::string why = "d88cut: FAN1: is a container that this run reads\n";
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

// Where the data of sector R `r` of track side `track` begins in the container
// `bytes` for its disk image at `disk`: found here from the disk's own track
// table and sector headers, the first copy that the drive read right.
std::size_t sectorDataAt(const Bytes& bytes, std::size_t disk, int track, int r) {
    const auto le = [&](std::size_t at, int width) {
        std::size_t value = 0;
        for (int i = width - 1; i >= 0; --i) {
            value = (value << 8) | bytes.at(at + static_cast<std::size_t>(i));
        }
        return value;
    };
    std::size_t at = disk + le(disk + 0x20 + 4 * static_cast<std::size_t>(track), 4);
    std::size_t first = 0;
    for (std::size_t i = 0, count = le(at + 4, 2); i < count; ++i) {
        const std::uint8_t status = bytes.at(at + 8);
        if (bytes.at(at + 2) == r && (first == 0 || status < 0xA0)) {
            first = first == 0 || status < 0xA0 ? at + 16 : first;
            if (status < 0xA0) {
                break;
            }
        }
        at += 16 + le(at + 14, 2);
    }
    return first;
}

// Putting changed files back: a copy of the container in which each file of
// the folder stands where a cut reads it, its sectors' statuses cleared, and
// every other byte as it was, which a cut gives back; or, where any file
// cannot go back, nothing written at all.
TEST_F(CliTest, PutsFilesBack) {
    const Disk program = makeKnownDisk(DiskKind::ProgramDisk, 1);
    const Disk diskA = makeKnownDisk(DiskKind::DiskA, 2);
    Disk flaggedProg = program;
    findSector(flaggedProg, 2, 3)->status = 0xB0;
    Disk noSector = program;
    noSector.tracks[2].erase(noSector.tracks[2].begin() + 2);
    const auto record = [](std::uint16_t kind, std::size_t length, std::uint16_t said = 0) {
        Bytes bytes(length, 0x5A);
        putLe16(bytes, 0, kind);
        putLe16(bytes, 2, said != 0 ? said : static_cast<std::uint16_t>(length));
        return bytes;
    };
    const auto changed = [](const Disk& disk, const char* name, std::size_t at) {
        for (ExpectedFile& file : expectedFiles(disk, DiskKind::ProgramDisk)) {
            if (file.name == name) {
                file.bytes.at(at) ^= 0xFF;
                return file.bytes;
            }
        }
        return Bytes();
    };
    struct Case {
        const char* name;
        std::vector<Disk> disks;
        std::map<std::string, Bytes> files;  // in the folder
        std::string refused = {};            // the refusal's words, where refused
        int again = 0;                       // the status of a cut of the new container
    } cases[] = {
        {"PROG changed in places, QXGT01 a new record of 300 bytes, EXA000 new",
         {program, diskA},
         {{"PROG", changed(program, "PROG", 5000)}, {"QXGT01", record(0x0041, 300)},
          {"EXA000", Bytes(1024, 0x11)}, {"README.txt", Bytes{'h', 'i'}}}},
        {"a record as long as its room, and a shorter one",
         {program}, {{"QXFIGH", record(0x0042, 3072)}, {"QXOP02", record(0x0041, 100)}}},
        {"a disk read twice gets the file in both", {program, program}, {{"FAN1", record(0x0041, 64)}}},
        {"over a flagged sector", {flaggedProg}, {{"PROG", changed(flaggedProg, "PROG", 100)}}},
        {"a file as the disk holds it changes nothing, not even a status", {flaggedProg},
         {{"PROG", expectedFiles(flaggedProg, DiskKind::ProgramDisk).front().bytes}}, "", 1},
        {"PROG of 20,481 bytes", {program}, {{"PROG", Bytes(20481, 1)}},
         "d88cut: PROG: not put: is 20481 bytes, not the 20480 bytes that the catalog gives it\n"},
        {"QXGT01 a record of 600 bytes", {program}, {{"QXGT01", record(0x0041, 600)}},
         "d88cut: QXGT01: not put: its record of 600 bytes runs into QXGT02, which begins at byte 512 "
         "of the sector\n"},
        {"QXGT02 past its room", {program}, {{"QXGT02", record(0x0042, 513)}},
         "d88cut: QXGT02: not put: its record of 513 bytes runs past the 512 bytes that the catalog "
         "gives it\n"},
        {"a record of kind C", {program}, {{"FAN1", record(0x0043, 300)}},
         "d88cut: FAN1: not put: does not begin with a record header of kind A or B\n"},
        {"a record that says another length", {program}, {{"FAN1", record(0x0041, 300, 301)}},
         "d88cut: FAN1: not put: its record header says 301 bytes, but the file holds 300\n"},
        {"PROG where its sector C1 H0 R3 is missing", {noSector}, {{"PROG", Bytes(20480, 7)}},
         "d88cut: PROG: not put: C1 H0 R3 is not on the disk with its full size, and a sector "
         "cannot be made\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTempDir dir;
        const Bytes container = buildContainer(c.disks);
        ASSERT_TRUE(writeFile((dir / "c.d88").string(), container));
        fs::create_directory(dir / "files");
        for (const auto& [name, bytes] : c.files) {
            ASSERT_TRUE(writeFile((dir / "files" / name).string(), bytes));
        }
        const RunResult result = runTool(dir.path(), {"--put", "new.d88", "-C", "files", "c.d88"});
        EXPECT_EQ(fileBytes(dir / "c.d88"), container);
        if (!c.refused.empty()) {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, c.refused);
            EXPECT_FALSE(fs::exists(dir / "new.d88"));
            continue;
        }
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        // The container as it should become, from its own layout.
        Bytes expected = container;
        std::string out;
        std::size_t disk = 0;
        for (const Disk& d : c.disks) {
            const DiskKind kind = findSector(d, 79, 5)->data[1022] == '0' ? DiskKind::ProgramDisk : DiskKind::DiskA;
            out += recognitionLine(kind);
            const std::vector<ExpectedFile> given = expectedFiles(d, kind);
            for (const d88cut::CatalogEntry& entry : d88cut::catalogFor(kind)) {
                const auto file = c.files.find(entry.name);
                const auto same = [&](const ExpectedFile& e) { return e.name == entry.name; };
                if (entry.size == 0 || file == c.files.end() ||
                    std::find_if(given.begin(), given.end(), same)->bytes == file->second) {
                    continue;
                }
                out += "putting ... " + file->first + "\n";
                std::size_t at = static_cast<std::size_t>(entry.offset);
                int track = entry.trackIndex;
                int r = entry.sector;
                for (const std::uint8_t byte : file->second) {
                    if (at == 1024) {
                        at = 0;
                        track += r == 5 ? 1 : 0;
                        r = r == 5 ? 1 : r + 1;
                    }
                    const std::size_t data = sectorDataAt(container, disk, track, r);
                    expected.at(data - 8) = 0;  // the sector's status: read right
                    expected.at(data + at++) = byte;
                }
            }
            disk += buildDisk(d).size();
        }
        EXPECT_EQ(result.out, out);
        EXPECT_TRUE(fileBytes(dir / "new.d88") == expected);
        // Cut again, the new container gives the folder's files, whole.
        fs::create_directory(dir / "again");
        EXPECT_EQ(runTool(dir.path(), {"-C", "again", "new.d88"}).status, c.again);
        for (const auto& [name, bytes] : c.files) {
            if (name != "README.txt") {
                EXPECT_EQ(fileBytes(dir / "again" / name), bytes) << name;
            }
        }
    }
    // The new container is never the one read, by any name.
    ScopedTempDir dir;
    const Bytes container = buildContainer({program});
    ASSERT_TRUE(writeFile((dir / "c.d88").string(), container));
    ASSERT_TRUE(writeFile((dir / "PROG").string(), Bytes(20480, 3)));
    fs::create_hard_link(dir / "c.d88", dir / "link.d88");
    for (const char* name : {"c.d88", "./c.d88", "link.d88"}) {
        SCOPED_TRACE(name);
        const RunResult result = runTool(dir.path(), {"--put", name, "c.d88"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, std::string("d88cut: ") + name + ": not written: is the container that this run reads\n");
        EXPECT_EQ(fileBytes(dir / "c.d88"), container);
    }
    // For other tools, the JSON listing tells where each file lies, and a
    // put where it went; a refusal of the new container is no disk's.
    const auto objects = [&](const std::vector<std::string>& args) {
        std::map<std::string, nlohmann::json> found;
        std::istringstream lines(runTool(dir.path(), args).out);
        for (std::string line; std::getline(lines, line);) {
            const nlohmann::json object = nlohmann::json::parse(line);
            const nlohmann::json& data = object.at("data");
            found[object.at("type").get<std::string>() + (data.contains("name") ? " " + data.at("name").dump() : "")] = data;
        }
        return found;
    };
    const std::map<std::string, nlohmann::json> listing = objects({"--json", "c.d88"});
    const nlohmann::json layout = listing.at("file \"PROG\"").at("layout");
    ASSERT_EQ(layout.size(), 20u);
    EXPECT_EQ(layout[7], nlohmann::json({{"c", 1}, {"h", 0}, {"r", 3}, {"position", sectorDataAt(container, 0, 2, 3)}, {"length", 1024}}));
    // A record lies from its offset in its sector on, as long as it is.
    const nlohmann::json& qxgt02 = listing.at("file \"QXGT02\"");
    const nlohmann::json place = {{"c", 22}, {"h", 0}, {"r", 5},
                                  {"position", sectorDataAt(container, 0, 44, 5) + 512},
                                  {"length", qxgt02.at("size")}};
    EXPECT_EQ(qxgt02.at("layout"), nlohmann::json::array({place}));
    std::map<std::string, nlohmann::json> put = objects({"--json", "--put", "new.d88", "c.d88"});
    EXPECT_EQ(put.at("put \"PROG\"").at("layout"), layout);
    EXPECT_EQ(put.at("summary"), nlohmann::json({{"status", 0}, {"put", 1}}));
    put = objects({"--json", "--put", "c.d88", "c.d88"});
    EXPECT_EQ(put.at("refused {\"text\":\"c.d88\"}"),
              nlohmann::json::parse(R"({"container":1,"disk":null,"name":{"text":"c.d88"},"code":"is_container",)"
                                    R"("values":{},"reason":"is the container that this run reads"})"));
    EXPECT_EQ(put.at("summary"), nlohmann::json({{"status", 1}, {"put", 0}}));
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
