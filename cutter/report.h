// What a run learns of a container, its disks and its files, recorded once,
// and the printers that tell it: the listing's lines, JSON Lines, a cut's
// messages, the reasons and the closing line for a person (printers.cc).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cutter/messages.h"

namespace d88cut {

struct Run;

// How much of a catalogued file a disk gave: every byte (whole), every byte
// but some from sectors that the drive flagged (damaged), not every byte
// (incomplete), or none (missing). Whole ranks above damaged above
// incomplete.
enum class FileState { Whole, Damaged, Incomplete, Missing };

// A sector that failed a file: its ID and what was wrong with it, in words.
// `flagged`: the drive's own status says so.
struct SectorProblem {
    int c = 0;
    int h = 0;
    int r = 0;
    std::string problem;
    bool flagged = false;
};

struct FileReport {
    int disk = 0;  // the number of its disk in the container, from 1
    const char* name = "";
    FileState state = FileState::Missing;
    int size = -1;  // its length; -1 when missing
    int read = 0;   // its first bytes that the disk gave
    int readWithErrors = 0;  // of those, the bytes copied from flagged sectors
    std::vector<SectorProblem> sectors;
    // What failed it that is no sector's, or "".
    std::string why;
};

struct DiskReport {
    int number = 0;  // from 1
    std::int64_t offset = 0;
    std::uint32_t statedSize = 0;
    std::string name;  // as its header holds it
    int media = -1;
    const char* known = nullptr;  // "PROGRAM DISK", "DISK A", "DISK B", or nullptr
    const Message* message = nullptr;  // its recognition message, when known
    std::string reason;  // why it is not known
    std::int64_t truncatedAt = -1;  // where the file ends inside it, or -1
};

// What concerns the container itself.
enum class NoteKind { NoDiskImage, DisksBeyondLimit, CannotOpen, ReadError };
struct Note {
    NoteKind kind;
    std::int64_t fileSize = -1;  // NoDiskImage
    std::string reason;          // CannotOpen, ReadError
};

// What a listing counts of one container.
struct Tally {
    int disks = 0;
    int knownDisks = 0;
    int files[4] = {};  // by FileState
};

// The container at hand begins: in a text listing of several, its path
// line; in JSON, its container object (`size` -1 where unknown).
void printContainer(Run& run, std::int64_t size);
// Its end, with its status: in JSON, the end object.
void printContainerEnd(Run& run, int status);
// A disk image read: the listing's disk line or object, a cut's recognition
// message, and with -v in a cut why it is not known.
void printDisk(Run& run, const DiskReport& disk);
// After the disk's files: where the file ends inside it.
void printDiskEnd(Run& run, const DiskReport& disk);
void printNote(Run& run, const Note& note);
// A catalogued file: the listing's line or object; in a cut, after its
// "cutting" line, its message where it is not whole, and the reasons.
// `kept`: the better copy that a cut left in its place, or nullptr.
struct Written;
void printFile(Run& run, const FileReport& file, const Written* kept);
// The closing word of a cut, for a person.
void printClosingLine(Run& run);

// Writes `subject` (a file or folder name as given, or nullptr) followed by
// `message` to `stream`, in the encoding that the stream shows: UTF-8 on a
// terminal whose locale speaks UTF-8, wide characters on a Windows console,
// and the Shift_JIS bytes anywhere else.
void putMessage(Run& run, std::FILE* stream, const char* subject, const Message& message);
// A plain line of the tool's own on standard error, for a person to read.
void tell(Run& run, const std::string& line);
// In a verbose run, and to a person, writes "d88cut: PATH: REASON" to
// standard error.
void explain(Run& run, const std::string& path, const std::string& reason);

}  // namespace d88cut
