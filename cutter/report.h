// What a run learns of a container, its disks and its files, recorded once,
// and the printers that tell it: the listing's lines, JSON Lines, a cut's
// messages, the reasons and the closing line for a person (printers.cc).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cutter/messages.h"
#include "cutter/words.h"

namespace d88cut {

struct Run;

// How much of a catalogued file a disk gave: every byte (whole), every byte
// but some from sectors that the drive flagged (damaged), not every byte
// (incomplete), or none (missing). Whole ranks above damaged above
// incomplete.
enum class FileState { Whole, Damaged, Incomplete, Missing };

// What was wrong with a sector that failed a file: what the drive's status
// says of it (the first four; `value` is then the bytes it held, where that
// was fewer than wanted, else -1), or why none of its bytes, or not all,
// could be read.
enum class Problem {
    IdCrcError,
    DataCrcError,
    NoAddressMark,
    NoDataMark,
    NotOnDisk,
    PastFileEnd,
    Holds,        // fewer bytes than the run wanted: `value` of them
    RecordKind,   // holds a record of kind `value`, which is neither A nor B
    OtherSize,    // a sector with its C, H and R has the size code `value`
    NoTrackSide,  // its whole track side is not on the disk (r is 0)
};

inline constexpr bool isFlag(Problem problem) { return problem <= Problem::NoDataMark; }

struct SectorProblem {
    int c = 0;
    int h = 0;
    int r = 0;
    Problem problem = Problem::NotOnDisk;
    int value = -1;
    // The bytes of the file that lie in it: from `at` on, `length` of them.
    int at = 0;
    int length = 0;
};

// A sector that the drive marked as holding deleted data: no failure, and
// told to programs.
struct SectorId {
    int c = 0;
    int h = 0;
    int r = 0;
};

// Where a file's bytes lie in one sector: the sector's data begins at `data`
// of the container file (-1 where the sector is not there), and `length` of
// the file's bytes lie in it from `from` on; `full` where the sector is
// there with all its bytes.
struct SectorPlace {
    int c = 0;
    int h = 0;
    int r = 0;
    std::int64_t data = -1;
    int from = 0;
    int length = 0;
    bool full = false;
};

// What failed a file that is no sector's.
enum class Cause {
    None,
    ReadError,   // the container could not be read
    RecordLong,  // the record runs past the bytes read for it
};

// How a byte of a file was given by a copy, worst first: not at all, from a
// sector that the drive flagged, or clean.
enum class Given : std::uint8_t { Lost, Flagged, Clean };
// Byte `i` of an account byte by byte that holds none where every byte was
// given clean.
inline Given givenAt(const std::vector<Given>& given, std::size_t i) {
    return given.empty() ? Given::Clean : given[i];
}

struct FileReport {
    int disk = 0;  // the number of its disk in the container, from 1
    const char* name = "";
    FileState state = FileState::Missing;
    int size = -1;  // its length; -1 when missing
    int read = 0;   // its bytes that the disk gave
    int readWithErrors = 0;  // of those, the bytes copied from flagged sectors
    std::vector<SectorProblem> sectors;
    std::vector<SectorId> deleted;
    Cause cause = Cause::None;
    int readFor = 0;  // RecordLong: the bytes that the catalog reads for the record
    // Byte by byte, `size` of them; none where every byte was given clean.
    std::vector<Given> given;
    std::vector<SectorPlace> layout;  // the sectors it lies in, in order
};

struct DiskReport {
    int number = 0;  // from 1
    std::int64_t offset = 0;
    std::uint32_t statedSize = 0;
    std::string name;  // as its header holds it
    int media = -1;
    bool writeProtected = false;
    const char* known = nullptr;  // "PROGRAM DISK", "DISK A", "DISK B", or nullptr
    const Message* message = nullptr;  // its recognition message, when known
    std::string reason;  // why it is not known
    const char* reasonCode = nullptr;  // ... for programs, with its number if any
    int reasonValue = -1;
    std::int64_t truncatedAt = -1;  // where the file ends inside it, or -1
    // The file ends before its identification sector could be read: a
    // failure of the run, told even into a pipe.
    bool endsBeforeId = false;
    bool readsToEnd = false;  // read as the rest of the file, `readSize` bytes
    std::uint32_t readSize = 0;
};

// What concerns the container itself.
enum class NoteKind { NoDiskImage, DisksBeyondLimit, CannotOpen, ReadError, ReadToEnd };
struct Note {
    NoteKind kind;
    std::int64_t fileSize = -1;  // NoDiskImage
    std::string reason;          // CannotOpen, ReadError
    const DiskReport* disk = nullptr;  // ReadToEnd
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
// A copy of a catalogued file: the listing's line or object; in a cut,
// after its "cutting" line, the message that tells what the folder now
// holds of the name, `kept`, where that is not whole, and the reasons.
struct Kept;
enum class Fate;
void printFile(Run& run, const FileReport& file, Fate fate, const Kept& kept);
// After the last container: in JSON, what the run holds of each name, and
// the run's status.
void printRunEnd(Run& run, int status);
// The closing word of a cut, for a person, and the sectors that no read
// gave clean, to read again; after a put, what was put where.
void printClosingLine(Run& run);
// Putting files back: a known disk's recognition message; a file put, with
// the sectors it went into; a file that is not put, and why: a code for
// programs and words for people.
void printPutDisk(Run& run, const Message& message);
void printPut(Run& run, const char* name, const std::vector<SectorPlace>& places);
struct Refusal {
    const char* code = nullptr;  // for programs
    const char* key = nullptr;   // of its words
    WordValues values;           // that the words name
    const char* frame = "put.refused";  // the words around them for a person
};
void printRefusal(Run& run, const std::string& name, const Refusal& refusal);

// What a person is told of a copy that is not whole, and of what became of
// it in the folder (person.cc).
void tellFile(Run& run, const FileReport& file, Fate fate, const Kept& kept);
// "disk N" or "disk N of PATH" of each copy that gave bytes now held,
// joined.
std::string sourceWords(Run& run, Language language, const Kept& kept);
// "d88cut: PATH: " and the words of `key` about the container at hand.
void tellContainer(Run& run, const char* key,
                   std::initializer_list<std::pair<std::string_view, std::string>> values);
// What was wrong with a sector, in words.
std::string problemWords(Language language, const SectorProblem& sector);

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
// A sector's ID as people read it: "C1 H0 R3".
std::string sectorId(int c, int h, int r);
// Why a file could not be written, in `language`.
struct WriteFailure;
std::string failureWords(Language language, const WriteFailure& failure);

}  // namespace d88cut
