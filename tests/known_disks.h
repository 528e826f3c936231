// Made-up disks that the cutter recognises, with a valid record at every
// catalogued record position, and the files cutting them must give.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cutter/cutter.h"
#include "tests/d88_writer.h"

namespace d88test {

// Writes the identification signature and kind digit into track 79, R 5.
void putSignature(Disk& disk, char kindDigit);
// Writes a record header (kind, length) at `offset` of sector (track, r).
void putRecord(Disk& disk, int track, int r, int offset, std::uint16_t kind, std::uint16_t length);

char kindDigit(d88cut::DiskKind kind);
// A disk of the kind with made-up contents from `seed`.
Disk makeKnownDisk(d88cut::DiskKind kind, std::uint32_t seed);

struct ExpectedFile {
    std::string name;
    Bytes bytes;
};
// What cutting an intact disk of the kind gives, in catalog order.
std::vector<ExpectedFile> expectedFiles(const Disk& disk, d88cut::DiskKind kind);

// The sectors (track, R) that cutting a disk of the kind reads: the
// identification sector and the whole run of every catalog row.
std::set<std::pair<int, int>> sectorsRead(d88cut::DiskKind kind);
// Leaves out every sector not in `keep`; a track left empty drops out of the
// track table. Keeping sectorsRead(kind) gives a much smaller disk that cuts
// exactly as the whole one.
void keepOnly(Disk& disk, const std::set<std::pair<int, int>>& keep);

}  // namespace d88test
