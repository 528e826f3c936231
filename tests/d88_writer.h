// A small D88 writer: builds containers in memory from a description, with
// made-up sector contents, and damages them with tiny mutators. The tests,
// the sample container, the fuzz seeds and the benchmark all use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace d88test {

using Bytes = std::vector<std::uint8_t>;

struct Sector {
    std::uint8_t c = 0;
    std::uint8_t h = 0;
    std::uint8_t r = 1;
    std::uint8_t n = 3;
    // How the dumping drive read it: 0 normal, 0x10 deleted data, 0xA0 ID
    // CRC error, 0xB0 data CRC error, 0xE0 no address mark, 0xF0 no data mark.
    std::uint8_t status = 0;
    Bytes data;
    std::optional<std::uint16_t> sectorCount;  // default: the track's sector count
    std::optional<std::uint16_t> dataSize;     // default: data.size()
};

using Track = std::vector<Sector>;

struct Disk {
    std::string name;  // up to 16 bytes are stored
    std::uint8_t mediaType = 0;
    std::vector<Track> tracks;  // by track index; an empty track is left out of the table
    std::optional<std::uint32_t> diskSize;  // default: the size actually written
    std::uint8_t writeProtect = 0;  // 0x10: write-protected
};

// The bytes of one disk image, and of a container of several.
Bytes buildDisk(const Disk& disk);
Bytes buildContainer(const std::vector<Disk>& disks);

// A disk of `trackCount` track sides of five 1,024-byte sectors R 1..5 with
// C = track / 2 and H = track % 2, filled with made-up bytes from `seed`.
Disk makeFiveSectorDisk(std::uint32_t seed, int trackCount = 80);

// The sector R `r` of track `track` that a reader takes: the first whose
// status is no error, or the first of all; nullptr where there is none.
Sector* findSector(Disk& disk, int track, int r);
const Sector* findSector(const Disk& disk, int track, int r);

// The data of the consecutive 1,024-byte sectors from (track, r) on,
// stepping R 1..5 and then to the next track, up to `length` bytes, as a run
// that reads on gives it: each sector's data, followed by zero bytes where
// it is short or missing.
Bytes runBytes(const Disk& disk, int track, int r, int length);

// Mutators for damaging built bytes.
void setByte(Bytes& bytes, std::size_t at, std::uint8_t value);
void putLe16(Bytes& bytes, std::size_t at, std::uint16_t value);
void putLe32(Bytes& bytes, std::size_t at, std::uint32_t value);
void truncateTo(Bytes& bytes, std::size_t length);

// Whole files; false on failure.
bool writeFile(const std::string& path, const Bytes& bytes);
std::optional<Bytes> readFile(const std::string& path);

}  // namespace d88test
