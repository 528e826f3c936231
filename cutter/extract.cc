// The two extraction modes and the safe writing of output files.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "cutter/cutter.h"
#include "cutter/messages.h"
#include "image/le.h"

namespace d88cut {

bool outputFailed = false;

namespace {

constexpr int kSizeCode = 3;          // the catalogued disks have 1,024-byte sectors
constexpr int kRecordHeaderSize = 4;  // kind and length; the rest is not read
constexpr std::uint32_t kRecordKindA = 0x0041;
constexpr std::uint32_t kRecordKindB = 0x0042;

// The names this run has already replaced with files of its own: none of them
// is the container, so they need no second look, and their temporary files
// are gone. (Names are relative to the output folder, the current directory
// for the whole run.)
std::set<std::string, std::less<>> ownNames;

void zeroBuffer(int from, int to) {
    if (to > from) {
        std::fill(SectorBuffer.begin() + from, SectorBuffer.begin() + to, std::uint8_t{0});
    }
}

// The temporary file of `name`: one fixed name, which a later run removes if
// this one is killed before it is renamed.
std::string temporaryNameOf(const char* name) { return std::string(".") + name + ".d88cut"; }

bool writeReplacing(const char* name, const std::uint8_t* bytes, int length,
                    WriteFailure& failure) {
    if (length < 0) {
        failure = {name, "has no size"};
        return false;
    }
    if (!replaceFile(name, temporaryNameOf(name), bytes, length, ownNames.contains(name),
                     failure)) {
        return false;
    }
    ownNames.emplace(name);
    return true;
}

}  // namespace

void removeLeftovers() {
    for (DiskKind kind : {DiskKind::ProgramDisk, DiskKind::DiskA, DiskKind::DiskB}) {
        for (const CatalogEntry& entry : catalogFor(kind)) {
            if (entry.size != 0 && !ownNames.contains(entry.name)) {
                removeLeftover(temporaryNameOf(entry.name));
            }
        }
    }
    // The next run in this process may cut another container, or elsewhere:
    // what this one wrote tells it nothing.
    ownNames.clear();
}

bool writeOutputFile(const char* name, const std::uint8_t* bytes, int length) {
    (void)std::printf(kCuttingFormat, name);
    WriteFailure failure;
    if (writeReplacing(name, bytes, length, failure)) {
        return true;
    }
    if (interrupted()) {
        endInterrupted();  // it was waiting for another run's file: no fault of the file
    }
    (void)std::fflush(stdout);  // keep the lines in order on a shared console
    putMessage(stderr, name, kCannotWriteMessage);
    explain(failure.path, failure.reason);
    outputFailed = true;
    return false;
}

namespace {

// A catalogued file that the disk could not give at all: nothing is written.
bool fileNotRead(const char* name) {
    outputFailed = true;
    if (listOnly) {
        (void)std::printf("  %s missing\n", name);
    } else {
        (void)std::fflush(stdout);
        putMessage(stderr, name, kCannotReadMessage);
    }
    return false;
}

// A catalogued file of `length` bytes, of which the first `delivered` came
// from the disk: written, or in a listing, described.
bool fileRead(const char* name, const std::uint8_t* bytes, int length, int delivered) {
    const bool incomplete = delivered < length;
    outputFailed = outputFailed || incomplete;
    if (listOnly) {
        if (incomplete) {
            (void)std::printf("  %s %d incomplete (%d bytes read)\n", name, length, delivered);
        } else {
            (void)std::printf("  %s %d\n", name, length);
        }
        return true;
    }
    if (!writeOutputFile(name, bytes, length)) {
        return false;
    }
    if (incomplete) {
        (void)std::fflush(stdout);
        putMessage(stderr, name, kIncompleteMessage);
    }
    return true;
}

}  // namespace

// Writes `size` bytes from `offset` of the run read from (c, h, r) on. Bytes
// the run did not deliver are written as 0.
bool extractRaw(const char* name, int trackIndex, int c, int h, int r, int n, int offset,
                int size) {
    if (offset < 0 || size < 0 || size > kSectorBufferSize - offset) {
        return false;
    }
    zeroBuffer(0, offset + size);
    const int read = diskImage.readRun(trackIndex, c, h, r, n, SectorBuffer.data(), offset + size);
    // Bytes that a failing read left are never written over a file.
    if (containerReadFailed() || read == 0) {
        return fileNotRead(name);
    }
    return fileRead(name, &SectorBuffer[static_cast<std::size_t>(offset)], size,
                    std::clamp(read - offset, 0, size));
}

// Writes the record that begins at `offset` of the `size` bytes read from
// (c, h, r) on, as long as its header says, header included. Only records of
// kind "A" or "B" are written; bytes the run did not deliver are written as 0.
bool extractRecord(const char* name, int trackIndex, int c, int h, int r, int offset, int size) {
    if (offset < 0 || size < 0 || size > kSectorBufferSize ||
        offset > kSectorBufferSize - (kMaxRecordLength + kRecordHeaderSize)) {
        return false;
    }
    const int zeroed = std::max(size, offset + kRecordHeaderSize);
    zeroBuffer(0, zeroed);
    const int read = diskImage.readRun(trackIndex, c, h, r, kSizeCode, SectorBuffer.data(), size);
    if (containerReadFailed() || read == 0) {
        return fileNotRead(name);
    }
    const std::uint8_t* record = &SectorBuffer[static_cast<std::size_t>(offset)];
    const std::uint32_t kind = d88::loadLe16(record);
    if (kind != kRecordKindA && kind != kRecordKindB) {
        return fileNotRead(name);
    }
    const auto length = static_cast<int>(d88::loadLe16(record + 2));
    zeroBuffer(zeroed, offset + length);
    return fileRead(name, record, length, std::clamp(read - offset, 0, length));
}

void runCatalog(DiskKind kind) {
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
            (void)extractRecord(entry.name, entry.trackIndex, c, h, entry.sector, entry.offset,
                                entry.size);
        } else {
            (void)extractRaw(entry.name, entry.trackIndex, c, h, entry.sector, kSizeCode,
                             entry.offset, entry.size);
        }
    }
}

}  // namespace d88cut
