// The cutting tool: identifies the known disks of a container and cuts their
// catalogued files into the current directory, or lists what a cut would give.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cutter/messages.h"
#include "cutter/report.h"
#include "cutter/system.h"
#include "image/d88_image.h"

namespace d88cut {

// Room for 80 track sides of five 1,024-byte sectors; every read goes here.
inline constexpr int kSectorBufferSize = 400 * 1024;
extern std::array<std::uint8_t, kSectorBufferSize> SectorBuffer;
// The one container reader of the process.
extern d88::D88Image diskImage;

enum class DiskKind { ProgramDisk, DiskA, DiskB };

struct CatalogEntry {
    bool headered;  // extractRecord when set, extractRaw otherwise
    std::int32_t trackIndex;
    std::int32_t sector;
    std::int32_t size;  // headered: bytes read; raw: bytes written; 0 ends the catalog
    std::int32_t offset;
    const char* name;
};

// Records are at most this long: their length field is a u16.
inline constexpr std::int32_t kMaxRecordLength = 0xFFFF;

// The catalog of a disk kind, ending with its zero-size row.
std::span<const CatalogEntry> catalogFor(DiskKind kind);

// What the Japanese messages are written in: auto is UTF-8 on a terminal
// whose locale speaks it and Shift_JIS anywhere else; a Windows console
// shows them right whatever is asked.
enum class Encoding { Auto, Utf8, ShiftJis };

// What a run does with a container: cut its files, or list what a cut
// would give as text lines or as JSON Lines.
enum class Mode { Cut, List, Json };

// A copy of a catalogued name that this run wrote: how whole it was, and
// where it came from.
struct Written {
    FileState state;        // whole, damaged or incomplete
    int disk;               // its disk's number in its container
    std::size_t container;  // its container's place in Run::containers
};

// The state of one run of the tool. runCutter makes one for each command
// line and hands it to every step, so that a second run in the same process
// starts clean.
struct Run {
    // As the command line asks. A verbose run says why things fail.
    Mode mode = Mode::Cut;
    bool verbose = false;
    Encoding encoding = Encoding::Auto;

    // The container at hand, as it was given, for messages, and as the
    // system knows it, so that no output name that stands for it is ever
    // written; and what the run learnt of it so far.
    std::string containerPath;
    int containerIndex = 0;  // among the containers of the command line
    int containerCount = 1;
    FileIdentity container;
    bool containerReadReported = false;
    int disk = 0;  // the number of the disk at hand, from 1
    Tally tally;
    // Set when the container at hand could not be read, or a catalogued
    // file of it could not be read whole or not written: its status is 1.
    bool failed = false;

    // Each catalogued name that this cut wrote, with the copy it holds, or
    // tried and could not write (nullopt). A name this run wrote is not the
    // container, needs no second look, and has no temporary file left; a
    // later copy that ranks lower does not replace it. (Relative to the
    // output folder, the current directory while it is cut.)
    using Names = std::map<std::string, std::optional<Written>, std::less<>>;
    Names names;
    // Files dropped together onto the program are cut each into the folder
    // that holds it, as one run: the folder of `names`, and the names of the
    // other folders, each kept for its folder.
    std::string folder;
    std::map<std::string, Names> otherFolders;
    std::vector<std::string> containers;  // each container cut, as given
    bool knownDisk = false;
    int containersCut = 0;  // whose folder was entered and disks were cut
    // What standard output and standard error show text on, asked once.
    std::optional<Screen> screens[2];
    // True in a console of the tool's own, which closes when the tool ends:
    // the run waits for the person there before it ends.
    bool ownConsole = false;

    Screen screen(std::FILE* stream);
    // True when standard error is a terminal or a console: a person reads
    // it, and the run explains itself.
    bool toPerson() { return screen(stderr) != Screen::Bytes; }
    // True when the messages go to `stream` as UTF-8: asked for, or on a
    // terminal whose locale speaks it.
    bool writesUtf8(std::FILE* stream);
    // A listing, as text or JSON Lines, writes nothing.
    bool listing() const { return mode != Mode::Cut; }
    // The language of a person's lines on `stream`: Japanese where the
    // person's setting is Japanese and the screen shows it, English
    // anywhere else, into pipes and files always.
    Language language(std::FILE* stream);
    std::optional<bool> japanese;  // the person's setting, asked once
    // The copy of `name` that this run wrote, or nullptr.
    const Written* wrote(std::string_view name) const;
};

// Runs the command line; the result is the exit status.
int runCutter(int argc, const char* const* argv);

// Cuts or lists the container at `path` (into `directory` when one is
// given); the result is its status. A path that `mayBeOption` was perhaps
// meant as an option.
int runContainer(Run& run, const char* path, const char* directory, bool mayBeOption);

void runCatalog(Run& run, DiskKind kind);
bool extractRaw(Run& run, const char* name, int trackIndex, int c, int h, int r, int n, int offset,
                int size);
bool extractRecord(Run& run, const char* name, int trackIndex, int c, int h, int r, int offset,
                   int size);
// Prints the "cutting" line, then writes the file through a temporary file
// renamed into place; on failure reports it and leaves any earlier file as it was.
// `rewrite` when this run wrote the name already.
bool writeOutputFile(Run& run, const char* name, const std::uint8_t* bytes, int length, bool rewrite);
// Ends a cut: removes the temporary files that a run which was killed left
// under the names that this run did not write.
void removeLeftovers(Run& run);
// True where nothing at all goes by the name `path`: a path that starts
// with "-" was then perhaps meant as an option.
bool nothingNamed(const char* path);
// True when a read or seek of the container failed since the last look; the
// first time for a container, says so on standard error and makes its
// status 1.
bool containerReadFailed(Run& run);

}  // namespace d88cut
