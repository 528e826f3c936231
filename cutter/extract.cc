// The two extraction modes and the safe writing of output files.
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

bool writeReplacing(Run& run, const char* name, const std::uint8_t* bytes, int length,
                    WriteFailure& failure) {
    if (length < 0) {
        failure = {name, "has no size"};
        return false;
    }
    if (!replaceFile(name, temporaryNameOf(name), bytes, length, run.wrote(name), run.container,
                     failure)) {
        return false;
    }
    run.names.insert_or_assign(name, Outcome::Whole);
    return true;
}

}  // namespace

void removeLeftovers(Run& run) {
    for (DiskKind kind : {DiskKind::ProgramDisk, DiskKind::DiskA, DiskKind::DiskB}) {
        for (const CatalogEntry& entry : catalogFor(kind)) {
            if (entry.size != 0 && !run.wrote(entry.name)) {
                removeLeftover(temporaryNameOf(entry.name), run.container);
            }
        }
    }
}

bool writeOutputFile(Run& run, const char* name, const std::uint8_t* bytes, int length) {
    (void)std::printf(kCuttingFormat, name);
    WriteFailure failure;
    if (writeReplacing(run, name, bytes, length, failure)) {
        return true;
    }
    if (interrupted()) {
        endInterrupted();  // it was waiting for another run's file: no fault of the file
    }
    (void)std::fflush(stdout);  // keep the lines in order on a shared console
    putMessage(run, stderr, name, kCannotWriteMessage);
    explain(run, failure.path, failure.reason);
    run.failed = true;
    (void)run.names.try_emplace(name, Outcome::NotWritten);
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
    // Bytes that a failing read left are never written over a file.
    if (containerReadFailed(run) || read == 0) {
        return fileNotGiven(run, name);
    }
    return fileGiven(run, name, &SectorBuffer[static_cast<std::size_t>(offset)], size,
                    std::clamp(read - offset, 0, size));
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
    if (containerReadFailed(run) || read == 0) {
        return fileNotGiven(run, name);
    }
    const std::uint8_t* record = &SectorBuffer[static_cast<std::size_t>(offset)];
    const std::uint32_t kind = d88::loadLe16(record);
    if (kind != kRecordKindA && kind != kRecordKindB) {
        return fileNotGiven(run, name);
    }
    const auto length = static_cast<int>(d88::loadLe16(record + 2));
    zeroBuffer(zeroed, offset + length);
    return fileGiven(run, name, record, length, std::clamp(read - offset, 0, length));
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
