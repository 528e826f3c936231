// The cutting tool: identifies the known disks of a container and cuts their
// catalogued files into the current directory.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

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
// In a verbose run, writes "d88cut: PATH: REASON" to standard error: the
// system's words for `error`, or `phrase` where it is 0.
void explain(const char* path, int error, const char* phrase);
// The container's path, so that no output file ever replaces it. Empty: none.
void setContainerPath(const char* path);

// Writes `subject` (a file or folder name as given, or nullptr) followed by
// `message` to `stream`, in the encoding that the stream shows: UTF-8 on a
// terminal whose locale speaks UTF-8, UTF-16 on a Windows console, and the
// Shift_JIS bytes anywhere else.
void putMessage(std::FILE* stream, const char* subject, const Message& message);
// Makes `path` the current directory; false when it cannot be entered.
bool enterDirectory(const char* path);

}  // namespace d88cut
