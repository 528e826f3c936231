// The two extraction modes, run in process on containers built in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "cutter/cutter.h"
#include "cutter/words.h"
#include "tests/known_disks.h"
#include "tests/test_dir.h"

namespace d88test {
namespace {

using d88cut::SectorBuffer;

// Runs each test in its own directory with the disk opened as the current disk.
class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
        // Stale bytes that must never reach a file.
        SectorBuffer.fill(0xEE);
    }
    void TearDown() override {
        (void)capturedStdout();
        (void)d88cut::diskImage.open(nullptr);
        fs::current_path(previous_);
    }
    // Opens the disk as the current disk and starts capturing what is printed.
    void open(const Disk& disk) {
        ASSERT_TRUE(writeFile("c.d88", buildDisk(disk)));
        ASSERT_TRUE(d88cut::diskImage.open("c.d88"));
        ASSERT_TRUE(d88cut::diskImage.selectDisk(0));
        d88cut::diskImage.setSectorRange(1, 5);
        if (!capturing_) {
            ::testing::internal::CaptureStdout();
            capturing_ = true;
        }
    }
    std::string capturedStdout() {
        if (!capturing_) {
            return {};
        }
        capturing_ = false;
        return ::testing::internal::GetCapturedStdout();
    }

    ScopedTempDir dir_;
    fs::path previous_;
    bool capturing_ = false;
    d88cut::Run run_;
};

TEST_F(ExtractTest, RawRuns) {
    Disk disk = makeFiveSectorDisk(9);
    disk.tracks[3].clear();  // the run reads on past side 3 into side 4
    open(disk);
    EXPECT_FALSE(d88cut::extractRaw(run_, "GONE", 3, 1, 1, 1, 3, 0, 1024));
    EXPECT_FALSE(fs::exists("GONE"));
    ASSERT_TRUE(d88cut::extractRaw(run_, "PART", 1, 0, 1, 1, 3, 0, 20480));
    const Bytes expected = runBytes(disk, 1, 1, 20480);
    // What was not read is 0, not what the buffer held; what follows is there.
    EXPECT_EQ(Bytes(expected.begin() + 10240, expected.begin() + 15360), Bytes(5120, 0));
    EXPECT_EQ(Bytes(expected.begin() + 15360, expected.begin() + 16384), findSector(disk, 4, 1)->data);
    EXPECT_EQ(readFile("PART"), expected);
    ASSERT_TRUE(d88cut::extractRaw(run_, "MID", 0, 0, 0, 2, 3, 1000, 48));
    const Bytes run = runBytes(disk, 0, 2, 1048);
    EXPECT_EQ(readFile("MID"), Bytes(run.begin() + 1000, run.end()));
    EXPECT_EQ(listDir("."), (std::vector<std::string>{"MID", "PART", "c.d88"}));
}

TEST_F(ExtractTest, Records) {
    struct Case {
        const char* name;
        int offset;
        std::uint16_t kind;  // as the header's first two bytes, little-endian
        std::uint16_t length;
        bool written;
        std::string listed;  // after "  REC" in a listing
        int flagged = 2;  // the R of the two read (2, 3) whose status is `status`
        std::uint8_t status = 0;
    } cases[] = {
        {"kind A", 0, 0x0041, 300, true, " 300"},
        {"kind B at 512", 512, 0x0042, 300, true, " 300"},
        {"length 0", 0, 0x0041, 0, true, " 0"},
        {"length beyond the bytes read", 0, 0x0042, 5000, true,
         " 5000 incomplete (2048 bytes read)"},
        {"at 512, beyond the bytes read", 512, 0x0042, 1600, true,
         " 1600 incomplete (1536 bytes read)"},
        {"largest length", 512, 0x0041, 0xFFFF, true, " 65535 incomplete (1536 bytes read)"},
        {"A with a second byte", 0, 0x0141, 300, false, " missing"},
        {"other kind", 0, 0x0043, 300, false, " missing"},
        {"zero kind", 0, 0x0000, 300, false, " missing"},
        // Only the record's own bytes from a flagged sector count.
        {"header in a flagged sector", 512, 0x0041, 300, true,
         " 300 damaged (300 bytes read with errors)", 2, 0xB0},
        {"ends before its flagged sector", 0, 0x0042, 1024, true, " 1024", 3, 0xF0},
        {"one byte into its flagged sector", 0, 0x0041, 1025, true,
         " 1025 damaged (1 bytes read with errors)", 3, 0xA0},
        {"flagged and beyond the bytes read", 512, 0x0042, 5000, true,
         " 5000 incomplete (1536 bytes read, 1024 with errors)", 3, 0xE0},
        {"deleted data", 512, 0x0041, 900, true, " 900", 3, 0x10},
        {"a status of no known meaning", 512, 0x0041, 900, true, " 900", 2, 0x01},
        {"other kind in a flagged sector", 0, 0x0043, 300, false, " missing", 2, 0xB0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Disk disk = makeFiveSectorDisk(4);
        putRecord(disk, 10, 2, c.offset, c.kind, c.length);
        // A name field of the record's own, which plays no part.
        std::memcpy(&findSector(disk, 10, 2)->data[static_cast<std::size_t>(c.offset) + 6], "OTHER ", 6);
        findSector(disk, 10, c.flagged)->status = c.status;
        open(disk);
        run_ = {};
        run_.mode = d88cut::Mode::List;
        (void)d88cut::extractRecord(run_, "REC", 10, 5, 0, 2, c.offset, 2048);
        EXPECT_EQ(capturedStdout(), "  REC" + c.listed + "\n");
        // A whole record names no failing sector, not even the one after it.
        const std::string length = std::to_string(c.length);
        const bool whole = c.listed == " " + length;
        run_ = {};
        run_.mode = d88cut::Mode::Json;
        open(disk);
        (void)d88cut::extractRecord(run_, "REC", 10, 5, 0, 2, c.offset, 2048);
        const std::string json = capturedStdout();
        EXPECT_TRUE(!whole || json.find("\"sectors\":[]") != std::string::npos) << json;
        run_ = {};  // each case a run of its own, which has written nothing yet
        open(disk);
        EXPECT_EQ(d88cut::extractRecord(run_, "REC", 10, 5, 0, 2, c.offset, 2048), c.written);
        EXPECT_EQ(capturedStdout(), c.written ? "cutting ... REC\n" : "");
        EXPECT_EQ(run_.status(), whole ? 0 : 1);
        if (!c.written) {
            EXPECT_FALSE(fs::exists("REC"));
            continue;
        }
        Bytes expected = runBytes(disk, 10, 2, 2048);
        expected.erase(expected.begin(), expected.begin() + c.offset);
        expected.resize(c.length, 0);
        EXPECT_EQ(readFile("REC"), expected);
        fs::remove("REC");
    }
}

TEST_F(ExtractTest, RecordWhoseSectorIsMissing) {
    Disk disk = makeFiveSectorDisk(4);
    disk.tracks[10].clear();
    open(disk);
    EXPECT_FALSE(d88cut::extractRecord(run_, "REC", 10, 5, 0, 1, 0, 1024));
    EXPECT_FALSE(fs::exists("REC"));
    EXPECT_EQ(run_.status(), 1);
}

// A run that is short by part of a sector: the bytes that sector did copy
// count as delivered, the rest of its chunk is 0, and the run goes on.
TEST_F(ExtractTest, ShortSectorKeepsItsBytes) {
    Disk disk = makeFiveSectorDisk(5);
    disk.tracks[6][1].data.resize(100);
    open(disk);
    ASSERT_TRUE(d88cut::extractRaw(run_, "RAW", 6, 3, 0, 1, 3, 0, 3072));
    Bytes expected = findSector(disk, 6, 1)->data;
    expected.insert(expected.end(), disk.tracks[6][1].data.begin(), disk.tracks[6][1].data.end());
    expected.resize(2048, 0);
    expected.insert(expected.end(), disk.tracks[6][2].data.begin(), disk.tracks[6][2].data.end());
    EXPECT_EQ(readFile("RAW"), expected);
}

TEST_F(ExtractTest, CatalogRunWritesItsFilesInOrder) {
    using d88cut::DiskKind;
    for (DiskKind kind : {DiskKind::ProgramDisk, DiskKind::DiskA, DiskKind::DiskB}) {
        SCOPED_TRACE(kindDigit(kind));
        const Disk disk = makeKnownDisk(kind, 11);
        open(disk);
        d88cut::runCatalog(run_, kind);
        const std::string out = capturedStdout();
        std::string lines;
        for (const ExpectedFile& file : expectedFiles(disk, kind)) {
            lines += "cutting ... " + file.name + "\n";
            EXPECT_EQ(readFile(file.name), file.bytes) << file.name;
            fs::remove(file.name);
        }
        EXPECT_EQ(out, lines);
    }
}

TEST(CommandLineTest, EmptyArgumentVectorNamesTheTool) {
    const char* const argv[] = {nullptr};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(d88cut::runCutter(0, argv), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Usage: d88cut [d88file]\n");
}

// A second run in the same process knows nothing of the names the first
// wrote: a container since put under one of them is still refused.
TEST(CommandLineTest, EachRunLooksAtItsNamesAnew) {
    ScopedTempDir dir;
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const Bytes container = buildContainer({makeKnownDisk(d88cut::DiskKind::ProgramDisk, 1)});
    ASSERT_TRUE(writeFile("c.d88", container));
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const char* first[] = {"d88cut", "c.d88"};
    const int firstStatus = d88cut::runCutter(2, first);
    fs::rename("c.d88", "PROG");
    const char* second[] = {"d88cut", "PROG"};
    const int secondStatus = d88cut::runCutter(2, second);
    (void)::testing::internal::GetCapturedStdout();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "PROG" + kCannotWrite);
    (void)d88cut::diskImage.open(nullptr);
    fs::current_path(previous);
    EXPECT_EQ(firstStatus, 0);
    EXPECT_EQ(secondStatus, 1);
    EXPECT_EQ(readFile((dir / "PROG").string()), container);
}

// Whoever searches the manual for what the screen shows finds it: every
// Japanese message is there in its UTF-8 text.
TEST(ManualTest, ShowsEveryMessageAsItReads) {
    const auto page = readFile(std::string(D88CUT_REALDATA_DIR) + "/../../docs/d88cut.1");
    ASSERT_TRUE(page.has_value());
    const std::string text(page->begin(), page->end());
    for (const d88cut::Message* message :
         {&d88cut::kProgramDiskMessage, &d88cut::kDiskAMessage, &d88cut::kDiskBMessage,
          &d88cut::kCannotOpenMessage, &d88cut::kCannotWriteMessage, &d88cut::kCannotReadMessage,
          &d88cut::kIncompleteMessage, &d88cut::kCannotEnterMessage}) {
        std::string shown = message->utf8;
        shown = shown.substr(shown.starts_with(": ") ? 2 : 0);
        shown.pop_back();  // the line end
        EXPECT_NE(text.find(shown), std::string::npos) << shown;
    }
}

// Names in Shift_JIS are decoded by the system's converter as code page 932
// reads them, and bytes that are not such text are refused.
TEST(SystemTest, DecodesShiftJisAsCodePage932) {
    const struct {
        const char* name;
        std::string bytes;
        const char* text;  // nullptr: refused
    } cases[] = {
        {"kana and a space", "\x83\x51\x81\x5B\x83\x80 \x83\x66\x83\x42\x83\x58\x83\x4E",
         "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0 \xE3\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF"},
        {"half-width kana", "\xB9\xDE\xB0\xD1", "\xEF\xBD\xB9\xEF\xBE\x9E\xEF\xBD\xB0\xEF\xBE\x91"},
        {"a character of code page 932's own, circled 1", "\x87\x40", "\xE2\x91\xA0"},
        {"a backslash and a tilde, and control bytes, as ASCII", "\\~\x01\x1B", "\\~\x01\x1B"},
        {"nothing", "", ""},
        {"a first byte whose second is cut off", "\x83\x51\x83", nullptr},
        {"a second byte that no character has", "\x83\x20", nullptr},
        {"a pair in a row that code page 932 leaves empty", "\x85\x40", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = "unchanged";
        EXPECT_EQ(d88cut::decodeShiftJis(c.bytes, text), c.text != nullptr);
        EXPECT_EQ(text, c.text != nullptr ? c.text : "unchanged");
    }
}

// A translator's slip shows here: every entry of the English words has its
// Japanese twin, with the same {names} for the program to fill in.
TEST(WordsTest, EveryEntryInBothLanguages) {
    using d88cut::Language;
    const std::string english = d88cut::kEnglishWords;
    const std::string japanese = d88cut::kJapaneseWords;
    const auto names = [](const std::string& text) {
        std::set<std::string> found;
        for (std::size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1)) {
            found.insert(text.substr(at, text.find('}', at) - at + 1));
        }
        return found;
    };
    std::size_t entries = 0;
    for (std::size_t at = 0; at < english.size(); at = english.find('\n', at) + 1) {
        const std::size_t colon = english.find(':', at);
        const std::string key = english.substr(at, colon - at);
        if (key.empty() || key.find_first_not_of("abcdefghijklmnopqrstuvwxyz.-") != std::string::npos) {
            continue;
        }
        SCOPED_TRACE(key);
        ++entries;
        EXPECT_TRUE(japanese.starts_with(key + ":") || japanese.find("\n" + key + ":") != std::string::npos);
        EXPECT_EQ(names(d88cut::words(Language::English, key)), names(d88cut::words(Language::Japanese, key)));
        if (english.find('\n', at) == std::string::npos) {
            break;
        }
    }
    EXPECT_GT(entries, 40u);
    EXPECT_EQ(d88cut::words(Language::Japanese, "files.many", {{"count", "49"}}),
              "49 \xE5\x80\x8B\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB");
    EXPECT_EQ(d88cut::words(Language::English, "closing.kinds", {{"kinds", "1 damaged"}}), " (1 damaged)");
}

}  // namespace
}  // namespace d88test
