// The two extraction modes, and the safe writing of output files. Each mode
// reads a catalog row's sectors, records in a FileReport how much of the
// file the disk gave and which sectors failed it, and hands the file on: a
// cut writes it, unless this run already wrote a better copy of the name; a
// listing describes it.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cutter/cutter.h"
#include "cutter/messages.h"
#include "image/le.h"

namespace d88cut {

namespace {

constexpr int kSizeCode = 3;          // the catalogued disks have 1,024-byte sectors
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

// "cutting ... NAME" on standard output, without parsing a format for every
// file as printf would.
void printCutting(const char* name) {
    (void)std::fputs(kCuttingLine, stdout);
    (void)std::fputs(name, stdout);
    (void)std::putchar('\n');
}

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

bool brokeOff(const d88::RunStep& step) { return step.copied < step.chunk; }

// Why the latest run broke off at `step`.
SectorProblem brokenAt(const d88::RunStep& step) {
    SectorProblem problem{step.c, step.h, step.r, Problem::NotOnDisk, 0};
    if (step.miss == d88::Miss::PastFileEnd ||
        (step.miss == d88::Miss::None && step.dataSize >= step.chunk)) {
        problem.problem = Problem::PastFileEnd;
    } else if (step.miss == d88::Miss::None) {
        problem = {step.c, step.h, step.r, Problem::Holds, step.dataSize};
    }
    return problem;
}

// Records what the latest run, which counted `read` bytes, gave of the file
// that is `length` bytes of its data from `from` on: how many of its first
// bytes were read, how many of those came from flagged sectors (each named),
// and the sector at which the run broke off where that cut the file short.
void account(FileReport& file, int read, int from, int length) {
    const std::span<const d88::RunStep> steps = diskImage.lastRun();
    file.size = length;
    file.read = std::clamp(read - from, 0, length);
    const int to = from + file.read;
    int at = 0;
    for (const d88::RunStep& step : steps) {
        if (brokeOff(step)) {
            break;
        }
        const int overlap = std::min(at + step.chunk, to) - std::max(at, from);
        if (overlap > 0 && d88::isFlagged(step.status)) {
            file.readWithErrors += overlap;
            file.sectors.push_back({step.c, step.h, step.r, flaggedAs(step.status), 0});
        }
        at += step.chunk;
    }
    if (file.read < length && !steps.empty() && brokeOff(steps.back())) {
        file.sectors.push_back(brokenAt(steps.back()));
    }
    file.state = file.read < length        ? FileState::Incomplete
                 : file.readWithErrors > 0 ? FileState::Damaged
                                           : FileState::Whole;
}

// True when the latest run, which counted `read` bytes, gave anything; if
// not, says why in `file`.
bool gaveAnything(Run& run, FileReport& file, int read) {
    if (containerReadFailed(run)) {
        file.cause = Cause::ReadError;
        return false;
    }
    const std::span<const d88::RunStep> steps = diskImage.lastRun();
    if (read == 0 && !steps.empty() && brokeOff(steps.front())) {
        file.sectors.push_back(brokenAt(steps.front()));
    }
    return read > 0;
}

int rank(FileState state) {
    switch (state) {
        case FileState::Whole:
            return 3;
        case FileState::Damaged:
            return 2;
        case FileState::Incomplete:
            return 1;
        case FileState::Missing:
            break;
    }
    return 0;
}

void count(Run& run, const FileReport& file) {
    ++run.tally.files[static_cast<int>(file.state)];
    run.failed = run.failed || file.state != FileState::Whole;
}

// What a run does with a catalogued file that the disk gave, its `file.size`
// bytes at `bytes`: a cut writes it, unless a better copy that this run
// wrote stands under its name, then tells what is wrong with it; a listing
// describes it.
bool fileGiven(Run& run, const FileReport& file, const std::uint8_t* bytes) {
    count(run, file);
    if (run.listing()) {
        printFile(run, file, nullptr);
        return true;
    }
    // The name is looked up once: where it stands among the names, or would.
    const auto place = run.names.lower_bound(std::string_view(file.name));
    const bool named = place != run.names.end() && place->first == file.name;
    const Written* earlier = named && place->second ? &*place->second : nullptr;
    if (earlier != nullptr && rank(earlier->state) > rank(file.state)) {
        printCutting(file.name);
        printFile(run, file, earlier);
        return false;
    }
    if (!writeOutputFile(run, file.name, bytes, file.size, earlier != nullptr)) {
        return false;
    }
    // The container at hand is the last that the run entered.
    const Written copy{file.state, file.disk, run.containers.size() - 1};
    if (named) {
        place->second = copy;
    } else {
        (void)run.names.emplace_hint(place, file.name, copy);
    }
    printFile(run, file, nullptr);
    return true;
}

// ... and with one that the disk could not give at all.
bool fileNotGiven(Run& run, const FileReport& file) {
    count(run, file);
    if (!run.listing()) {
        (void)run.names.try_emplace(file.name, std::nullopt);
    }
    printFile(run, file, nullptr);
    return false;
}

bool writeReplacing(const Run& run, const char* name, const std::uint8_t* bytes, int length,
                    bool rewrite, WriteFailure& failure) {
    if (length < 0) {
        failure = {name, "has no size"};
        return false;
    }
    return replaceFile(name, temporaryNameOf(name), bytes, length, rewrite, run.container, failure);
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
                                       [](const auto& name) { return name.second.has_value(); });
    if (static_cast<std::size_t>(written) == rows) {
        return;
    }
    for (DiskKind kind : kKinds) {
        for (const CatalogEntry& entry : catalogFor(kind)) {
            if (entry.size != 0 && run.wrote(entry.name) == nullptr) {
                removeLeftover(temporaryNameOf(entry.name), run.container);
            }
        }
    }
}

bool writeOutputFile(Run& run, const char* name, const std::uint8_t* bytes, int length,
                     bool rewrite) {
    printCutting(name);
    WriteFailure failure;
    if (writeReplacing(run, name, bytes, length, rewrite, failure)) {
        return true;
    }
    if (interrupted()) {
        endInterrupted();  // it was waiting for another run's file: no fault of the file
    }
    (void)std::fflush(stdout);  // keep the lines in order on a shared console
    putMessage(run, stderr, name, kCannotWriteMessage);
    explain(run, failure.path, failure.reason);
    run.failed = true;
    (void)run.names.try_emplace(name, std::nullopt);
    return false;
}

// Writes `size` bytes from `offset` of the run read from (c, h, r) on. Bytes
// the run did not deliver are written as 0.
bool extractRaw(Run& run, const char* name, int trackIndex, int c, int h, int r, int n, int offset,
                int size) {
    if (offset < 0 || size < 0 || size > kSectorBufferSize - offset) {
        return false;
    }
    zeroBuffer(0, offset + size);
    const int read = diskImage.readRun(trackIndex, c, h, r, n, SectorBuffer.data(), offset + size);
    FileReport file;
    file.disk = run.disk;
    file.name = name;
    // Bytes that a failing read left are never written over a file.
    if (!gaveAnything(run, file, read)) {
        return fileNotGiven(run, file);
    }
    account(file, read, offset, size);
    return fileGiven(run, file, &SectorBuffer[static_cast<std::size_t>(offset)]);
}

// Writes the record that begins at `offset` of the `size` bytes read from
// (c, h, r) on, as long as its header says, header included. Only records of
// kind "A" or "B" are written; bytes the run did not deliver are written as 0.
bool extractRecord(Run& run, const char* name, int trackIndex, int c, int h, int r, int offset,
                   int size) {
    if (offset < 0 || size < 0 || size > kSectorBufferSize ||
        offset > kSectorBufferSize - (kMaxRecordLength + kRecordHeaderSize)) {
        return false;
    }
    const int zeroed = std::max(size, offset + kRecordHeaderSize);
    zeroBuffer(0, zeroed);
    const int read = diskImage.readRun(trackIndex, c, h, r, kSizeCode, SectorBuffer.data(), size);
    FileReport file;
    file.disk = run.disk;
    file.name = name;
    if (!gaveAnything(run, file, read)) {
        return fileNotGiven(run, file);
    }
    const std::uint8_t* record = &SectorBuffer[static_cast<std::size_t>(offset)];
    const std::uint32_t kind = d88::loadLe16(record);
    if (kind != kRecordKindA && kind != kRecordKindB) {
        // Told of the sector that holds the record's header, or of the one
        // the run broke off at before it.
        int at = 0;
        for (const d88::RunStep& step : diskImage.lastRun()) {
            if (brokeOff(step) || at + step.chunk >= offset + kRecordHeaderSize) {
                file.sectors.push_back(
                    brokeOff(step) ? brokenAt(step)
                                   : SectorProblem{step.c, step.h, step.r, Problem::RecordKind,
                                                   static_cast<int>(kind)});
                break;
            }
            at += step.chunk;
        }
        return fileNotGiven(run, file);
    }
    const auto length = static_cast<int>(d88::loadLe16(record + 2));
    zeroBuffer(zeroed, offset + length);
    account(file, read, offset, length);
    if (file.read < length && read == size) {
        file.cause = Cause::RecordLong;
        file.readFor = size - offset;
    }
    return fileGiven(run, file, record);
}

void runCatalog(Run& run, DiskKind kind) {
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
