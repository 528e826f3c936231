#include "tests/d88_writer.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace d88test {

namespace {

constexpr std::size_t kDiskHeaderSize = 0x2B0;
constexpr std::size_t kSectorHeaderSize = 16;
constexpr int kSectorsPerTrack = 5;
constexpr std::size_t kSectorSize = 1024;

// A small deterministic generator for made-up contents.
std::uint32_t nextRandom(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

}  // namespace

void putLe16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<std::uint8_t>(value);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void setByte(Bytes& bytes, std::size_t at, std::uint8_t value) { bytes.at(at) = value; }

void truncateTo(Bytes& bytes, std::size_t length) { bytes.resize(std::min(bytes.size(), length)); }

Bytes buildDisk(const Disk& disk) {
    Bytes out(kDiskHeaderSize, 0);
    std::copy_n(disk.name.begin(), std::min<std::size_t>(disk.name.size(), 16), out.begin());
    out[0x1A] = disk.writeProtect;
    out[0x1B] = disk.mediaType;
    for (std::size_t t = 0; t < disk.tracks.size() && t < 164; ++t) {
        const Track& track = disk.tracks[t];
        if (track.empty()) {
            continue;
        }
        putLe32(out, 0x20 + 4 * t, static_cast<std::uint32_t>(out.size()));
        for (const Sector& sector : track) {
            const std::size_t at = out.size();
            out.resize(at + kSectorHeaderSize, 0);
            out[at] = sector.c;
            out[at + 1] = sector.h;
            out[at + 2] = sector.r;
            out[at + 3] = sector.n;
            out[at + 8] = sector.status;
            putLe16(out, at + 4, sector.sectorCount.value_or(static_cast<std::uint16_t>(track.size())));
            putLe16(out, at + 14, sector.dataSize.value_or(static_cast<std::uint16_t>(sector.data.size())));
            out.insert(out.end(), sector.data.begin(), sector.data.end());
        }
    }
    putLe32(out, 0x1C, disk.diskSize.value_or(static_cast<std::uint32_t>(out.size())));
    return out;
}

Bytes buildContainer(const std::vector<Disk>& disks) {
    Bytes out;
    for (const Disk& disk : disks) {
        const Bytes one = buildDisk(disk);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

Disk makeFiveSectorDisk(std::uint32_t seed, int trackCount) {
    Disk disk;
    disk.name = "MADE-UP " + std::to_string(seed);
    disk.mediaType = 0x00;
    std::uint32_t state = seed * 2654435761u + 1;
    disk.tracks.resize(static_cast<std::size_t>(trackCount));
    for (int t = 0; t < trackCount; ++t) {
        for (int r = 1; r <= kSectorsPerTrack; ++r) {
            Sector sector;
            sector.c = static_cast<std::uint8_t>(t / 2);
            sector.h = static_cast<std::uint8_t>(t % 2);
            sector.r = static_cast<std::uint8_t>(r);
            sector.n = 3;
            sector.data.resize(kSectorSize);
            for (std::uint8_t& byte : sector.data) {
                byte = static_cast<std::uint8_t>(nextRandom(state));
            }
            disk.tracks[static_cast<std::size_t>(t)].push_back(std::move(sector));
        }
    }
    return disk;
}

const Sector* findSector(const Disk& disk, int track, int r) {
    if (track < 0 || static_cast<std::size_t>(track) >= disk.tracks.size()) {
        return nullptr;
    }
    const Sector* first = nullptr;
    for (const Sector& sector : disk.tracks[static_cast<std::size_t>(track)]) {
        const bool flagged = sector.status == 0xA0 || sector.status == 0xB0 ||
                             sector.status == 0xE0 || sector.status == 0xF0;
        if (sector.r == r && sector.n == 3 && !flagged) {
            return &sector;
        }
        if (sector.r == r && first == nullptr) {
            first = &sector;
        }
    }
    return first;
}

Sector* findSector(Disk& disk, int track, int r) {
    return const_cast<Sector*>(findSector(static_cast<const Disk&>(disk), track, r));
}

Bytes runBytes(const Disk& disk, int track, int r, int length) {
    Bytes out;
    while (out.size() < static_cast<std::size_t>(length)) {
        const std::size_t chunk = std::min<std::size_t>(1024, static_cast<std::size_t>(length) - out.size());
        const Sector* sector = findSector(disk, track, r);
        sector = sector != nullptr && sector->n == 3 ? sector : nullptr;
        const std::size_t take = sector == nullptr ? 0 : std::min(sector->data.size(), chunk);
        if (sector != nullptr) {
            out.insert(out.end(), sector->data.begin(), sector->data.begin() + static_cast<std::ptrdiff_t>(take));
        }
        out.resize(out.size() + chunk - take, 0);
        if (++r > kSectorsPerTrack) {
            r = 1;
            ++track;
        }
    }
    return out;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::optional<Bytes> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace d88test
