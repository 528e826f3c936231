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

// A disk that gave copies of catalogued names: its container, by its path
// as given and its number in the run (from 1), and its disk's number in it.
struct Source {
    std::string container;
    int containerNumber = 0;
    int disk = 0;
};

// What the folder holds of a catalogued name (in a listing: would hold):
// the best bytes that the run has seen of it, each with how well it was
// given (none where every byte was given clean) and by which disk (an index
// into Run::sources, -1 where lost; none where all came from `source`).
struct Kept {
    FileState state = FileState::Missing;  // missing: nothing
    std::vector<std::uint8_t> bytes;
    std::vector<Given> given;
    std::vector<int> from;
    int source = -1;
    // The sectors that no copy gave clean, and the kind of disk they are on.
    std::vector<SectorProblem> sectors;
    DiskKind kind = DiskKind::ProgramDisk;
};

// What became of a copy of a name that the disk gave.
enum class Fate {
    First,      // the first copy of the name: written
    Merged,     // merged with what the folder held, which it changed: written
    NothingNew, // merged, but it changed nothing: not written
    Replaces,   // not merged, and better: written in place of the other
    Stays,      // not merged, and the folder's copy is better: not written
    NotWritten, // it could not be written
};

// The state of one run of the tool. runCutter makes one for each command
// line and hands it to every step, so that a second run in the same process
// starts clean.
struct Run {
    // As the command line asks. A verbose run says why things fail.
    Mode mode = Mode::Cut;
    bool verbose = false;
    Encoding encoding = Encoding::Auto;

    // The container at hand, as it was given, for messages, and what the
    // run learnt of it so far.
    std::string containerPath;
    int containerIndex = 0;  // among the containers of the command line
    int containerCount = 1;
    bool containerReadReported = false;
    int disk = 0;  // the number of the disk at hand, from 1
    DiskKind kind = DiskKind::ProgramDisk;  // of the known disk at hand
    Tally tally;
    // Set when the container at hand could not be read, a file of it could
    // not be written, or a disk of it was cut off before its identification
    // sector: its own status is 1.
    bool failed = false;
    // Set when anything failed that makes the run's status 1 whatever the
    // folder holds at its end: a container that could not be opened or read,
    // a folder not entered, a file not written, a disk cut off before its
    // identification sector.
    bool runFailed = false;
    // Every container of the run as the system knows it, so that no output
    // name that stands for one of them is ever written.
    std::vector<FileIdentity> containerFiles;

    // Each disk that gave the run a copy of a catalogued name, in order.
    std::vector<Source> sources;
    // What the folder holds of each catalogued name met. A name this run
    // wrote is no container, needs no second look, and has no temporary file
    // left. (Relative to the output folder, the current directory while it
    // is cut.)
    using Names = std::map<std::string, Kept, std::less<>>;
    Names names;
    // What the container at hand alone would give of each name, for the
    // status of its end in JSON.
    Names containerNames;
    // Files dropped together onto the program are cut each into the folder
    // that holds it, as one run: the folder of `names`, and the names of the
    // other folders, each kept for its folder.
    std::string folder;
    std::map<std::string, Names> otherFolders;
    std::vector<std::string> containers;  // each container cut, as given
    bool knownDisk = false;
    std::optional<std::string> directoryEntered;  // the output folder, once entered
    int containersCut = 0;  // whose folder was entered and disks were cut
    // Putting files back into a copy of the container, not cutting: the new
    // container, the files put into it once it is written, and the files
    // refused, for which nothing is written (each name counted once, however
    // many disks it went into).
    bool putting = false;
    std::string newContainer;
    int putCount = -1;
    int putRefused = 0;
    // What standard output and standard error show text on, asked once.
    std::optional<Screen> screens[2];
    // True in a console of the tool's own, which closes when the tool ends:
    // the run waits for the person there before it ends.
    bool ownConsole = false;

    Screen screen(std::FILE* stream);
    // True when standard error is a terminal or a console: a person reads
    // it, and the run explains itself.
    bool toPerson() { return screen(stderr) != Screen::Bytes; }
    // True when `stream` shows text to a person, not bytes: a console, or a
    // terminal whose locale speaks UTF-8, unless Shift_JIS was asked for.
    bool showsText(std::FILE* stream);
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
    // What this cut wrote of `name`, or nullptr.
    const Kept* wrote(std::string_view name) const;
    // The status of the run: 1 when a failure says so, or a name met is not
    // held whole at its end.
    int status() const;
};

// Runs the command line; the result is the exit status.
int runCutter(int argc, const char* const* argv);

// Cuts or lists the container given as `path`, opened as `openPath` (the
// same file, named from where the run started), into `directory` when one is
// given; the result is its own status, or -1 when the folder could not be
// entered, which ends the run. A path that `mayBeOption` was perhaps meant
// as an option.
int runContainer(Run& run, const char* path, const char* openPath, const char* directory,
                 bool mayBeOption);
// The name of a known disk: "PROGRAM DISK", "DISK A" or "DISK B", and its
// recognition message.
const char* knownDiskName(DiskKind kind);
const Message& recognitionOf(DiskKind kind);
// Selects the `index`-th disk image of the open container: true when it is
// a known disk, which `kind` then tells.
bool identifyDisk(int index, DiskKind& kind);
// Writes a copy of the container at `path` as `newPath`, with each file of
// `directory` (the current one where nullptr) that is named as a catalogued
// file put in its place on every known disk; the result is the status.
int runPut(Run& run, const char* newPath, const char* path, const char* directory);

void runCatalog(Run& run, DiskKind kind);
// Read a catalogued file from the current disk into the sector buffer, and
// record in `file` what the disk gave: the result is where its bytes begin,
// or nullptr where it gave none. A raw run of `size` bytes from `offset`;
// a record at `offset` of the `size` bytes read.
const std::uint8_t* readRaw(Run& run, FileReport& file, int trackIndex, int c, int h, int r, int n,
                            int offset, int size);
const std::uint8_t* readRecord(Run& run, FileReport& file, int trackIndex, int c, int h, int r,
                               int offset, int size);
// Where the bytes `from`..`from + length` of the latest run lie, sector by
// sector.
std::vector<SectorPlace> placesOf(int from, int length);
// What `names` holds of `file`'s name once this copy of it, whose bytes are
// `bytes` (nullptr where missing), is met; `fate` tells what became of the
// copy, and `write` writes what changed (true when written), told whether
// the name was held before.
const Kept& meetCopy(Run& run, Run::Names& names, const FileReport& file, const std::uint8_t* bytes,
                     Fate& fate, const std::function<bool(const Kept&, bool)>& write);
// The copies that gave bytes now held, in the order met.
std::vector<const Source*> sourcesOf(const Run& run, const Kept& kept);
bool extractRaw(Run& run, const char* name, int trackIndex, int c, int h, int r, int n, int offset,
                int size);
bool extractRecord(Run& run, const char* name, int trackIndex, int c, int h, int r, int offset,
                   int size);
// Prints the "cutting" line, then writes the file through a temporary file
// renamed into place; on failure reports it and leaves any earlier file as it was.
bool writeOutputFile(Run& run, const char* name, const std::uint8_t* bytes, int length);
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
