// The cutting tool: identifies the known disks of a container and cuts their
// catalogued files into the current directory.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "cutter/messages.h"
#include "image/d88_image.h"

namespace d88cut {

// Room for 80 track sides of five 1,024-byte sectors; every read goes here.
inline constexpr int kSectorBufferSize = 400 * 1024;
extern std::array<std::uint8_t, kSectorBufferSize> SectorBuffer;
// The one container reader of the run.
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

// Runs the command line; the result is the exit status.
int runCutter(int argc, const char* const* argv);

void runCatalog(DiskKind kind);
bool extractRaw(const char* name, int trackIndex, int c, int h, int r, int n, int offset, int size);
bool extractRecord(const char* name, int trackIndex, int c, int h, int r, int offset, int size);
// Prints the "cutting" line, then writes the file through a temporary file
// renamed into place; on failure reports it and leaves any earlier file as it was.
bool writeOutputFile(const char* name, const std::uint8_t* bytes, int length);

// Set when a catalogued file could not be read whole, or not written; it
// makes the exit status 1.
extern bool outputFailed;
// How the run goes, as the command line asks. A listing says what a cut
// would give and writes no file; verbose runs say why things fail.
extern bool listOnly;
extern bool verbose;
// In a verbose run, writes "d88cut: PATH: REASON" to standard error.
void explain(const std::string& path, const std::string& reason);
// True when a read or seek of the container failed since the last look; the
// first time in a run, says so on standard error and makes the status 1.
bool containerReadFailed();
// Ends a cut: removes the temporary files that a run which was killed left
// under the names that this run did not write, and forgets this run's names.
void removeLeftovers();

// What the tool asks of the system beyond the standard library.

// Why a file could not be written: the path that a step failed on, and the
// system's words for the error (or a phrase where the system gave none).
struct WriteFailure {
    std::string path;
    std::string reason;
};

// Writes `subject` (a file or folder name as given, or nullptr) followed by
// `message` to `stream`, in the encoding that the stream shows: UTF-8 on a
// terminal whose locale speaks UTF-8, UTF-16 on a Windows console, and the
// Shift_JIS bytes anywhere else.
void putMessage(std::FILE* stream, const char* subject, const Message& message);
// Makes `path` the current directory; false when it cannot be entered.
bool enterDirectory(const char* path);
// The system's words for an error number of the C library.
std::string systemWords(int error);

// Interrupts (SIGINT, SIGTERM and SIGHUP; on Windows Ctrl-C, Ctrl-Break and
// the console being closed) only mark the run while they are caught, so that
// the file in flight is finished: the run checks between files and ends as
// the interrupt would have ended it. Releasing acts on a caught one, and
// lets later ones act at once.
void catchInterrupts();
[[nodiscard]] bool interrupted();
void releaseInterrupts();
// Flushes what was printed and ends the process as the interrupt ends one:
// killed by the signal (a shell sees 128 + its number), or on Windows with
// the status of a console program ended by Ctrl-C.
[[noreturn]] void endInterrupted();

// Takes the identity of the opened container (device and file number);
// false when the system cannot tell it.
[[nodiscard]] bool takeContainerIdentity(std::FILE* file);
// True when `name` may be replaced: nothing is there, or a file that is not
// the container. A look that fails for any other reason refuses.
[[nodiscard]] bool mayReplace(const char* name, WriteFailure& failure);
// Writes the bytes to the temporary file `temporaryName` and renames it over
// `name`, holding it all the while so that no other run touches it; a
// temporary file that a killed run left is removed first. Whatever stands
// under `name` must pass mayReplace, unless `looked` says that it did. On
// failure nothing is left under `temporaryName` and `name` is as it was.
[[nodiscard]] bool replaceFile(const char* name, const std::string& temporaryName,
                               const std::uint8_t* bytes, int length, bool looked,
                               WriteFailure& failure);
// Removes `temporaryName` if a run that was killed left it there; a file
// that another run holds, or that is no temporary file, is left alone.
void removeLeftover(const std::string& temporaryName);

}  // namespace d88cut
