// The two extraction modes, and the safe writing of output files. Each mode
// reads a catalog row's sectors, records in a FileReport how much of the
// file the disk gave and which sectors failed it, and hands the file on: a
// cut writes it, unless this run already wrote a better copy of the name; a
// listing describes it.
#include <algorithm>
#include <cstdio>
#include <span>
#include <string>

#include "cutter/cutter.h"
#include "cutter/messages.h"
#include "image/le.h"

namespace d88cut {

namespace {

constexpr int kSizeCode = 3;          // the catalogued disks have 1,024-byte sectors
constexpr int kSectorSize = 128 << kSizeCode;
constexpr int kRecordHeaderSize = 4;  // kind and length; the rest is not read
constexpr std::uint32_t kRecordKindA = 0x0041;
constexpr std::uint32_t kRecordKindB = 0x0042;

void zeroBuffer(int from, int to) {
    if (to > from) {
        std::fill(SectorBuffer.begin() + from, SectorBuffer.begin() + to, std::uint8_t{0});
    }
}

// The temporary file of `name`: one fixed name, which a later run removes if
// this one is killed before it is renamed.
std::string temporaryNameOf(const char* name) { return std::string(".") + name + ".d88cut"; }

// What a status that flags a sector says of it.
Problem flaggedAs(std::uint8_t status) {
    switch (status) {
        case d88::kStatusIdCrcError:
            return Problem::IdCrcError;
        case d88::kStatusDataCrcError:
            return Problem::DataCrcError;
        case d88::kStatusNoAddressMark:
            return Problem::NoAddressMark;
        default:
            return Problem::NoDataMark;
    }
}

// The status by which the drive marks a sector of deleted data.
constexpr std::uint8_t kStatusDeletedData = 0x10;

// Why `step` gave fewer bytes than its chunk, where the drive did not flag it.
SectorProblem shortfallOf(const d88::RunStep& step) {
    SectorProblem problem{step.c, step.h, step.r, Problem::NotOnDisk};
    switch (step.miss) {
        case d88::Miss::NoTrack:
            problem.r = 0;
            problem.problem = Problem::NoTrackSide;
            break;
        case d88::Miss::NotOnTrack:
            if (step.otherSizeCode >= 0) {
                problem.problem = Problem::OtherSize;
                problem.value = step.otherSizeCode;
            }
            break;
        case d88::Miss::PastFileEnd:
            problem.problem = Problem::PastFileEnd;
            break;
        case d88::Miss::None:
            // Found: the file ended inside its data, or it holds less.
            if (step.copied < std::min(step.dataSize, step.chunk)) {
                problem.problem = Problem::PastFileEnd;
            } else {
                problem.problem = Problem::Holds;
                problem.value = step.copied;
            }
            break;
    }
    return problem;
}

}  // namespace

std::vector<SectorPlace> placesOf(int from, int length) {
    std::vector<SectorPlace> places;
    int at = 0;
    for (const d88::RunStep& step : diskImage.lastRun()) {
        const int low = std::max(at, from);
        const int high = std::min(at + step.chunk, from + length);
        if (low < high) {
            const bool found = step.miss == d88::Miss::None;
            places.push_back({step.c, step.h, step.r, found ? step.dataAt : -1, low - at, high - low,
                              found && step.dataSize >= kSectorSize && step.copied == step.chunk});
        }
        at += step.chunk;
    }
    return places;
}

namespace {

// Records what the latest run gave of the file that is `length` bytes of
// its data from `from` on (bytes past the run are lost): byte by byte how
// it was given, how many were given and how many of those came from flagged
// sectors, and each sector that failed it. A track side that is not on the
// disk is told once.
void account(FileReport& file, int from, int length) {
    file.size = length;
    file.given.clear();
    file.read = 0;
    file.readWithErrors = 0;
    const std::span<const d88::RunStep> steps = diskImage.lastRun();
    int at = 0;
    for (const d88::RunStep& step : steps) {
        const int low = std::max(at, from);
        const int high = std::min(at + step.chunk, from + length);
        const int givenTo = std::min(at + step.copied, high);
        const bool flagged = d88::isFlagged(step.status) && step.miss == d88::Miss::None;
        if (low < high) {
            file.read += std::max(givenTo - low, 0);
            file.readWithErrors += flagged ? std::max(givenTo - low, 0) : 0;
            if (step.status == kStatusDeletedData && step.miss == d88::Miss::None) {
                file.deleted.push_back({step.c, step.h, step.r});
            }
            SectorProblem problem{step.c, step.h, step.r, flaggedAs(step.status)};
            if (flagged && givenTo < high) {
                problem.value = step.copied;
            } else if (!flagged && givenTo < high) {
                problem = shortfallOf(step);
            }
            problem.at = low - from;
            problem.length = high - low;
            const bool sameSide = !file.sectors.empty() && problem.problem == Problem::NoTrackSide &&
                                  file.sectors.back().problem == Problem::NoTrackSide &&
                                  file.sectors.back().c == problem.c && file.sectors.back().h == problem.h;
            if (sameSide) {
                file.sectors.back().length += problem.length;
            } else if (flagged || givenTo < high) {
                file.sectors.push_back(problem);
            }
        }
        at += step.chunk;
    }
    file.state = file.read < length        ? FileState::Incomplete
                 : file.readWithErrors > 0 ? FileState::Damaged
                                           : FileState::Whole;
    if (file.state == FileState::Whole) {
        return;  // every byte clean: no account byte by byte
    }
    // Byte by byte, where some were not given clean; those past the run are lost.
    file.given.assign(static_cast<std::size_t>(length), Given::Lost);
    at = 0;
    for (const d88::RunStep& step : steps) {
        const int low = std::max(at, from);
        const int givenTo = std::min(at + step.copied, from + length);
        if (low < givenTo) {
            const bool flagged = d88::isFlagged(step.status) && step.miss == d88::Miss::None;
            std::fill(file.given.begin() + (low - from), file.given.begin() + (givenTo - from),
                      flagged ? Given::Flagged : Given::Clean);
        }
        at += step.chunk;
    }
}

// True when a read or seek of the container failed in the latest run: what
// it left is no picture of the disk, and gives no file.
bool readFailed(Run& run, FileReport& file) {
    if (containerReadFailed(run)) {
        file.cause = Cause::ReadError;
        return true;
    }
    return false;
}

void count(Run& run, const FileReport& file) {
    ++run.tally.files[static_cast<int>(file.state)];
}

// "cutting ... NAME" on standard output, without parsing a format for every
// file as printf would.
void printCutting(const char* name) {
    (void)std::fputs(kCuttingLine, stdout);
    (void)std::fputs(name, stdout);
    (void)std::putchar('\n');
}

// Writes the bytes under `name`, which this run `wrote` already (so that it
// needs no look to tell that it is no container); on failure reports it and
// leaves any earlier file as it was.
bool writeQuietly(Run& run, const char* name, const std::uint8_t* bytes, int length, bool wrote) {
    WriteFailure failure;
    if (length >= 0 &&
        replaceFile(name, temporaryNameOf(name), bytes, length, wrote, run.containerFiles, failure)) {
        return true;
    }
    if (length < 0) {
        failure = {name, 0, "why.no-size", {}};
    }
    if (interrupted()) {
        endInterrupted();  // it was waiting for another run's file: no fault of the file
    }
    (void)std::fflush(stdout);  // keep the lines in order on a shared console
    putMessage(run, stderr, name, kCannotWriteMessage);
    explain(run, failure.path, failureWords(run.language(stderr), failure));
    run.failed = true;
    run.runFailed = true;
    return false;
}

// What a run does with a copy of a catalogued file, its `file.size` bytes at
// `bytes` (nullptr where the disk gave none): the folder takes what it adds
// to the name (a cut writes that, after the copy's "cutting" line), then
// the copy is told of.
bool meetFile(Run& run, const FileReport& file, const std::uint8_t* bytes) {
    count(run, file);
    const bool given = file.state != FileState::Missing;
    if (given && !run.listing()) {
        printCutting(file.name);
    }
    Fate fate = Fate::Stays;
    const Kept& kept = meetCopy(run, run.names, file, bytes, fate, [&](const Kept& copy, bool wrote) {
        return run.listing() ||
               writeQuietly(run, file.name, copy.bytes.data(), static_cast<int>(copy.bytes.size()), wrote);
    });
    if (run.mode == Mode::Json) {
        Fate alone = Fate::Stays;
        (void)meetCopy(run, run.containerNames, file, bytes, alone, [](const Kept&, bool) { return true; });
    }
    printFile(run, file, given ? fate : Fate::Stays, kept);
    return given && !run.listing() && fate != Fate::NotWritten && fate != Fate::Stays;
}

}  // namespace

void removeLeftovers(Run& run) {
    constexpr DiskKind kKinds[] = {DiskKind::ProgramDisk, DiskKind::DiskA, DiskKind::DiskB};
    // Where this run wrote as many names as the catalogs hold, it wrote each
    // of them, and none is left to look for.
    std::size_t rows = 0;
    for (DiskKind kind : kKinds) {
        rows += catalogFor(kind).size() - 1;  // the zero-size row ends a catalog
    }
    const auto written = std::count_if(run.names.begin(), run.names.end(),
                                       [](const auto& name) { return name.second.state != FileState::Missing; });
    if (static_cast<std::size_t>(written) == rows) {
        return;
    }
    for (DiskKind kind : kKinds) {
        for (const CatalogEntry& entry : catalogFor(kind)) {
            if (entry.size != 0 && run.wrote(entry.name) == nullptr) {
                removeLeftover(temporaryNameOf(entry.name), run.containerFiles);
            }
        }
    }
}

bool writeOutputFile(Run& run, const char* name, const std::uint8_t* bytes, int length) {
    printCutting(name);
    return writeQuietly(run, name, bytes, length, run.wrote(name) != nullptr);
}

const std::uint8_t* readRaw(Run& run, FileReport& file, int trackIndex, int c, int h, int r, int n,
                            int offset, int size) {
    // The run fills each chunk, with zero bytes where its sector gave none.
    (void)diskImage.readRun(trackIndex, c, h, r, n, SectorBuffer.data(), offset + size,
                            d88::RunMode::ReadOn);
    // Bytes that a failing read left are never written over a file.
    if (readFailed(run, file)) {
        return nullptr;
    }
    account(file, offset, size);
    if (run.mode == Mode::Json) {
        file.layout = placesOf(offset, size);  // only programs are told where it lies
    }
    if (file.read == 0) {
        file.state = FileState::Missing;
        file.size = -1;
        return nullptr;
    }
    return &SectorBuffer[static_cast<std::size_t>(offset)];
}

const std::uint8_t* readRecord(Run& run, FileReport& file, int trackIndex, int c, int h, int r,
                               int offset, int size) {
    // The run fills each chunk, with zero bytes where its sector gave none;
    // what lies past it is zero too.
    const int zeroed = std::max(size, offset + kRecordHeaderSize);
    zeroBuffer(size, zeroed);
    (void)diskImage.readRun(trackIndex, c, h, r, kSizeCode, SectorBuffer.data(), size,
                            d88::RunMode::ReadOn);
    if (readFailed(run, file)) {
        return nullptr;
    }
    const std::uint8_t* record = &SectorBuffer[static_cast<std::size_t>(offset)];
    const std::uint32_t kind = d88::loadLe16(record);
    // The header's bytes as the disk gave them: every one, or the record is
    // not there.
    FileReport header = file;
    account(header, offset, kRecordHeaderSize);
    const bool headerGiven = header.read == kRecordHeaderSize;
    if (!headerGiven || (kind != kRecordKindA && kind != kRecordKindB)) {
        // Told of the sectors that failed the header, or of the one that
        // holds a header of another kind; placed where the catalog reads it.
        file.sectors = header.sectors;
        if (headerGiven) {
            const SectorPlace place = placesOf(offset, kRecordHeaderSize).front();
            file.sectors = {SectorProblem{place.c, place.h, place.r, Problem::RecordKind, static_cast<int>(kind)}};
        }
        if (run.mode == Mode::Json) {
            file.layout = placesOf(offset, size - offset);
        }
        return nullptr;
    }
    const auto length = static_cast<int>(d88::loadLe16(record + 2));
    zeroBuffer(zeroed, offset + length);
    account(file, offset, length);
    if (run.mode == Mode::Json) {
        file.layout = placesOf(offset, length);
    }
    if (offset + length > size) {
        file.cause = Cause::RecordLong;
        file.readFor = size - offset;
    }
    return record;
}

// Writes `size` bytes from `offset` of the run read from (c, h, r) on. Bytes
// that no sector gave are written as 0.
bool extractRaw(Run& run, const char* name, int trackIndex, int c, int h, int r, int n, int offset,
                int size) {
    if (offset < 0 || size < 0 || size > kSectorBufferSize - offset) {
        return false;
    }
    FileReport file;
    file.disk = run.disk;
    file.name = name;
    return meetFile(run, file, readRaw(run, file, trackIndex, c, h, r, n, offset, size));
}

// Writes the record that begins at `offset` of the `size` bytes read from
// (c, h, r) on, as long as its header says, header included. Only records of
// kind "A" or "B" whose header the disk gave are written; bytes that no
// sector gave are written as 0.
bool extractRecord(Run& run, const char* name, int trackIndex, int c, int h, int r, int offset,
                   int size) {
    if (offset < 0 || size < 0 || size > kSectorBufferSize ||
        offset > kSectorBufferSize - (kMaxRecordLength + kRecordHeaderSize)) {
        return false;
    }
    FileReport file;
    file.disk = run.disk;
    file.name = name;
    return meetFile(run, file, readRecord(run, file, trackIndex, c, h, r, offset, size));
}

void runCatalog(Run& run, DiskKind kind) {
    run.kind = kind;
    for (const CatalogEntry& entry : catalogFor(kind)) {
        if (entry.size == 0) {
            break;
        }
        // An interrupt acts between files, never while one is in flight.
        if (interrupted()) {
            endInterrupted();
        }
        const int c = entry.trackIndex >> 1;
        const int h = entry.trackIndex & 1;
        if (entry.headered) {
            (void)extractRecord(run, entry.name, entry.trackIndex, c, h, entry.sector, entry.offset,
                                entry.size);
        } else {
            (void)extractRaw(run, entry.name, entry.trackIndex, c, h, entry.sector, kSizeCode,
                             entry.offset, entry.size);
        }
    }
}

}  // namespace d88cut
