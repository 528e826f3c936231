// The cutting tool: identifies the known disks of a container and cuts their
// catalogued files into the current directory, or lists what a cut would give.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "cutter/messages.h"
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

// How a catalogued name fared in a cut: written whole, written with bytes
// that the disk could not give, or not written at all.
enum class Outcome { Whole, Incomplete, NotWritten };

// The state of one run of the tool. runCutter makes one for each command
// line and hands it to every step, so that a second run in the same process
// starts clean.
struct Run {
    // As the command line asks. A listing says what a cut would give and
    // writes nothing; a verbose cut says why things fail.
    bool listing = false;
    bool verbose = false;
    Encoding encoding = Encoding::Auto;
    // The container as it was given, for messages, and as the system knows
    // it, so that no output name that stands for it is ever written.
    const char* containerPath = "";
    FileIdentity container;
    bool containerReadReported = false;
    // Set when the container could not be read, or a catalogued file could
    // not be read whole or not written: the exit status is then 1.
    bool failed = false;
    // Each catalogued name that this cut tried, and how it fared the last
    // time (a file written once stays, whatever a later disk gives). A name
    // this run wrote is not the container, needs no second look, and has
    // no temporary file left. (Relative to the output folder, the current
    // directory for the whole run.)
    std::map<std::string, Outcome, std::less<>> names;
    bool knownDisk = false;
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
    bool wrote(std::string_view name) const;
};

// Runs the command line; the result is the exit status.
int runCutter(int argc, const char* const* argv);

void runCatalog(Run& run, DiskKind kind);
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

// What a run does with a catalogued file that the disk gave: `length`
// bytes, of which the first `delivered` came from the disk. A cut writes
// it, a listing describes it.
bool fileGiven(Run& run, const char* name, const std::uint8_t* bytes, int length, int delivered);
// ... and with one that the disk could not give at all.
bool fileNotGiven(Run& run, const char* name);
// True when a read or seek of the container failed since the last look; the
// first time in a run, says so on standard error and makes the status 1.
bool containerReadFailed(Run& run);

// Writes `subject` (a file or folder name as given, or nullptr) followed by
// `message` to `stream`, in the encoding that the stream shows: UTF-8 on a
// terminal whose locale speaks UTF-8, wide characters on a Windows console,
// and the Shift_JIS bytes anywhere else.
void putMessage(Run& run, std::FILE* stream, const char* subject, const Message& message);
// In a verbose run, and to a person, writes "d88cut: PATH: REASON" to
// standard error.
void explain(Run& run, const std::string& path, const std::string& reason);

}  // namespace d88cut
